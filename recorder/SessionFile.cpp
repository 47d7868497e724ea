#include "recorder/SessionFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <functional>
#include <map>

#include "browse/XmlItemList.h"
#include "rpc/Trust.h"
#include "session/ReadCycle.h"

namespace tagwell::recorder {
namespace {

constexpr const char* kHeartbeatItem = "OPC.ConnectionMonitor";

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string Trim(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

struct Entry {
  std::string value;
  int line = 0;
};

// The keys a session file may hold, "section.key" in lower case, with the
// spelling shown in messages.
const std::map<std::string, std::string>& KnownKeys() {
  static const std::map<std::string, std::string> keys{
      {"server.name", "[Server] Name"},
      {"server.computer", "[Server] Computer"},
      {"server.credentials", "[Server] Credentials"},
      {"server.fingerprint", "[Server] Fingerprint"},
      {"items.list", "[Items] List"},
      {"cycle.seconds", "[Cycle] Seconds"},
      {"database.file", "[Database] File"},
      {"roles.activestandby", "[Roles] ActiveStandby"},
      {"roles.folder", "[Roles] Folder"},
  };
  return keys;
}

class Reader {
 public:
  Reader(const std::string& path, Problems* problems) : path_(path), problems_(problems) {}

  void Problem(int line, const std::string& text) {
    found_.emplace_back(
        line, path_ + (line > 0 ? ":" + std::to_string(line) : std::string()) + ": " + text);
  }

  // The problems in the order of the file's lines.
  ~Reader() {
    std::stable_sort(found_.begin(), found_.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [line, text] : found_) problems_->push_back(std::move(text));
  }

  bool Parse(std::map<std::string, Entry>* entries) {
    std::ifstream in(path_);
    if (!in) {
      Problem(0, "the session file cannot be read");
      return false;
    }
    std::string section;
    int number = 0;
    for (std::string raw; std::getline(in, raw);) {
      ++number;
      const std::string line = Trim(raw);
      if (line.empty() || line[0] == '#' || line[0] == ';') continue;
      if (line[0] == '[') {
        if (line.back() != ']') {
          Problem(number, "a section header must end with ']'");
          continue;
        }
        sectionShown_ = Trim(line.substr(1, line.size() - 2));
        section = Lower(sectionShown_);
        continue;
      }
      const auto equals = line.find('=');
      if (equals == std::string::npos) {
        Problem(number, "expected KEY = VALUE, found \"" + line + "\"");
        continue;
      }
      AddEntry(section, Trim(line.substr(0, equals)), Trim(line.substr(equals + 1)), number,
               entries);
    }
    return true;
  }

  // Relative paths are the session file's folder's.
  std::string Absolute(const std::string& file) const {
    if (file.empty() || file[0] == '/') return file;
    const auto slash = path_.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
    if (folder.empty() || folder[0] != '/') {
      char cwd[4096];
      if (::getcwd(cwd, sizeof cwd)) folder = std::string(cwd) + "/" + folder;
    }
    return folder + file;
  }

 private:
  void AddEntry(const std::string& section, const std::string& key, const std::string& value,
                int number, std::map<std::string, Entry>* entries) {
    const std::string name = section + "." + Lower(key);
    if (Lower(key).find("password") != std::string::npos) {
      Problem(number,
              "passwords are never written in a session file: a server database's password "
              "stands in the password file of its connection file");
      return;
    }
    if (section.empty()) {
      Problem(number, "key \"" + key + "\" stands before any section");
      return;
    }
    if (!KnownKeys().count(name)) {
      Problem(number,
              "unknown key \"" + key + "\" in section [" + sectionShown_ +
                  "]; known keys: [Server] Name, Computer, Credentials, Fingerprint; [Items] List; "
                  "[Cycle] Seconds; [Database] File; [Roles] ActiveStandby, Folder");
      return;
    }
    if (auto found = entries->find(name); found != entries->end()) {
      Problem(number, KnownKeys().at(name) + " is given again (first on line " +
                          std::to_string(found->second.line) + ")");
      return;
    }
    (*entries)[name] = {value, number};
  }

  std::string path_;
  Problems* problems_;
  std::vector<std::pair<int, std::string>> found_;
  std::string sectionShown_;
};

bool IsReadableFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), R_OK) == 0;
}

