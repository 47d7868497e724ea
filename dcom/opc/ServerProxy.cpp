// IOPCServer over DCOM, and what the proxies share.
#include "dcom/opc/ClientProxies.h"
#include "dcom/opc/OpcNdr.h"
#include "dcom/opc/Opnums.h"
#include "platform/com/Text.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace opnum::server;

namespace {}  // namespace

void PutString(NdrWriter& w, LPCWSTR text) {
  w.WideString(WideView(text));
}

LPWSTR TakeString(NdrReader& r) {
  if (!r.Pointer()) return nullptr;
  std::u16string text = r.WideString();
  if (!r.ok()) return nullptr;
  auto* out = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
  if (!out) return nullptr;
  std::copy(text.begin(), text.end(), out);
  out[text.size()] = 0;
  return out;
}

HRESULT ServerProxy::AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate,
                              OPCHANDLE hClientGroup, LONG* pTimeBias, FLOAT* pPercentDeadband,
                              DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate,
                              REFIID riid, LPUNKNOWN* ppUnk) {
  if (!phServerGroup || !pRevisedUpdateRate || !ppUnk) return E_POINTER;
  *ppUnk = nullptr;
  return CallForObject(
      IID_IOPCServer, kAddGroup,
      [&](NdrWriter& w) {
        PutString(w, szName ? szName : u"");
        w.I32(bActive);
        w.U32(dwRequestedUpdateRate);
        w.U32(hClientGroup);
        if (w.Pointer(pTimeBias != nullptr)) w.I32(*pTimeBias);
        if (w.Pointer(pPercentDeadband != nullptr)) w.F32(*pPercentDeadband);
        w.U32(dwLCID);
        w.Guid(riid);
      },
      riid, reinterpret_cast<void**>(ppUnk),
      [&](NdrReader& in) {
        *phServerGroup = in.U32();
        *pRevisedUpdateRate = in.U32();
      });
}

HRESULT ServerProxy::GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) {
  if (!ppString) return E_POINTER;
  *ppString = nullptr;
  HRESULT answer = E_FAIL;
  LPWSTR text = nullptr;
  HRESULT hr = Call(
      IID_IOPCServer, kGetErrorString,
      [&](NdrWriter& w) {
        w.I32(dwError);
        w.U32(dwLocale);
      },
      [&](NdrReader& in) {
        text = TakeString(in);
        answer = in.I32();
      });
  if (FAILED(hr)) {
    CoTaskMemFree(text);
    return hr;
  }
  *ppString = text;
  return answer;
}

HRESULT ServerProxy::GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) {
  if (!szName || !ppUnk) return E_INVALIDARG;
  *ppUnk = nullptr;
  return CallForObject(
      IID_IOPCServer, kGetGroupByName,
      [&](NdrWriter& w) {
        PutString(w, szName);
        w.Guid(riid);
      },
      riid, reinterpret_cast<void**>(ppUnk));
}

HRESULT ServerProxy::GetStatus(OPCSERVERSTATUS** ppServerStatus) {
  if (!ppServerStatus) return E_POINTER;
  *ppServerStatus = nullptr;
  HRESULT answer = E_FAIL;
  OPCSERVERSTATUS* status = nullptr;
  HRESULT hr = Call(
      IID_IOPCServer, kGetStatus, [](NdrWriter&) {},
      [&](NdrReader& in) {
        status = ReadServerStatus(in);
        answer = in.I32();
      });
  if (FAILED(hr)) {
    FreeServerStatus(status);
    return hr;
  }
  *ppServerStatus = status;
  return answer;
}

HRESULT ServerProxy::RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) {
  HRESULT answer = E_FAIL;
  HRESULT hr = Call(
      IID_IOPCServer, kRemoveGroup,
      [&](NdrWriter& w) {
        w.U32(hServerGroup);
        w.I32(bForce);
      },
      [&](NdrReader& in) { answer = in.I32(); });
  return FAILED(hr) ? hr : answer;
}

HRESULT ServerProxy::CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) {
  if (!ppUnk) return E_POINTER;
  *ppUnk = nullptr;
  return CallForObject(
      IID_IOPCServer, kCreateGroupEnumerator,
      [&](NdrWriter& w) {
        w.U16(static_cast<std::uint16_t>(dwScope));
        w.Guid(riid);
      },
      riid, reinterpret_cast<void**>(ppUnk));
}

}  // namespace tagwell::dcom::opc
