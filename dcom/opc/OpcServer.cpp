// The stub of IOPCServer.
#include "dcom/Iids.h"
#include "dcom/NdrOaut.h"
#include "dcom/Runtime.h"
#include "dcom/opc/OpcNdr.h"
#include "dcom/opc/Opnums.h"
#include "dcom/opc/Stubs.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace opnum::server;
using namespace stub;

namespace {

struct GroupRequest {
  std::u16string name;
  BOOL active = 0;
  DWORD rate = 0;
  OPCHANDLE client = 0;
  bool hasTimeBias = false, hasDeadband = false;
  LONG timeBias = 0;
  FLOAT deadband = 0;
  DWORD lcid = 0;
  IID iid{};
};

GroupRequest ReadGroupRequest(NdrReader& in) {
  GroupRequest g;
  g.name = GetString(in);
  g.active = in.I32();
  g.rate = in.U32();
  g.client = in.U32();
  if ((g.hasTimeBias = in.Pointer() != 0)) g.timeBias = in.I32();
  if ((g.hasDeadband = in.Pointer() != 0)) g.deadband = in.F32();
  g.lcid = in.U32();
  g.iid = in.Guid();
  return g;
}

// Keeps what IOPCGroupStateMgt answers about the group just exported.
void RememberGroup(StubCall& call, IUnknown* group, const GroupRequest& g, OPCHANDLE server,
                   DWORD rate) {
  auto state = call.runtime.exporter().StateOf(group);
  if (!state) return;
  std::lock_guard lock(state->mutex);
  state->isGroup = true;
  state->name = g.name;
  state->updateRate = rate;
  state->active = g.active;
  state->timeBias = g.timeBias;
  state->deadband = g.deadband;
  state->locale = g.lcid;
  state->clientGroup = g.client;
  state->serverGroup = server;
}

std::uint32_t AddGroup(StubCall& call, IOPCServer* server) {
  GroupRequest g = ReadGroupRequest(call.in);
  if (!call.in.ok()) return kFaultBadStubData;
  OPCHANDLE handle = 0;
  DWORD revised = 0;
  IUnknown* group = nullptr;
  HRESULT hr = server->AddGroup(
      g.name.c_str(), g.active, g.rate, g.client, g.hasTimeBias ? &g.timeBias : nullptr,
      g.hasDeadband ? &g.deadband : nullptr, g.lcid, &handle, &revised, g.iid, &group);
  call.out.U32(handle);
  call.out.U32(revised);
  ComPtr<IUnknown> keep(group);
  PutObject(call, group, g.iid, &hr);
  if (SUCCEEDED(hr) && keep) RememberGroup(call, keep.Get(), g, handle, revised);
  call.out.I32(hr);
  return 0;
}

std::uint32_t Handle(StubCall& call) {
  auto* server = static_cast<IOPCServer*>(call.itf);
  NdrReader& in = call.in;
  NdrWriter& out = call.out;
  switch (call.opnum()) {
    case kAddGroup:
      return AddGroup(call, server);
    case kGetErrorString: {
      HRESULT error = in.I32();
      LCID locale = in.U32();
      if (!in.ok()) return kFaultBadStubData;
      LPWSTR text = nullptr;
      HRESULT hr = server->GetErrorString(error, locale, &text);
      PutString(out, text);
      out.I32(hr);
      return 0;
    }
    case kGetGroupByName: {
      std::u16string name = GetString(in);
      IID iid = in.Guid();
      if (!in.ok()) return kFaultBadStubData;
      IUnknown* group = nullptr;
      HRESULT hr = server->GetGroupByName(name.c_str(), iid, &group);
      PutObject(call, group, iid, &hr);
      out.I32(hr);
      return 0;
    }
    case kGetStatus: {
      OPCSERVERSTATUS* status = nullptr;
      HRESULT hr = server->GetStatus(&status);
      WriteServerStatus(out, status);
      FreeServerStatus(status);
      out.I32(hr);
      return 0;
    }
    case kRemoveGroup: {
      OPCHANDLE handle = in.U32();
      BOOL force = in.I32();
      if (!in.ok()) return kFaultBadStubData;
      out.I32(server->RemoveGroup(handle, force));
      return 0;
    }
    case kCreateGroupEnumerator: {
      auto scope = static_cast<OPCENUMSCOPE>(in.U16());
      IID iid = in.Guid();
      if (!in.ok()) return kFaultBadStubData;
      IUnknown* enumerator = nullptr;
      HRESULT hr = server->CreateGroupEnumerator(scope, iid, &enumerator);
      PutObject(call, enumerator, iid, &hr);
      out.I32(hr);
      return 0;
    }
    default:
      return kFaultOpRange;
  }
}

}  // namespace

InterfaceStub OpcServerStub() {
  return {IID_IOPCServer, "IOPCServer", Handle};
}

}  // namespace tagwell::dcom::opc
