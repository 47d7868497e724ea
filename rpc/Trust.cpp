#include "rpc/Trust.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/registry/Registry.h"
#include "rpc/Endpoint.h"

namespace tagwell::rpc {

namespace {

// The words of a line without its comment; empty for a comment line.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  if (auto first = line.find_first_not_of(" \t"); first == std::string::npos || line[first] == '#')
    return words;
  std::istringstream in(line);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// Replaces the file at path with text, atomically and private.
bool Rewrite(const std::string& path, const std::string& text, std::string* error) {
  if (!MakePrivateFolders(FolderOf(path))) {
    *error = "cannot create " + FolderOf(path) + ": " + std::strerror(errno);
    return false;
  }
  std::string temporary = path + ".new" + std::to_string(::getpid());
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  bool done = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  if (fd >= 0 && ::close(fd) != 0) done = false;
  if (done && ::rename(temporary.c_str(), path.c_str()) != 0) done = false;
  if (!done) {
    *error = "cannot write " + path + ": " + std::strerror(errno);
    ::unlink(temporary.c_str());
  }
  return done;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

bool MakePrivateFolders(const std::string& folder) {
  return registry::MakeOwnFolders(folder);
}

std::string ConfigFolder(const std::string& name) {
  return registry::UserConfigHome() + "/" + name;
}

std::string ClientIdentityPath() {
  return ConfigFolder("tagwell") + "/client.pem";
}

std::string KnownServersPath() {
  return ConfigFolder("tagwell") + "/known-servers";
}

std::string ServerIdentityPath() {
  return ConfigFolder("tagwell-server") + "/server.pem";
}

std::string AuthorizedClientsPath() {
  return ConfigFolder("tagwell-server") + "/authorized-clients";
}

std::optional<std::string> NormalizeFingerprint(const std::string& text) {
  std::string hex;
  std::string_view rest = text;
  if (rest.size() > 7 && (rest.substr(0, 7) == "SHA256:" || rest.substr(0, 7) == "sha256:"))
    rest.remove_prefix(7);
  for (char c : rest) {
    if (c == ':') continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    hex += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (hex.size() != 64) return std::nullopt;
  std::string canonical;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    if (i) canonical += ':';
    canonical += hex.substr(i, 2);
  }
  return canonical;
}

std::optional<std::string> KnownServerFingerprint(const std::string& path,
                                                  const std::string& computer,
                                                  std::string* problem) {
  std::ifstream in(path);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    auto words = Words(line);
    if (words.empty() || words[0] != computer) continue;
    auto fingerprint = words.size() == 2 ? NormalizeFingerprint(words[1]) : std::nullopt;
    if (fingerprint) return fingerprint;
    if (problem)
      *problem = path + ":" + std::to_string(number) + ": the line of " + computer +
                 " cannot be read (it needs host:port FINGERPRINT)";
    return std::nullopt;
  }
  return std::nullopt;
}

bool AddKnownServer(const std::string& path, const std::string& computer,
                    const std::string& fingerprint, std::string* error) {
  std::string text = ReadWhole(path);
  if (text.empty())
    text = "# Servers this computer trusts: host:port and certificate fingerprint.\n";
  if (text.back() != '\n') text += '\n';
  text += computer + " " + fingerprint + "\n";
  return Rewrite(path, text, error);
}

std::vector<AuthorizedClient> ReadAuthorizedClients(const std::string& path,
                                                    std::vector<std::string>* problems) {
  std::vector<AuthorizedClient> clients;
  std::ifstream in(path);
  int number = 0;
  for (std::string line; std::getline(in, line);) {
    ++number;
    auto words = Words(line);
    if (words.empty()) continue;
    auto where = [&] { return path + ":" + std::to_string(number) + ": "; };
    auto fingerprint = NormalizeFingerprint(words[0]);
    if (!fingerprint) {
      problems->push_back(where() + "\"" + words[0] + "\" is not a SHA-256 fingerprint");
      continue;
    }
    if (words.size() < 3 || (words.back() != "read" && words.back() != "readwrite")) {
      problems->push_back(where() + "needs FINGERPRINT NAME read|readwrite");
      continue;
    }
    AuthorizedClient client{*fingerprint, words[1], words.back() == "read"};
    for (std::size_t i = 2; i + 1 < words.size(); ++i) client.name += " " + words[i];
    clients.push_back(client);
  }
  return clients;
}

bool AuthorizeClient(const std::string& path, const AuthorizedClient& client, std::string* error) {
  std::istringstream in(ReadWhole(path));
  std::string text;
  for (std::string line; std::getline(in, line);) {
    auto words = Words(line);
    if (!words.empty() && NormalizeFingerprint(words[0]) == client.fingerprint) continue;
    text += line + "\n";
  }
  if (text.empty())
    text = "# Clients this server lets in: certificate fingerprint, name, read or readwrite.\n";
  text += client.fingerprint + " " + client.name + " " + (client.readOnly ? "read" : "readwrite") +
          "\n";
  return Rewrite(path, text, error);
}

}  // namespace tagwell::rpc
