#include "dcom/ClientSession.h"

#include <algorithm>

#include "dcom/Iids.h"
#include "platform/com/CallWait.h"
#include "platform/com/ComputerName.h"
#include "platform/com/Text.h"

namespace tagwell::dcom {

using namespace com;

namespace {

enum : std::uint16_t { kRemQueryInterface = 3, kRemRelease = 5 };
enum : std::uint16_t { kSimplePing = 1, kComplexPing = 2 };

constexpr HRESULT kBadStubData = MakeHresult(0x800706F7);
constexpr HRESULT kServerFault = MakeHresult(0x80010105);  // RPC_E_SERVERFAULT
constexpr std::uint32_t kPublicRefs = 5;

std::vector<std::uint8_t> KeyOf(const IID& iid) {
  std::vector<std::uint8_t> key(sizeof(IID));
  std::memcpy(key.data(), &iid, sizeof(IID));
  return key;
}

struct Endpoint {
  std::string host;
  std::uint16_t port;
};

// Where the exporter may be reached: the computer as the operator named it
// (a server's own idea of its addresses may not be reachable from here),
// then each address it names.
std::vector<Endpoint> Candidates(const std::string& host, const Bindings& bindings) {
  std::vector<Endpoint> out;
  auto add = [&out](const std::string& h, std::uint16_t p) {
    for (const auto& e : out)
      if (e.host == h && e.port == p) return;
    out.push_back({h, p});
  };
  std::vector<ComputerAddress> named;
  for (const auto& binding : bindings.tcp) {
    ComputerAddress address;
    if (ParseComputerName(Utf16ToUtf8(binding), &address, nullptr) &&
        address.protocol == RemoteProtocol::Dcom)
      named.push_back(address);
  }
  for (const auto& a : named) add(host, a.port);
  for (const auto& a : named) add(a.host, a.port);
  return out;
}

}  // namespace

HRESULT HresultOfFault(std::uint32_t fault) {
  if (fault == kFaultAccessDenied) return E_ACCESSDENIED;
  if (fault == kFaultDisconnected) return RPC_E_DISCONNECTED;
  if (fault == kFaultBadStubData) return kBadStubData;
  if (fault & 0x80000000u) return static_cast<HRESULT>(fault);    // an HRESULT as it is
  if (fault < 0x10000u) return MakeHresult(0x80070000u | fault);  // a Win32 status
  return kServerFault;                                            // an nca_s_ status
}

HRESULT HresultOfTransport(const std::string& error, bool connecting) {
  if (error.find("in time") != std::string::npos) return RPC_E_TIMEOUT;
  if (error.find("refused the bind") != std::string::npos ||
      error.find("NTLM") != std::string::npos || error.find("login") != std::string::npos)
    return E_ACCESSDENIED;
  return connecting ? RPC_S_SERVER_UNAVAILABLE : RPC_E_DISCONNECTED;
}

ClientSession::ClientSession(ClientTarget target, OXID oxid, IPID remUnknown)
    : target_(std::move(target)), oxid_(oxid), remUnknown_(remUnknown) {}

HRESULT ClientSession::Open(const ClientTarget& target, const Bindings& bindings, OXID oxid,
                            const IPID& remUnknown, std::shared_ptr<ClientSession>* session) {
  std::shared_ptr<ClientSession> made(new ClientSession(target, oxid, remUnknown));
  HRESULT hr = RPC_S_SERVER_UNAVAILABLE;
  for (const Endpoint& e : Candidates(target.host, bindings)) {
    std::string error;
    if (!made->connection_.Connect(e.host, e.port, target.callTimeout, &error)) continue;
    if (made->connection_.Bind({IID_IRemUnknown2, 0, 0}, target.auth, target.callTimeout, &error)) {
      made->contexts_[KeyOf(IID_IRemUnknown2)] = 0;
      made->pinger_ = std::thread([raw = made.get()] { raw->PingLoop(); });
      *session = std::move(made);
      return S_OK;
    }
    hr = HresultOfTransport(error, true);
    made->connection_.Close();
  }
  return hr;
}

std::shared_ptr<ClientSession> ClientSession::Scripted(Answerer answer, OXID oxid) {
  std::shared_ptr<ClientSession> made(new ClientSession(ClientTarget{}, oxid, IPID{}));
  made->scripted_ = std::move(answer);
  return made;
}

ClientSession::~ClientSession() {
  {
    std::lock_guard lock(pingMutex_);
    stopping_ = true;
  }
  pingWake_.notify_all();
  if (pinger_.joinable()) pinger_.join();
}

bool ClientSession::broken() const {
  std::lock_guard lock(callMutex_);
  return broken_;
}

HRESULT ClientSession::Call(const IID& iid, std::uint16_t opnum, const IPID& ipid,
                            const std::function<void(NdrWriter&)>& args, const AnswerReader& read) {
  // Code the window runs while one of its calls waits may not call out.
  if (com::InCallWaitPump()) return com::RPC_E_CANTCALLOUT_ININPUTSYNCCALL;
  std::lock_guard lock(callMutex_);
  return CallLocked(iid, opnum, ipid, args, read);
}

HRESULT ClientSession::CallLocked(const IID& iid, std::uint16_t opnum, const IPID& ipid,
                                  const std::function<void(NdrWriter&)>& args,
                                  const AnswerReader& read) {
  if (broken_) return RPC_E_DISCONNECTED;
  if (scripted_) {
    NdrWriter w;
    WriteOrpcThis(w, OrpcThis{kComVersionMajor, kComVersionMinor, 0, RandomGuid()});
    args(w);
    return Finish(scripted_(iid, opnum), read);
  }
  auto context = contexts_.find(KeyOf(iid));
  if (context == contexts_.end()) {
    std::uint16_t id = 0;
    std::string error;
    if (!connection_.AlterContext({iid, 0, 0}, target_.callTimeout, &id, &error)) {
      if (!connection_.connected()) broken_ = true;
      return connection_.connected() ? E_NOINTERFACE : HresultOfTransport(error, false);
    }
    context = contexts_.emplace(KeyOf(iid), id).first;
  }
  NdrWriter w;
  WriteOrpcThis(w, OrpcThis{kComVersionMajor, kComVersionMinor, 0, RandomGuid()});
  args(w);
  return Finish(connection_.Call(opnum, &ipid, w.bytes(), target_.callTimeout, context->second),
                read);
}

HRESULT ClientSession::Finish(const CallResult& result, const AnswerReader& read) {
  if (!result.ok) {
    broken_ = true;
    connection_.Close();
    return HresultOfTransport(result.error, false);
  }
  if (result.fault) {
    const HRESULT hr = HresultOfFault(result.fault);
    if (hr == RPC_E_DISCONNECTED) broken_ = true;
    return hr;
  }
  NdrReader in(result.stub);
  ReadOrpcThat(in);
  if (in.ok()) read(in);
  return in.ok() ? S_OK : kBadStubData;
}

HRESULT ClientSession::QueryRemote(const IPID& ipid, const IID& iid, StdObjref* out) {
  HRESULT result = E_NOINTERFACE;
  HRESULT hr = Call(
      IID_IRemUnknown2, kRemQueryInterface, remUnknown_,
      [&](NdrWriter& w) {
        w.Guid(ipid);
        w.U32(kPublicRefs);
        w.U16(1);
        w.Conformance(1);
        w.Guid(iid);
      },
      [&](NdrReader& in) {
        if (!in.Pointer() || in.Conformance(40) != 1) return in.Fail();
        in.Align(8);
        result = in.I32();
        *out = ReadStdObjref(in);
        in.I32();  // the overall result
      });
  if (FAILED(hr)) return hr;
  return result;
}

void ClientSession::RemRelease(const IPID& ipid, std::uint32_t publicRefs) {
  Call(
      IID_IRemUnknown2, kRemRelease, remUnknown_,
      [&](NdrWriter& w) {
        w.U16(1);
        w.Conformance(1);
        w.Guid(ipid);
        w.U32(publicRefs);
        w.U32(0);
      },
      [](NdrReader& in) { in.I32(); });
}

void ClientSession::AddPing(OID oid) {
  std::lock_guard lock(pingMutex_);
  setChanged_ |= held_.insert(oid).second;
}

void ClientSession::RemovePing(OID oid) {
  std::lock_guard lock(pingMutex_);
  setChanged_ |= held_.erase(oid) > 0;
}

void ClientSession::PingLoop() {
  std::unique_lock lock(pingMutex_);
  for (;;) {
    pingWake_.wait_for(lock, target_.pingInterval, [this] { return stopping_; });
    if (stopping_) return;
    lock.unlock();
    const bool alive = !broken() && PingOnce();
    lock.lock();
    if (!alive) return;
  }
}

// One ping over a connection of its own to the resolver: the set's changes
// with ComplexPing, else SimplePing. False once the exporter is gone.
bool ClientSession::PingOnce() {
  std::vector<OID> held;
  bool changed;
  SETID set;
  {
    std::lock_guard lock(pingMutex_);
    held.assign(held_.begin(), held_.end());
    changed = setChanged_ || set_ == 0;
    set = set_;
  }
  if (held.empty() && set == 0) return true;
  ClientConnection resolver;
  std::string error;
  if (!resolver.Connect(target_.host, target_.resolverPort, target_.callTimeout, &error) ||
      !resolver.Bind({IID_IObjectExporter, 0, 0}, target_.auth, target_.callTimeout, &error))
    return true;  // the computer may be back for the next ping
  NdrWriter w;
  if (changed) {
    // The whole set again as additions (set 0 makes a new one): simpler
    // than tracking deletions, and what the exporter then holds is exact.
    w.U64(0);
    w.U16(0);
    w.U16(static_cast<std::uint16_t>(held.size()));
    w.U16(0);
    if (w.Pointer(!held.empty())) w.Array<std::uint64_t>(held);
    w.Pointer(false);
  } else {
    w.U64(set);
  }
  CallResult result =
      resolver.Call(changed ? kComplexPing : kSimplePing, nullptr, w.bytes(), target_.callTimeout);
  if (!result.ok || result.fault) return true;
  NdrReader in(result.stub);
  SETID newSet = changed ? in.U64() : set;
  if (changed) in.U16();
  const std::uint32_t status = in.U32();
  std::lock_guard lock(pingMutex_);
  if (in.ok() && status == 0) {
    set_ = newSet;
    if (changed) setChanged_ = false;
  } else {
    set_ = 0;  // the set was forgotten: make it again next time
    setChanged_ = true;
  }
  return true;
}

}  // namespace tagwell::dcom
