// IOPCBrowseServerAddressSpace over DCOM.
#include "dcom/opc/ClientProxies.h"
#include "dcom/opc/Opnums.h"

namespace tagwell::dcom::opc {

using namespace com;
using namespace opnum::browse;

namespace {}  // namespace

HRESULT BrowseProxy::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
  if (!pNameSpaceType) return E_POINTER;
  HRESULT answer = E_FAIL;
  std::uint16_t type = 0;
  HRESULT hr = Call(
      IID_IOPCBrowseServerAddressSpace, kQueryOrganization, [](NdrWriter&) {},
      [&](NdrReader& in) {
        type = in.U16();
        answer = in.I32();
      });
  if (FAILED(hr)) return hr;
  *pNameSpaceType = static_cast<OPCNAMESPACETYPE>(type);
  return answer;
}

HRESULT BrowseProxy::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) {
  HRESULT answer = E_FAIL;
  HRESULT hr = Call(
      IID_IOPCBrowseServerAddressSpace, kChangeBrowsePosition,
      [&](NdrWriter& w) {
        w.U16(static_cast<std::uint16_t>(dwBrowseDirection));
        PutString(w, szString ? szString : u"");
      },
      [&](NdrReader& in) { answer = in.I32(); });
  return FAILED(hr) ? hr : answer;
}

HRESULT BrowseProxy::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                      VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                      LPENUMSTRING* ppIEnumString) {
  if (!ppIEnumString) return E_POINTER;
  *ppIEnumString = nullptr;
  return CallForObject(
      IID_IOPCBrowseServerAddressSpace, kBrowseOpcItemIds,
      [&](NdrWriter& w) {
        w.U16(static_cast<std::uint16_t>(dwBrowseFilterType));
        PutString(w, szFilterCriteria ? szFilterCriteria : u"");
        w.U16(vtDataTypeFilter);
        w.U32(dwAccessRightsFilter);
      },
      IID_IEnumString, reinterpret_cast<void**>(ppIEnumString));
}

HRESULT BrowseProxy::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
  if (!szItemID) return E_POINTER;
  *szItemID = nullptr;
  HRESULT answer = E_FAIL;
  LPWSTR text = nullptr;
  HRESULT hr = Call(
      IID_IOPCBrowseServerAddressSpace, kGetItemId,
      [&](NdrWriter& w) { PutString(w, szItemDataID ? szItemDataID : u""); },
      [&](NdrReader& in) {
        text = TakeString(in);
        answer = in.I32();
      });
  if (FAILED(hr)) {
    CoTaskMemFree(text);
    return hr;
  }
  *szItemID = text;
  return answer;
}

HRESULT BrowseProxy::BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) {
  if (!ppIEnumString) return E_POINTER;
  *ppIEnumString = nullptr;
  return CallForObject(
      IID_IOPCBrowseServerAddressSpace, kBrowseAccessPaths,
      [&](NdrWriter& w) { PutString(w, szItemID ? szItemID : u""); }, IID_IEnumString,
      reinterpret_cast<void**>(ppIEnumString));
}

}  // namespace tagwell::dcom::opc
