#include "dcom/Runtime.h"

#include "dcom/Iids.h"
#include "dcom/Stub.h"
#include "dcom/opc/ServerList.h"
#include "platform/opcda/OpcDa.h"

namespace tagwell::dcom {

using namespace com;

namespace {

// How objects answer the OPC interfaces the DCOM layer adds: IOPCCommon on
// a server (its IOPCServer is called for error texts), IOPCGroupStateMgt
// on a group (its IOPCItemMgt is the interface held).
HRESULT QueryWithExtras(IUnknown* object, const IID& iid, IUnknown** itf) {
  HRESULT hr = object->QueryInterface(iid, reinterpret_cast<void**>(itf));
  if (SUCCEEDED(hr) && *itf) return hr;
  *itf = nullptr;
  if (iid == IID_IOPCCommon)
    return object->QueryInterface(IID_IOPCServer, reinterpret_cast<void**>(itf));
  if (iid == IID_IOPCGroupStateMgt)
    return object->QueryInterface(IID_IOPCItemMgt, reinterpret_cast<void**>(itf));
  return E_NOINTERFACE;
}

Response Fault(std::uint32_t status) {
  return Response{status, {}};
}

}  // namespace

void WriteComVersion(NdrWriter& w) {
  w.U16(kComVersionMajor);
  w.U16(kComVersionMinor);
}

Runtime::Runtime(RuntimeOptions options, std::vector<ServedClass> classes)
    : options_(std::move(options)),
      classes_(std::move(classes)),
      exporter_(options_.bindings, options_.clock, options_.pingPeriod, QueryWithExtras) {
  ServedClass browser;
  browser.clsid = CLSID_OpcServerList;
  browser.progId = "OPC.ServerList.1";
  browser.description = "OPC Server Browser";
  std::vector<ServedClass> listed = classes_;
  browser.create = [listed](IUnknown** object) { return CreateServerList(listed, object); };
  classes_.push_back(std::move(browser));
}

bool Runtime::Supports(const SyntaxId& abstract) const {
  const IID& iid = abstract.uuid;
  if (iid == IID_IObjectExporter || iid == IID_IRemoteSCMActivator || iid == IID_IRemUnknown ||
      iid == IID_IRemUnknown2 || iid == IID_IUnknown)
    return true;
  return FindStub(iid) != nullptr;
}

void Runtime::AssociationGroupClosed(std::uint32_t) {
  // References outlive connections in DCOM: pinging ends them.
}

void Runtime::Collect() {
  {
    std::lock_guard lock(collectMutex_);
    auto now = options_.clock();
    if (lastCollect_ != std::chrono::steady_clock::time_point{} &&
        now - lastCollect_ < std::chrono::seconds(1))
      return;
    lastCollect_ = now;
  }
  exporter_.Collect();
}

Response Runtime::Call(const Request& request) {
  Collect();
  const IID& iid = request.interface.uuid;
  if (iid == IID_IObjectExporter) return Resolve(request);
  if (iid == IID_IRemoteSCMActivator) return Activate(request);
  if (!request.hasObject) return Fault(kFaultUnknownInterface);
  // Objects answer only the level their activation needed: an IPID is no
  // password.
  if (request.caller.level < options_.minActivationLevel) return Fault(kFaultAccessDenied);
  if (request.object == exporter_.remUnknownIpid()) {
    if (iid != IID_IRemUnknown && iid != IID_IRemUnknown2) return Fault(kFaultUnknownInterface);
    return RemUnknown(request);
  }
  return Object(request);
}

Response Runtime::Object(const Request& request) {
  auto target = exporter_.Find(request.object);
  if (!target) return Fault(kFaultDisconnected);
  if (request.interface.uuid != target->iid) return Fault(kFaultUnknownInterface);
  const InterfaceStub* stub = FindStub(target->iid);
  if (!stub) return Fault(kFaultUnknownInterface);
  if (request.opnum < 3) return Fault(kFaultOpRange);  // IUnknown's go through IRemUnknown
  NdrReader in(request.stub);
  ReadOrpcThis(in);
  if (!in.ok()) return Fault(kFaultBadStubData);
  NdrWriter out;
  WriteOrpcThat(out);
  StubCall call{request, *this, target->itf.Get(), target->state, in, out};
  std::lock_guard serial(target->state->calls);
  if (std::uint32_t fault = stub->handler(call)) return Fault(fault);
  return Response{0, out.Take()};
}

}  // namespace tagwell::dcom
