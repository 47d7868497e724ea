// The cycle-duration dialog (template 138), the write-value dialog (137)
// and the About box (103). Each is modal to the main window while it runs.
#pragma once

#include <QDialog>
#include <map>

#include "opc/ClientState.h"

class QLineEdit;

namespace tagwell {

// OK stores the first line of the edit box in cycleText (at most 123
// bytes, cut at a character boundary) and sets cycleSelected, when the text
// is a cycle (CycleSeconds); any other text is refused with a message and
// the dialog stays open. Cancel keeps the cycle as it was.
class CycleDialog final : public QDialog {
 public:
  CycleDialog(Client& client, QWidget* owner);
  QLineEdit* edit() const { return edit_; }
  void accept() override;

 private:
  Client& client_;
  QLineEdit* edit_;
};

// OK takes the row selected in the Item name column (selectedRow) as
// currentRow and currentItem, stores the first line of the edit box in
// writeText (at most 255 bytes) and runs WriteItem; the dialog closes when
// the write, with its message boxes, has finished. An OK pressed while the
// write waits in a message box is ignored.
class WriteValueDialog final : public QDialog {
 public:
  WriteValueDialog(Client& client, QWidget* owner);
  QLineEdit* edit() const { return edit_; }
  void accept() override;

 private:
  Client& client_;
  QLineEdit* edit_;
  bool writing_ = false;
};

class AboutBox final : public QDialog {
 public:
  explicit AboutBox(QWidget* owner);
};

}  // namespace tagwell
