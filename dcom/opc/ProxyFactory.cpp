// The tear-offs RemoteObject makes, by interface.
#include "dcom/opc/ClientProxies.h"

namespace tagwell::dcom {

namespace {

template <class Proxy>
std::unique_ptr<TearOffBase> Make(RemoteObject& owner, const IPID& ipid) {
  return std::make_unique<Proxy>(owner, ipid);
}

std::unique_ptr<TearOffBase> MakeProxy(const com::IID& iid, RemoteObject& owner, const IPID& ipid) {
  using namespace opc;
  if (iid == com::IID_IOPCServer) return Make<ServerProxy>(owner, ipid);
  if (iid == com::IID_IOPCBrowseServerAddressSpace) return Make<BrowseProxy>(owner, ipid);
  if (iid == com::IID_IOPCItemProperties) return Make<ItemPropertiesProxy>(owner, ipid);
  if (iid == com::IID_IOPCItemMgt) return Make<ItemMgtProxy>(owner, ipid);
  if (iid == com::IID_IOPCSyncIO) return Make<SyncIoProxy>(owner, ipid);
  if (iid == com::IID_IEnumString) return Make<EnumStringProxy>(owner, ipid);
  if (iid == com::IID_IEnumOPCItemAttributes) return Make<EnumAttributesProxy>(owner, ipid);
  return nullptr;
}

}  // namespace

TearOffFactory ProxyFactory() {
  return &MakeProxy;
}

}  // namespace tagwell::dcom
