// Proxies of a group's interfaces: IOPCItemMgt and IOPCSyncIO.
#include "rpc/Marshal.h"
#include "rpc/ProxyInterfaces.h"

namespace tagwell::rpc {

using namespace com;

namespace {

// The take-function for answers that carry `count` per-item errors.
auto TakeErrors(DWORD count, HRESULT** ppErrors) {
  return [count, ppErrors](auto answer) -> HRESULT {
    HRESULT hr = NumbersFromWire(answer.hasErrors(), answer.getErrors(), count, ppErrors);
    return FAILED(hr) ? hr : answer.getHr();
  };
}

// Checks the arguments every per-item call shares.
HRESULT CheckItems(DWORD count, const void* items, HRESULT** ppErrors) {
  if (!ppErrors) return E_POINTER;
  *ppErrors = nullptr;
  if (count != 0 && !items) return E_INVALIDARG;
  return S_OK;
}

}  // namespace

HRESULT ItemMgtProxy::AddOrValidate(bool validate, DWORD dwCount, OPCITEMDEF* pItemArray,
                                    BOOL bBlobUpdate, OPCITEMRESULT** ppResults,
                                    HRESULT** ppErrors) {
  if (!ppResults) return E_POINTER;
  *ppResults = nullptr;
  HRESULT hr = CheckItems(dwCount, pItemArray, ppErrors);
  if (FAILED(hr)) return hr;
  auto take = [&](auto answer) {
    return TakeWithErrors(answer, dwCount, answer.hasResults(), ppResults, ppErrors,
                          [&](OPCITEMRESULT** results) {
                            return ItemResultsFromWire(answer.getResults(), dwCount, results);
                          });
  };
  if (validate) {
    auto request = cap().validateItemsRequest();
    auto items = request.initItems(dwCount);
    for (DWORD i = 0; i < dwCount; ++i) ItemDefToWire(pItemArray[i], items[i]);
    request.setBlobUpdate(bBlobUpdate);
    return connection().Call(request, take);
  }
  auto request = cap().addItemsRequest();
  auto items = request.initItems(dwCount);
  for (DWORD i = 0; i < dwCount; ++i) ItemDefToWire(pItemArray[i], items[i]);
  return connection().Call(request, take);
}

HRESULT ItemMgtProxy::AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                               HRESULT** ppErrors) {
  return AddOrValidate(false, dwCount, pItemArray, FALSE, ppAddResults, ppErrors);
}

HRESULT ItemMgtProxy::ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL bBlobUpdate,
                                    OPCITEMRESULT** ppValidationResults, HRESULT** ppErrors) {
  return AddOrValidate(true, dwCount, pItemArray, bBlobUpdate, ppValidationResults, ppErrors);
}

HRESULT ItemMgtProxy::RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) {
  HRESULT hr = CheckItems(dwCount, phServer, ppErrors);
  if (FAILED(hr)) return hr;
  auto request = cap().removeItemsRequest();
  FillList(request.initServerHandles(dwCount), phServer);
  return connection().Call(request, TakeErrors(dwCount, ppErrors));
}

HRESULT ItemMgtProxy::SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive,
                                     HRESULT** ppErrors) {
  HRESULT hr = CheckItems(dwCount, phServer, ppErrors);
  if (FAILED(hr)) return hr;
  auto request = cap().setActiveStateRequest();
  FillList(request.initServerHandles(dwCount), phServer);
  request.setActive(bActive);
  return connection().Call(request, TakeErrors(dwCount, ppErrors));
}

HRESULT ItemMgtProxy::SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient,
                                       HRESULT** ppErrors) {
  HRESULT hr = CheckItems(dwCount, phServer, ppErrors);
  if (FAILED(hr)) return hr;
  if (dwCount != 0 && !phClient) return E_INVALIDARG;
  auto request = cap().setClientHandlesRequest();
  FillList(request.initServerHandles(dwCount), phServer);
  FillList(request.initClientHandles(dwCount), phClient);
  return connection().Call(request, TakeErrors(dwCount, ppErrors));
}

HRESULT ItemMgtProxy::SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes,
                                   HRESULT** ppErrors) {
  HRESULT hr = CheckItems(dwCount, phServer, ppErrors);
  if (FAILED(hr)) return hr;
  if (dwCount != 0 && !pRequestedDatatypes) return E_INVALIDARG;
  auto request = cap().setDatatypesRequest();
  FillList(request.initServerHandles(dwCount), phServer);
  FillList(request.initRequestedDataTypes(dwCount), pRequestedDatatypes);
  return connection().Call(request, TakeErrors(dwCount, ppErrors));
}

HRESULT ItemMgtProxy::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) {
  if (!ppUnk) return E_POINTER;
  *ppUnk = nullptr;
  auto request = cap().createEnumeratorRequest();
  GuidToWire(riid, request.initIid());
  return connection().Call(request, [&](auto answer) {
    return TakeObject(answer.getHr(), answer.hasEnumerator(), answer.getEnumerator(), riid,
                      reinterpret_cast<void**>(ppUnk));
  });
}

HRESULT SyncIoProxy::Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer,
                          OPCITEMSTATE** ppItemValues, HRESULT** ppErrors) {
  if (!ppItemValues) return E_POINTER;
  *ppItemValues = nullptr;
  HRESULT hr = CheckItems(dwCount, phServer, ppErrors);
  if (FAILED(hr)) return hr;
  auto request = cap().readRequest();
  request.setSource(dwSource);
  FillList(request.initServerHandles(dwCount), phServer);
  return connection().Call(request, [&](auto answer) {
    return TakeWithErrors(answer, dwCount, answer.hasStates(), ppItemValues, ppErrors,
                          [&](OPCITEMSTATE** states) {
                            return ItemStatesFromWire(answer.getStates(), dwCount, states);
                          });
  });
}

HRESULT SyncIoProxy::Write(DWORD dwCount, OPCHANDLE* phServer, VARIANT* pItemValues,
                           HRESULT** ppErrors) {
  HRESULT hr = CheckItems(dwCount, phServer, ppErrors);
  if (FAILED(hr)) return hr;
  if (dwCount != 0 && !pItemValues) return E_INVALIDARG;
  auto request = cap().writeRequest();
  FillList(request.initServerHandles(dwCount), phServer);
  hr = VariantsToWire(pItemValues, request.initValues(dwCount));
  if (FAILED(hr)) return hr;
  return connection().Call(request, TakeErrors(dwCount, ppErrors));
}

}  // namespace tagwell::rpc
