// The stub of IOPCGroupStateMgt, answered by the DCOM layer for a group:
// the state AddGroup set, changed by SetState and SetName. Synchronous
// reads from the device, the only reads served, do not depend on it.
#include "dcom/Iids.h"
#include "dcom/Runtime.h"
#include "dcom/opc/Stubs.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace stub;

namespace {

enum : std::uint16_t { kGetState = 3, kSetState, kSetName, kCloneGroup };

std::uint32_t GetState(StubCall& call) {
  ObjectState& s = *call.state;
  std::lock_guard lock(s.mutex);
  NdrWriter& out = call.out;
  out.U32(s.updateRate);
  out.I32(s.active);
  out.Pointer(true);
  out.WideString(s.name);
  out.I32(s.timeBias);
  out.F32(s.deadband);
  out.U32(s.locale);
  out.U32(s.clientGroup);
  out.U32(s.serverGroup);
  out.I32(S_OK);
  return 0;
}

std::uint32_t SetState(StubCall& call) {
  NdrReader& in = call.in;
  bool hasRate = in.Pointer() != 0;
  DWORD rate = hasRate ? in.U32() : 0;
  bool hasActive = in.Pointer() != 0;
  BOOL active = hasActive ? in.I32() : 0;
  bool hasBias = in.Pointer() != 0;
  LONG bias = hasBias ? in.I32() : 0;
  bool hasDeadband = in.Pointer() != 0;
  FLOAT deadband = hasDeadband ? in.F32() : 0;
  bool hasLocale = in.Pointer() != 0;
  DWORD locale = hasLocale ? in.U32() : 0;
  bool hasClient = in.Pointer() != 0;
  DWORD client = hasClient ? in.U32() : 0;
  if (!in.ok()) return kFaultBadStubData;
  HRESULT hr = S_OK;
  ObjectState& s = *call.state;
  std::lock_guard lock(s.mutex);
  if (hasDeadband && (deadband < 0 || deadband > 100)) hr = E_INVALIDARG;
  if (SUCCEEDED(hr)) {
    if (hasRate) s.updateRate = rate;
    if (hasActive) s.active = active;
    if (hasBias) s.timeBias = bias;
    if (hasDeadband) s.deadband = deadband;
    if (hasLocale) s.locale = locale;
    if (hasClient) s.clientGroup = client;
  }
  call.out.U32(s.updateRate);
  call.out.I32(hr);
  return 0;
}

std::uint32_t Handle(StubCall& call) {
  switch (call.opnum()) {
    case kGetState:
      return GetState(call);
    case kSetState:
      return SetState(call);
    case kSetName: {
      std::u16string name = GetString(call.in);
      if (!call.in.ok()) return kFaultBadStubData;
      HRESULT hr = name.empty() ? E_INVALIDARG : S_OK;
      if (SUCCEEDED(hr)) {
        std::lock_guard lock(call.state->mutex);
        call.state->name = name;
      }
      call.out.I32(hr);
      return 0;
    }
    case kCloneGroup: {
      GetString(call.in);
      call.in.Guid();
      if (!call.in.ok()) return kFaultBadStubData;
      call.out.Pointer(false);
      call.out.I32(E_NOTIMPL);
      return 0;
    }
    default:
      return kFaultOpRange;
  }
}

}  // namespace

InterfaceStub GroupStateStub() {
  return {IID_IOPCGroupStateMgt, "IOPCGroupStateMgt", Handle};
}

}  // namespace tagwell::dcom::opc
