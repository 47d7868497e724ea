#include "app/SmallDialogs.h"

#include <QLineEdit>

#include "app/TemplateDialog.h"
#include "opc/Writing.h"
#include "session/ReadCycle.h"

namespace tagwell {
namespace {

QLineEdit* EditOf(const std::map<int, QWidget*>& controls, int id, const char* name) {
  auto* edit = static_cast<QLineEdit*>(controls.at(id));
  edit->setAccessibleName(name);
  edit->setFocus();
  return edit;
}

std::string FirstLine(const QLineEdit* edit) {
  std::string text = edit->text().toStdString();
  return text.substr(0, text.find_first_of("\r\n"));
}

}  // namespace

CycleDialog::CycleDialog(Client& client, QWidget* owner) : QDialog(owner), client_(client) {
  edit_ = EditOf(BuildFromTemplate(*this, res::kCycleDialog), res::IDC_CYCLE_EDIT,
                 "Cycle duration in seconds");
}

void CycleDialog::accept() {
  const std::string text = FirstLine(edit_);
  if (!CycleSeconds(text)) {
    client_.ui.messageBox->Show(
        "Error: the cycle duration must be a number of seconds from 0.1 to 86400,\nwritten "
        "with a decimal point, for example 0.5, 1 or 60.",
        "Select cycle duration", ui::Icon::Warning, ui::Owner::MainWindow);
    edit_->setFocus();
    edit_->selectAll();
    return;
  }
  client_.state.cycleText = text;
  client_.state.cycleSelected = 1;
  QDialog::accept();
}

WriteValueDialog::WriteValueDialog(Client& client, QWidget* owner)
    : QDialog(owner), client_(client) {
  edit_ = EditOf(BuildFromTemplate(*this, res::kWriteDialog), res::IDC_WRITE_EDIT, "Value");
}

void WriteValueDialog::accept() {
  if (writing_) return;
  writing_ = true;
  ClientState& s = client_.state;
  s.currentRow = s.selectedRow;
  s.currentItem = s.selectedRow;
  s.writeText = FirstLine(edit_);
  WriteItem(client_, s.ptrIOPCItemMgt, s.lastServerHandle, s.currentValue.get());
  writing_ = false;
  QDialog::accept();
}

AboutBox::AboutBox(QWidget* owner) : QDialog(owner) {
  BuildFromTemplate(*this, res::kAboutBox);
}

}  // namespace tagwell
