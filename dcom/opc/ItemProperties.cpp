// The stub of IOPCItemProperties.
#include "dcom/NdrOaut.h"
#include "dcom/Runtime.h"
#include "dcom/opc/Opnums.h"
#include "dcom/opc/Stubs.h"
#include "platform/com/Memory.h"
#include "platform/com/Text.h"
#include "platform/opcda/OpcDa.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace opnum::item_properties;
using namespace stub;

namespace {

// [out, size_is(,n)] LPWSTR**: the array and its strings, freed here.
void PutStrings(NdrWriter& w, LPWSTR* texts, std::uint32_t n) {
  if (w.Pointer(texts != nullptr)) {
    w.Conformance(n);
    for (std::uint32_t i = 0; i < n; ++i) w.Pointer(texts[i] != nullptr);
    for (std::uint32_t i = 0; i < n; ++i)
      if (texts[i]) w.WideString(WideView(texts[i]));
  }
  for (std::uint32_t i = 0; texts && i < n; ++i) CoTaskMemFree(texts[i]);
  CoTaskMemFree(texts);
}

// [out, size_is(,n)] VARIANT**: the values, cleared and freed here. A value
// that cannot travel goes as VT_EMPTY.
void PutVariants(NdrWriter& w, VARIANT* values, std::uint32_t n) {
  if (w.Pointer(values != nullptr)) {
    w.Conformance(n);
    for (std::uint32_t i = 0; i < n; ++i) w.Pointer(true);
    for (std::uint32_t i = 0; i < n; ++i) {
      if (!WireVariantType(values[i].vt)) VariantClear(&values[i]);
      WriteVariantBody(w, values[i]);
    }
  }
  for (std::uint32_t i = 0; values && i < n; ++i) VariantClear(&values[i]);
  CoTaskMemFree(values);
}

std::uint32_t QueryAvailable(StubCall& call, IOPCItemProperties* properties) {
  std::u16string item = GetString(call.in);
  if (!call.in.ok()) return kFaultBadStubData;
  DWORD count = 0;
  DWORD* ids = nullptr;
  LPWSTR* descriptions = nullptr;
  VARTYPE* types = nullptr;
  HRESULT hr =
      properties->QueryAvailableProperties(item.data(), &count, &ids, &descriptions, &types);
  NdrWriter& out = call.out;
  out.U32(count);
  if (out.Pointer(ids != nullptr)) out.Array<DWORD>({ids, count});
  PutStrings(out, descriptions, count);
  if (out.Pointer(types != nullptr)) {
    out.Conformance(count);
    for (DWORD i = 0; i < count; ++i) out.U16(types[i]);
  }
  CoTaskMemFree(ids);
  CoTaskMemFree(types);
  out.I32(hr);
  return 0;
}

std::uint32_t Handle(StubCall& call) {
  auto* properties = static_cast<IOPCItemProperties*>(call.itf);
  if (call.opnum() == kQueryAvailableProperties) return QueryAvailable(call, properties);
  if (call.opnum() != kGetItemProperties && call.opnum() != kLookupItemIds) return kFaultOpRange;
  std::u16string item = GetString(call.in);
  DWORD count = call.in.U32();
  auto ids = GetArray<DWORD>(call.in, count);
  if (!call.in.ok()) return kFaultBadStubData;
  HRESULT* errors = nullptr;
  HRESULT hr;
  if (call.opnum() == kGetItemProperties) {
    VARIANT* values = nullptr;
    hr = properties->GetItemProperties(item.data(), count, ids.data(), &values, &errors);
    PutVariants(call.out, values, count);
  } else {
    LPWSTR* names = nullptr;
    hr = properties->LookupItemIDs(item.data(), count, ids.data(), &names, &errors);
    PutStrings(call.out, names, count);
  }
  PutErrors(call.out, errors, count);
  call.out.I32(hr);
  return 0;
}

}  // namespace

InterfaceStub ItemPropertiesStub() {
  return {IID_IOPCItemProperties, "IOPCItemProperties", Handle};
}

}  // namespace tagwell::dcom::opc
