// The client's side of one object exporter on another computer: the
// connection its ORPC calls go over (one presentation context per
// interface, added as calls need them), IRemUnknown (QueryInterface and
// RemRelease of the interfaces the client holds), and the ping set that
// keeps the exporter's objects alive while the client holds them.
//
// A transport failure breaks the session for good: every later call fails
// with RPC_E_DISCONNECTED at once, nothing is pinged any more and nothing
// is released remotely (the server collects what the client held once the
// pings stop). The client then makes a new session by activating again.
//
// Thread rules: calls are serialised on the session's connection; the ping
// thread uses connections of its own to the resolver.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "dcom/Orpc.h"
#include "dcom/rpc/Client.h"

namespace tagwell::dcom {

// How to reach a computer and log on to it.
struct ClientTarget {
  std::string host;  // as the computer box names it
  std::uint16_t resolverPort = 135;
  ClientAuth auth;  // the level and the account
  std::chrono::milliseconds callTimeout{10000};
  std::chrono::milliseconds pingInterval{120000};
};

// The HRESULT a transport failure or a fault stands for.
com::HRESULT HresultOfFault(std::uint32_t fault);
com::HRESULT HresultOfTransport(const std::string& error, bool connecting);

// An NDR answer after its ORPCTHAT.
using AnswerReader = std::function<void(NdrReader& in)>;

class ClientSession final : public std::enable_shared_from_this<ClientSession> {
 public:
  // Connects to the exporter at one of bindings (the computer's own host
  // tried first with each binding's port), bound to IRemUnknown2.
  static com::HRESULT Open(const ClientTarget& target, const Bindings& bindings, OXID oxid,
                           const IPID& remUnknown, std::shared_ptr<ClientSession>* session);
  // A session whose calls are answered by answer (the answer's whole stub
  // data), without a connection or pings: for tests and the fuzz target of
  // the proxies' decoding.
  using Answerer = std::function<CallResult(const com::IID& iid, std::uint16_t opnum)>;
  static std::shared_ptr<ClientSession> Scripted(Answerer answer, OXID oxid);
  ~ClientSession();
  ClientSession(const ClientSession&) = delete;
  ClientSession& operator=(const ClientSession&) = delete;

  // One ORPC call of interface iid on ipid: args writes the [in]
  // parameters after the ORPCTHIS; read reads the answer after the
  // ORPCTHAT. The transport's failure, the fault's HRESULT, or
  // RPC_X_BAD_STUB_DATA (0x800706F7) when read left the reader failed.
  com::HRESULT Call(const com::IID& iid, std::uint16_t opnum, const IPID& ipid,
                    const std::function<void(NdrWriter&)>& args, const AnswerReader& read);

  // IRemUnknown::RemQueryInterface of one interface (5 public references).
  com::HRESULT QueryRemote(const IPID& ipid, const com::IID& iid, StdObjref* out);
  // Gives the references back (nothing when the session is broken).
  void RemRelease(const IPID& ipid, std::uint32_t publicRefs);

  // The objects pinged while held.
  void AddPing(OID oid);
  void RemovePing(OID oid);

  bool broken() const;
  const ClientTarget& target() const { return target_; }
  OXID oxid() const { return oxid_; }

 private:
  ClientSession(ClientTarget target, OXID oxid, IPID remUnknown);
  com::HRESULT CallLocked(const com::IID& iid, std::uint16_t opnum, const IPID& ipid,
                          const std::function<void(NdrWriter&)>& args, const AnswerReader& read);
  // The call's outcome from what came back (callMutex_ held).
  com::HRESULT Finish(const CallResult& result, const AnswerReader& read);
  void PingLoop();
  bool PingOnce();

  ClientTarget target_;
  OXID oxid_;
  IPID remUnknown_;
  mutable std::mutex callMutex_;
  ClientConnection connection_;
  std::map<std::vector<std::uint8_t>, std::uint16_t> contexts_;  // IID bytes -> context id
  bool broken_ = false;
  Answerer scripted_;

  std::mutex pingMutex_;
  std::condition_variable pingWake_;
  std::set<OID> held_;
  bool setChanged_ = false;
  SETID set_ = 0;
  bool stopping_ = false;
  std::thread pinger_;
};

}  // namespace tagwell::dcom
