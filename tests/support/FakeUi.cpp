#include "tests/support/FakeUi.h"

namespace tagwell::testing {

int FakeListBox::AddString(std::string_view text) {
  lines_.push_back({std::string(text), 0});
  return static_cast<int>(lines_.size()) - 1;
}

int FakeListBox::InsertString(int index, std::string_view text) {
  int count = static_cast<int>(lines_.size());
  if (index == -1) return AddString(text);
  if (index < 0 || index > count) return ui::LB_ERR;
  lines_.insert(lines_.begin() + index, {std::string(text), 0});
  if (selected_ >= index) ++selected_;
  return index;
}

int FakeListBox::DeleteString(int index) {
  int count = static_cast<int>(lines_.size());
  if (index < 0 || index >= count) return ui::LB_ERR;
  lines_.erase(lines_.begin() + index);
  if (selected_ == index)
    selected_ = -1;
  else if (selected_ > index)
    --selected_;
  return count - 1;
}

void FakeListBox::ResetContent() {
  lines_.clear();
  selected_ = -1;
}

int FakeListBox::GetCount() const {
  return static_cast<int>(lines_.size());
}

int FakeListBox::GetText(int index, std::string* text) const {
  if (index < 0 || index >= GetCount()) return ui::LB_ERR;
  *text = lines_[index].text;
  return static_cast<int>(text->size());
}

int FakeListBox::GetCurSel() const {
  return selected_ >= 0 ? selected_ : ui::LB_ERR;
}

int FakeListBox::SetCurSel(int index) {
  if (index < 0 || index >= GetCount()) {
    selected_ = -1;
    return ui::LB_ERR;
  }
  selected_ = index;
  return index;
}

int FakeListBox::SetItemData(int index, std::intptr_t data) {
  if (index < 0 || index >= GetCount()) return ui::LB_ERR;
  lines_[index].data = data;
  return 0;
}

std::intptr_t FakeListBox::GetItemData(int index) const {
  if (index < 0 || index >= GetCount()) return ui::LB_ERR;
  return lines_[index].data;
}

void FakeListBox::SetHorizontalExtent(int pixels) {
  extent_ = pixels;
}

std::vector<std::string> FakeListBox::Lines() const {
  std::vector<std::string> out;
  for (const auto& l : lines_) out.push_back(l.text);
  return out;
}

std::string FakeListBox::Line(int index) const {
  std::string text;
  GetText(index, &text);
  return text;
}

int RecordingMessageBox::Show(std::string_view text, std::string_view caption, ui::Icon icon,
                              ui::Owner owner) {
  shown.push_back({std::string(text), std::string(caption), icon, owner});
  return ui::IDOK;
}

int RecordingMessageBox::AskYesNo(std::string_view text, std::string_view caption, ui::Icon icon,
                                  ui::Owner owner) {
  shown.push_back({std::string(text), std::string(caption), icon, owner});
  if (answers.empty()) return ui::IDNO;
  int answer = answers.front();
  answers.erase(answers.begin());
  return answer;
}

std::vector<std::string> RecordingMessageBox::Texts() const {
  std::vector<std::string> out;
  for (const auto& m : shown) out.push_back(m.text);
  return out;
}

bool FakeCredentialsPrompt::Ask(std::string_view computer, std::string_view reason,
                                credentials::Credentials* account, bool* remember) {
  asked.push_back({std::string(computer), std::string(reason), *account, *remember});
  if (answers.empty()) return false;
  *account = answers.front().account;
  *remember = answers.front().remember;
  answers.erase(answers.begin());
  return true;
}

WindowPorts FakeWindow::Ports() {
  WindowPorts p;
  p.localServers = &localServers;
  p.serverInfo = &serverInfo;
  p.itemNames = &itemNames;
  p.values = &values;
  p.timeStamps = &timeStamps;
  p.qualities = &qualities;
  p.types = &types;
  p.cycleBox = &cycleBox;
  p.itemCount = &itemCount;
  p.roleBox = &roleBox;
  p.messageBox = &messages;
  p.databaseStatus = &databaseStatus;
  p.credentialsPrompt = &credentials;
  return p;
}

FakeClient::FakeClient(std::string folder) : client(window.Ports(), std::move(folder)) {}

}  // namespace tagwell::testing
