#include "platform/profile/Profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>

#include "platform/com/Text.h"
#include "platform/profile/IniFile.h"

namespace tagwell::profile {
namespace {

// A profile file larger than this is not one: reads give the default and
// writes fail rather than rewrite it.
constexpr std::size_t kMaxProfileBytes = 4 * 1024 * 1024;

std::string_view TrimName(const char* name) {
  std::string_view s(name);
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

// Names that read back as themselves once written.
bool WritableSection(std::string_view s) {
  return !s.empty() && !HasLineBreak(s) && s.find(']') == std::string_view::npos;
}

bool WritableKey(std::string_view k) {
  return !k.empty() && !HasLineBreak(k) && k.find('=') == std::string_view::npos &&
         k.front() != '[' && k.front() != ';' && k.front() != '#';
}

// The new text for setting, deleting (value null) or dropping a whole
// section (key null); nullopt when the text stays as it is.
std::optional<std::string> Edit(std::string_view text, std::string_view section, const char* key,
                                const char* value) {
  IniDocument doc(text);
  const std::vector<IniLine>& lines = doc.Lines();
  std::optional<std::size_t> s = doc.FindSection(section);
  std::string out;
  if (!key) {
    if (!s) return std::nullopt;
    std::size_t end = doc.SectionEnd(*s);
    std::size_t to = end < lines.size() ? lines[end].begin : text.size();
    return out.append(text.substr(0, lines[*s].begin)).append(text.substr(to));
  }
  std::optional<std::size_t> k = s ? doc.FindKey(*s, key) : std::nullopt;
  if (!value) {
    if (!k) return std::nullopt;
    return out.append(text.substr(0, lines[*k].begin)).append(text.substr(lines[*k].next));
  }
  if (k) {
    const IniLine& line = lines[*k];
    return out.append(text.substr(0, line.valueBegin)).append(value).append(text.substr(line.end));
  }
  std::string_view eol = doc.PreferredLineEnd();
  if (!s) {
    out.append(text);
    if (!lines.empty() && !lines.back().HasLineEnd()) out.append(eol);
    return out.append("[")
        .append(section)
        .append("]")
        .append(eol)
        .append(key)
        .append("=")
        .append(value)
        .append(eol);
  }
  // A new entry goes after the last entry of the section, or after its header.
  std::size_t after = *s;
  for (std::size_t i = *s + 1; i < doc.SectionEnd(*s); ++i)
    if (lines[i].kind == IniLine::Kind::Key) after = i;
  const IniLine& prev = lines[after];
  if (prev.HasLineEnd()) eol = text.substr(prev.end, prev.next - prev.end);
  out.append(text.substr(0, prev.next));
  if (!prev.HasLineEnd()) out.append(eol);
  return out.append(key).append("=").append(value).append(eol).append(text.substr(prev.next));
}

// The file a write must replace: the target of a symbolic link rather than
// the link itself, so that the link survives.
std::string WriteTarget(const std::string& file) {
  struct stat st {};
  if (::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    if (char* real = ::realpath(file.c_str(), nullptr)) {
      std::string target(real);
      std::free(real);
      return target;
    }
  }
  return file;
}

// An exclusive lock on the file that is at `path` right now, held for one
// read-modify-write so that two writers never lose each other's keys.
// Readers take no lock: they rely on the atomic rename.
class FileLock final {
 public:
  explicit FileLock(const std::string& path) {
    // A writer that renamed its new file over the one we waited for leaves
    // us holding a lock on a file no longer there: take the new one.
    for (int attempt = 0; attempt < 1000; ++attempt) {
      fd_ = ::open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
      if (fd_ < 0) return;
      int rc;
      do rc = ::flock(fd_, LOCK_EX);
      while (rc != 0 && errno == EINTR);
      struct stat held {
      }, current{};
      if (rc != 0 || (::fstat(fd_, &held) == 0 && ::stat(path.c_str(), &current) == 0 &&
                      held.st_dev == current.st_dev && held.st_ino == current.st_ino))
        return;  // locked, or a file system without locks: go on unlocked
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Writes contents to a new file beside path and renames it over path.
bool ReplaceFile(const std::string& path, std::string_view contents, mode_t mode) {
  std::size_t slash = path.rfind('/');
  std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string temp = folder + (slash == std::string::npos ? "/." : ".") + base + ".XXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, contents) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

}  // namespace

std::size_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                    char* buffer, std::size_t size, const std::string& file) {
  if (!buffer || size == 0) return 0;
  std::string_view result = defaultValue ? defaultValue : "";
  std::string text;
  if (section && key && ReadSmallFile(file, kMaxProfileBytes, &text) == ReadStatus::Ok) {
    IniDocument doc(text);
    if (std::optional<std::string_view> found = doc.Find(TrimName(section), TrimName(key)))
      result = *found;
  }
  std::string_view kept = com::TruncateUtf8(result, size - 1);
  std::memcpy(buffer, kept.data(), kept.size());
  buffer[kept.size()] = '\0';
  return kept.size();
}

bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const std::string& file) {
  if (!section || !WritableSection(TrimName(section))) return false;
  std::string trimmedKey = key ? std::string(TrimName(key)) : std::string();
  if (key && !WritableKey(trimmedKey)) return false;
  if (value && HasLineBreak(value)) return false;

  std::string target = WriteTarget(file);
  struct stat st {};
  if ((!key || !value) && ::stat(target.c_str(), &st) != 0)
    return errno == ENOENT;  // nothing to delete from a missing file
  FileLock lock(target);
  if (lock.fd() < 0 || ::fstat(lock.fd(), &st) != 0) return false;
  std::string text;
  if (ReadSmallFile(lock.fd(), kMaxProfileBytes, &text) != ReadStatus::Ok) return false;
  std::optional<std::string> updated =
      Edit(text, TrimName(section), key ? trimmedKey.c_str() : nullptr, value);
  if (!updated) return true;
  return ReplaceFile(target, *updated, st.st_mode & 07777);
}

bool UpdatePrivateProfileSection(const char* section,
                                 const std::function<ProfileChanges(const ProfileReader&)>& update,
                                 const std::string& file) {
  if (!section || !WritableSection(TrimName(section))) return false;
  std::string target = WriteTarget(file);
  FileLock lock(target);
  struct stat st {};
  if (lock.fd() < 0 || ::fstat(lock.fd(), &st) != 0) return false;
  std::string text;
  if (ReadSmallFile(lock.fd(), kMaxProfileBytes, &text) != ReadStatus::Ok) return false;
  const std::string sectionName(TrimName(section));
  ProfileChanges changes;
  {
    IniDocument doc(text);
    changes = update([&](const char* key) -> std::string {
      if (!key) return {};
      std::optional<std::string_view> found = doc.Find(sectionName, TrimName(key));
      return found ? std::string(*found) : std::string();
    });
  }
  if (changes.empty()) return true;
  for (const auto& [key, value] : changes) {
    std::string trimmedKey(TrimName(key.c_str()));
    if (!WritableKey(trimmedKey) || HasLineBreak(value)) return false;
    if (std::optional<std::string> updated =
            Edit(text, sectionName, trimmedKey.c_str(), value.c_str()))
      text = std::move(*updated);
  }
  return ReplaceFile(target, text, st.st_mode & 07777);
}

bool EnsureFileExists(const std::string& file) {
  int fd = ::open(file.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) return false;
  struct stat st {};
  bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  ::close(fd);
  return regular;
}

}  // namespace tagwell::profile
