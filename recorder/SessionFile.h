// A recorder's session file: what an operator would set up in the window
// (server, items, cycle, database, Connection Monitor), as INI text:
//
//   [Server]
//   Name = Tagwell.Simulation.1        ProgID or {CLSID}, as the remote server box takes it
//   Computer =                         as the remote computer box takes it; empty: this computer
//   Credentials = /etc/tagwell/remote  folder of the TLS identity and known-servers (optional)
//   Fingerprint = 3A:91:...            the remote server's certificate, as
//                                      tagwell-server --fingerprint prints it (optional)
//   [Items]
//   List = boiler.xml                  an XML item list, as Load Configuration File loads it
//   [Cycle]
//   Seconds = 1                        as the cycle dialog takes it (0.1 to 86400)
//   [Database]
//   File = plant.db                    a SQLite file or a connection file
//   [Roles]
//   ActiveStandby = yes                the Connection Monitor switched on (yes or no)
//   Folder = /var/lib/tagwell/boiler   where Config.ini and Logfile.txt are (optional;
//                                      the working folder): clients that share a
//                                      SQLite file share the role in this folder's Config.ini
//
// Section and key names are compared without case; '#' and ';' start a
// comment line. Relative paths are taken from the session file's folder.
// Passwords never stand in a session file: a server database's password is
// in the password file its connection file names. A remote server is
// trusted only with the fingerprint the session file gives (or one already
// in known-servers): nobody is there to compare it when it is first shown.
#pragma once

#include <string>
#include <vector>

namespace tagwell::recorder {

struct SessionSettings {
  std::string path;  // the session file itself
  std::string server;
  std::string computer;
  std::string credentials;  // absolute folder, or empty
  std::string fingerprint;  // canonical form, or empty
  std::string itemList;     // absolute path
  std::string cycleText;    // as typed into the cycle dialog
  float cycleSeconds = 5;
  std::string database;  // absolute path
  bool activeStandby = false;
  std::string folder;  // absolute, or empty for the working folder
  // The line each setting came from (0 when absent), for messages.
  int serverLine = 0, itemListLine = 0, databaseLine = 0, rolesLine = 0, credentialsLine = 0;
};

// What is wrong with a session file, one sentence each, starting with
// "FILE:LINE: " (or "FILE: " when no line is to blame).
using Problems = std::vector<std::string>;

// Reads and checks the session file at path: the syntax, every key known
// and given once, the required keys present, the cycle a valid cycle, the
// item list a readable XML item list with entries (with the heartbeat item
// OPC.ConnectionMonitor first when the role protocol is on, and not first
// when it is off, as a client outside the protocol then records nothing),
// the database
// file present, the credentials folder private. The settings are filled as
// far as they could be read; true when there is no problem.
bool ReadSessionFile(const std::string& path, SessionSettings* settings, Problems* problems);

}  // namespace tagwell::recorder
