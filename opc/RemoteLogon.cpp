#include "opc/RemoteLogon.h"

#include <cstdio>

#include "opc/Log.h"
#include "platform/com/Runtime.h"
#include "platform/com/Text.h"

namespace tagwell {
namespace {

constexpr HRESULT kLogonFailure = com::MakeHresult(0x8007052E);  // ERROR_LOGON_FAILURE
constexpr HRESULT kLogonDenied = com::MakeHresult(0x8009030C);   // SEC_E_LOGON_DENIED
constexpr HRESULT kUnsupportedLevel =
    com::MakeHresult(0x8007071D);                                // RPC_S_UNSUPPORTED_AUTHN_LEVEL
constexpr HRESULT kNoEndpoints = com::MakeHresult(0x800706D9);   // EPT_S_NOT_REGISTERED
constexpr HRESULT kWin32Timeout = com::MakeHresult(0x800705B4);  // ERROR_TIMEOUT
constexpr HRESULT kServerStartTimeout = com::MakeHresult(0x8000401E);  // CO_E_SERVER_START_TIMEOUT

struct RefusalCode {
  HRESULT hr;
  RemoteRefusal refusal;
};

constexpr RefusalCode kRefusals[] = {
    {com::E_ACCESSDENIED, RemoteRefusal::AccessDenied},
    {kLogonFailure, RemoteRefusal::AccessDenied},
    {kLogonDenied, RemoteRefusal::AccessDenied},
    {com::RPC_S_SERVER_UNAVAILABLE, RemoteRefusal::Unavailable},
    {kNoEndpoints, RemoteRefusal::Unavailable},
    {com::RPC_E_DISCONNECTED, RemoteRefusal::Unavailable},
    {com::REGDB_E_CLASSNOTREG, RemoteRefusal::ClassNotRegistered},
    {com::CO_E_CLASSSTRING, RemoteRefusal::ClassNotRegistered},
    {com::CO_E_SERVER_EXEC_FAILURE, RemoteRefusal::ServerNotStarted},
    {kServerStartTimeout, RemoteRefusal::ServerNotStarted},
    {kUnsupportedLevel, RemoteRefusal::LevelRefused},
    {com::RPC_E_TIMEOUT, RemoteRefusal::Deadline},
    {kWin32Timeout, RemoteRefusal::Deadline},
};

bool IsBraced(const com::WCHAR* name) {
  return name && name[0] == u'{';
}

}  // namespace

RemoteRefusal ClassifyRemoteFailure(HRESULT hr) {
  if (com::SUCCEEDED(hr)) return RemoteRefusal::None;
  for (const RefusalCode& code : kRefusals)
    if (code.hr == hr) return code.refusal;
  return RemoteRefusal::Other;
}

const char* RemoteRefusalWords(RemoteRefusal refusal) {
  switch (refusal) {
    case RemoteRefusal::None:
      return "connected";
    case RemoteRefusal::AccessDenied:
      return "access denied";
    case RemoteRefusal::Unavailable:
      return "the RPC server is unavailable";
    case RemoteRefusal::ClassNotRegistered:
      return "class not registered";
    case RemoteRefusal::ServerNotStarted:
      return "the server could not be started";
    case RemoteRefusal::LevelRefused:
      return "the authentication level was refused";
    case RemoteRefusal::Deadline:
      return "a call passed its deadline";
    case RemoteRefusal::Other:
      break;
  }
  return "the connection failed";
}

std::string RemoteRefusalText(RemoteRefusal refusal, std::string_view computer) {
  const std::string c(computer);
  switch (refusal) {
    case RemoteRefusal::None:
      return {};
    case RemoteRefusal::AccessDenied:
      return "Access denied by the computer " + c +
             ".\nThe user name or password is wrong, the account is not known there, or it "
             "lacks the DCOM launch and access rights for this OPC server on that computer. "
             "That computer's event log tells which (Help: the three refusals).";
    case RemoteRefusal::Unavailable:
      return "The RPC server is unavailable on " + c +
             ".\nCheck the computer name, that the computer is on the network, and that its "
             "firewall lets TCP port 135 and the ports of DCOM through.";
    case RemoteRefusal::ClassNotRegistered:
      return "Class not registered on " + c +
             ".\nCheck the ProgID or the CLSID in the server box: after Enter in the computer "
             "box, the server box offers the OPC servers of that computer.";
    case RemoteRefusal::ServerNotStarted:
      return "The OPC server is registered on " + c +
             " but could not be started there.\nCheck that it is installed and runs on that "
             "computer.";
    case RemoteRefusal::LevelRefused:
      return "The computer " + c +
             " refused the authentication level.\nTagwell signs and encrypts every DCOM call "
             "(packet privacy); the DCOM settings or hardening of that computer ask for another "
             "level.";
    case RemoteRefusal::Deadline:
      return "The computer " + c +
             " did not answer a call within its deadline.\nThe computer or the server may be "
             "overloaded, or a firewall drops the ports of DCOM.";
    case RemoteRefusal::Other:
      return "The connection to " + c + " failed.";
  }
  return {};
}

RemoteLogon::RemoteLogon(Client& client, const com::WCHAR* computerName) : client_(client) {
  const std::string name = com::Utf16ToUtf8(com::WideView(computerName));
  dcom_ = !name.empty() && com::ParseComputerName(name, &address_, nullptr) &&
          address_.protocol == com::RemoteProtocol::Dcom && client.credentials;
  if (dcom_) key_ = com::CredentialKey(address_);
}

bool RemoteLogon::Prepare() {
  if (!dcom_ || client_.credentials->Get(key_)) return true;
  return Ask("Tagwell has no account for this computer yet.");
}

bool RemoteLogon::Ask(std::string_view reason) {
  ui::CredentialsPrompt* prompt = client_.ui.credentialsPrompt;
  if (!prompt) return false;
  credentials::Credentials offered =
      client_.credentials->Get(key_).value_or(credentials::Credentials{});
  offered.password.clear();
  if (credentials::CredentialStore* store = client_.credentials->store())
    stored_ = store->Find(key_, nullptr).has_value();
  bool remember = stored_;
  if (!prompt->Ask(com::DisplayName(address_), reason, &offered, &remember)) {
    LogRemoteLogonCancelled(client_, com::DisplayName(address_));
    return false;
  }
  asked_ = true;
  remember_ = remember;
  typed_ = offered;
  client_.credentials->Use(key_, offered);
  return true;
}

bool RemoteLogon::AskAgain(HRESULT hr) {
  if (!dcom_ || askedAgain_ || ClassifyRemoteFailure(hr) != RemoteRefusal::AccessDenied)
    return false;
  askedAgain_ = true;
  LogRemoteRefused(client_, com::DisplayName(address_), "the account was refused", hr);
  return Ask("The computer refused the user name or password: type them again.");
}

void RemoteLogon::Succeeded() {
  if (!dcom_ || !asked_ || !typed_) return;
  const std::string computer = com::DisplayName(address_);
  credentials::CredentialStore* store = client_.credentials->store();
  if (!remember_) {
    if (stored_ && store) store->Forget(key_);
    return;
  }
  std::string error;
  if (client_.credentials->Remember(key_, *typed_, &error))
    LogCredentialsRemembered(client_, computer, typed_->Describe(), store->Where());
  else
    LogCredentialsNotRemembered(client_, computer, error);
}

HRESULT RemoteClassId(Client& client, const com::WCHAR* serverName, const com::WCHAR* computerName,
                      com::CLSID* clsid) {
  const std::u16string computer(com::WideView(computerName));
  if (!IsBraced(serverName) && !computer.empty()) {
    HRESULT hr =
        com::CLSIDFromProgIDOnComputer(computer, std::u16string(com::WideView(serverName)), clsid);
    if (hr != com::E_NOTIMPL && hr != com::CO_E_CLASSSTRING) return hr;
    if (hr == com::CO_E_CLASSSTRING)
      LogRemoteRefused(client, com::Utf16ToUtf8(computer),
                       "its server browser does not know the ProgID; this computer's registry is "
                       "asked",
                       hr);
  }
  return com::CLSIDFromString(serverName, clsid);
}

std::vector<std::string> ListRemoteServers(Client& client, const com::WCHAR* computerName) {
  std::vector<std::string> names;
  RemoteLogon logon(client, computerName);
  if (!logon.dcom() || !logon.Prepare()) return names;
  const std::u16string computer(com::WideView(computerName));
  std::vector<std::u16string> progIds;
  HRESULT hr;
  do {
    progIds.clear();
    hr = com::ListServersOnComputer(computer, &progIds);
  } while (com::FAILED(hr) && logon.AskAgain(hr));
  if (com::FAILED(hr)) {
    const RemoteRefusal refusal = ClassifyRemoteFailure(hr);
    LogRemoteRefused(
        client, com::DisplayName(logon.address()),
        std::string("its OPC servers cannot be listed: ") + RemoteRefusalWords(refusal), hr);
    return names;
  }
  logon.Succeeded();
  for (const std::u16string& progId : progIds) names.push_back(com::Utf16ToUtf8(progId));
  return names;
}

}  // namespace tagwell
