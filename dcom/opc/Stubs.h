// The stubs of the OPC interfaces served over DCOM, one file each. Opnums
// count IUnknown's three methods first: 3 is an interface's first method.
#pragma once

#include "dcom/Stub.h"

namespace tagwell::dcom::opc {

InterfaceStub OpcServerStub();       // IOPCServer
InterfaceStub OpcCommonStub();       // IOPCCommon
InterfaceStub ItemPropertiesStub();  // IOPCItemProperties
InterfaceStub BrowseStub();          // IOPCBrowseServerAddressSpace
InterfaceStub GroupStateStub();      // IOPCGroupStateMgt
InterfaceStub ItemMgtStub();         // IOPCItemMgt
InterfaceStub SyncIoStub();          // IOPCSyncIO
InterfaceStub EnumStringStub();      // IEnumString
InterfaceStub EnumAttributesStub();  // IEnumOPCItemAttributes
InterfaceStub ServerListStub();      // IOPCServerList
InterfaceStub ServerList2Stub();     // IOPCServerList2
InterfaceStub EnumGuidStub();        // IEnumGUID
InterfaceStub OpcEnumGuidStub();     // IOPCEnumGUID

}  // namespace tagwell::dcom::opc
