// The window ports of platform/ui realised with Qt widgets.
#pragma once

#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <vector>

#include "platform/ui/Ui.h"

class QLabel;
class QListWidget;
class QWidget;

namespace tagwell {

// A Win32-style list box over a QListWidget (not owned). Indexes and
// results are those of the LB_ messages. Nothing done through the port
// emits the widget's signals, as LB_ messages send no notifications; the
// selection follows its line when lines are inserted or deleted before it
// and is cleared when its line is deleted. A widget in NoSelection mode
// (LBS_NOSEL) has no selection: GetCurSel and SetCurSel give LB_ERR.
class QtListBox final : public ui::ListBox {
 public:
  explicit QtListBox(QListWidget* widget);
  ~QtListBox() override;
  QtListBox(const QtListBox&) = delete;
  QtListBox& operator=(const QtListBox&) = delete;

  int AddString(std::string_view text) override;
  int InsertString(int index, std::string_view text) override;
  int DeleteString(int index) override;
  void ResetContent() override;
  int GetCount() const override;
  int GetText(int index, std::string* text) const override;
  int GetCurSel() const override;
  int SetCurSel(int index) override;
  int SetItemData(int index, std::intptr_t data) override;
  std::intptr_t GetItemData(int index) const override;
  // Qt sizes the scrollable width from the lines; the value is kept only.
  void SetHorizontalExtent(int pixels) override { extent_ = pixels; }
  int horizontalExtent() const { return extent_; }
  // Changes the line's text in place (one model change).
  void ReplaceString(int index, std::string_view text) override;
  // While held, rewritten lines change without telling the view, lines
  // appended at the end wait, and the selection is only noted; the last
  // release shows it all with one change of the rewritten range, one
  // insertion of the new lines and one selection.
  void HoldUpdates(bool hold) override;

 private:
  bool Selectable() const;
  void Select(int index);
  int Count() const;  // lines, with those that wait
  // Shows what waits of a hold (the hold goes on).
  void Flush();
  int HeldSelection() const;

  QListWidget* widget_;
  int extent_ = 0;
  int holds_ = 0;
  QStringList tail_;  // lines appended while held, not yet in the widget
  int changedFirst_ = -1, changedLast_ = -1;
  bool selectionNoted_ = false;
  int notedSelection_ = -1;
  bool selecting_ = false;  // the selection changes through this port
  QMetaObject::Connection operatorSelects_;
};

// Message boxes. Owner::MainWindow: modal to the window given. Owner::None:
// a box without parent and without modality, waited for in a nested event
// loop, so that the main window (and its read cycle) stays usable.
class QtMessageBox final : public ui::MessageBox {
 public:
  explicit QtMessageBox(QWidget* mainWindow) : mainWindow_(mainWindow) {}
  int Show(std::string_view text, std::string_view caption, ui::Icon icon,
           ui::Owner owner) override;
  bool Post(std::string_view text, std::string_view caption, ui::Icon icon) override;
  int AskYesNo(std::string_view text, std::string_view caption, ui::Icon icon,
               ui::Owner owner) override;

 private:
  QPointer<QWidget> mainWindow_;
  std::vector<QPointer<QMessageBox>> posted_;  // posted boxes, null once closed
};

// The database status text: a label at (250, 614), 270 x 17, in the system
// font, created in parent the first time a text is set. Its accessible name
// is the text it shows; "Database status" is its accessible description.
class QtStatusText final : public ui::StatusText {
 public:
  explicit QtStatusText(QWidget* parent) : parent_(parent) {}
  void SetText(std::string_view text) override;
  // Null until the first text was set.
  QLabel* label() const { return label_; }

 private:
  QWidget* parent_;
  QLabel* label_ = nullptr;
};

}  // namespace tagwell
