// The DCOM runtime's decoding of what a client sends: the first byte picks
// an interface method (the resolver, the activator, IRemUnknown2, the OPC
// stubs on a simulation server, its group and enumerators, the server
// browser) or one of the NDR readers a client-side proxy uses; the rest is
// the stub data of the request (or the bytes the reader is given).
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dcom/Activation.h"
#include "dcom/Iids.h"
#include "dcom/NdrOaut.h"
#include "dcom/Runtime.h"
#include "dcom/opc/OpcNdr.h"
#include "server/AddressSpaceXml.h"
#include "server/Simulation.h"

namespace {

using namespace com;
using namespace tagwell;
using namespace tagwell::dcom;

enum Target { kNone, kRemUnknown, kServer, kGroup, kStrings, kAttributes, kList, kReader };

struct Method {
  IID iid;
  std::uint16_t opnums;  // opnums 0 .. opnums-1 are tried (3 and up on objects)
  Target target;
};

const std::vector<Method>& Methods() {
  static const std::vector<Method> methods = {
      {IID_IObjectExporter, 6, kNone},      {IID_IRemoteSCMActivator, 5, kNone},
      {IID_IRemUnknown2, 7, kRemUnknown},   {IID_IOPCServer, 9, kServer},
      {IID_IOPCCommon, 8, kServer},         {IID_IOPCBrowseServerAddressSpace, 8, kServer},
      {IID_IOPCItemProperties, 6, kServer}, {IID_IOPCItemMgt, 10, kGroup},
      {IID_IOPCSyncIO, 5, kGroup},          {IID_IOPCGroupStateMgt, 7, kGroup},
      {IID_IEnumString, 7, kStrings},       {IID_IEnumOPCItemAttributes, 7, kAttributes},
      {IID_IOPCServerList2, 6, kList},      {GUID_NULL, 6, kReader},
  };
  return methods;
}

// The NDR readers of a client's side, over the bytes as they are.
void Read(std::uint16_t which, std::span<const std::uint8_t> bytes) {
  NdrReader r(bytes);
  switch (which) {
    case 0:
      ParseObjref(bytes);
      break;
    case 1:
      ReadActivationProperties(bytes);
      break;
    case 2:
      ReadActivationReply(bytes);
      break;
    case 3:
      opc::FreeItemStates(opc::ReadItemStates(r, opc::kAnyCount), 0);
      break;
    case 4: {
      std::uint32_t n = 0;
      opc::FreeItemAttributes(opc::ReadItemAttributes(r, opc::kAnyCount, &n), n);
      break;
    }
    default:
      opc::FreeServerStatus(opc::ReadServerStatus(r));
  }
}

// A runtime with a simulation server, a group with one item and the
// enumerators exported, made afresh for every input.
struct World {
  Runtime runtime;
  IPID ipids[kReader] = {};

  static RuntimeOptions Options() {
    RuntimeOptions options;
    options.bindings.tcp = {u"127.0.0.1[4135]"};
    options.bindings.security = {{kAuthnWinNt, u""}};
    return options;
  }

  World(std::shared_ptr<server::AddressSpace> space, const IID& iid)
      : runtime(Options(), {{server::CLSID_TagwellSimulation, "Tagwell.Simulation.1", "",
                             [space](IUnknown** object) {
                               return server::CreateSimulationServer(
                                   space, IID_IUnknown, reinterpret_cast<void**>(object));
                             }}}) {
    Exporter& exporter = runtime.exporter();
    ipids[kRemUnknown] = exporter.remUnknownIpid();
    ComPtr<IOPCServer> opcServer;
    server::CreateSimulationServer(space, IID_IOPCServer, opcServer.ReceiveVoid());
    ComPtr<IUnknown> group;
    OPCHANDLE handle = 0;
    DWORD rate = 0;
    opcServer->AddGroup(u"fuzz", TRUE, 1000, 1, nullptr, nullptr, 0, &handle, &rate, IID_IUnknown,
                        group.Receive());
    ComPtr<IOPCItemMgt> items;
    group.As(IID_IOPCItemMgt, &items);
    OPCITEMDEF def{nullptr, const_cast<LPWSTR>(u"Boiler.Setpoint"), TRUE, 7, 0, nullptr, 0, 0};
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    items->AddItems(1, &def, &results, &errors);
    opc::FreeItemResults(results, 1);
    CoTaskMemFree(errors);
    ComPtr<IOPCBrowseServerAddressSpace> browse;
    opcServer.As(IID_IOPCBrowseServerAddressSpace, &browse);
    ComPtr<IEnumString> strings;
    browse->BrowseOPCItemIDs(OPC_FLAT, u"", VT_EMPTY, 0, strings.Receive());
    ComPtr<IUnknown> attributes;
    items->CreateEnumerator(IID_IEnumOPCItemAttributes, attributes.Receive());
    ComPtr<IUnknown> list;
    runtime.classes().back().create(list.Receive());
    StdObjref std;
    auto put = [&](Target target, IUnknown* object) {
      if (object && SUCCEEDED(exporter.Marshal(object, iid, &std))) ipids[target] = std.ipid;
    };
    put(kServer, opcServer.Get());
    put(kGroup, group.Get());
    put(kStrings, strings.Get());
    put(kAttributes, attributes.Get());
    put(kList, list.Get());
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static auto space = server::MakeDefaultAddressSpace();
  if (size < 1) return 0;
  std::size_t total = 0;
  for (const auto& m : Methods()) total += m.opnums;
  std::size_t pick = data[0] % total;
  const Method* method = nullptr;
  for (const auto& m : Methods()) {
    if (pick < m.opnums) {
      method = &m;
      break;
    }
    pick -= m.opnums;
  }
  std::span<const std::uint8_t> stub(data + 1, size - 1);
  const std::size_t outstanding = TaskMemOutstanding();
  if (method->target == kReader) {
    Read(static_cast<std::uint16_t>(pick), stub);
  } else {
    World world(space, method->iid);
    Caller caller;
    caller.level = AuthLevel::PacketPrivacy;
    caller.readOnly = (data[0] & 0x80) != 0;
    const IPID& object = world.ipids[method->target];
    Request request{caller,
                    {method->iid, 0, 0},
                    static_cast<std::uint16_t>(pick),
                    method->target != kNone,
                    object,
                    stub};
    Response response = world.runtime.Call(request);
    if (response.fault == 0 && response.stub.empty()) std::abort();
  }
  // What a request makes the server allocate from the task allocator is
  // freed by the time its objects are gone.
  static bool first = true;
  if (!std::exchange(first, false) && TaskMemOutstanding() != outstanding) std::abort();
  return 0;
}
