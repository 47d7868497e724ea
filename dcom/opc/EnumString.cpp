// The stub of IEnumString (its remote Next: the strings fetched in a
// conformant varying array, then their count).
#include "dcom/Runtime.h"
#include "dcom/opc/Stubs.h"
#include "platform/com/Memory.h"
#include "platform/com/Text.h"
#include "platform/opcda/OpcDa.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace stub;

namespace {

enum : std::uint16_t { kNext = 3, kSkip, kReset, kClone };

// The most entries one Next may ask for: bounds what one request makes the
// server hold.
constexpr ULONG kMaxBatch = 4096;

std::uint32_t Next(StubCall& call, IEnumString* names) {
  ULONG celt = call.in.U32();
  if (!call.in.ok()) return kFaultBadStubData;
  NdrWriter& out = call.out;
  if (celt > kMaxBatch) {
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
  auto* names = static_cast<IEnumString*>(call.itf);
  switch (call.opnum()) {
    case kNext:
      return Next(call, names);
    case kSkip: {
      ULONG n = call.in.U32();
      if (!call.in.ok()) return kFaultBadStubData;
      call.out.I32(names->Skip(n));
      return 0;
    }
    case kReset:
      call.out.I32(names->Reset());
      return 0;
    case kClone: {
      IEnumString* copy = nullptr;
      HRESULT hr = names->Clone(&copy);
      PutObject(call, copy, IID_IEnumString, &hr);
      call.out.I32(hr);
      return 0;
    }
    default:
      return kFaultOpRange;
  }
}

}  // namespace

InterfaceStub EnumStringStub() {
  return {IID_IEnumString, "IEnumString", Handle};
}

}  // namespace tagwell::dcom::opc
