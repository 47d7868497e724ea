// The installed servers: what HKEY_CLASSES_ROOT holds for COM on Windows.
//
// An installed server is a file NAME.server in a registry folder, in INI form:
//   [Server]
//   ProgID=Tagwell.Simulation.1
//   CLSID={...}
//   OPC=                      (present: an OPC DA server)
//   Description=...
//   LocalServer=tagwell-server --embedding   (relative paths: from the file's folder)
//   Endpoint=unix:$XDG_RUNTIME_DIR/tagwell/Tagwell.Simulation.1.sock
// Folders, searched in order: $XDG_CONFIG_HOME/tagwell/servers (default
// ~/.config/tagwell/servers), each $XDG_CONFIG_DIRS entry + /tagwell/servers
// (default /etc/xdg; relative entries are ignored, as XDG says),
// ../share/tagwell/servers beside the executable, servers/ beside the
// executable. A file that cannot be read or lacks a valid ProgID and CLSID is
// skipped. The first folder wins when two entries have the same ProgID.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/com/Types.h"

namespace tagwell::registry {

struct ServerEntry {
  std::string progId;
  com::CLSID clsid{};
  bool isOpcServer = false;  // the file has an OPC= key
  std::string description;
  std::string localServer;  // command line, relative program resolved against `folder`
  std::string endpoint;     // "unix:PATH" with $XDG_RUNTIME_DIR expanded
  std::string folder;       // where the file was found
  std::string file;         // full path of the file
};

// The folders of the search order above, for this process's environment and
// executable location. Folders that do not exist are included; they simply
// hold nothing.
std::vector<std::string> DefaultFolders();

// The folder for runtime files such as sockets: $XDG_RUNTIME_DIR, or
// /tmp/tagwell-UID created with mode 0700 where that is unset.
std::string RuntimeFolder();

// The private folder PARENT/tagwell-UID (UID: the effective user id),
// created with mode 0700 when missing. A folder there that is not ours, not a
// folder, or open to other users (group or other bits) is refused, reported
// once on stderr, and PARENT/tagwell-UID.1, .2 ... are tried the same way,
// so that every process of the user settles on the same folder. When all
// kRuntimeFolderCandidates are refused, a new folder PARENT/tagwell-UID-XXXXXX
// serves this process alone (the same one on every call); "" when none can
// be made.
std::string PrivateRuntimeFolder(const std::string& parent);
inline constexpr int kRuntimeFolderCandidates = 10;

// The user's settings folder: $XDG_CONFIG_HOME, else HOME/.config (HOME
// from the environment, else the password database), else /tmp.
std::string UserConfigHome();
// The folder a path names its file in: "." for a bare name, "/" at the root.
std::string ParentFolder(const std::string& path);
// Makes folder and the missing folders above it, each with mode 0700 (the
// umask may take more away). True when folder exists afterwards.
bool MakeOwnFolders(const std::string& folder);

// Expands $XDG_RUNTIME_DIR (and ${XDG_RUNTIME_DIR}) in text with RuntimeFolder().
std::string ExpandRuntimeDir(const std::string& text);

// Parses one registration file; nullopt when it is unreadable or malformed.
// The file must be a regular file of at most 64 KiB with a [Server] section,
// a ProgID (at most 255 bytes, no control characters, not starting with
// '{') and a CLSID in "{...}" form. Keys and the section name compare
// without case.
std::optional<ServerEntry> ReadServerFile(const std::string& path);
// The same, saying in *problem why a file was refused.
std::optional<ServerEntry> ReadServerFile(const std::string& path, std::string* problem);

// Splits a LocalServer command line into words: blanks separate words, and
// double quotes group blanks into a word (the quotes themselves are
// dropped). ReadServerFile quotes a resolved program path that holds blanks.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

class Registry {
 public:
  // An empty list means DefaultFolders().
  explicit Registry(std::vector<std::string> folders = {});

  // Every valid entry, ordered by ProgID (byte order), duplicates removed
  // with the first folder winning. ProgIDs are the same when they differ in
  // case only, as registry keys are; FindByProgId ignores case too. Within
  // one folder, files are taken in name order. Each call reads the folders
  // again, so it shows servers installed since.
  std::vector<ServerEntry> Entries() const;
  // The ProgIDs of the OPC servers among Entries(), in the same order.
  std::vector<std::string> OpcServerProgIds() const;
  std::optional<ServerEntry> FindByProgId(const std::string& progId) const;
  // The first entry with this CLSID in folder order (several ProgIDs may
  // name one class).
  std::optional<ServerEntry> FindByClsid(const com::CLSID& clsid) const;

  const std::vector<std::string>& Folders() const { return folders_; }

 private:
  std::vector<std::string> folders_;
};

// The registry the COM runtime consults (CLSIDFromString, activation) and
// the local server list shows. Defaults to Registry(DefaultFolders()); tests
// and embedders may replace the folder list. Safe from any thread. A
// returned reference stays valid for the life of the process; the default
// registry follows changes of the environment (XDG_CONFIG_HOME ...) made
// before a call. An empty list given to SetInstalledServerFolders returns
// to the default.
const Registry& InstalledServers();
void SetInstalledServerFolders(std::vector<std::string> folders);

}  // namespace tagwell::registry
