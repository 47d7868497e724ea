// Connecting to a server on another computer over DCOM: the account the
// computer is logged on to with (asked for once when none is known, asked
// again once when the computer refuses it), the CLSID of a ProgID as that
// computer's server browser gives it, and the refusals in the operator's
// words.
//
// Window thread only. A reconnection uses none of this: it creates the
// server with the account and CLSID the last Connect used, never asking.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "opc/ClientState.h"
#include "platform/com/ComputerName.h"

namespace tagwell {

// What went wrong in the operator's terms.
enum class RemoteRefusal {
  None,
  AccessDenied,        // the account, or the server's DCOM launch and access rights
  Unavailable,         // the computer, its firewall or its port 135
  ClassNotRegistered,  // the ProgID or CLSID is not registered there
  ServerNotStarted,    // registered, but the server could not be started
  LevelRefused,        // the server wants another authentication level
  Deadline,            // a call past its deadline
  Other,
};

RemoteRefusal ClassifyRemoteFailure(HRESULT hr);

// The refusal in a few words, for the log line.
const char* RemoteRefusalWords(RemoteRefusal refusal);

// The box text for a refusal (a few lines, nothing secret), empty for None.
std::string RemoteRefusalText(RemoteRefusal refusal, std::string_view computer);

// The account for one Connect to a DCOM computer. For other computers (a
// tagwell-server, this computer) every step is a no-op that succeeds.
class RemoteLogon final {
 public:
  RemoteLogon(Client& client, const com::WCHAR* computerName);

  bool dcom() const { return dcom_; }
  const com::ComputerAddress& address() const { return address_; }

  // Makes sure the computer has an account in the book: the one in use or
  // remembered, else asks the operator. False when the operator cancelled.
  bool Prepare();
  // After a failure hr: true when the computer refused the account and the
  // operator typed another one (once per Connect).
  bool AskAgain(HRESULT hr);
  // The connection stands: keeps the account as the operator chose.
  void Succeeded();

 private:
  bool Ask(std::string_view reason);

  Client& client_;
  com::ComputerAddress address_;
  bool dcom_ = false;
  std::string key_;
  bool asked_ = false;
  bool askedAgain_ = false;
  bool remember_ = false;
  bool stored_ = false;
  std::optional<credentials::Credentials> typed_;
};

// serverName's CLSID for a Connect to computerName: "{...}" as written; a
// ProgID from a DCOM computer's server browser, else (and when that
// computer does not know it) from this computer's registry.
HRESULT RemoteClassId(Client& client, const com::WCHAR* serverName, const com::WCHAR* computerName,
                      com::CLSID* clsid);

// The ProgIDs of the OPC DA servers that a DCOM computer's server browser
// lists, for the server box to offer. Asks for the account as Connect does;
// a failure shows no box (the operator may still type a name) but logs its
// line. Empty for other computers.
std::vector<std::string> ListRemoteServers(Client& client, const com::WCHAR* computerName);

}  // namespace tagwell
