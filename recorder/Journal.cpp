#include "recorder/Journal.h"

#include <unistd.h>

#include <ctime>

#include "opc/Log.h"

namespace tagwell::recorder {
namespace {

constexpr auto kRepeatHold = std::chrono::minutes(10);

std::string LocalTimeNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

bool StartsWith(std::string_view text, std::string_view start) {
  return text.substr(0, start.size()) == start;
}

Priority PriorityOfLogLine(std::string_view line) {
  if (StartsWith(line, "***")) return Priority::Error;
  if (StartsWith(line, "Client role changed") ||
      (StartsWith(line, "Connection to OPC server") &&
       line.find(" restored") != std::string_view::npos) ||
      StartsWith(line, "WriteDatabase: rows are stored again"))
    return Priority::Notice;
  return Priority::Info;
}

}  // namespace

std::string OneLine(std::string_view text) {
  std::string line;
  bool lineBreak = false;
  for (char c : text) {
    if (c == '\n' || c == '\r') {
      lineBreak = true;
      continue;
    }
    if (lineBreak && !line.empty() && line.back() != ' ') line += ' ';
    lineBreak = false;
    line += c;
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

void Journal::Write(Priority priority, std::string_view text) {
  const std::string line = OneLine(text);
  if (line.empty()) return;
  std::lock_guard lock(mutex_);
  if (priority == Priority::Error) {
    ++errors_;
    lastError_ = line;
    lastErrorAt_ = LocalTimeNow();
  }
  if (plain_ && static_cast<int>(priority) > static_cast<int>(least_)) return;
  const std::string out =
      (plain_ ? std::string() : "<" + std::to_string(static_cast<int>(priority)) + ">") + line +
      "\n";
  for (std::size_t done = 0; done < out.size();) {
    const ssize_t n = ::write(fd_, out.data() + done, out.size() - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
}

void Journal::WriteLog(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(start, end - start);
    if (line.find_first_not_of(" \t\r") != std::string_view::npos)
      Write(PriorityOfLogLine(line), line);
    start = end + 1;
  }
}

std::string Journal::LastError() const {
  std::lock_guard lock(mutex_);
  return errors_ == 0 ? std::string() : lastErrorAt_ + " " + lastError_;
}

long Journal::ErrorCount() const {
  std::lock_guard lock(mutex_);
  return errors_;
}

// --- MemoryListBox -----------------------------------------------------------

int MemoryListBox::AddString(std::string_view text) {
  lines_.emplace_back(std::string(text), 0);
  return GetCount() - 1;
}

int MemoryListBox::InsertString(int index, std::string_view text) {
  if (index == -1) return AddString(text);
  if (index < 0 || index > GetCount()) return ui::LB_ERR;
  lines_.insert(lines_.begin() + index, {std::string(text), 0});
  if (selected_ >= index) ++selected_;
  return index;
}

int MemoryListBox::DeleteString(int index) {
  if (!Valid(index)) return ui::LB_ERR;
  lines_.erase(lines_.begin() + index);
  if (selected_ == index)
    selected_ = ui::LB_ERR;
  else if (selected_ > index)
    --selected_;
  return GetCount();
}

void MemoryListBox::ResetContent() {
  lines_.clear();
  selected_ = ui::LB_ERR;
}

int MemoryListBox::GetText(int index, std::string* text) const {
  if (!Valid(index)) return ui::LB_ERR;
  *text = lines_[index].first;
  return static_cast<int>(text->size());
}

int MemoryListBox::SetCurSel(int index) {
  selected_ = Valid(index) ? index : ui::LB_ERR;
  return selected_;
}

int MemoryListBox::SetItemData(int index, std::intptr_t data) {
  if (!Valid(index)) return ui::LB_ERR;
  lines_[index].second = data;
  return 0;
}

std::intptr_t MemoryListBox::GetItemData(int index) const {
  return Valid(index) ? lines_[index].second : ui::LB_ERR;
}

std::string MemoryListBox::Line(int index) const {
  return Valid(index) ? lines_[index].first : std::string();
}

// --- JournalMessageBox -------------------------------------------------------

int JournalMessageBox::Show(std::string_view text, std::string_view caption, ui::Icon icon,
                            ui::Owner /*owner*/) {
  const std::string entry = std::string(icon == ui::Icon::Warning ? "*** " : "") +
                            std::string(caption) + ": " + OneLine(text) + "\n";
  if (client_) AppendLog(*client_, LogOpen::Unchecked, entry);
  return ui::IDOK;
}

bool JournalMessageBox::Post(std::string_view text, std::string_view caption, ui::Icon icon) {
  const auto now = std::chrono::steady_clock::now();
  const std::string key = std::string(caption) + "\n" + std::string(text);
  auto found = posted_.find(key);
  if (found != posted_.end() && now - found->second < kRepeatHold) return false;
  // Texts that name values (items, reasons) differ endlessly: the ones
  // past their hold are forgotten.
  if (posted_.size() > 256)
    std::erase_if(posted_, [&](const auto& entry) { return now - entry.second >= kRepeatHold; });
  posted_[key] = now;
  Show(text, caption, icon, ui::Owner::None);
  return true;
}

int JournalMessageBox::AskYesNo(std::string_view text, std::string_view caption, ui::Icon icon,
                                ui::Owner owner) {
  Show(std::string(text) + " Answered No: nobody is there to answer.", caption, icon, owner);
  return ui::IDNO;
}

// --- RecorderPrompt ----------------------------------------------------------

bool RecorderPrompt::Ask(const std::string& text) {
  journal_.Write(Priority::Error,
                 "Remote Server connection: " + text +
                     " Answered No: a recorder trusts no server on its own. Once an operator has "
                     "compared the fingerprint with the server's (tagwell-server --fingerprint), "
                     "give it as [Server] Fingerprint in the session file.");
  return false;
}

}  // namespace tagwell::recorder
