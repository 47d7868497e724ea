#include "app/QtPorts.h"

#include <QEventLoop>
#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QSignalBlocker>

namespace tagwell {
namespace {

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QtListBox::QtListBox(QListWidget* widget) : widget_(widget) {
  // A selection the operator makes while updates are held is the one that
  // counts, not one noted before it.
  operatorSelects_ = QObject::connect(widget_->selectionModel(),
                                      &QItemSelectionModel::selectionChanged, widget_, [this] {
                                        if (!selecting_) selectionNoted_ = false;
                                      });
}

QtListBox::~QtListBox() {
  QObject::disconnect(operatorSelects_);
}

bool QtListBox::Selectable() const {
  return widget_->selectionMode() != QAbstractItemView::NoSelection;
}

void QtListBox::Select(int index) {
  QSignalBlocker block(widget_);
  selecting_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{selecting_};
  QItemSelectionModel* selection = widget_->selectionModel();
  if (index < 0 || index >= widget_->count()) {
    selection->clearSelection();
    selection->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
    return;
  }
  QModelIndex row = widget_->model()->index(index, 0);
  selection->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect);
  widget_->scrollTo(row, QAbstractItemView::EnsureVisible);
}

int QtListBox::AddString(std::string_view text) {
  return InsertString(-1, text);
}

int QtListBox::Count() const {
  return widget_->count() + static_cast<int>(tail_.size());
}

void QtListBox::HoldUpdates(bool hold) {
  if (hold) {
    ++holds_;
    return;
  }
  if (holds_ == 0 || --holds_ > 0) return;
  Flush();
}

void QtListBox::Flush() {
  if (changedFirst_ >= 0) {
    QAbstractItemModel* model = widget_->model();
    emit model->dataChanged(model->index(changedFirst_, 0), model->index(changedLast_, 0),
                            {Qt::DisplayRole});
    changedFirst_ = changedLast_ = -1;
  }
  if (!tail_.isEmpty()) {
    QSignalBlocker block(widget_);
    widget_->addItems(tail_);
    tail_.clear();
  }
  if (selectionNoted_) {
    selectionNoted_ = false;
    if (notedSelection_ != GetCurSel()) Select(notedSelection_);
  }
}

int QtListBox::HeldSelection() const {
  if (selectionNoted_) return notedSelection_;
  QModelIndexList rows = widget_->selectionModel()->selectedRows();
  return rows.isEmpty() ? ui::LB_ERR : rows.first().row();
}

void QtListBox::ReplaceString(int index, std::string_view text) {
  const int count = Count();
  if (index == count) {
    InsertString(index, text);  // the delete after it finds no line
    return;
  }
  if (index < 0 || index > count) return;
  // The rewrite loses a selection on the row, as insert and delete do.
  if (GetCurSel() == index) {
    if (holds_ > 0) {
      selectionNoted_ = true;
      notedSelection_ = -1;
    } else {
      Select(-1);
    }
  }
  if (index >= widget_->count()) {
    tail_[index - widget_->count()] = ToQString(text);
    return;
  }
  if (holds_ == 0) {
    QSignalBlocker block(widget_);
    widget_->item(index)->setText(ToQString(text));
    return;
  }
  {
    QSignalBlocker block(widget_->model());
    widget_->item(index)->setText(ToQString(text));
  }
  changedFirst_ = changedFirst_ < 0 ? index : std::min(changedFirst_, index);
  changedLast_ = std::max(changedLast_, index);
}

int QtListBox::InsertString(int index, std::string_view text) {
  int count = Count();
  if (index == -1) index = count;
  if (index < 0 || index > count) return ui::LB_ERR;
  if (holds_ > 0 && index == count) {
    tail_.append(ToQString(text));
    return index;
  }
  Flush();
  int selected = GetCurSel();
  {
    QSignalBlocker block(widget_);
    widget_->insertItem(index, ToQString(text));
  }
  if (selected != ui::LB_ERR) Select(selected >= index ? selected + 1 : selected);
  return index;
}

int QtListBox::DeleteString(int index) {
  Flush();
  int count = widget_->count();
  if (index < 0 || index >= count) return ui::LB_ERR;
  int selected = GetCurSel();
  {
    QSignalBlocker block(widget_);
    delete widget_->takeItem(index);
  }
  if (selected == index)
    Select(-1);
  else if (selected != ui::LB_ERR)
    Select(selected > index ? selected - 1 : selected);
  return count - 1;
}

void QtListBox::ResetContent() {
  tail_.clear();
  changedFirst_ = changedLast_ = -1;
  selectionNoted_ = false;
  QSignalBlocker block(widget_);
  widget_->clear();
}

int QtListBox::GetCount() const {
  return Count();
}

int QtListBox::GetText(int index, std::string* text) const {
  if (index < 0 || index >= Count()) return ui::LB_ERR;
  const int shown = widget_->count();
  QByteArray utf8 = (index < shown ? widget_->item(index)->text() : tail_[index - shown]).toUtf8();
  text->assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
  return static_cast<int>(text->size());
}

int QtListBox::GetCurSel() const {
  if (!Selectable()) return ui::LB_ERR;
  return HeldSelection();
}

int QtListBox::SetCurSel(int index) {
  if (!Selectable()) return ui::LB_ERR;
  const bool valid = index >= 0 && index < Count();
  if (holds_ > 0) {
    selectionNoted_ = true;
    notedSelection_ = valid ? index : ui::LB_ERR;
  } else {
    Select(index);
  }
  return valid ? index : ui::LB_ERR;
}

int QtListBox::SetItemData(int index, std::intptr_t data) {
  Flush();
  if (index < 0 || index >= widget_->count()) return ui::LB_ERR;
  QSignalBlocker block(widget_);
  widget_->item(index)->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(data));
  return 0;
}

