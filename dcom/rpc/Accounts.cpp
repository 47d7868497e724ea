#include "dcom/rpc/Accounts.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/registry/Registry.h"

namespace tagwell::dcom {

namespace {

std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  if (auto first = line.find_first_not_of(" \t\r");
      first == std::string::npos || line[first] == '#')
    return words;
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::optional<ntlm::Hash16> ParseHash(const std::string& text) {
  if (text.size() != 32) return std::nullopt;
  ntlm::Hash16 hash;
  for (std::size_t i = 0; i < 16; ++i) {
    unsigned value = 0;
    for (int k = 0; k < 2; ++k) {
      char c = text[2 * i + k];
      int digit = c >= '0' && c <= '9'   ? c - '0'
                  : c >= 'a' && c <= 'f' ? c - 'a' + 10
                  : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                         : -1;
      if (digit < 0) return std::nullopt;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    hash[i] = static_cast<std::uint8_t>(value);
  }
  return hash;
}

bool SameName(const std::string& a, const std::string& b) {
  return ntlm::UpperName(a) == ntlm::UpperName(b);
}

bool Rewrite(const std::string& path, const std::string& text, std::string* error) {
  if (!registry::MakeOwnFolders(registry::ParentFolder(path))) {
    *error = "cannot create " + registry::ParentFolder(path) + ": " + std::strerror(errno);
    return false;
  }
  std::string temporary = path + ".new" + std::to_string(::getpid());
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool done = fd >= 0 && ::fchmod(fd, 0600) == 0 &&
              ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
              ::fsync(fd) == 0;
  if (fd >= 0 && ::close(fd) != 0) done = false;
  if (done && ::rename(temporary.c_str(), path.c_str()) != 0) done = false;
  if (!done) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
  }
  return done;
}

}  // namespace

std::string HexText(ByteView bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (std::uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

std::string DcomAccountsPath() {
  return registry::UserConfigHome() + "/tagwell-server/dcom-accounts";
}

std::optional<std::pair<std::string, std::string>> SplitAccountName(const std::string& name) {
  auto slash = name.find('\\');
  if (slash == std::string::npos || slash == 0 || slash + 1 == name.size()) return std::nullopt;
  if (name.find_first_of(" \t\r\n") != std::string::npos) return std::nullopt;
  std::string user = name.substr(slash + 1);
  if (user.find('\\') != std::string::npos) return std::nullopt;
  return std::pair(name.substr(0, slash), user);
}

std::vector<DcomAccount> ReadDcomAccounts(const std::string& path,
                                          std::vector<std::string>* problems) {
  std::vector<DcomAccount> accounts;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return accounts;
  struct stat status {};
  bool open = ::fstat(fd, &status) == 0;
  ::close(fd);
  if (!open || !S_ISREG(status.st_mode)) {
    problems->push_back(path + ": not a regular file");
    return accounts;
  }
  if (status.st_mode & 077) {
    problems->push_back(path +
                        ": refused because group or others can access it (it holds password "
                        "hashes); run: chmod 600 " +
                        path);
    return accounts;
  }
  std::ifstream in(path);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    auto words = Words(line);
    if (words.empty()) continue;
    auto where = [&] { return path + ":" + std::to_string(number) + ": "; };
    auto name = SplitAccountName(words[0]);
    auto hash = words.size() > 1 ? ParseHash(words[1]) : std::nullopt;
    if (!name || !hash || words.size() != 3 || (words[2] != "read" && words[2] != "readwrite")) {
      problems->push_back(where() + "needs DOMAIN\\USER NTHASH read|readwrite");
      continue;
    }
    accounts.push_back(DcomAccount{name->first, name->second, *hash, words[2] == "read"});
  }
  return accounts;
}

bool AddDcomAccount(const std::string& path, const std::string& name, const std::string& password,
                    bool readOnly, std::string* error) {
  auto parts = SplitAccountName(name);
  if (!parts) {
    *error = "\"" + name + "\" is not DOMAIN\\USER";
    return false;
  }
  std::ifstream in(path);
  std::string text;
  for (std::string line; std::getline(in, line);) {
    auto words = Words(line);
    auto other = words.empty() ? std::nullopt : SplitAccountName(words[0]);
    if (other && SameName(other->first, parts->first) && SameName(other->second, parts->second))
      continue;
    text += line + "\n";
  }
  if (text.empty())
    text = "# DCOM accounts of this server: DOMAIN\\USER, NT hash, read or readwrite.\n";
  ntlm::Hash16 hash = ntlm::NtHash(password);
  text += name + " " + HexText(hash) + " " + (readOnly ? "read" : "readwrite") + "\n";
  return Rewrite(path, text, error);
}

std::optional<DcomAccount> FindDcomAccount(const std::vector<DcomAccount>& accounts,
                                           const std::string& user, const std::string& domain,
                                           std::string* why, const std::string& computer) {
  bool local = domain.empty() || domain == "." || (!computer.empty() && SameName(domain, computer));
  std::optional<DcomAccount> found;
  for (const DcomAccount& account : accounts) {
    if (!SameName(account.user, user)) continue;
    if (!local && !SameName(account.domain, domain)) continue;
    if (found && local) {
      *why = "the user name is in several domains; the login must name one";
      return std::nullopt;
    }
    if (!found) found = account;
  }
  if (!found) *why = "no such account";
  return found;
}

}  // namespace tagwell::dcom
