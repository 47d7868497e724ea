// The accounts DCOM clients log in with: the file dcom-accounts in the
// server's configuration folder ($XDG_CONFIG_HOME or ~/.config, then
// tagwell-server/), one account per line:
//
//   DOMAIN\USER NTHASH read|readwrite
//
// NTHASH is the 32 hex digits of the account's NT hash (MD4 of the UTF-16LE
// password); the password itself is never stored. Lines starting with '#'
// and empty lines are comments. The file holds secrets: it is refused when
// its group or others have any access to it.
//
// Matching a login: the user name and the domain compare case-insensitively.
// A login with an empty domain, "." or the server's own computer name names
// the server's own accounts, as it names the local accounts of a Windows
// computer (which checks its local account database for an empty domain):
// it matches the account of that user in whatever domain the file gives it,
// provided only one account has that user name (several: refused as
// ambiguous).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "dcom/rpc/Ntlm.h"

namespace tagwell::dcom {

struct DcomAccount {
  std::string domain;
  std::string user;
  ntlm::Hash16 ntHash{};
  bool readOnly = true;
};

// $XDG_CONFIG_HOME/tagwell-server/dcom-accounts (or ~/.config/...).
std::string DcomAccountsPath();

// The accounts of the file (none when it does not exist or is refused). A
// line that cannot be read is skipped and described in *problems
// ("FILE:LINE: ..."); a file others can read is refused with a hint there.
std::vector<DcomAccount> ReadDcomAccounts(const std::string& path,
                                          std::vector<std::string>* problems);

// Splits "DOMAIN\USER"; nullopt when either part is empty or holds a blank.
std::optional<std::pair<std::string, std::string>> SplitAccountName(const std::string& name);

// Adds the account named "DOMAIN\USER" with password's NT hash, replacing a
// line of the same account. The file (and its folder) are made private and
// written atomically. False with the reason in *error.
bool AddDcomAccount(const std::string& path, const std::string& name, const std::string& password,
                    bool readOnly, std::string* error);

// The account a login names (see above); nullopt with the reason in *why.
// computer: the server's NetBIOS name.
std::optional<DcomAccount> FindDcomAccount(const std::vector<DcomAccount>& accounts,
                                           const std::string& user, const std::string& domain,
                                           std::string* why, const std::string& computer = {});

std::string HexText(ByteView bytes);

}  // namespace tagwell::dcom
