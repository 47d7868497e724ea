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

bool QtListBox::Selectable() const {
  return widget_->selectionMode() != QAbstractItemView::NoSelection;
}

void QtListBox::Select(int index) {
  QSignalBlocker block(widget_);
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

int QtListBox::InsertString(int index, std::string_view text) {
  int count = widget_->count();
  if (index == -1) index = count;
  if (index < 0 || index > count) return ui::LB_ERR;
  int selected = GetCurSel();
  {
    QSignalBlocker block(widget_);
    widget_->insertItem(index, ToQString(text));
  }
  if (selected != ui::LB_ERR) Select(selected >= index ? selected + 1 : selected);
  return index;
}

int QtListBox::DeleteString(int index) {
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
  QSignalBlocker block(widget_);
  widget_->clear();
}

int QtListBox::GetCount() const {
  return widget_->count();
}

int QtListBox::GetText(int index, std::string* text) const {
  if (index < 0 || index >= widget_->count()) return ui::LB_ERR;
  QByteArray utf8 = widget_->item(index)->text().toUtf8();
  text->assign(utf8.constData(), static_cast<std::size_t>(utf8.size()));
  return static_cast<int>(text->size());
}

int QtListBox::GetCurSel() const {
  if (!Selectable()) return ui::LB_ERR;
  QModelIndexList rows = widget_->selectionModel()->selectedRows();
  return rows.isEmpty() ? ui::LB_ERR : rows.first().row();
}

int QtListBox::SetCurSel(int index) {
  if (!Selectable()) return ui::LB_ERR;
  Select(index);
  return index >= 0 && index < widget_->count() ? index : ui::LB_ERR;
}

int QtListBox::SetItemData(int index, std::intptr_t data) {
  if (index < 0 || index >= widget_->count()) return ui::LB_ERR;
  QSignalBlocker block(widget_);
  widget_->item(index)->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(data));
  return 0;
}

std::intptr_t QtListBox::GetItemData(int index) const {
  if (index < 0 || index >= widget_->count()) return ui::LB_ERR;
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
