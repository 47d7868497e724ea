// In-memory fakes of the window ports. They behave as the Win32 controls do
// (index results, LB_ERR) and record what they were given.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "opc/ClientState.h"
#include "platform/ui/Ui.h"

namespace tagwell::testing {

class FakeListBox final : public ui::ListBox {
 public:
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
  void SetHorizontalExtent(int pixels) override;

  // Test access.
  std::vector<std::string> Lines() const;
  std::string Line(int index) const;  // "" when missing
  int horizontalExtent() const { return extent_; }
  // Selects as a click of the operator would (no notification is sent).
  void Select(int index) { SetCurSel(index); }

 private:
  struct Line_ {
    std::string text;
    std::intptr_t data = 0;
  };
  std::vector<Line_> lines_;
  int selected_ = -1;
  int extent_ = 0;
};

struct ShownMessage {
  std::string text;
  std::string caption;
  ui::Icon icon;
  ui::Owner owner;
};

class RecordingMessageBox final : public ui::MessageBox {
 public:
  int Show(std::string_view text, std::string_view caption, ui::Icon icon,
           ui::Owner owner) override;
  // Recorded as shown; answered from `answers` in order, IDNO once they
  // run out.
  int AskYesNo(std::string_view text, std::string_view caption, ui::Icon icon,
               ui::Owner owner) override;
  std::vector<ShownMessage> shown;
  std::vector<int> answers;
  // Texts only, in order.
  std::vector<std::string> Texts() const;
  void Clear() { shown.clear(); }
};

class FakeStatusText final : public ui::StatusText {
 public:
  void SetText(std::string_view text) override { texts.emplace_back(text); }
  std::vector<std::string> texts;  // every text set, in order
  bool created() const { return !texts.empty(); }
  std::string current() const { return texts.empty() ? std::string() : texts.back(); }
};

// Answers account dialogs from `answers` in order (cancels once they run
// out) and records what it was asked.
class FakeCredentialsPrompt final : public ui::CredentialsPrompt {
 public:
  struct Answer {
    credentials::Credentials account;
    bool remember = false;
  };
  struct Asked {
    std::string computer, reason;
    credentials::Credentials offered;
    bool remember;
  };
  bool Ask(std::string_view computer, std::string_view reason, credentials::Credentials* account,
           bool* remember) override;
  std::vector<Answer> answers;
  std::vector<Asked> asked;
};

// All ports of one main window.
struct FakeWindow {
  FakeListBox localServers, serverInfo, itemNames, values, timeStamps, qualities, types, cycleBox,
      itemCount, roleBox;
  RecordingMessageBox messages;
  FakeStatusText databaseStatus;
  FakeCredentialsPrompt credentials;

  WindowPorts Ports();
};

// A Client wired to a FakeWindow, working in `folder` (Logfile.txt,
// Config.ini).
struct FakeClient {
  explicit FakeClient(std::string folder);
  FakeWindow window;
  Client client;
};

}  // namespace tagwell::testing
