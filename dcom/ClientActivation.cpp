#include "dcom/ClientActivation.h"

#include <cstdio>

#include "dcom/Activation.h"
#include "dcom/ClientObject.h"
#include "dcom/Iids.h"
#include "dcom/NdrOaut.h"
#include "platform/com/CallWait.h"
#include "platform/com/ComputerName.h"
#include "platform/com/Text.h"

namespace tagwell::dcom {

using namespace com;

namespace {

constexpr const char* kWho = "tagwell dcom";
constexpr std::uint16_t kRemoteCreateInstance = 4;
enum : std::uint16_t { kEnumClasses = 3, kGetClassDetails, kClsidFromProgId };
enum : std::uint16_t { kEnumNext = 3 };
constexpr ULONG kServersPerCall = 256;

void Say(const ComputerAddress& address, const std::string& what, HRESULT hr) {
  std::fprintf(stderr, "%s: %s: %s (0x%08X)\n", kWho, DisplayName(address).c_str(), what.c_str(),
               static_cast<unsigned>(hr));
}

bool ParseDcom(const std::u16string& host, ComputerAddress* address) {
  std::string error;
  if (ParseComputerName(Utf16ToUtf8(host), address, &error) &&
      address->protocol == RemoteProtocol::Dcom)
    return true;
  std::fprintf(stderr, "%s: \"%s\" is no DCOM computer name%s%s\n", kWho, Utf16ToUtf8(host).c_str(),
               error.empty() ? "" : ": ", error.c_str());
  return false;
}

// One activation's outcome: the session to the exporter and what the
// activator answered per interface.
struct Activated {
  std::shared_ptr<ClientSession> session;
  ActivationReply reply;
};

HRESULT ReadActivationAnswer(const CallResult& result, ActivationReply* reply) {
  if (result.fault) return HresultOfFault(result.fault);
  return DecodeActivationAnswer(result.stub, reply);
}

}  // namespace

HRESULT DecodeActivationAnswer(std::span<const std::uint8_t> stub, ActivationReply* reply) {
  NdrReader in(stub);
  ReadOrpcThat(in);
  std::vector<std::uint8_t> properties;
  if (in.Pointer()) properties = ReadInterfacePointer(in);
  const HRESULT hr = in.I32();
  if (!in.ok()) return MakeHresult(0x800706F7);
  if (FAILED(hr)) return hr;
  auto objref = ParseObjref(properties);
  if (!objref || objref->flags != OBJREF_CUSTOM) return MakeHresult(0x800706F7);
  auto parsed = ReadActivationReply(objref->data);
  if (!parsed) return MakeHresult(0x800706F7);
  if (parsed->results.size() != parsed->iids.size() ||
      parsed->objrefs.size() != parsed->iids.size())
    return MakeHresult(0x800706F7);
  *reply = std::move(*parsed);
  return S_OK;
}

AuthLevel EffectiveLevel(const ClientOptions& options) {
  return options.level < AuthLevel::PacketIntegrity ? AuthLevel::PacketIntegrity : options.level;
}

DcomActivator::DcomActivator(ClientOptions options) : options_(options) {}

DcomActivator::~DcomActivator() = default;

ClientTarget DcomActivator::TargetFor(const ComputerAddress& address) const {
  ClientTarget target;
  target.host = address.host;
  target.resolverPort = address.port;
  target.callTimeout = options_.callTimeout;
  target.pingInterval = options_.pingInterval;
  target.auth.level = EffectiveLevel(options_);
  if (options_.credentials) {
    if (auto account = options_.credentials->InSession(CredentialKey(address))) {
      target.auth.user = account->user;
      target.auth.domain = account->domain;
      target.auth.password = account->password;
    }
  }
  target.auth.workstation = "TAGWELL";
  return target;
}

// RemoteCreateInstance of clsid for iids at the computer's activator, then
// the session to the exporter it names.
static HRESULT ActivateAt(const ClientTarget& target, const CLSID& clsid,
                          const std::vector<IID>& iids, Activated* out) {
  if (com::InCallWaitPump()) return com::RPC_E_CANTCALLOUT_ININPUTSYNCCALL;
  ClientConnection scm;
  std::string error;
  if (!scm.Connect(target.host, target.resolverPort, target.callTimeout, &error))
    return RPC_S_SERVER_UNAVAILABLE;
  if (!scm.Bind({IID_IRemoteSCMActivator, 0, 0}, target.auth, target.callTimeout, &error))
    return HresultOfTransport(error, true);
  NdrWriter w;
  WriteOrpcThis(w, OrpcThis{kComVersionMajor, kComVersionMinor, 0, RandomGuid()});
  w.Pointer(false);
  w.Pointer(true);
  ActivationRequest wanted{clsid, iids, CLSCTX_REMOTE_SERVER};
  WriteInterfacePointer(w,
                        MakeCustomObjref(IID_IActivationPropertiesIn, CLSID_ActivationPropertiesIn,
                                         WriteActivationRequest(wanted)));
  CallResult result = scm.Call(kRemoteCreateInstance, nullptr, w.bytes(), target.callTimeout);
  if (!result.ok) return HresultOfTransport(result.error, false);
  HRESULT hr = ReadActivationAnswer(result, &out->reply);
  if (FAILED(hr)) return hr;
  if (out->reply.results.size() != iids.size() || out->reply.objrefs.size() != iids.size())
    return MakeHresult(0x800706F7);
  return ClientSession::Open(target, out->reply.bindings, out->reply.oxid, out->reply.remUnknown,
                             &out->session);
}

HRESULT DcomActivator::Activate(REFCLSID clsid, const std::u16string& host, DWORD count,
                                MULTI_QI* results) {
  if (count == 0 || !results) return E_INVALIDARG;
  for (DWORD i = 0; i < count; ++i) {
    results[i].pItf = nullptr;
    results[i].hr = E_NOINTERFACE;
  }
  ComputerAddress address;
  if (!ParseDcom(host, &address)) return RPC_S_SERVER_UNAVAILABLE;
  std::vector<IID> iids;
  for (DWORD i = 0; i < count; ++i)
    iids.push_back(results[i].pIID ? *results[i].pIID : IID_IUnknown);
  Activated activated;
  HRESULT hr = ActivateAt(TargetFor(address), clsid, iids, &activated);
  if (FAILED(hr)) {
    Say(address, "activation failed", hr);
    for (DWORD i = 0; i < count; ++i) results[i].hr = hr;
    return hr;
  }
  DWORD answered = 0;
  for (DWORD i = 0; i < count; ++i) {
    results[i].hr = activated.reply.results[i];
    if (FAILED(results[i].hr)) continue;
    auto object = RemoteObject::FromObjref(activated.session, activated.reply.objrefs[i]);
    results[i].hr =
        object ? object->QueryInterface(iids[i], reinterpret_cast<void**>(&results[i].pItf))
               : E_NOINTERFACE;
    if (SUCCEEDED(results[i].hr)) ++answered;
  }
  if (answered == count) return S_OK;
  return answered == 0 ? E_NOINTERFACE : CO_S_NOTALLINTERFACES;
}

// The computer's server browser, activated for one question.
class ServerBrowser {
 public:
  HRESULT Open(const ClientTarget& target) {
    HRESULT hr = ActivateAt(target, CLSID_OpcServerList, {IID_IOPCServerList}, &activated_);
    if (FAILED(hr)) return hr;
    if (FAILED(activated_.reply.results[0])) return activated_.reply.results[0];
    auto objref = ParseObjref(activated_.reply.objrefs[0]);
    if (!objref || objref->flags != OBJREF_STANDARD) return MakeHresult(0x800706F7);
    list_ = objref->std;
    return S_OK;
  }
  ~ServerBrowser() {
    if (activated_.session && list_.publicRefs)
      activated_.session->RemRelease(list_.ipid, list_.publicRefs);
  }
  ClientSession& session() { return *activated_.session; }
  const IPID& ipid() const { return list_.ipid; }

