#include "rpc/Proxy.h"

#include "rpc/Marshal.h"
#include "rpc/ProxyInterfaces.h"

namespace tagwell::rpc {

using namespace com;

HRESULT CreateObject(const std::shared_ptr<Apartment>& apartment, kj::Own<kj::AsyncIoStream> stream,
                     const CLSID& clsid, std::chrono::milliseconds callTimeout,
                     ComPtr<IUnknown>* object) {
  auto connection = std::make_shared<Connection>(apartment, kj::mv(stream), callTimeout);
  auto request = connection->activator().createRequest();
  GuidToWire(clsid, request.initClsid());
  return connection->Call(request, [&](auto answer) -> HRESULT {
    HRESULT hr = answer.getHr();
    if (FAILED(hr)) return hr;
    *object = ProxyObject::Create(connection, answer.getObject());
    return *object ? hr : RPC_E_INVALID_DATA;
  });
}

ComPtr<IUnknown> ProxyObject::Create(const std::shared_ptr<Connection>& connection,
                                     wire::Object::Reader object) {
  if (!object.hasCap()) return nullptr;
  auto* proxy = new ProxyObject(connection, object.getCap());
  for (auto iid : object.getInterfaces()) proxy->AddInterface(GuidFromWire(iid));
  return ComPtr<IUnknown>::Adopt(proxy);
}

ProxyObject::ProxyObject(std::shared_ptr<Connection> connection, wire::ComObject::Client cap)
    : connection_(std::move(connection)), cap_(kj::mv(cap)) {}

ProxyObject::~ProxyObject() noexcept {
  // Drop the capability, and return once the server has let go of the
  // object.
  cap_ = nullptr;
  tearOffs_.clear();
  connection_->Sync();
}

template <class Proxy>
Proxy* ProxyObject::TearOffOf() {
  for (auto& tearOff : tearOffs_)
    if (auto* proxy = dynamic_cast<Proxy*>(tearOff.get())) return proxy;
  auto proxy = std::make_unique<Proxy>(*this);
  Proxy* result = proxy.get();
  tearOffs_.push_back(std::move(proxy));
  return result;
}

void ProxyObject::Answer(const IID& iid, void* pointer) {
  for (const Entry& entry : interfaces_)
    if (entry.iid == iid) return;
  interfaces_.push_back(Entry{iid, pointer});
}

void ProxyObject::AddInterface(const IID& iid) {
  if (iid == IID_IOPCServer) {
    Answer(iid, static_cast<IOPCServer*>(TearOffOf<ServerProxy>()));
  } else if (iid == IID_IOPCServerPublicGroups) {
    Answer(iid, static_cast<IOPCServerPublicGroups*>(TearOffOf<PublicGroupsProxy>()));
  } else if (iid == IID_IOPCBrowseServerAddressSpace) {
    Answer(iid, static_cast<IOPCBrowseServerAddressSpace*>(TearOffOf<BrowseProxy>()));
    Answer(IID_ITagwellBrowseBranches,
           static_cast<ITagwellBrowseBranches*>(TearOffOf<BrowseBranchesProxy>()));
  } else if (iid == IID_IOPCItemProperties) {
    Answer(iid, static_cast<IOPCItemProperties*>(TearOffOf<ItemPropertiesProxy>()));
  } else if (iid == IID_IPersistFile) {
    Answer(iid, static_cast<IPersistFile*>(TearOffOf<PersistFileProxy>()));
  } else if (iid == IID_IPersist) {
    Answer(iid, static_cast<IPersist*>(TearOffOf<PersistFileProxy>()));
  } else if (iid == IID_IOPCItemMgt) {
    Answer(iid, static_cast<IOPCItemMgt*>(TearOffOf<ItemMgtProxy>()));
  } else if (iid == IID_IOPCSyncIO) {
    Answer(iid, static_cast<IOPCSyncIO*>(TearOffOf<SyncIoProxy>()));
  } else if (iid == IID_IEnumString) {
    Answer(iid, static_cast<IEnumString*>(TearOffOf<EnumStringProxy>()));
  } else if (iid == IID_IEnumUnknown) {
    Answer(iid, static_cast<IEnumUnknown*>(TearOffOf<EnumUnknownProxy>()));
  } else if (iid == IID_IEnumOPCItemAttributes) {
    Answer(iid, static_cast<IEnumOPCItemAttributes*>(TearOffOf<EnumAttributesProxy>()));
  }
  // Interfaces this layer cannot marshal are not answered.
}

HRESULT ProxyObject::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown) {
    *ppv = static_cast<IUnknown*>(this);
  } else {
    for (const Entry& entry : interfaces_) {
      if (entry.iid == riid) {
        *ppv = entry.pointer;
        break;
      }
    }
  }
  if (!*ppv) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ULONG ProxyObject::AddRef() {
  return refs_.Increment();
}

ULONG ProxyObject::Release() {
  ULONG left = refs_.Decrement();
  if (left != 0) return left;
  Apartment& apartment = connection_->apartment();
  if (apartment.IsOwnerThread()) {
    delete this;
  } else {
    // The capability belongs to the owner thread's loop: let it go there.
    apartment.Defer([this] { delete this; });
  }
  return 0;
}

}  // namespace tagwell::rpc
