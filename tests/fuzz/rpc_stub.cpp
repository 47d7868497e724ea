// The server stubs' decoding of requests. The first byte picks a method of
// the served objects (a simulation server, one of its groups with one
// item, and the three kinds of enumerator they hand out); the rest is one
// Cap'n Proto segment whose root is taken as that method's parameters.
#include <capnp/message.h>
#include <kj/async.h>

#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "rpc/Stub.h"
#include "server/AddressSpaceXml.h"
#include "server/Simulation.h"

namespace {

using namespace tagwell;
using namespace com;
namespace wire = tagwell::rpc::wire;

enum Target { kServer, kGroup, kStrings, kGroups, kAttributes };

struct Method {
  std::uint64_t interface;
  std::uint16_t ordinal;
  Target target;
};

template <class Interface>
void Add(std::vector<Method>& methods, std::uint16_t count, Target target) {
  for (std::uint16_t i = 0; i < count; ++i)
    methods.push_back({capnp::typeId<Interface>(), i, target});
}

const std::vector<Method>& Methods() {
  static const std::vector<Method> methods = [] {
    std::vector<Method> m;
    Add<wire::OpcServer>(m, 6, kServer);
    Add<wire::OpcServerPublicGroups>(m, 2, kServer);
    Add<wire::OpcBrowseServerAddressSpace>(m, 5, kServer);
    Add<wire::OpcItemProperties>(m, 3, kServer);
    Add<wire::PersistFile>(m, 6, kServer);
    Add<wire::EnumUnknown>(m, 4, kGroups);
    Add<wire::EnumString>(m, 4, kStrings);
    Add<wire::EnumItemAttributes>(m, 4, kAttributes);
    Add<wire::OpcItemMgt>(m, 7, kGroup);
    Add<wire::OpcSyncIo>(m, 2, kGroup);
    return m;
  }();
  return methods;
}

// The objects a client reaches, made afresh for every input.
ComPtr<IUnknown> MakeObject(Target target) {
  static auto space = server::MakeDefaultAddressSpace();
  ComPtr<IOPCServer> opcServer;
  server::CreateSimulationServer(space, IID_IOPCServer, opcServer.ReceiveVoid());
  ComPtr<IUnknown> object;
  ComPtr<IUnknown> group;
  OPCHANDLE serverGroup = 0;
  DWORD rate = 0;
  opcServer->AddGroup(u"fuzz", TRUE, 1000, 1, nullptr, nullptr, 0, &serverGroup, &rate,
                      IID_IUnknown, group.Receive());
  ComPtr<IOPCItemMgt> items;
  group.As(IID_IOPCItemMgt, &items);
  OPCITEMDEF def{nullptr, const_cast<LPWSTR>(u"OPC.ConnectionMonitor"), TRUE, 7, 0, nullptr, 0, 0};
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  items->AddItems(1, &def, &results, &errors);
  rpc::FreeTaskArray(results, 1);
  CoTaskMemFree(errors);
  switch (target) {
    case kServer:
      opcServer.As(IID_IUnknown, &object);
      break;
    case kGroup:
      object = group;
      break;
    case kGroups:
      opcServer->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown, object.Receive());
      break;
    case kStrings: {
      ComPtr<IOPCBrowseServerAddressSpace> browse;
      opcServer.As(IID_IOPCBrowseServerAddressSpace, &browse);
      browse->BrowseOPCItemIDs(OPC_FLAT, u"", VT_EMPTY, 0,
                               reinterpret_cast<IEnumString**>(object.Receive()));
      break;
    }
    case kAttributes:
      items->CreateEnumerator(IID_IEnumOPCItemAttributes, object.Receive());
      break;
  }
  return object;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static kj::EventLoop loop;
  static kj::WaitScope waitScope(loop);
  if (size < 1) return 0;
  const Method& method = Methods()[data[0] % Methods().size()];
  auto words = kj::heapArray<capnp::word>((size - 1) / sizeof(capnp::word));
  std::memcpy(words.begin(), data + 1, words.size() * sizeof(capnp::word));
  kj::ArrayPtr<const capnp::word> segments[] = {words};
  capnp::SegmentArrayMessageReader message(segments);

  // Whatever a request makes the server allocate from the task allocator
  // is freed by the time its objects are gone; the allocator's table keeps
  // a lost block reachable, where the leak checker cannot see it.
  const std::size_t outstanding = TaskMemOutstanding();
  [&] {
    ComPtr<IUnknown> object = MakeObject(method.target);
    if (!object) return;
    // The stub as the server hands it out in an answer.
    capnp::MallocMessageBuilder answer;
    capnp::BuilderCapabilityTable caps;
    auto handedOut = caps.imbue(answer.initRoot<wire::Object>());
    rpc::ObjectStub::Marshal(object.Get(), handedOut);
    capnp::Capability::Client stub = handedOut.getCap();
    auto request = stub.typelessRequest(method.interface, method.ordinal, nullptr);
    try {
      // A message that is no struct of the kind is refused by Cap'n Proto
      // itself, as the RPC system refuses it on the wire.
      request.set(message.getRoot<capnp::AnyPointer>());
      request.send().wait(waitScope);
    } catch (const kj::Exception&) {
    }
  }();
  // The first input also makes what lives as long as the process.
  static bool first = true;
  if (!std::exchange(first, false) && TaskMemOutstanding() != outstanding) std::abort();
  return 0;
}
