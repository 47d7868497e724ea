// The stub of IOPCBrowseServerAddressSpace.
#include "dcom/Runtime.h"
#include "dcom/opc/Opnums.h"
#include "dcom/opc/Stubs.h"
#include "platform/opcda/OpcDa.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace opnum::browse;
using namespace stub;

namespace {

std::uint32_t Handle(StubCall& call) {
  auto* browse = static_cast<IOPCBrowseServerAddressSpace*>(call.itf);
  NdrReader& in = call.in;
  NdrWriter& out = call.out;
  switch (call.opnum()) {
    case kQueryOrganization: {
      OPCNAMESPACETYPE type = OPC_NS_FLAT;
      HRESULT hr = browse->QueryOrganization(&type);
      out.U16(static_cast<std::uint16_t>(type));
      out.I32(hr);
      return 0;
    }
    case kChangeBrowsePosition: {
      auto direction = static_cast<OPCBROWSEDIRECTION>(in.U16());
      std::u16string name = GetString(in);
      if (!in.ok()) return kFaultBadStubData;
      out.I32(browse->ChangeBrowsePosition(direction, name.c_str()));
      return 0;
    }
    case kBrowseOpcItemIds: {
      auto type = static_cast<OPCBROWSETYPE>(in.U16());
      std::u16string filter = GetString(in);
      VARTYPE vt = in.U16();
      DWORD rights = in.U32();
      if (!in.ok()) return kFaultBadStubData;
      IEnumString* names = nullptr;
      HRESULT hr = browse->BrowseOPCItemIDs(type, filter.c_str(), vt, rights, &names);
      PutObject(call, names, IID_IEnumString, &hr);
      out.I32(hr);
      return 0;
    }
    case kGetItemId: {
      std::u16string name = GetString(in);
      if (!in.ok()) return kFaultBadStubData;
      LPWSTR id = nullptr;
      HRESULT hr = browse->GetItemID(name.data(), &id);
      PutString(out, id);
      out.I32(hr);
      return 0;
    }
    case kBrowseAccessPaths: {
      std::u16string item = GetString(in);
      if (!in.ok()) return kFaultBadStubData;
      IEnumString* paths = nullptr;
      HRESULT hr = browse->BrowseAccessPaths(item.c_str(), &paths);
      PutObject(call, paths, IID_IEnumString, &hr);
      out.I32(hr);
      return 0;
    }
    default:
      return kFaultOpRange;
  }
}

}  // namespace

InterfaceStub BrowseStub() {
  return {IID_IOPCBrowseServerAddressSpace, "IOPCBrowseServerAddressSpace", Handle};
}

}  // namespace tagwell::dcom::opc
