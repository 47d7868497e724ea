#include "platform/registry/Registry.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>

#include "platform/profile/IniFile.h"

namespace tagwell::registry {
namespace {

constexpr std::size_t kMaxServerFileBytes = 64 * 1024;
constexpr std::size_t kMaxProgIdBytes = 255;  // the local server list's line buffer holds 256
constexpr std::string_view kExtension = ".server";

using profile::IniDocument;
using profile::NamesEqual;
using profile::ReadStatus;

std::string_view ReadProblem(ReadStatus status) {
  switch (status) {
    case ReadStatus::Missing:
      return "the file does not exist";
    case ReadStatus::NotAFile:
      return "it is not a regular file";
    case ReadStatus::TooLarge:
      return "it is larger than 64 KiB";
    default:
      return "the file cannot be read";
  }
}

// Why progId cannot name a server, or "".
std::string ProgIdProblem(std::string_view progId) {
  if (progId.empty()) return "no ProgID";
  if (progId.size() > kMaxProgIdBytes) return "the ProgID is longer than 255 bytes";
  if (progId.front() == '{') return "the ProgID starts with '{' and would be read as a CLSID";
  for (char c : progId)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      return "the ProgID holds control characters";
  return {};
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string QuoteIfNeeded(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t") == std::string::npos) return word;
  return "\"" + word + "\"";
}

// The command line with its program word resolved against folder; the
// arguments stay as they are.
std::string ResolveCommandLine(std::string_view line, const std::string& folder) {
  std::string program;
  std::string_view rest;
  if (line.front() == '"') {
    std::size_t close = line.find('"', 1);
    program = std::string(line.substr(1, close == std::string_view::npos ? close : close - 1));
    rest = close == std::string_view::npos ? std::string_view() : line.substr(close + 1);
  } else {
    std::size_t blank = line.find_first_of(" \t");
    program = std::string(line.substr(0, blank));
    rest = blank == std::string_view::npos ? std::string_view() : line.substr(blank);
  }
  if (!program.empty() && program.front() != '/')
    program = (std::filesystem::path(folder) / program).lexically_normal().string();
  return QuoteIfNeeded(program) + std::string(rest);
}

std::optional<ServerEntry> Refuse(std::string* problem, std::string_view why) {
  if (problem) *problem = std::string(why);
  return std::nullopt;
}

std::string ProgIdKey(std::string_view progId) {
  std::string key(progId);
  for (char& c : key)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return key;
}

// The valid entries of the folders in folder order, each ProgID once.
std::vector<ServerEntry> Scan(const std::vector<std::string>& folders) {
  std::vector<ServerEntry> entries;
  std::vector<std::string> seen;
  for (const std::string& folder : folders) {
    std::error_code ec;
    std::vector<std::string> names;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
      std::string name = it->path().filename().string();
      if (name.size() > kExtension.size() && name.ends_with(kExtension)) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      std::optional<ServerEntry> entry = ReadServerFile(folder + "/" + name);
      if (!entry) continue;
      std::string key = ProgIdKey(entry->progId);
      if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
      seen.push_back(std::move(key));
      entries.push_back(std::move(*entry));
    }
  }
  return entries;
}

}  // namespace

std::optional<ServerEntry> ReadServerFile(const std::string& path) {
  return ReadServerFile(path, nullptr);
}

std::optional<ServerEntry> ReadServerFile(const std::string& path, std::string* problem) {
  std::string text;
  ReadStatus status = profile::ReadSmallFile(path, kMaxServerFileBytes, &text);
  if (status != ReadStatus::Ok) return Refuse(problem, ReadProblem(status));
  IniDocument doc(text);
  std::optional<std::size_t> section = doc.FindSection("Server");
  if (!section) return Refuse(problem, "no [Server] section");
  auto value = [&](std::string_view key, bool raw = false) -> std::optional<std::string_view> {
    std::optional<std::size_t> line = doc.FindKey(*section, key);
    if (!line) return std::nullopt;
    return raw ? doc.Lines()[*line].rawValue : doc.Lines()[*line].value;
  };

  ServerEntry entry;
  entry.progId = std::string(value("ProgID").value_or(""));
  if (std::string why = ProgIdProblem(entry.progId); !why.empty()) return Refuse(problem, why);
  std::optional<std::string_view> clsid = value("CLSID");
  if (!clsid) return Refuse(problem, "no CLSID");
  if (!com::ParseGuid(*clsid, &entry.clsid))
    return Refuse(problem,
                  "the CLSID is not a GUID in the form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}");

  entry.file = path;
  entry.folder = std::filesystem::path(path).parent_path().string();
  if (entry.folder.empty()) entry.folder = ".";
  entry.isOpcServer = value("OPC").has_value();
  entry.description = std::string(value("Description").value_or(""));
  std::string_view localServer = value("LocalServer", true).value_or("");
  if (!localServer.empty()) entry.localServer = ResolveCommandLine(localServer, entry.folder);
  entry.endpoint = ExpandRuntimeDir(std::string(value("Endpoint").value_or("")));
  return entry;
}

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  bool quoted = false;
  for (char c : commandLine) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if (IsBlank(c) && !quoted) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word.push_back(c);
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

Registry::Registry(std::vector<std::string> folders)
    : folders_(folders.empty() ? DefaultFolders() : std::move(folders)) {}

std::vector<ServerEntry> Registry::Entries() const {
  std::vector<ServerEntry> entries = Scan(folders_);
  std::stable_sort(entries.begin(), entries.end(),
                   [](const ServerEntry& a, const ServerEntry& b) { return a.progId < b.progId; });
  return entries;
}

std::vector<std::string> Registry::OpcServerProgIds() const {
  std::vector<std::string> progIds;
  for (ServerEntry& entry : Entries())
    if (entry.isOpcServer) progIds.push_back(std::move(entry.progId));
  return progIds;
}

std::optional<ServerEntry> Registry::FindByProgId(const std::string& progId) const {
  for (ServerEntry& entry : Scan(folders_))
    if (NamesEqual(entry.progId, progId)) return std::move(entry);
  return std::nullopt;
}

std::optional<ServerEntry> Registry::FindByClsid(const com::CLSID& clsid) const {
  for (ServerEntry& entry : Scan(folders_))
    if (entry.clsid == clsid) return std::move(entry);
  return std::nullopt;
}

namespace {

// Every registry InstalledServers() has handed out stays alive, so that the
// references remain valid; the folder list changes rarely (tests, embedders).
struct Installed {
  std::mutex mutex;
  std::vector<std::unique_ptr<Registry>> handedOut;
  bool foldersGiven = false;
};

Installed& InstalledState() {
  static Installed* state = new Installed;  // never destroyed: used until exit
  return *state;
}

}  // namespace

const Registry& InstalledServers() {
  Installed& state = InstalledState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.handedOut.empty() ||
      (!state.foldersGiven && state.handedOut.back()->Folders() != DefaultFolders()))
    state.handedOut.push_back(std::make_unique<Registry>(DefaultFolders()));
  return *state.handedOut.back();
}

void SetInstalledServerFolders(std::vector<std::string> folders) {
  Installed& state = InstalledState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.foldersGiven = !folders.empty();
  state.handedOut.push_back(std::make_unique<Registry>(std::move(folders)));
}

}  // namespace tagwell::registry
