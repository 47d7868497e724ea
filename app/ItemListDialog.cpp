#include "app/ItemListDialog.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPainter>

#include "app/TemplateDialog.h"
#include "browse/AddItemDialog.h"

namespace tagwell {
namespace {

constexpr int kTextLeft = 4 + 16;
constexpr int kLevelIndent = 8;
constexpr int kTextTop = 3;

int TreeLevel(const QModelIndex& index) {
  return static_cast<int>(index.data(Qt::UserRole).toLongLong() & 0xFFFF);
}

QListWidget* ListOf(const std::map<int, QWidget*>& controls) {
  auto* list = static_cast<QListWidget*>(controls.at(res::IDC_ADD_LIST));
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  list->setUniformItemSizes(true);
  list->setAccessibleName("Items on the server");
  return list;
}

QLineEdit* FieldOf(const std::map<int, QWidget*>& controls) {
  auto* field = static_cast<QLineEdit*>(controls.at(res::IDC_ADD_EDIT));
  field->setAccessibleName("Item Name");
  return field;
}

}  // namespace

void DrawItemLine(QPainter& painter, const QStyleOptionViewItem& option, const QString& text,
                  int treeLevel) {
  const QPalette& palette = option.palette;
  bool selected = option.state.testFlag(QStyle::State_Selected);
  painter.save();
  painter.fillRect(option.rect,
                   selected ? palette.color(QPalette::Highlight) : palette.color(QPalette::Base));
  painter.setPen(selected ? palette.color(QPalette::HighlightedText)
                          : palette.color(QPalette::Text));
  painter.setFont(option.font);
  int x = option.rect.left() + kTextLeft + kLevelIndent * treeLevel;
  int y = option.rect.top() + kTextTop + option.fontMetrics.ascent();
  painter.drawText(QPoint(x, y), text);
  if (option.state.testFlag(QStyle::State_HasFocus)) {
    QPen dotted(palette.color(selected ? QPalette::HighlightedText : QPalette::Text), 1,
                Qt::DotLine);
    painter.setPen(dotted);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(option.rect.adjusted(0, 0, -1, -1));
  }
  painter.restore();
}

void ItemLineDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  DrawItemLine(*painter, option, index.data(Qt::DisplayRole).toString(), TreeLevel(index));
}

QSize ItemLineDelegate::sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
  QString text = index.data(Qt::DisplayRole).toString();
  int width = kTextLeft + kLevelIndent * TreeLevel(index) +
              option.fontMetrics.horizontalAdvance(text) + kTextLeft;
  return QSize(width, option.fontMetrics.height() + 2 * kTextTop);
}

ItemListDialog::ItemListDialog(Client& client, QWidget* owner)
    : QDialog(owner),
      client_(client),
      controls_(BuildFromTemplate(*this, res::kAddItemDialog)),
      list_(ListOf(controls_)),
      field_(FieldOf(controls_)),
      listPort_(list_) {
  list_->setItemDelegate(new ItemLineDelegate(list_));
  FillItemList(client_, listPort_);
  connect(list_, &QListWidget::itemSelectionChanged, this, &ItemListDialog::OnSelection);
  connect(list_, &QListWidget::doubleClicked, this, &ItemListDialog::OnSelection);
}

void ItemListDialog::OnSelection() {
  field_->setText(QString::fromStdString(SelectListItem(client_, listPort_)));
}

void ItemListDialog::accept() {
  if (AcceptItemId(client_, field_->text().toStdString())) QDialog::accept();
}

void ItemListDialog::reject() {
  CancelItemDialog(client_);
  QDialog::reject();
}

}  // namespace tagwell
