// IOPCItemMgt over DCOM.
#include "dcom/opc/ClientProxies.h"
#include "dcom/opc/OpcNdr.h"
#include "dcom/opc/Opnums.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace opnum::item_mgt;

namespace {}  // namespace

namespace {

// AddItems and ValidateItems: the definitions out, results and errors back.
HRESULT ItemsCall(RemoteObject& owner, const IPID& ipid, std::uint16_t opnum, DWORD count,
                  OPCITEMDEF* defs, BOOL blobUpdate, OPCITEMRESULT** ppResults,
                  HRESULT** ppErrors) {
  if (!ppResults || !ppErrors) return E_POINTER;
  *ppResults = nullptr;
  *ppErrors = nullptr;
  if (count == 0 || !defs) return E_INVALIDARG;
  OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  HRESULT answer = E_FAIL;
  HRESULT hr = owner.session().Call(
      IID_IOPCItemMgt, opnum, ipid,
      [&](NdrWriter& w) {
        w.U32(count);
        WriteItemDefs(w, defs, count);
        if (opnum == kValidateItems) w.I32(blobUpdate);
      },
      [&](NdrReader& in) {
        results = ReadItemResults(in, count);
        errors = ReadErrors(in, count);
        answer = in.I32();
      });
  if (FAILED(hr)) {
    FreeItemResults(results, results ? count : 0);
    CoTaskMemFree(errors);
    return hr;
  }
  *ppResults = results;
  *ppErrors = errors;
  return answer;
}

}  // namespace

HRESULT ItemMgtProxy::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                               HRESULT** ppErrors) {
  return ItemsCall(owner_, ipid_, kAddItems, dwCount, pItemArray, FALSE, ppAddResults, ppErrors);
}

HRESULT ItemMgtProxy::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                    OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) {
  return ItemsCall(owner_, ipid_, kValidateItems, dwCount, pItemArray, bBlobUpdate,
                   ppValidationResults, ppErrors);
}

namespace {

// The per-item calls: handles (and what goes with them) out, errors back.
HRESULT PerItem(RemoteObject& owner, const IPID& ipid, std::uint16_t opnum, DWORD count,
                const OPCHANDLE* handles, const std::function<void(NdrWriter&)>& more,
                HRESULT** ppErrors) {
  if (!ppErrors) return E_POINTER;
  *ppErrors = nullptr;
  if (count == 0 || !handles) return E_INVALIDARG;
  HRESULT* errors = nullptr;
  HRESULT answer = E_FAIL;
  HRESULT hr = owner.session().Call(
      IID_IOPCItemMgt, opnum, ipid,
      [&](NdrWriter& w) {
        w.U32(count);
        w.Array<OPCHANDLE>({handles, count});
        more(w);
      },
      [&](NdrReader& in) {
        errors = ReadErrors(in, count);
        answer = in.I32();
      });
  if (FAILED(hr)) {
    CoTaskMemFree(errors);
    return hr;
  }
  *ppErrors = errors;
  return answer;
}

}  // namespace

HRESULT ItemMgtProxy::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
  return PerItem(
      owner_, ipid_, kRemoveItems, dwCount, phServer, [](NdrWriter&) {}, ppErrors);
}

HRESULT ItemMgtProxy::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                     HRESULT** ppErrors) {
  return PerItem(
      owner_, ipid_, kSetActiveState, dwCount, phServer, [&](NdrWriter& w) { w.I32(bActive); },
      ppErrors);
}

HRESULT ItemMgtProxy::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                       HRESULT** ppErrors) {
  if (!phClient) return E_INVALIDARG;
  return PerItem(
      owner_, ipid_, kSetClientHandles, dwCount, phServer,
      [&](NdrWriter& w) {
        w.Array<OPCHANDLE>({phClient, dwCount});
      },
      ppErrors);
}

HRESULT ItemMgtProxy::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                   HRESULT** ppErrors) {
  if (!pRequestedDatatypes) return E_INVALIDARG;
  return PerItem(
      owner_, ipid_, kSetDatatypes, dwCount, phServer,
      [&](NdrWriter& w) {
        w.Array<VARTYPE>({pRequestedDatatypes, dwCount});
      },
      ppErrors);
}

HRESULT ItemMgtProxy::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) {
  if (!ppUnk) return E_POINTER;
  *ppUnk = nullptr;
  return CallForObject(
      IID_IOPCItemMgt, kCreateEnumerator, [&](NdrWriter& w) { w.Guid(riid); }, riid,
      reinterpret_cast<void**>(ppUnk));
}

}  // namespace tagwell::dcom::opc
