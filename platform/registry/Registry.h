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
// ~/.config/tagwell/servers), each $XDG_CONFIG_DIRS entry + /tagwell/servers,
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
  bool isOpcServer = false;     // the file has an OPC= key
  std::string description;
  std::string localServer;      // command line, relative program resolved against `folder`
  std::string endpoint;         // "unix:PATH" with $XDG_RUNTIME_DIR expanded
  std::string folder;           // where the file was found
  std::string file;             // full path of the file
};

// The folders of the search order above, for this process's environment and
// executable location. Folders that do not exist are included; they simply
// hold nothing.
std::vector<std::string> DefaultFolders();

// The folder for runtime files such as sockets: $XDG_RUNTIME_DIR, or
// /tmp/tagwell-UID created with mode 0700 where that is unset.
std::string RuntimeFolder();

// Expands $XDG_RUNTIME_DIR (and ${XDG_RUNTIME_DIR}) in text with RuntimeFolder().
std::string ExpandRuntimeDir(const std::string& text);

// Parses one registration file; nullopt when it is unreadable or malformed.
std::optional<ServerEntry> ReadServerFile(const std::string& path);

class Registry {
 public:
  // An empty list means DefaultFolders().
  explicit Registry(std::vector<std::string> folders = {});

  // Every valid entry, ordered by ProgID (byte order), duplicates removed
  // with the first folder winning.
  std::vector<ServerEntry> Entries() const;
  // The ProgIDs of the OPC servers among Entries(), in the same order.
  std::vector<std::string> OpcServerProgIds() const;
  std::optional<ServerEntry> FindByProgId(const std::string& progId) const;
  std::optional<ServerEntry> FindByClsid(const com::CLSID& clsid) const;

  const std::vector<std::string>& Folders() const { return folders_; }

 private:
  std::vector<std::string> folders_;
};

// The registry the COM runtime consults (CLSIDFromString, activation) and
// the local server list shows. Defaults to Registry(DefaultFolders()); tests
// and embedders may replace the folder list.
const Registry& InstalledServers();
void SetInstalledServerFolders(std::vector<std::string> folders);

}  // namespace tagwell::registry
