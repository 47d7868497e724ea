// The opnums of the OPC interfaces, one list for the stubs and the client
// proxies. They count IUnknown's three methods first: 3 is an interface's
// first method, then the methods in the order of the interface definition.
#pragma once

#include <cstdint>

namespace tagwell::dcom::opc::opnum {

namespace server {  // IOPCServer
enum : std::uint16_t {
  kAddGroup = 3,
  kGetErrorString,
  kGetGroupByName,
  kGetStatus,
  kRemoveGroup,
  kCreateGroupEnumerator,
};
}  // namespace server

namespace browse {  // IOPCBrowseServerAddressSpace
enum : std::uint16_t {
  kQueryOrganization = 3,
  kChangeBrowsePosition,
  kBrowseOpcItemIds,
  kGetItemId,
  kBrowseAccessPaths,
};
}  // namespace browse

namespace item_mgt {  // IOPCItemMgt
enum : std::uint16_t {
  kAddItems = 3,
  kValidateItems,
  kRemoveItems,
  kSetActiveState,
  kSetClientHandles,
  kSetDatatypes,
  kCreateEnumerator,
};
}  // namespace item_mgt

namespace item_properties {  // IOPCItemProperties
enum : std::uint16_t { kQueryAvailableProperties = 3, kGetItemProperties, kLookupItemIds };
}  // namespace item_properties

namespace sync_io {  // IOPCSyncIO
enum : std::uint16_t { kRead = 3, kWrite };
}  // namespace sync_io

namespace enumerator {  // IEnumString, IEnumOPCItemAttributes, IEnumGUID
enum : std::uint16_t { kNext = 3, kSkip, kReset, kClone };
}  // namespace enumerator

}  // namespace tagwell::dcom::opc::opnum
