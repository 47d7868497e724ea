// Who trusts whom on the remote transport, as files an operator can read
// and edit:
//
// - a client keeps the servers it trusts in known-servers, one line per
//   computer: "host:port FINGERPRINT", learnt on first use as ssh does;
// - a server keeps the clients it lets in in authorized-clients, one line
//   per client: "FINGERPRINT NAME RIGHTS", RIGHTS being `read` or
//   `readwrite` (the name may hold blanks).
//
// Lines starting with '#' and empty lines are comments. Fingerprints are
// those of rpc/Tls.h; colons and case do not matter when they are read.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tagwell::rpc {

// $XDG_CONFIG_HOME (or ~/.config) + "/" + name: where the client ("tagwell")
// and the server ("tagwell-server") keep their files.
std::string ConfigFolder(const std::string& name);

// Makes folder and its missing parents, mode 0700; existing ones stay as
// they are. False with errno set.
bool MakePrivateFolders(const std::string& folder);

// The client's files.
std::string ClientIdentityPath();  // key and certificate
std::string KnownServersPath();
// The server's files.
std::string ServerIdentityPath();
std::string AuthorizedClientsPath();

// The canonical form (uppercase hex pairs joined by colons) of a SHA-256
// fingerprint written with or without colons, in either case, with or
// without a "SHA256:" in front; nullopt for anything else.
std::optional<std::string> NormalizeFingerprint(const std::string& text);

// --- known-servers -----------------------------------------------------------

// The fingerprint known for computer ("host:port"), nullopt when none is.
// A line for computer that cannot be read makes it neither known nor
// unknown: nullopt, and *problem (when given) says "FILE:LINE: ...".
std::optional<std::string> KnownServerFingerprint(const std::string& path,
                                                  const std::string& computer,
                                                  std::string* problem = nullptr);
// Adds computer with fingerprint (the file and its folder are made private
// when missing). False with the reason in *error.
bool AddKnownServer(const std::string& path, const std::string& computer,
                    const std::string& fingerprint, std::string* error);

// --- authorized-clients -------------------------------------------------------

struct AuthorizedClient {
  std::string fingerprint;
  std::string name;
  bool readOnly = false;
};

// The clients listed in the file (none when it does not exist). A line that
// cannot be read is skipped and described in *problems ("FILE:LINE: ...").
std::vector<AuthorizedClient> ReadAuthorizedClients(const std::string& path,
                                                    std::vector<std::string>* problems);
// Adds client, replacing a line with the same fingerprint. False with the
// reason in *error.
bool AuthorizeClient(const std::string& path, const AuthorizedClient& client, std::string* error);

}  // namespace tagwell::rpc
