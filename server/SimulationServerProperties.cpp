// IOPCItemProperties of the simulation server object.
#include <algorithm>

#include "server/ItemProperties.h"
#include "server/SimulationServer.h"

namespace tagwell::server {
namespace {

// Frees the arrays of a property call that fails half-way.
void FreeAll(std::initializer_list<void*> blocks) {
  for (void* block : blocks) com::CoTaskMemFree(block);
}

}  // namespace

com::HRESULT SimulationServer::QueryAvailableProperties(com::LPWSTR itemId, com::DWORD* count,
                                                        com::DWORD** ids,
                                                        com::LPWSTR** descriptions,
                                                        com::VARTYPE** types) {
  if (!itemId || !count || !ids || !descriptions || !types) return com::E_INVALIDARG;
  *count = 0;
  *ids = nullptr;
  *descriptions = nullptr;
  *types = nullptr;
  const Item* item = nullptr;
  if (const com::HRESULT hr = space_->Lookup(FromWide(itemId), &item); com::FAILED(hr)) return hr;
  const std::vector<PropertyInfo> list = AvailableProperties(*item);
  auto* outIds = TaskArray<com::DWORD>(list.size());
  auto* outTexts = TaskArray<com::LPWSTR>(list.size());
  auto* outTypes = TaskArray<com::VARTYPE>(list.size());
  if (!outIds || !outTexts || !outTypes) {
    FreeAll({outIds, outTexts, outTypes});
    return com::E_OUTOFMEMORY;
  }
  for (std::size_t i = 0; i < list.size(); ++i) {
    outIds[i] = list[i].id;
    outTexts[i] = TaskString(list[i].description);
    outTypes[i] = list[i].type;
  }
  *count = static_cast<com::DWORD>(list.size());
  *ids = outIds;
  *descriptions = outTexts;
  *types = outTypes;
  return com::S_OK;
}

com::HRESULT SimulationServer::GetItemProperties(com::LPWSTR itemId, com::DWORD count,
                                                 com::DWORD* ids, com::VARIANT** values,
                                                 com::HRESULT** errors) {
  if (!itemId || !ids || !values || !errors) return com::E_INVALIDARG;
  *values = nullptr;
  *errors = nullptr;
  if (count == 0) return com::E_INVALIDARG;
  const Item* item = nullptr;
  if (const com::HRESULT hr = space_->Lookup(FromWide(itemId), &item); com::FAILED(hr)) return hr;
  auto* outValues = TaskArray<com::VARIANT>(count);  // zero-filled: VT_EMPTY
  auto* outErrors = TaskArray<com::HRESULT>(count);
  if (!outValues || !outErrors) {
    FreeAll({outValues, outErrors});
    return com::E_OUTOFMEMORY;
  }
  com::HRESULT overall = com::S_OK;
  for (com::DWORD i = 0; i < count; ++i) {
    outErrors[i] = PropertyValue(*space_, *item, ids[i], &outValues[i]);
    if (outErrors[i] != com::S_OK) overall = com::S_FALSE;
  }
  *values = outValues;
  *errors = outErrors;
  return overall;
}

com::HRESULT SimulationServer::LookupItemIDs(com::LPWSTR itemId, com::DWORD count, com::DWORD* ids,
                                             com::LPWSTR** newItemIds, com::HRESULT** errors) {
  if (!itemId || !ids || !newItemIds || !errors) return com::E_INVALIDARG;
  *newItemIds = nullptr;
  *errors = nullptr;
  if (count == 0) return com::E_INVALIDARG;
  const Item* item = nullptr;
  if (const com::HRESULT hr = space_->Lookup(FromWide(itemId), &item); com::FAILED(hr)) return hr;
  auto* outIds = TaskArray<com::LPWSTR>(count);
  auto* outErrors = TaskArray<com::HRESULT>(count);
  if (!outIds || !outErrors) {
    FreeAll({outIds, outErrors});
    return com::E_OUTOFMEMORY;
  }
  // No property of a simulated item is an item of its own.
  const std::vector<PropertyInfo> list = AvailableProperties(*item);
  for (com::DWORD i = 0; i < count; ++i) {
    const bool known = std::any_of(list.begin(), list.end(),
                                   [&](const PropertyInfo& p) { return p.id == ids[i]; });
    outErrors[i] = known ? com::E_FAIL : com::OPC_E_INVALID_PID;
  }
  *newItemIds = outIds;
  *errors = outErrors;
  return com::S_FALSE;
}

}  // namespace tagwell::server
