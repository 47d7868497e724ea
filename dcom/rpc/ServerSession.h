// One server connection's protocol state, without its socket: fed the PDUs
// the peer sends, it answers with the PDUs to send back. Bind and
// alter_context negotiation, NTLM over bind/bind_ack/auth3 (or
// alter_context), per-call verification and unsealing, reassembly of
// request fragments, and the Dispatcher's answers as (sealed) fragments.
//
// Thread rules: one session per connection, used from that connection's
// thread; the AssociationGroups are shared and locked.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dcom/rpc/Accounts.h"
#include "dcom/rpc/Fragments.h"
#include "dcom/rpc/Ntlm.h"
#include "dcom/rpc/Pdu.h"

namespace tagwell::dcom {

using LogSink = std::function<void(const std::string&)>;

// The association groups of a server: a group lives while a connection
// names it; the Dispatcher hears when the last one closes.
class AssociationGroups {
 public:
  explicit AssociationGroups(Dispatcher& dispatcher) : dispatcher_(dispatcher) {}
  // Joins group (0: a new one); 0 when group is unknown.
  std::uint32_t Join(std::uint32_t group);
  void Leave(std::uint32_t group);

 private:
  Dispatcher& dispatcher_;
  std::mutex mutex_;
  std::map<std::uint32_t, int> members_;
  std::uint32_t next_ = 0;
};

// What every session of a server shares.
struct SessionSettings {
  Dispatcher* dispatcher = nullptr;
  AssociationGroups* groups = nullptr;
  LogSink log;
  // The accounts logins are checked against; read at every login.
  std::function<std::vector<DcomAccount>(std::vector<std::string>* problems)> accounts;
  ntlm::ServerNames names;
  std::uint16_t port = 0;  // the secondary address of bind_ack
  std::size_t maxRequestBytes = 4 << 20;
  // Calls below this level are refused with access denied before the
  // Dispatcher sees them.
  AuthLevel minimumLevel = AuthLevel::None;
  std::string who = "tagwell dcom";  // the name in front of log lines
  // The NTLM challenges' randomness and time (fixed ones only in tests).
  ntlm::ServerHandshake::Random random = ntlm::RandomBytes;
  ntlm::ServerHandshake::Clock now = ntlm::FileTimeNow;
};

class ServerSession {
 public:
  ServerSession(const SessionSettings& settings, std::string peer);
  ~ServerSession();
  ServerSession(const ServerSession&) = delete;
  ServerSession& operator=(const ServerSession&) = delete;

  // Handles one whole PDU; the PDUs to answer go to *replies. False when the
  // connection must close (after sending *replies).
  bool OnPdu(Bytes pdu, std::vector<Bytes>* replies);
  // Whether the peer has bound and, when it began NTLM, finished it.
  bool Established() const;
  const Caller& caller() const { return caller_; }

 private:
  struct PendingCall {
    std::uint32_t callId = 0;
    std::uint16_t contextId = 0;
    std::uint16_t opnum = 0;
    bool hasObject = false;
    com::GUID object{};
    Bytes stub;
  };

  bool OnBind(const PduParts& parts, bool alter, std::vector<Bytes>* replies);
  std::vector<ContextResult> Negotiate(const BindBody& bind);
  // The auth token to answer a bind's verifier with; false when refused.
  bool StartAuth(const SecTrailer& trailer, ByteView token, Bytes* challenge);
  bool FinishAuth(const SecTrailer& trailer, ByteView token);
  bool OnRequest(Bytes& pdu, const PduParts& parts, std::vector<Bytes>* replies);
  void Dispatch(PendingCall call, std::vector<Bytes>* replies);
  bool Fail(std::uint32_t callId, std::uint32_t status, std::vector<Bytes>* replies);
  void Log(const std::string& line) const;

  const SessionSettings& settings_;
  Caller caller_;
  bool bound_ = false;
  bool headerSign_ = false;
  std::uint16_t maxXmit_ = kDefaultFragment;
  std::map<std::uint16_t, SyntaxId> contexts_;
  std::optional<ntlm::ServerHandshake> handshake_;
  std::optional<ntlm::Session> session_;
  CallSecurity security_;
  bool loginRefused_ = false;
  std::optional<PendingCall> pending_;
};

}  // namespace tagwell::dcom
