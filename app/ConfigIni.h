// The role record in Config.ini: section [Clients], keys Active (1 while
// some client holds the active role) and Number (1 while a standby client has
// announced itself). Client processes working in the same folder share the
// file without any protocol beyond these steps; each read and each write of
// one key is a separate whole-file operation (platform/profile).
//
// Every function works on the thread that owns the window. File failures are
// not reported: a failed read gives 0, a failed write leaves the keys as they
// were.
#pragma once

#include <cstddef>
#include <string>

#include "opc/ClientState.h"

namespace tagwell {

inline constexpr const char* kConfigFileName = "Config.ini";
inline constexpr const char* kClientsSection = "Clients";
inline constexpr const char* kActiveKey = "Active";
inline constexpr const char* kNumberKey = "Number";
// Values are read into a buffer of this many bytes (terminator included).
inline constexpr std::size_t kConfigValueSize = 180;

// The lines of the role box (list box 20).
inline constexpr const char* kRoleActive = "ACTIVE";
inline constexpr const char* kRoleStandBy = "STAND BY";
inline constexpr const char* kRoleNotMonitored = "NOT MONITORED";
inline constexpr const char* kRoleError = "ERROR";

// Config.ini in the client's folder. For a client without a folder it is the
// relative name, so each access finds the file in the current directory of
// that moment (no length limit applies to that directory).
std::string ConfigIniPath(const Client& client);

// The value of key in [Clients], converted as atoi does: blanks, a sign and
// the leading digits count, anything else ends the number ("1x" is 1, "x" is
// 0). A missing file, section or key, or a value out of the int range
// (clamped to INT_MIN / INT_MAX), never fails.
int ReadClientsKey(const Client& client, const char* key);

// Writes key in [Clients] as the "%d" text of value. False when the file
// could not be written.
bool WriteClientsKey(const Client& client, const char* key, int value);

// Makes sure Config.ini exists: creates it empty when missing, leaves an
// existing file as it is.
bool EnsureConfigFile(const Client& client);

// Rewrites the one line of the role box; nothing when the window has none.
void ShowRole(Client& client, const char* text);

// The update of Config.ini at Disconnect, before the role state is cleared:
// make sure the file exists; an active client leaves Active and Number at 0;
// a client that last read Number as 1 sets Number to 0.
void UpdateConfigOnDisconnect(Client& client);

// The update at exit: when clientsNumber is 0 the file is deleted first;
// then an active client writes Active = 0 and Number = 0, any other client
// Number = 0. The file always exists afterwards.
void UpdateConfigOnExit(Client& client);

// The Connection Monitor command. Reads Active and Number (Number becomes
// clientsNumber), then switches monitorEnabled over and makes sure the file
// exists. Switching on takes the first matching case: Active 1, Number 0 ->
// STAND BY and Number = 1; Active 0, Number 0 -> ACTIVE and Active = 1;
// Active 1, Number 1 -> STAND BY, nothing written; otherwise no change.
// Switching off writes Active = 0 (Active 1, Number 0; or both 1 and this
// client active) or Number = 0 (both 1, this client standby); isActive and
// the role box keep their values. Returns the new monitorEnabled, for the
// window to set the menu item's check mark.
int ConnectionMonitorCommand(Client& client);

}  // namespace tagwell
