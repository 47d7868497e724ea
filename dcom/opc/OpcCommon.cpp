// The stub of IOPCCommon, answered by the DCOM layer for a server object:
// the locale and the client's name are kept per object; error texts come
// from the server's IOPCServer.
#include "dcom/Iids.h"
#include "dcom/Runtime.h"
#include "dcom/opc/Stubs.h"
#include "platform/opcda/OpcDa.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace stub;

namespace {

enum : std::uint16_t {
  kSetLocaleId = 3,
  kGetLocaleId,
  kQueryAvailableLocaleIds,
  kGetErrorString,
  kSetClientName,
};

// LOCALE_NEUTRAL, LOCALE_SYSTEM_DEFAULT, LOCALE_USER_DEFAULT and en-US:
// the server's texts are English.
constexpr LCID kLocales[] = {0x0000, 0x0800, 0x0400, 0x0409};

std::uint32_t Handle(StubCall& call) {
  auto* server = static_cast<IOPCServer*>(call.itf);
  NdrReader& in = call.in;
  NdrWriter& out = call.out;
  ObjectState& state = *call.state;
  switch (call.opnum()) {
    case kSetLocaleId: {
      LCID locale = in.U32();
      if (!in.ok()) return kFaultBadStubData;
      HRESULT hr = E_INVALIDARG;
      for (LCID known : kLocales)
        if (locale == known) hr = S_OK;
      if (SUCCEEDED(hr)) {
        std::lock_guard lock(state.mutex);
        state.locale = locale;
      }
      out.I32(hr);
      return 0;
    }
    case kGetLocaleId: {
      std::lock_guard lock(state.mutex);
      out.U32(state.locale);
      out.I32(S_OK);
      return 0;
    }
    case kQueryAvailableLocaleIds: {
      constexpr auto n = static_cast<std::uint32_t>(std::size(kLocales));
      out.U32(n);
      out.Pointer(true);
      out.Conformance(n);
      for (LCID locale : kLocales) out.U32(locale);
      out.I32(S_OK);
      return 0;
    }
    case kGetErrorString: {
      HRESULT error = in.I32();
      if (!in.ok()) return kFaultBadStubData;
      LCID locale = 0;
      {
        std::lock_guard lock(state.mutex);
        locale = state.locale;
      }
      LPWSTR text = nullptr;
      HRESULT hr = server->GetErrorString(error, locale, &text);
      PutString(out, text);
      out.I32(hr);
      return 0;
    }
    case kSetClientName: {
      std::u16string name = GetString(in);
      if (!in.ok()) return kFaultBadStubData;
      std::lock_guard lock(state.mutex);
      state.clientName = name;
      out.I32(S_OK);
      return 0;
    }
    default:
      return kFaultOpRange;
  }
}

}  // namespace

InterfaceStub OpcCommonStub() {
  return {IID_IOPCCommon, "IOPCCommon", Handle};
}

}  // namespace tagwell::dcom::opc