std::intptr_t QtListBox::GetItemData(int index) const {
  if (index < 0 || index >= widget_->count()) return index < Count() ? 0 : ui::LB_ERR;
  return static_cast<std::intptr_t>(widget_->item(index)->data(Qt::UserRole).toLongLong());
}

int QtMessageBox::Show(std::string_view text, std::string_view caption, ui::Icon icon,
                       ui::Owner owner) {
  QMessageBox::Icon qtIcon =
      icon == ui::Icon::Warning ? QMessageBox::Warning : QMessageBox::Information;
  QWidget* parent = owner == ui::Owner::MainWindow ? mainWindow_.data() : nullptr;
  QMessageBox box(qtIcon, ToQString(caption), ToQString(text), QMessageBox::Ok, parent);
  box.setTextFormat(Qt::PlainText);
  if (parent) {
    box.setWindowModality(Qt::WindowModal);
    box.exec();
    return ui::IDOK;
  }
  box.setWindowModality(Qt::NonModal);
  QEventLoop loop;
  QObject::connect(&box, &QMessageBox::finished, &loop, &QEventLoop::quit);
  box.show();
  loop.exec();
  return ui::IDOK;
}

int QtMessageBox::AskYesNo(std::string_view text, std::string_view caption, ui::Icon icon,
                           ui::Owner owner) {
  QMessageBox::Icon qtIcon =
      icon == ui::Icon::Warning ? QMessageBox::Warning : QMessageBox::Information;
  QWidget* parent = owner == ui::Owner::MainWindow ? mainWindow_.data() : nullptr;
  QMessageBox box(qtIcon, ToQString(caption), ToQString(text), QMessageBox::Yes | QMessageBox::No,
                  parent);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  box.setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);
  return box.exec() == QMessageBox::Yes ? ui::IDYES : ui::IDNO;
}

bool QtMessageBox::Post(std::string_view text, std::string_view caption, ui::Icon icon) {
  const QString qtText = ToQString(text);
  const QString qtCaption = ToQString(caption);
  std::erase_if(posted_, [](const QPointer<QMessageBox>& box) { return box.isNull(); });
  for (const auto& box : posted_)
    if (box->text() == qtText && box->windowTitle() == qtCaption) return false;
  auto* box =
      new QMessageBox(icon == ui::Icon::Warning ? QMessageBox::Warning : QMessageBox::Information,
                      qtCaption, qtText, QMessageBox::Ok);
  box->setTextFormat(Qt::PlainText);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::NonModal);
  box->show();
  posted_.emplace_back(box);
  return true;
}

void QtStatusText::SetText(std::string_view text) {
  if (!label_) {
    label_ = new QLabel(parent_);
    label_->setGeometry(250, 614, 270, 17);
    label_->setFont(QFontDatabase::systemFont(QFontDatabase::GeneralFont));
    label_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    label_->setTextFormat(Qt::PlainText);
    label_->setAccessibleDescription("Database status");
    label_->show();
  }
  // A screen reader announces the status itself, not only what it is about.
  label_->setText(ToQString(text));
  label_->setAccessibleName(label_->text());
}

}  // namespace tagwell
