// The client proxies' decoding of answers: a hostile server answers every
// call with the fuzzer's bytes (after the first, which picks the COM call
// the client makes) taken as one Cap'n Proto segment.
#include <capnp/message.h>
#include <capnp/rpc-twoparty.h>

#include <cstdlib>
#include <cstring>

#include "rpc/Proxy.h"

namespace {

using namespace com;
using namespace tagwell::rpc;

kj::Array<capnp::word> answer;

// Every object call is answered with the current bytes.
class HostileObject final : public wire::ComObject::Server {
 public:
  DispatchCallResult dispatchCall(
      std::uint64_t, std::uint16_t,
      capnp::CallContext<capnp::AnyPointer, capnp::AnyPointer> context) override {
    kj::ArrayPtr<const capnp::word> segments[] = {answer};
    capnp::SegmentArrayMessageReader message(segments);
    context.getResults().set(message.getRoot<capnp::AnyPointer>());
    return {kj::READY_NOW, false};
  }
};

class HostileActivator final : public wire::Activator::Server {
  kj::Promise<void> create(CreateContext context) override {
    auto object = context.getResults().initObject();
    object.setCap(kj::heap<HostileObject>());
    const IID iids[] = {IID_IOPCServer,         IID_IOPCBrowseServerAddressSpace,
                        IID_IOPCItemProperties, IID_IOPCItemMgt,
                        IID_IOPCSyncIO,         IID_IEnumString,
                        IID_IEnumUnknown,       IID_IEnumOPCItemAttributes,
                        IID_IPersistFile,       IID_IOPCServerPublicGroups};
    auto list = object.initInterfaces(std::size(iids));
    for (unsigned i = 0; i < list.size(); ++i) GuidToWire(iids[i], list[i]);
    return kj::READY_NOW;
  }
  kj::Promise<void> sync(SyncContext) override { return kj::READY_NOW; }
};

IUnknown* HostileServer() {
  static IUnknown* object = [] {
    auto apartment = Apartment::ForThisThread();
    auto pipe = kj::newTwoWayPipe();
    static capnp::TwoPartyServer server(kj::heap<HostileActivator>());
    server.accept(kj::mv(pipe.ends[1]));
    ComPtr<IUnknown> proxy;
    CreateObject(apartment, kj::mv(pipe.ends[0]), GUID{}, std::chrono::seconds(10), &proxy);
    return proxy.Detach();
  }();
  return object;
}

template <class Interface>
ComPtr<Interface> As(REFIID iid) {
  ComPtr<Interface> p;
  HostileServer()->QueryInterface(iid, p.ReceiveVoid());
  return p;
}

void Release(IUnknown* object) {
  if (object) object->Release();
}

// The calls a client makes, each with plausible arguments, freeing what
// it got as a client does.
void Call(unsigned which) {
  DWORD handles[] = {1, 2, 3};
  DWORD count = 0;
  HRESULT* errors = nullptr;
  IUnknown* object = nullptr;
  LPWSTR text = nullptr;
  OPCITEMDEF defs[2] = {
      {nullptr, const_cast<LPWSTR>(u"Temperature"), TRUE, 1, 0, nullptr, 0, 0},
      {const_cast<LPWSTR>(u""), const_cast<LPWSTR>(u"Mode"), TRUE, 2, 0, nullptr, 2, 0}};
  switch (which % 22) {
    case 0: {
      OPCHANDLE group = 0;
      DWORD rate = 0;
      As<IOPCServer>(IID_IOPCServer)
          ->AddGroup(u"g", TRUE, 1000, 1, nullptr, nullptr, 0, &group, &rate, IID_IOPCItemMgt,
                     &object);
      break;
    }
    case 1:
      As<IOPCServer>(IID_IOPCServer)->GetErrorString(E_FAIL, 0, &text);
      break;
    case 2:
      As<IOPCServer>(IID_IOPCServer)->GetGroupByName(u"g", IID_IUnknown, &object);
      break;
    case 3: {
      OPCSERVERSTATUS* status = nullptr;
      As<IOPCServer>(IID_IOPCServer)->GetStatus(&status);
      FreeServerStatus(status);
      break;
    }
    case 4:
      As<IOPCServer>(IID_IOPCServer)
          ->CreateGroupEnumerator(OPC_ENUM_ALL, IID_IEnumUnknown, &object);
      break;
    case 5: {
      OPCNAMESPACETYPE type;
      As<IOPCBrowseServerAddressSpace>(IID_IOPCBrowseServerAddressSpace)->QueryOrganization(&type);
      break;
    }
    case 6:
      As<IOPCBrowseServerAddressSpace>(IID_IOPCBrowseServerAddressSpace)
          ->BrowseOPCItemIDs(OPC_FLAT, u"", VT_EMPTY, 0, reinterpret_cast<IEnumString**>(&object));
      break;
    case 7:
      As<IOPCBrowseServerAddressSpace>(IID_IOPCBrowseServerAddressSpace)
          ->GetItemID(const_cast<LPWSTR>(u"x"), &text);
      break;
    case 8: {
      DWORD* ids = nullptr;
      LPWSTR* descriptions = nullptr;
      VARTYPE* types = nullptr;
      As<IOPCItemProperties>(IID_IOPCItemProperties)
          ->QueryAvailableProperties(const_cast<LPWSTR>(u"x"), &count, &ids, &descriptions, &types);
      FreeTaskArray(ids, count);
      FreeTaskArray(descriptions, count);
      FreeTaskArray(types, count);
      break;
    }
    case 9: {
      VARIANT* values = nullptr;
      As<IOPCItemProperties>(IID_IOPCItemProperties)
          ->GetItemProperties(const_cast<LPWSTR>(u"x"), 3, handles, &values, &errors);
      FreeTaskArray(values, 3);
      break;
    }
    case 10: {
      LPWSTR* ids = nullptr;
      As<IOPCItemProperties>(IID_IOPCItemProperties)
          ->LookupItemIDs(const_cast<LPWSTR>(u"x"), 3, handles, &ids, &errors);
      FreeTaskArray(ids, 3);
      break;
    }
    case 11:
      As<IPersistFile>(IID_IPersistFile)->GetCurFile(&text);
      break;
    case 12: {
      LPOLESTR strings[3] = {};
      ULONG fetched = 0;
      As<IEnumString>(IID_IEnumString)->Next(3, strings, &fetched);
      for (LPOLESTR s : strings) CoTaskMemFree(s);
      break;
    }
    case 13: {
      IUnknown* objects[3] = {};
      ULONG fetched = 0;
      As<IEnumUnknown>(IID_IEnumUnknown)->Next(3, objects, &fetched);
      for (IUnknown* o : objects) Release(o);
      break;
    }
    case 14: {
      OPCITEMATTRIBUTES* items = nullptr;
      ULONG fetched = 0;
      As<IEnumOPCItemAttributes>(IID_IEnumOPCItemAttributes)->Next(3, &items, &fetched);
      FreeTaskArray(items, items ? fetched : 0);
      break;
    }
    case 15: {
      OPCITEMRESULT* results = nullptr;
      As<IOPCItemMgt>(IID_IOPCItemMgt)->AddItems(2, defs, &results, &errors);
      FreeTaskArray(results, 2);
      break;
    }
    case 16: {
      OPCITEMRESULT* results = nullptr;
      As<IOPCItemMgt>(IID_IOPCItemMgt)->ValidateItems(2, defs, TRUE, &results, &errors);
      FreeTaskArray(results, 2);
      break;
    }
    case 17:
      As<IOPCItemMgt>(IID_IOPCItemMgt)->RemoveItems(3, handles, &errors);
      break;
    case 18:
      As<IOPCItemMgt>(IID_IOPCItemMgt)->SetClientHandles(3, handles, handles, &errors);
      break;
    case 19:
      As<IOPCItemMgt>(IID_IOPCItemMgt)->CreateEnumerator(IID_IEnumOPCItemAttributes, &object);
      break;
    case 20: {
      OPCITEMSTATE* states = nullptr;
      As<IOPCSyncIO>(IID_IOPCSyncIO)->Read(OPC_DS_DEVICE, 3, handles, &states, &errors);
      FreeTaskArray(states, 3);
      break;
    }
    case 21: {
      VARIANT values[3] = {};
      As<IOPCSyncIO>(IID_IOPCSyncIO)->Write(3, handles, values, &errors);
      break;
    }
  }
  CoTaskMemFree(errors);
  CoTaskMemFree(text);
  Release(object);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || !HostileServer()) return 0;
  answer = kj::heapArray<capnp::word>((size - 1) / sizeof(capnp::word));
  std::memcpy(answer.begin(), data + 1, answer.size() * sizeof(capnp::word));
  // Everything a call hands out is freed above; a task block still live
  // after it was lost by the proxy (the task allocator's table keeps such a
  // block reachable, so the leak checker cannot see it).
  const std::size_t outstanding = TaskMemOutstanding();
  Call(data[0]);
  if (TaskMemOutstanding() != outstanding) std::abort();
  return 0;
}