void CheckItemList(Reader& reader, const SessionSettings& s) {
  if (!IsReadableFile(s.itemList)) {
    reader.Problem(s.itemListLine, "the item list " + s.itemList + " is missing or cannot be read");
    return;
  }
  std::string error;
  const auto ids = ReadXmlItemList(s.itemList, &error);
  if (!ids) {
    reader.Problem(s.itemListLine, "the item list " + s.itemList + " cannot be loaded: " + error);
  } else if (ids->empty()) {
    reader.Problem(s.itemListLine, "the item list " + s.itemList +
                                       " has no entries (Name elements inside Item elements)");
  } else if (s.activeStandby && ids->front() != kHeartbeatItem) {
    reader.Problem(s.rolesLine, std::string("the role protocol needs the heartbeat item ") +
                                    kHeartbeatItem + " as the first entry of the item list " +
                                    s.itemList + " (it starts with " + ids->front() + ")");
  } else if (!s.activeStandby && ids->front() == kHeartbeatItem) {
    reader.Problem(s.rolesLine ? s.rolesLine : s.itemListLine,
                   std::string("a client outside the role protocol records nothing while the "
                               "heartbeat item ") +
                       kHeartbeatItem + " is the first entry of " + s.itemList +
                       ": set [Roles] ActiveStandby = yes, or take the item out");
  }
}

void CheckCredentials(Reader& reader, const SessionSettings& s) {
  struct stat st {};
  if (::stat(s.credentials.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    reader.Problem(s.credentialsLine, "the credentials folder " + s.credentials + " is missing");
  } else if ((st.st_mode & 077) != 0) {
    reader.Problem(s.credentialsLine, "the credentials folder " + s.credentials +
                                          " must be closed to others (chmod 700)");
  }
}

bool ParseYesNo(const std::string& text, bool* value) {
  const std::string lower = Lower(text);
  if (lower == "yes" || lower == "true" || lower == "on" || lower == "1") return *value = true;
  if (lower == "no" || lower == "false" || lower == "off" || lower == "0") {
    *value = false;
    return true;
  }
  return false;
}

}  // namespace

namespace {

void ReadSettings(Reader& reader, SessionSettings& s) {
  std::map<std::string, Entry> entries;
  if (!reader.Parse(&entries)) return;
  auto take = [&](const char* name, std::string* value, int* line) {
    auto found = entries.find(name);
    if (found == entries.end()) return false;
    *value = found->second.value;
    if (line) *line = found->second.line;
    return true;
  };
  auto required = [&](const char* name, std::string* value, int* line) {
    if (!take(name, value, line) || value->empty())
      reader.Problem(line && *line ? *line : 0, KnownKeys().at(name) + " is missing");
  };
  required("server.name", &s.server, &s.serverLine);
  take("server.computer", &s.computer, nullptr);
  if (take("server.credentials", &s.credentials, &s.credentialsLine) && !s.credentials.empty()) {
    s.credentials = reader.Absolute(s.credentials);
    CheckCredentials(reader, s);
  }
  int fingerprintLine = 0;
  if (take("server.fingerprint", &s.fingerprint, &fingerprintLine) && !s.fingerprint.empty()) {
    const auto canonical = rpc::NormalizeFingerprint(s.fingerprint);
    if (!canonical)
      reader.Problem(fingerprintLine, "\"" + s.fingerprint + "\" is no SHA-256 fingerprint");
    else if (s.computer.empty())
      reader.Problem(fingerprintLine,
                     "a fingerprint is for a server on another computer, and [Server] Computer "
                     "names none");
    s.fingerprint = canonical.value_or("");
  }
  int cycleLine = 0;
  if (take("cycle.seconds", &s.cycleText, &cycleLine)) {
    const auto seconds = CycleSeconds(s.cycleText);
    if (!seconds)
      reader.Problem(cycleLine, "the cycle \"" + s.cycleText +
                                    "\" is not a number of seconds from 0.1 to 86400");
    else
      s.cycleSeconds = *seconds;
  }
  std::string roles;
  if (take("roles.activestandby", &roles, &s.rolesLine) && !ParseYesNo(roles, &s.activeStandby))
    reader.Problem(s.rolesLine, "[Roles] ActiveStandby must be yes or no, not \"" + roles + "\"");
  int folderLine = 0;
  if (take("roles.folder", &s.folder, &folderLine) && !s.folder.empty()) {
    s.folder = reader.Absolute(s.folder);
    struct stat st {};
    if (::stat(s.folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        ::access(s.folder.c_str(), W_OK | X_OK) != 0)
      reader.Problem(folderLine, "the folder " + s.folder + " is missing or cannot be written");
  }
  required("database.file", &s.database, &s.databaseLine);
  if (!s.database.empty()) {
    s.database = reader.Absolute(s.database);
    if (!IsReadableFile(s.database))
      reader.Problem(s.databaseLine,
                     "the database " + s.database + " is missing or cannot be read");
  }
  required("items.list", &s.itemList, &s.itemListLine);
  if (!s.itemList.empty()) {
    s.itemList = reader.Absolute(s.itemList);
    CheckItemList(reader, s);
  }
}

}  // namespace

bool ReadSessionFile(const std::string& path, SessionSettings* settings, Problems* problems) {
  const std::size_t before = problems->size();
  settings->path = path;
  {
    Reader reader(path, problems);
    ReadSettings(reader, *settings);
  }
  return problems->size() == before;
}

}  // namespace tagwell::recorder
