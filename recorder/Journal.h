// The recorder's ports of the window (platform/ui) without a window: the
// list boxes are kept in memory, and what the window shows in a message box
// goes to the journal and to Logfile.txt. The journal is standard error,
// one line per message with the priority prefix of sd-daemon(3) ("<3>"
// error, "<4>" warning, "<5>" notice, "<6>" information), which journald
// takes as the line's priority.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "opc/ClientState.h"
#include "opc/Refusals.h"
#include "platform/ui/Ui.h"
#include "rpc/Activation.h"

namespace tagwell::recorder {

enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// The journal of the process. Thread-safe: each line is one write.
class Journal {
 public:
  // plain: lines without the priority prefix (a person reads them), and
  // only those of at least priority `least`.
  explicit Journal(int fd = 2, bool plain = false, Priority least = Priority::Info)
      : fd_(fd), plain_(plain), least_(least) {}
  void Write(Priority priority, std::string_view text);
  // Every text line of a Logfile.txt entry, with the priority its words
  // give: "***" an error, a role change or a restored connection a notice,
  // anything else information.
  void WriteLog(std::string_view text);
  // The last error line and its wall-clock time; "" when none.
  std::string LastError() const;
  // How many error lines were written so far.
  long ErrorCount() const;

 private:
  int fd_;
  bool plain_;
  Priority least_;
  mutable std::mutex mutex_;
  long errors_ = 0;
  std::string lastError_;
  std::string lastErrorAt_;
};

// One line of text: line breaks become blanks, trailing ones go.
std::string OneLine(std::string_view text);

// A list box in memory with the Win32 LB_ semantics.
class MemoryListBox final : public ui::ListBox {
 public:
  int AddString(std::string_view text) override;
  int InsertString(int index, std::string_view text) override;
  int DeleteString(int index) override;
  void ResetContent() override;
  int GetCount() const override { return static_cast<int>(lines_.size()); }
  int GetText(int index, std::string* text) const override;
  int GetCurSel() const override { return selected_; }
  int SetCurSel(int index) override;
  int SetItemData(int index, std::intptr_t data) override;
  std::intptr_t GetItemData(int index) const override;
  void SetHorizontalExtent(int) override {}
  // Line index, "" when there is none.
  std::string Line(int index) const;

 private:
  bool Valid(int index) const { return index >= 0 && index < GetCount(); }
  std::vector<std::pair<std::string, std::intptr_t>> lines_;
  int selected_ = ui::LB_ERR;
};

// Message boxes as Logfile.txt entries (which the log echo brings to the
// journal): a warning box as an error line "*** CAPTION: TEXT", an
// information box as "CAPTION: TEXT". Nobody answers: Show returns at
// once. A posted box that says what an earlier one said within the last
// ten minutes is not written again (a failure repeated every tick).
class JournalMessageBox final : public ui::MessageBox {
 public:
  explicit JournalMessageBox(Client*& client) : client_(client) {}
  int Show(std::string_view text, std::string_view caption, ui::Icon icon,
           ui::Owner owner) override;
  bool Post(std::string_view text, std::string_view caption, ui::Icon icon) override;
  // A question is answered No (see RecorderPrompt); the question is written.
  int AskYesNo(std::string_view text, std::string_view caption, ui::Icon icon,
               ui::Owner owner) override;

 private:
  Client*& client_;
  std::map<std::string, std::chrono::steady_clock::time_point> posted_;
};

// The database status line, kept for the service status.
class MemoryStatusText final : public ui::StatusText {
 public:
  void SetText(std::string_view text) override { text_ = text; }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
};

// The operator prompt of remote activation without an operator. A server
// whose certificate is not known yet is not trusted: the careful answer of
// someone who cannot compare the fingerprint with the server's. The journal
// says how the session file names the fingerprint once an operator has
// compared it. Refusals are noted in the client's refusals, as the window's
// prompt notes them: the Connect under way shows the box (the journal and
// Logfile.txt) and logs the lines; a reconnection logs them once.
class RecorderPrompt final : public rpc::OperatorPrompt {
 public:
  // refusals (the client's) outlives the prompt.
  RecorderPrompt(Journal& journal, Refusals& refusals) : journal_(journal), refusals_(refusals) {}
  bool Ask(const std::string& text) override;
  void Tell(const std::string& text) override { refusals_.NoteBox(text); }
  void Refused(const std::string& line) override { refusals_.NoteLine(line); }

 private:
  Journal& journal_;
  Refusals& refusals_;
};

}  // namespace tagwell::recorder
