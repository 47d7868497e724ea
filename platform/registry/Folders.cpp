// Where registration files are looked for, and where runtime files live.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

#include "platform/registry/Registry.h"

namespace tagwell::registry {
namespace {

constexpr const char* kServersSuffix = "/tagwell/servers";

// An environment variable that holds an absolute path; "" otherwise (the
// XDG rules ignore relative paths).
std::string AbsoluteFromEnv(const char* name) {
  const char* value = std::getenv(name);
  if (!value || value[0] != '/') return {};
  return value;
}

std::string HomeFolder() {
  std::string home = AbsoluteFromEnv("HOME");
  if (!home.empty()) return home;
  struct passwd pw {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (::getpwuid_r(::geteuid(), &pw, buffer, sizeof buffer, &found) == 0 && found &&
      found->pw_dir && found->pw_dir[0] == '/')
    return found->pw_dir;
  return {};
}

std::string ExecutableFolder() {
  std::string path(256, '\0');
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < path.size()) {
      path.resize(static_cast<std::size_t>(n));
      break;
    }
    path.resize(path.size() * 2);
  }
  constexpr std::string_view kDeleted = " (deleted)";  // the program was replaced on disk
  if (path.size() > kDeleted.size() && path.ends_with(kDeleted))
    path.resize(path.size() - kDeleted.size());
  return std::filesystem::path(path).parent_path().string();
}

void AddFolder(std::vector<std::string>* folders, const std::string& folder) {
  std::string normal = std::filesystem::path(folder).lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  for (const std::string& f : *folders)
    if (f == normal) return;
  folders->push_back(normal);
}

// Reports a problem once per process and text, on stderr: the platform layer
// has no window and no log of its own.
void ReportOnce(const std::string& text) {
  static std::mutex mutex;
  static std::set<std::string>* reported = new std::set<std::string>;
  std::lock_guard<std::mutex> lock(mutex);
  if (reported->insert(text).second) std::fprintf(stderr, "tagwell: %s\n", text.c_str());
}

// Makes sure path is a folder of ours that no one else may enter, creating
// it when missing. Returns "" when it is, else why it is refused.
std::string ClaimPrivateFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
    return std::string("cannot be created: ") + std::strerror(errno);
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0)
    return std::string("cannot be examined: ") + std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return "it is not a folder";
  if (st.st_uid != ::geteuid()) return "it belongs to user " + std::to_string(st.st_uid);
  if ((st.st_mode & 077) != 0) {
    char mode[16];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return std::string("its mode ") + mode + " lets other users in";
  }
  // Ours and closed to others; a umask may have left it without our own
  // write or search permission.
  if ((st.st_mode & 0700) != 0700 && ::chmod(path.c_str(), 0700) != 0)
    return std::string("cannot be opened for its owner: ") + std::strerror(errno);
  return {};
}

}  // namespace

std::string UserConfigHome() {
  std::string config = AbsoluteFromEnv("XDG_CONFIG_HOME");
  if (!config.empty()) return config;
  std::string home = HomeFolder();
  return home.empty() ? "/tmp" : home + "/.config";
}

std::string ParentFolder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

bool MakeOwnFolders(const std::string& folder) {
  if (folder.empty() || folder == "." || folder == "/") return true;
  if (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST) return true;
  if (errno != ENOENT) return false;
  return MakeOwnFolders(ParentFolder(folder)) &&
         (::mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST);
}

std::vector<std::string> DefaultFolders() {
  std::vector<std::string> folders;
  std::string configHome = AbsoluteFromEnv("XDG_CONFIG_HOME");
  if (configHome.empty()) {
    std::string home = HomeFolder();
    if (!home.empty()) configHome = home + "/.config";
  }
  if (!configHome.empty()) AddFolder(&folders, configHome + kServersSuffix);

  const char* dirs = std::getenv("XDG_CONFIG_DIRS");
  std::string list = dirs && dirs[0] ? dirs : "/etc/xdg";
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t colon = list.find(':', start);
    if (colon == std::string::npos) colon = list.size();
    std::string entry = list.substr(start, colon - start);
    if (!entry.empty() && entry[0] == '/') AddFolder(&folders, entry + kServersSuffix);
    start = colon + 1;
  }

  std::string exe = ExecutableFolder();
  if (!exe.empty()) {
    AddFolder(&folders, exe + "/../share/tagwell/servers");
    AddFolder(&folders, exe + "/servers");
  }
  return folders;
}

std::string PrivateRuntimeFolder(const std::string& parent) {
  std::string base = parent + "/tagwell-" + std::to_string(::geteuid());
  for (int n = 0; n < kRuntimeFolderCandidates; ++n) {
    std::string candidate = n == 0 ? base : base + "." + std::to_string(n);
    std::string problem = ClaimPrivateFolder(candidate);
    if (problem.empty()) return candidate;
    ReportOnce("refusing runtime folder " + candidate + ": " + problem);
  }
  // Every candidate is taken: a folder of our own that only this process
  // knows. Servers started from here cannot be shared with other clients.
  static std::mutex mutex;
  static std::set<std::string>* made = new std::set<std::string>;
  std::lock_guard<std::mutex> lock(mutex);
  for (const std::string& folder : *made)
    if (folder.starts_with(base + "-") && ClaimPrivateFolder(folder).empty()) return folder;
  std::string pattern = base + "-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    ReportOnce("no private runtime folder can be made in " + parent);
    return {};
  }
  made->insert(pattern);
  return pattern;
}

std::string RuntimeFolder() {
  std::string xdg = AbsoluteFromEnv("XDG_RUNTIME_DIR");
  if (!xdg.empty()) return xdg;
  return PrivateRuntimeFolder("/tmp");
}

std::string ExpandRuntimeDir(const std::string& text) {
  static constexpr std::string_view kName = "XDG_RUNTIME_DIR";
  std::string out;
  std::string folder;
  bool folderKnown = false;
  std::size_t i = 0;
  while (i < text.size()) {
    std::size_t dollar = text.find('$', i);
    if (dollar == std::string::npos) break;
    out.append(text, i, dollar - i);
    std::string_view rest = std::string_view(text).substr(dollar + 1);
    std::size_t length = 0;
    if (rest.starts_with("{") && rest.substr(1).starts_with(kName) &&
        rest.substr(1 + kName.size()).starts_with("}")) {
      length = kName.size() + 2;
    } else if (rest.starts_with(kName)) {
      char after = rest.size() > kName.size() ? rest[kName.size()] : '\0';
      bool longerName = after == '_' || std::isalnum(static_cast<unsigned char>(after));
      if (!longerName) length = kName.size();
    }
    if (length == 0) {
      out.push_back('$');
      i = dollar + 1;
      continue;
    }
    if (!folderKnown) folder = RuntimeFolder(), folderKnown = true;
    out.append(folder);
    i = dollar + 1 + length;
  }
  if (i < text.size()) out.append(text, i);
  return out;
}

}  // namespace tagwell::registry
