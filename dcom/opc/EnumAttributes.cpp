// The stub of IEnumOPCItemAttributes.
#include "dcom/Runtime.h"
#include "dcom/opc/OpcNdr.h"
#include "dcom/opc/Stubs.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace stub;

namespace {

enum : std::uint16_t { kNext = 3, kSkip, kReset, kClone };

constexpr ULONG kMaxBatch = 4096;

std::uint32_t Next(StubCall& call, IEnumOPCItemAttributes* records) {
  ULONG celt = call.in.U32();
  if (!call.in.ok()) return kFaultBadStubData;
  OPCITEMATTRIBUTES* array = nullptr;
  ULONG fetched = 0;
  HRESULT hr = celt > kMaxBatch ? E_INVALIDARG : records->Next(celt, &array, &fetched);
  if (fetched > celt) fetched = 0;
  HRESULT written = WriteItemAttributes(call.out, array, fetched);
  FreeItemAttributes(array, array ? fetched : 0);
  if (FAILED(written)) {
    call.out = NdrWriter();
    WriteOrpcThat(call.out);
    call.out.Pointer(false);
    fetched = 0;
    hr = written;
  }
  call.out.U32(fetched);
  call.out.I32(hr);
  return 0;
}

std::uint32_t Handle(StubCall& call) {
  auto* records = static_cast<IEnumOPCItemAttributes*>(call.itf);
  switch (call.opnum()) {
    case kNext:
      return Next(call, records);
    case kSkip: {
      ULONG n = call.in.U32();
      if (!call.in.ok()) return kFaultBadStubData;
      call.out.I32(records->Skip(n));
      return 0;
    }
    case kReset:
      call.out.I32(records->Reset());
      return 0;
    case kClone: {
      IEnumOPCItemAttributes* copy = nullptr;
      HRESULT hr = records->Clone(&copy);
      PutObject(call, copy, IID_IEnumOPCItemAttributes, &hr);
      call.out.I32(hr);
      return 0;
    }
    default:
      return kFaultOpRange;
  }
}

}  // namespace

InterfaceStub EnumAttributesStub() {
  return {IID_IEnumOPCItemAttributes, "IEnumOPCItemAttributes", Handle};
}

}  // namespace tagwell::dcom::opc
