#include "platform/credentials/Credentials.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "platform/registry/Registry.h"

namespace tagwell::credentials {
namespace {

std::string Escape(const std::string& field) {
  static const char* kHex = "0123456789ABCDEF";
  std::string out;
  for (char c : field) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '%' || c == '\t' || c == '\n' || c == '\r' || u < 0x20) {
      out += '%';
      out += kHex[u >> 4];
      out += kHex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string Unescape(const std::string& field) {
  std::string out;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '%' && i + 2 < field.size() && HexDigit(field[i + 1]) >= 0 &&
        HexDigit(field[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(field[i + 1]) * 16 + HexDigit(field[i + 2]));
      i += 2;
    } else {
      out += field[i];
    }
  }
  return out;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::string::size_type start = 0;
  for (;;) {
    const auto tab = line.find('\t', start);
    fields.push_back(Unescape(line.substr(start, tab - start)));
    if (tab == std::string::npos) return fields;
    start = tab + 1;
  }
}

// The file's text, when it is private to its owner (this user). Missing:
// empty text. Refused: nullopt with the reason.
std::optional<std::string> ReadPrivate(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    if (errno == ENOENT) return std::string();
    if (error) *error = "cannot read " + path + ": " + std::strerror(errno);
    return std::nullopt;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
      (info.st_mode & 077) != 0) {
    ::close(fd);
    if (error)
      *error = path +
               " is not used: it must be a file of this user that nobody else may read "
               "(chmod 600)";
    return std::nullopt;
  }
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, n);
  ::close(fd);
  return text;
}

bool WritePrivate(const std::string& path, const std::string& text, std::string* error) {
  if (!registry::MakeOwnFolders(registry::ParentFolder(path))) {
    if (error)
      *error = "cannot create " + registry::ParentFolder(path) + ": " + std::strerror(errno);
    return false;
  }
  const std::string temporary = path + ".new" + std::to_string(::getpid());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool done = fd >= 0 && ::fchmod(fd, 0600) == 0 &&
              ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd >= 0 && ::close(fd) != 0) done = false;
  if (done && ::rename(temporary.c_str(), path.c_str()) != 0) done = false;
  if (!done) {
    if (error) *error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
  }
  return done;
}

// The file's lines without the one of computer; false when the file is refused.
bool OtherLines(const std::string& path, const std::string& computer, std::string* kept,
                std::string* error) {
  auto text = ReadPrivate(path, error);
  if (!text) return false;
  std::istringstream in(*text);
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && Fields(line)[0] != computer) *kept += line + "\n";
  return true;
}

}  // namespace

std::string Credentials::Describe() const {
  return domain.empty() ? user : domain + "\\" + user;
}

std::string FileCredentialStore::DefaultPath() {
  return registry::UserConfigHome() + "/tagwell/credentials";
}

std::optional<Credentials> FileCredentialStore::Find(const std::string& computer,
                                                     std::string* error) {
  auto text = ReadPrivate(path_, error);
  if (!text) return std::nullopt;
  std::istringstream in(*text);
  for (std::string line; std::getline(in, line);) {
    auto fields = Fields(line);
    if (fields.size() == 4 && fields[0] == computer)
      return Credentials{fields[1], fields[2], fields[3]};
  }
  return std::nullopt;
}

bool FileCredentialStore::Remember(const std::string& computer, const Credentials& credentials,
                                   std::string* error) {
  std::string text;
  if (!OtherLines(path_, computer, &text, error)) return false;
  text += Escape(computer) + "\t" + Escape(credentials.user) + "\t" + Escape(credentials.domain) +
          "\t" + Escape(credentials.password) + "\n";
  return WritePrivate(path_, text, error);
}

void FileCredentialStore::Forget(const std::string& computer) {
  std::string text;
  if (OtherLines(path_, computer, &text, nullptr)) WritePrivate(path_, text, nullptr);
}

std::optional<Credentials> CredentialBook::Get(const std::string& computer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto found = session_.find(computer); found != session_.end()) return found->second;
  if (!store_) return std::nullopt;
  auto stored = store_->Find(computer, nullptr);
  if (stored) session_[computer] = *stored;
  return stored;
}

std::optional<Credentials> CredentialBook::InSession(const std::string& computer) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (auto found = session_.find(computer); found != session_.end()) return found->second;
  return std::nullopt;
}

void CredentialBook::Use(const std::string& computer, const Credentials& credentials) {
  std::lock_guard<std::mutex> lock(mutex_);
  session_[computer] = credentials;
}

bool CredentialBook::Remember(const std::string& computer, const Credentials& credentials,
                              std::string* error) {
  Use(computer, credentials);
  if (!store_) {
    if (error) *error = "no place to remember credentials";
    return false;
  }
  return store_->Remember(computer, credentials, error);
}

void CredentialBook::Drop(const std::string& computer) {
  std::lock_guard<std::mutex> lock(mutex_);
  session_.erase(computer);
}

}  // namespace tagwell::credentials
