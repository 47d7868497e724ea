// IOPCSyncIO over DCOM.
#include "dcom/NdrOaut.h"
#include "dcom/opc/ClientProxies.h"
#include "dcom/opc/OpcNdr.h"
#include "dcom/opc/Opnums.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace opnum::sync_io;

namespace {}  // namespace

HRESULT SyncIoProxy::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                          OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) {
  if (!ppItemValues || !ppErrors) return E_POINTER;
  *ppItemValues = nullptr;
  *ppErrors = nullptr;
  if (dwCount == 0 || !phServer) return E_INVALIDARG;
  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  HRESULT answer = E_FAIL;
  HRESULT hr = Call(
      IID_IOPCSyncIO, kRead,
      [&](NdrWriter& w) {
        w.U16(static_cast<std::uint16_t>(dwSource));
        w.U32(dwCount);
        w.Array<OPCHANDLE>({phServer, dwCount});
      },
      [&](NdrReader& in) {
        states = ReadItemStates(in, dwCount);
        // The last state's value body is padded to 8 bytes.
        if (states) in.Align(8);
        errors = ReadErrors(in, dwCount);
        answer = in.I32();
      });
  if (FAILED(hr)) {
    FreeItemStates(states, states ? dwCount : 0);
    CoTaskMemFree(errors);
    return hr;
  }
  *ppItemValues = states;
  *ppErrors = errors;
  return answer;
}

HRESULT SyncIoProxy::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                           HRESULT** ppErrors) {
  if (!ppErrors) return E_POINTER;
  *ppErrors = nullptr;
  if (dwCount == 0 || !phServer || !pItemValues) return E_INVALIDARG;
  for (DWORD i = 0; i < dwCount; ++i)
    if (!WireVariantType(pItemValues[i].vt)) return DISP_E_BADVARTYPE;
  HRESULT* errors = nullptr;
  HRESULT answer = E_FAIL;
  HRESULT hr = Call(
      IID_IOPCSyncIO, kWrite,
      [&](NdrWriter& w) {
        w.U32(dwCount);
        w.Array<OPCHANDLE>({phServer, dwCount});
        w.Conformance(dwCount);
        for (DWORD i = 0; i < dwCount; ++i) w.Pointer(true);
        for (DWORD i = 0; i < dwCount; ++i) WriteVariantBody(w, pItemValues[i]);
      },
      [&](NdrReader& in) {
        errors = ReadErrors(in, dwCount);
        answer = in.I32();
      });
  if (FAILED(hr)) {
    CoTaskMemFree(errors);
    return hr;
  }
  *ppErrors = errors;
  return answer;
}

}  // namespace tagwell::dcom::opc
