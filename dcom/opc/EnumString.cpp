// The stub of IEnumString (its remote Next: the strings fetched in a
// conformant varying array, then their count).
#include "dcom/Runtime.h"
#include "dcom/opc/EnumStub.h"
#include "dcom/opc/Stubs.h"
#include "platform/com/Memory.h"
#include "platform/com/Text.h"
#include "platform/opcda/OpcDa.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace stub;

namespace {

std::uint32_t Next(StubCall& call, IEnumString* names) {
  ULONG celt = call.in.U32();
  if (!call.in.ok()) return kFaultBadStubData;
  NdrWriter& out = call.out;
  if (celt > kMaxEnumBatch) {
    out.Conformance(celt);
    out.U32(0);
    out.U32(0);
    out.U32(0);
    out.I32(E_INVALIDARG);
    return 0;
  }
  std::vector<LPOLESTR> texts(celt, nullptr);
  ULONG fetched = 0;
  HRESULT hr = names->Next(celt, texts.data(), &fetched);
  if (FAILED(hr) || fetched > celt) fetched = 0;
  out.Conformance(celt);
  out.U32(0);
  out.U32(fetched);
  for (ULONG i = 0; i < fetched; ++i) out.Pointer(texts[i] != nullptr);
  for (ULONG i = 0; i < fetched; ++i)
    if (texts[i]) out.WideString(WideView(texts[i]));
  for (LPOLESTR text : texts) CoTaskMemFree(text);
  out.U32(fetched);
  out.I32(hr);
  return 0;
}

std::uint32_t Handle(StubCall& call) {
  return HandleEnumerator<IEnumString>(call, IID_IEnumString, Next);
}

}  // namespace

InterfaceStub EnumStringStub() {
  return {IID_IEnumString, "IEnumString", Handle};
}

}  // namespace tagwell::dcom::opc