 private:
  Activated activated_;
  StdObjref list_;
};

HRESULT DcomActivator::ClassOnComputer(const std::u16string& host, const std::u16string& progId,
                                       CLSID* clsid) {
  ComputerAddress address;
  if (!ParseDcom(host, &address)) return RPC_S_SERVER_UNAVAILABLE;
  ServerBrowser browser;
  HRESULT hr = browser.Open(TargetFor(address));
  if (FAILED(hr)) {
    Say(address, "its server browser cannot be reached", hr);
    return hr;
  }
  HRESULT answer = E_FAIL;
  CLSID found{};
  hr = browser.session().Call(
      IID_IOPCServerList, kClsidFromProgId, browser.ipid(),
      [&](NdrWriter& w) { w.WideString(progId); },
      [&](NdrReader& in) {
        found = in.Guid();
        answer = in.I32();
      });
  if (FAILED(hr)) return hr;
  if (SUCCEEDED(answer)) *clsid = found;
  return answer;
}

HRESULT DcomActivator::ServersOnComputer(const std::u16string& host,
                                         std::vector<std::u16string>* progIds) {
  ComputerAddress address;
  if (!ParseDcom(host, &address)) return RPC_S_SERVER_UNAVAILABLE;
  ServerBrowser browser;
  HRESULT hr = browser.Open(TargetFor(address));
  if (FAILED(hr)) return hr;
  ClientSession& session = browser.session();
  HRESULT answer = E_FAIL;
  std::vector<std::uint8_t> enumerator;
  hr = session.Call(
      IID_IOPCServerList, kEnumClasses, browser.ipid(),
      [&](NdrWriter& w) {
        w.U32(1);
        w.Conformance(1);
        w.Guid(CATID_OPCDAServer20);
        w.U32(0);
        w.Conformance(0);
      },
      [&](NdrReader& in) {
        if (in.Pointer()) enumerator = ReadInterfacePointer(in);
        answer = in.I32();
      });
  if (FAILED(hr) || FAILED(answer)) return FAILED(hr) ? hr : answer;
  auto objref = ParseObjref(enumerator);
  if (!objref || objref->flags != OBJREF_STANDARD) return MakeHresult(0x800706F7);
  std::vector<CLSID> classes;
  hr = session.Call(
      IID_IEnumGUID, kEnumNext, objref->std.ipid, [](NdrWriter& w) { w.U32(kServersPerCall); },
      [&](NdrReader& in) {
        if (in.U32() != kServersPerCall) return in.Fail();
        const std::uint32_t n = in.Variance(kServersPerCall);
        for (std::uint32_t i = 0; i < n && in.ok(); ++i) classes.push_back(in.Guid());
        in.U32();
        in.I32();
      });
  if (objref->std.publicRefs) session.RemRelease(objref->std.ipid, objref->std.publicRefs);
  if (FAILED(hr)) return hr;
  for (const CLSID& c : classes) {
    std::u16string progId;
    HRESULT details = E_FAIL;
    session.Call(
        IID_IOPCServerList, kGetClassDetails, browser.ipid(), [&](NdrWriter& w) { w.Guid(c); },
        [&](NdrReader& in) {
          if (in.Pointer()) progId = in.WideString();
          if (in.Pointer()) in.WideString();
          details = in.I32();
        });
    if (SUCCEEDED(details) && !progId.empty()) progIds->push_back(progId);
  }
  return S_OK;
}

}  // namespace tagwell::dcom
