// Proxies of IOPCBrowseServerAddressSpace and IOPCItemProperties.
#include <algorithm>

#include "rpc/Marshal.h"
#include "rpc/ProxyInterfaces.h"

namespace tagwell::rpc {

using namespace com;

HRESULT BrowseProxy::QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) {
  if (!pNameSpaceType) return E_POINTER;
  auto request = cap().queryOrganizationRequest();
  return connection().Call(request, [&](auto answer) {
    *pNameSpaceType = static_cast<OPCNAMESPACETYPE>(answer.getNameSpaceType());
    return answer.getHr();
  });
}

HRESULT BrowseProxy::ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) {
  auto request = cap().changeBrowsePositionRequest();
  request.setDirection(dwBrowseDirection);
  if (szString) request.setName(WideToWire(szString));
  return connection().Call(request, HrOnly());
}

HRESULT BrowseProxy::BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria,
                                      VARTYPE vtDataTypeFilter, DWORD dwAccessRightsFilter,
                                      LPENUMSTRING* ppIEnumString) {
  if (!ppIEnumString) return E_POINTER;
  *ppIEnumString = nullptr;
  auto request = cap().browseOpcItemIdsRequest();
  request.setFilterType(dwBrowseFilterType);
  if (szFilterCriteria) request.setFilterCriteria(WideToWire(szFilterCriteria));
  request.setDataTypeFilter(vtDataTypeFilter);
  request.setAccessRightsFilter(dwAccessRightsFilter);
  return connection().Call(request, [&](auto answer) {
    return TakeObject(answer.getHr(), answer.hasEnumerator(), answer.getEnumerator(),
                      IID_IEnumString, reinterpret_cast<void**>(ppIEnumString));
  });
}

HRESULT BrowseProxy::GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) {
  if (!szItemID) return E_POINTER;
  *szItemID = nullptr;
  auto request = cap().getItemIdRequest();
  if (szItemDataID) request.setItemDataId(WideToWire(szItemDataID));
  return connection().Call(request, [&](auto answer) {
    HRESULT hr = TaskWideFromWire(answer.hasItemId(), answer.getItemId(), szItemID);
    return FAILED(hr) ? hr : answer.getHr();
  });
}

HRESULT BrowseProxy::BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) {
  if (!ppIEnumString) return E_POINTER;
  *ppIEnumString = nullptr;
  auto request = cap().browseAccessPathsRequest();
  if (szItemID) request.setItemId(WideToWire(szItemID));
  return connection().Call(request, [&](auto answer) {
    return TakeObject(answer.getHr(), answer.hasEnumerator(), answer.getEnumerator(),
                      IID_IEnumString, reinterpret_cast<void**>(ppIEnumString));
  });
}

// A server without the call answers "unimplemented": E_NOTIMPL, and the
// walk makes the calls itself.
HRESULT BrowseBranchesProxy::DescribeBranches(const std::vector<std::u16string>& names,
                                              ULONG leafLimit,
                                              std::vector<BranchContents>* contents) {
  if (!contents) return E_POINTER;
  contents->clear();
  auto request = cap().describeBranchesRequest();
  auto list = request.initNames(static_cast<unsigned>(names.size()));
  for (unsigned i = 0; i < names.size(); ++i) list.set(i, WideToWire(names[i].c_str()));
  request.setLeafLimit(leafLimit);
  return connection().Call(request, [&](auto answer) -> HRESULT {
    if (FAILED(answer.getHr())) return answer.getHr();
    auto branches = answer.getBranches();
    if (branches.size() != names.size()) return RPC_E_INVALID_DATA;
    std::vector<BranchContents> out(branches.size());
    for (unsigned i = 0; i < branches.size(); ++i) {
      auto b = branches[i];
      out[i].enter = b.getEnter();
      out[i].list = b.getList();
      out[i].leaves = std::min(b.getLeaves(), leafLimit);
      out[i].up = b.getUp();
      for (auto id : b.getItemIds()) {
        WideArg text;
        if (!text.Assign(true, id)) return RPC_E_INVALID_DATA;
        out[i].itemIds.emplace_back(text.get());
      }
    }
    *contents = std::move(out);
    return S_OK;
  });
}

HRESULT ItemPropertiesProxy::QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount,
                                                      DWORD** ppPropertyIDs,
                                                      LPWSTR** ppDescriptions,
                                                      VARTYPE** ppvtDataTypes) {
  if (!pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes) return E_POINTER;
  *ppPropertyIDs = nullptr;
  *ppDescriptions = nullptr;
  *ppvtDataTypes = nullptr;
  auto request = cap().queryAvailablePropertiesRequest();
  if (szItemID) request.setItemId(WideToWire(szItemID));
  return connection().Call(request, [&](auto answer) {
    DWORD count = answer.getCount();
    Received<DWORD> ids(count);
    Received<LPWSTR> descriptions(count);
    Received<VARTYPE> types(count);
    HRESULT hr =
        NumbersFromWire(answer.hasPropertyIds(), answer.getPropertyIds(), count, ids.Out());
    if (SUCCEEDED(hr) && answer.hasDescriptions())
      hr = TextsFromWire(answer.getDescriptions(), count, descriptions.Out());
    if (SUCCEEDED(hr))
      hr = NumbersFromWire(answer.hasDataTypes(), answer.getDataTypes(), count, types.Out());
    if (FAILED(hr)) return hr;
    *pdwCount = count;
    *ppPropertyIDs = ids.Take();
    *ppDescriptions = descriptions.Take();
    *ppvtDataTypes = types.Take();
    return answer.getHr();
  });
}

HRESULT ItemPropertiesProxy::GetItemProperties(LPWSTR szItemID, DWORD dwCount,
                                               DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                               HRESULT** ppErrors) {
  if (!ppvData || !ppErrors) return E_POINTER;
  *ppvData = nullptr;
  *ppErrors = nullptr;
  if (dwCount != 0 && !pdwPropertyIDs) return E_INVALIDARG;
  auto request = cap().getItemPropertiesRequest();
  if (szItemID) request.setItemId(WideToWire(szItemID));
  FillList(request.initPropertyIds(dwCount), pdwPropertyIDs);
  return connection().Call(request, [&](auto answer) {
    return TakeWithErrors(
        answer, dwCount, answer.hasValues(), ppvData, ppErrors,
        [&](VARIANT** values) { return VariantsFromWire(answer.getValues(), dwCount, values); });
  });
}

HRESULT ItemPropertiesProxy::LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs,
                                           LPWSTR** ppszNewItemIDs, HRESULT** ppErrors) {
  if (!ppszNewItemIDs || !ppErrors) return E_POINTER;
  *ppszNewItemIDs = nullptr;
  *ppErrors = nullptr;
  if (dwCount != 0 && !pdwPropertyIDs) return E_INVALIDARG;
  auto request = cap().lookupItemIdsRequest();
  if (szItemID) request.setItemId(WideToWire(szItemID));
  FillList(request.initPropertyIds(dwCount), pdwPropertyIDs);
  return connection().Call(request, [&](auto answer) {
    return TakeWithErrors(
        answer, dwCount, answer.hasNewItemIds(), ppszNewItemIDs, ppErrors,
        [&](LPWSTR** ids) { return TextsFromWire(answer.getNewItemIds(), dwCount, ids); });
  });
}

}  // namespace tagwell::rpc
