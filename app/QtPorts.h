// The window ports of platform/ui realised with Qt widgets.
#pragma once

#include <QMessageBox>
#include <QPointer>
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
  explicit QtListBox(QListWidget* widget) : widget_(widget) {}

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

 private:
  bool Selectable() const;
  void Select(int index);

  QListWidget* widget_;
  int extent_ = 0;
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
