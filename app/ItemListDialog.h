// The Add Item dialog (template 136): the item field, and the list of the
// server's names drawn as a shallow tree by DrawItemLine. The rules of the
// list and of OK and Cancel are browse/AddItemDialog's.
#pragma once

#include <QDialog>
#include <QStyledItemDelegate>
#include <map>

#include "app/QtPorts.h"
#include "opc/ClientState.h"

class QLineEdit;
class QListWidget;

namespace tagwell {

// Draws one line of the list: the whole line in the highlight colours of
// the palette when selected, else in the window colours; the text at
// x = left + 4 + 16 + 8 * treeLevel, y = top + 3 (the level is the line's
// item data); a focus rectangle around the line that has the focus.
void DrawItemLine(QPainter& painter, const QStyleOptionViewItem& option, const QString& text,
                  int treeLevel);

class ItemLineDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* painter, const QStyleOptionViewItem& option,
             const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class ItemListDialog final : public QDialog {
 public:
  // Fills the list from the browse lists (FillItemList).
  ItemListDialog(Client& client, QWidget* owner);

  QListWidget* list() const { return list_; }
  QLineEdit* field() const { return field_; }

  // OK: ends the dialog only when AcceptItemId takes the field's text.
  void accept() override;
  // Cancel, Escape, the close box: itemChosen = 0.
  void reject() override;

 private:
  void OnSelection();

  Client& client_;
  std::map<int, QWidget*> controls_;
  QListWidget* list_;
  QLineEdit* field_;
  QtListBox listPort_;
};

}  // namespace tagwell
