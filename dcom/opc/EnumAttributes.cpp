// The stub of IEnumOPCItemAttributes.
#include "dcom/Runtime.h"
#include "dcom/opc/EnumStub.h"
#include "dcom/opc/OpcNdr.h"
#include "dcom/opc/Stubs.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace stub;

namespace {

std::uint32_t Next(StubCall& call, IEnumOPCItemAttributes* records) {
  ULONG celt = call.in.U32();
  if (!call.in.ok()) return kFaultBadStubData;
  OPCITEMATTRIBUTES* array = nullptr;
  ULONG fetched = 0;
  HRESULT hr = celt > kMaxEnumBatch ? E_INVALIDARG : records->Next(celt, &array, &fetched);
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
  return HandleEnumerator<IEnumOPCItemAttributes>(call, IID_IEnumOPCItemAttributes, Next);
}

}  // namespace

InterfaceStub EnumAttributesStub() {
  return {IID_IEnumOPCItemAttributes, "IEnumOPCItemAttributes", Handle};
}

}  // namespace tagwell::dcom::opc
