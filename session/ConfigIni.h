// Config.ini: section [Clients] holds the role record of the clients that
// work in the same folder: keys Active (1 while some client holds the active
// role) and Number (1 while a standby client has announced itself), and the
// lease of the active client (app/Roles.h). Each read and each write is a
// whole-file operation (platform/profile).
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

}  // namespace tagwell
