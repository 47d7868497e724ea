// The stub of IOPCItemMgt.
#include "dcom/Runtime.h"
#include "dcom/opc/OpcNdr.h"
#include "dcom/opc/Opnums.h"
#include "dcom/opc/Stubs.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace opnum::item_mgt;
using namespace stub;

namespace {

std::uint32_t AddOrValidate(StubCall& call, IOPCItemMgt* items) {
  DWORD count = call.in.U32();
  ItemDefs defs;
  defs.Read(call.in, count);
  BOOL blobUpdate = call.opnum() == kValidateItems ? call.in.I32() : 0;
  if (!call.in.ok()) return kFaultBadStubData;
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  HRESULT hr = call.opnum() == kAddItems
                   ? items->AddItems(count, defs.data(), &results, &errors)
                   : items->ValidateItems(count, defs.data(), blobUpdate, &results, &errors);
  WriteItemResults(call.out, results, count);
  FreeItemResults(results, results ? count : 0);
  PutErrors(call.out, errors, count);
  call.out.I32(hr);
  return 0;
}

// The per-item calls that take server handles and give errors back.
std::uint32_t PerItem(StubCall& call, IOPCItemMgt* items) {
  NdrReader& in = call.in;
  DWORD count = in.U32();
  auto handles = GetArray<OPCHANDLE>(in, count);
  HRESULT* errors = nullptr;
  HRESULT hr = E_FAIL;
  switch (call.opnum()) {
    case kRemoveItems:
      if (!in.ok()) return kFaultBadStubData;
      hr = items->RemoveItems(count, handles.data(), &errors);
      break;
    case kSetActiveState: {
      BOOL active = in.I32();
      if (!in.ok()) return kFaultBadStubData;
      hr = items->SetActiveState(count, handles.data(), active, &errors);
      break;
    }
    case kSetClientHandles: {
      auto clients = GetArray<OPCHANDLE>(in, count);
      if (!in.ok()) return kFaultBadStubData;
      hr = items->SetClientHandles(count, handles.data(), clients.data(), &errors);
      break;
    }
    default: {
      auto types = GetArray<VARTYPE>(in, count);
      if (!in.ok()) return kFaultBadStubData;
      hr = items->SetDatatypes(count, handles.data(), types.data(), &errors);
    }
  }
  PutErrors(call.out, errors, count);
  call.out.I32(hr);
  return 0;
}

std::uint32_t Handle(StubCall& call) {
  auto* items = static_cast<IOPCItemMgt*>(call.itf);
  switch (call.opnum()) {
    case kAddItems:
    case kValidateItems:
      return AddOrValidate(call, items);
    case kRemoveItems:
    case kSetActiveState:
    case kSetClientHandles:
    case kSetDatatypes:
      return PerItem(call, items);
    case kCreateEnumerator: {
      IID iid = call.in.Guid();
      if (!call.in.ok()) return kFaultBadStubData;
      IUnknown* enumerator = nullptr;
      HRESULT hr = items->CreateEnumerator(iid, &enumerator);
      PutObject(call, enumerator, iid, &hr);
      call.out.I32(hr);
      return 0;
    }
    default:
      return kFaultOpRange;
  }
}

}  // namespace

InterfaceStub ItemMgtStub() {
  return {IID_IOPCItemMgt, "IOPCItemMgt", Handle};
}

}  // namespace tagwell::dcom::opc
