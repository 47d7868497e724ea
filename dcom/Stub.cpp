#include "dcom/Stub.h"

#include "dcom/NdrOaut.h"
#include "dcom/Runtime.h"
#include "dcom/opc/Stubs.h"
#include "platform/com/Memory.h"
#include "platform/com/Text.h"

namespace tagwell::dcom {

using namespace com;

const std::vector<InterfaceStub>& Stubs() {
  static const std::vector<InterfaceStub> stubs = {
      opc::OpcServerStub(),   opc::OpcCommonStub(),   opc::ItemPropertiesStub(),
      opc::BrowseStub(),      opc::GroupStateStub(),  opc::ItemMgtStub(),
      opc::SyncIoStub(),      opc::EnumStringStub(),  opc::EnumAttributesStub(),
      opc::ServerListStub(),  opc::ServerList2Stub(), opc::EnumGuidStub(),
      opc::OpcEnumGuidStub(),
  };
  return stubs;
}

const InterfaceStub* FindStub(const IID& iid) {
  for (const auto& stub : Stubs())
    if (stub.iid == iid) return &stub;
  return nullptr;
}

namespace stub {

void PutObject(StubCall& call, IUnknown* object, const IID& iid, HRESULT* hr) {
  if (!object) {
    call.out.Pointer(false);
    return;
  }
  std::vector<std::uint8_t> objref;
  HRESULT marshalled = call.runtime.exporter().MarshalObjref(object, iid, &objref);
  object->Release();
  if (FAILED(marshalled)) {
    call.out.Pointer(false);
    if (SUCCEEDED(*hr)) *hr = marshalled;
    return;
  }
  call.out.Pointer(true);
  WriteInterfacePointer(call.out, objref);
}

void PutErrors(NdrWriter& w, HRESULT* errors, std::uint32_t n) {
  if (w.Pointer(errors != nullptr)) {
    w.Conformance(n);
    for (std::uint32_t i = 0; i < n; ++i) w.I32(errors[i]);
  }
  CoTaskMemFree(errors);
}

void PutString(NdrWriter& w, LPWSTR text) {
  if (w.Pointer(text != nullptr)) w.WideString(WideView(text));
  CoTaskMemFree(text);
}

std::u16string GetString(NdrReader& r) {
  return r.WideString();
}

bool GetUniqueString(NdrReader& r, std::u16string* text) {
  if (!r.Pointer()) return false;
  *text = r.WideString();
  return true;
}

}  // namespace stub

}  // namespace tagwell::dcom
