// The client side of DCOM: what CoCreateInstanceEx does for a computer
// named the Windows way. It reaches the computer's object resolver (port
// 135, or the port the name gives), activates the class there
// (IRemoteSCMActivator::RemoteCreateInstance), connects to the object
// exporter the resolver names, and hands out proxies of the OPC DA
// interfaces that implement platform/opcda like rpc/'s. While objects are
// held they are pinged (IObjectExporter::SimplePing with a ping set, every
// two minutes); releasing the last reference of an object sends
// RemRelease; a broken connection releases everything it held.
//
// Every connection is authenticated with NTLM at packet privacy unless the
// options ask for packet integrity; never lower. The account comes from the
// credential book (the window's thread put it there before the creation).
#pragma once

#include <chrono>

#include "dcom/Activation.h"
#include "dcom/ClientSession.h"
#include "dcom/rpc/Dispatch.h"
#include "platform/com/ComputerName.h"
#include "platform/com/Runtime.h"
#include "platform/credentials/Credentials.h"

namespace tagwell::dcom {

struct ClientOptions {
  // Packet privacy by default; anything below packet integrity is raised
  // to it.
  AuthLevel level = AuthLevel::PacketPrivacy;
  // Every call, and reaching the computer, within this.
  std::chrono::milliseconds callTimeout = std::chrono::seconds(10);
  std::chrono::milliseconds pingInterval = std::chrono::minutes(2);
  // Accounts by computer (com::CredentialKey); null: anonymous, which
  // servers refuse at packet integrity and above.
  credentials::CredentialBook* credentials = nullptr;
};

// The answer of RemoteCreateInstance (its stub data): S_OK with *reply,
// the activator's failure, or RPC_X_BAD_STUB_DATA (0x800706F7) for anything
// malformed (an OBJREF that is not custom, counts that disagree).
com::HRESULT DecodeActivationAnswer(std::span<const std::uint8_t> stub, ActivationReply* reply);

// The level a connection asks for: the options' level, never below
// packet integrity.
AuthLevel EffectiveLevel(const ClientOptions& options);

class DcomActivator final : public com::ServerActivator {
 public:
  explicit DcomActivator(ClientOptions options = {});
  ~DcomActivator() override;

  // host: a DCOM form of the computer box (ComputerName.h). Failures as
  // Windows gives them: RPC_S_SERVER_UNAVAILABLE (no computer, nothing on
  // the resolver port), E_ACCESSDENIED (the account or the server's launch
  // and access rights), RPC_S_UNSUPPORTED_AUTHN_LEVEL as 0x8007071D (the
  // level), REGDB_E_CLASSNOTREG, RPC_E_TIMEOUT.
  com::HRESULT Activate(com::REFCLSID clsid, const std::u16string& host, com::DWORD count,
                        com::MULTI_QI* results) override;
  // IOPCServerList::CLSIDFromProgID of host's OPCEnum.
  com::HRESULT ClassOnComputer(const std::u16string& host, const std::u16string& progId,
                               com::CLSID* clsid) override;
  // IOPCServerList::EnumClassesOfCategories (OPC DA 2.0) and
  // GetClassDetails of host's OPCEnum.
  com::HRESULT ServersOnComputer(const std::u16string& host,
                                 std::vector<std::u16string>* progIds) override;

 private:
  // The computer and the account its connections log on with.
  ClientTarget TargetFor(const com::ComputerAddress& address) const;

  ClientOptions options_;
};

}  // namespace tagwell::dcom
