#include "platform/profile/IniFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tagwell::profile {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Unquote(std::string_view s) {
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front())
    return s.substr(1, s.size() - 2);
  return s;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Classifies the content of one line (line end already cut off).
void Classify(std::string_view content, std::size_t offset, IniLine* line) {
  std::string_view rest = Trim(content);
  if (rest.empty() || rest.front() == ';' || rest.front() == '#') return;
  if (rest.front() == '[') {
    std::size_t close = rest.find(']');
    if (close == std::string_view::npos) return;
    std::string_view name = Trim(rest.substr(1, close - 1));
    if (name.empty()) return;
    line->kind = IniLine::Kind::Section;
    line->name = name;
    return;
  }
  std::size_t eq = content.find('=');
  if (eq == std::string_view::npos) return;
  std::string_view name = Trim(content.substr(0, eq));
  if (name.empty()) return;
  line->kind = IniLine::Kind::Key;
  line->name = name;
  line->rawValue = Trim(content.substr(eq + 1));
  line->value = Unquote(line->rawValue);
  line->valueBegin = offset + eq + 1;
}

}  // namespace

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

IniDocument::IniDocument(std::string_view text) : text_(text) {
  std::size_t pos = text.substr(0, kBom.size()) == kBom ? kBom.size() : 0;
  while (pos < text.size()) {
    IniLine line;
    line.begin = pos;
    std::size_t nl = text.find('\n', pos);
    line.next = nl == std::string_view::npos ? text.size() : nl + 1;
    line.end = nl == std::string_view::npos ? text.size() : nl;
    if (line.end > pos && text[line.end - 1] == '\r' && nl != std::string_view::npos) --line.end;
    Classify(text.substr(pos, line.end - pos), pos, &line);
    lines_.push_back(line);
    pos = line.next;
  }
}

std::optional<std::size_t> IniDocument::FindSection(std::string_view name) const {
  for (std::size_t i = 0; i < lines_.size(); ++i)
    if (lines_[i].kind == IniLine::Kind::Section && NamesEqual(lines_[i].name, name)) return i;
  return std::nullopt;
}

std::size_t IniDocument::SectionEnd(std::size_t sectionLine) const {
  std::size_t i = sectionLine + 1;
  while (i < lines_.size() && lines_[i].kind != IniLine::Kind::Section) ++i;
  return i;
}

std::optional<std::size_t> IniDocument::FindKey(std::size_t sectionLine,
                                                std::string_view key) const {
  std::size_t end = SectionEnd(sectionLine);
  for (std::size_t i = sectionLine + 1; i < end; ++i)
    if (lines_[i].kind == IniLine::Kind::Key && NamesEqual(lines_[i].name, key)) return i;
  return std::nullopt;
}

std::optional<std::string_view> IniDocument::Find(std::string_view section,
                                                  std::string_view key) const {
  std::optional<std::size_t> s = FindSection(section);
  if (!s) return std::nullopt;
  std::optional<std::size_t> k = FindKey(*s, key);
  if (!k) return std::nullopt;
  return lines_[*k].value;
}

std::string_view IniDocument::PreferredLineEnd() const {
  for (const IniLine& line : lines_)
    if (line.HasLineEnd()) return text_.substr(line.end, line.next - line.end);
  return "\n";
}

ReadStatus ReadSmallFile(int fd, std::size_t maxBytes, std::string* contents) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return ReadStatus::Unreadable;
  if (!S_ISREG(st.st_mode)) return ReadStatus::NotAFile;
  if (static_cast<unsigned long long>(st.st_size) > maxBytes) return ReadStatus::TooLarge;
  std::string data;
  char chunk[8192];
  for (off_t offset = 0;;) {
    ssize_t n = ::pread(fd, chunk, sizeof chunk, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ReadStatus::Unreadable;
    if (n == 0) break;
    // The file may grow while it is read; the limit still holds.
    if (data.size() + static_cast<std::size_t>(n) > maxBytes) return ReadStatus::TooLarge;
    data.append(chunk, static_cast<std::size_t>(n));
    offset += n;
  }
  *contents = std::move(data);
  return ReadStatus::Ok;
}

ReadStatus ReadSmallFile(const std::string& path, std::size_t maxBytes, std::string* contents) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0)
    return errno == ENOENT || errno == ENOTDIR ? ReadStatus::Missing : ReadStatus::Unreadable;
  ReadStatus status = ReadSmallFile(fd, maxBytes, contents);
  ::close(fd);
  return status;
}

}  // namespace tagwell::profile
