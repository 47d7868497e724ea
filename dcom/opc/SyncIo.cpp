// The stub of IOPCSyncIO. A caller whose account may only read is refused
// every write item by item with OPC_E_BADRIGHTS, as a server refuses an
// item it may not write; the object is not called.
#include "dcom/NdrOaut.h"
#include "dcom/Runtime.h"
#include "dcom/opc/OpcNdr.h"
#include "dcom/opc/Opnums.h"
#include "dcom/opc/Stubs.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace opnum::sync_io;
using namespace stub;

namespace {

std::uint32_t Read(StubCall& call, IOPCSyncIO* io) {
  auto source = static_cast<OPCDATASOURCE>(call.in.U16());
  DWORD count = call.in.U32();
  auto handles = GetArray<OPCHANDLE>(call.in, count);
  if (!call.in.ok()) return kFaultBadStubData;
  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  HRESULT hr = io->Read(source, count, handles.data(), &states, &errors);
  HRESULT written = WriteItemStates(call.out, states, count);
  FreeItemStates(states, states ? count : 0);
  if (FAILED(written)) {
    // A value that cannot travel fails the call; nothing half-written goes.
    CoTaskMemFree(errors);
    call.out = NdrWriter();
    WriteOrpcThat(call.out);
    call.out.Pointer(false);
    call.out.Pointer(false);
    call.out.I32(written);
    return 0;
  }
  PutErrors(call.out, errors, count);
  call.out.I32(hr);
  return 0;
}

struct Values {
  std::vector<VARIANT> items;
  ~Values() {
    for (auto& v : items) VariantClear(&v);
  }
};

std::uint32_t Write(StubCall& call, IOPCSyncIO* io) {
  NdrReader& in = call.in;
  DWORD count = in.U32();
  auto handles = GetArray<OPCHANDLE>(in, count);
  std::uint32_t n = in.Conformance(4);
  if (n != count) in.Fail();
  Values values;
  values.items.resize(in.ok() ? n : 0);
  for (auto& v : values.items) VariantInit(&v);
  std::vector<std::uint32_t> present(values.items.size());
  for (auto& p : present) p = in.Pointer();
  for (std::size_t i = 0; i < present.size() && in.ok(); ++i) {
    if (!present[i]) in.Fail();
    ReadVariantBody(in, &values.items[i]);
  }
  if (!in.ok()) return kFaultBadStubData;
  if (call.readOnly()) {
    if (count == 0) {
      PutErrors(call.out, nullptr, 0);
      call.out.I32(E_INVALIDARG);
      return 0;
    }
    std::vector<HRESULT> refused(count, OPC_E_BADRIGHTS);
    call.out.Pointer(true);
    call.out.Conformance(count);
    for (HRESULT hr : refused) call.out.I32(hr);
    call.out.I32(S_FALSE);
    return 0;
  }
  HRESULT* errors = nullptr;
  HRESULT hr = io->Write(count, handles.data(), values.items.data(), &errors);
  PutErrors(call.out, errors, count);
  call.out.I32(hr);
  return 0;
}

std::uint32_t Handle(StubCall& call) {
  auto* io = static_cast<IOPCSyncIO*>(call.itf);
  switch (call.opnum()) {
    case kRead:
      return Read(call, io);
    case kWrite:
      return Write(call, io);
    default:
      return kFaultOpRange;
  }
}

}  // namespace

InterfaceStub SyncIoStub() {
  return {IID_IOPCSyncIO, "IOPCSyncIO", Handle};
}

}  // namespace tagwell::dcom::opc
