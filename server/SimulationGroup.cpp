#include "server/SimulationGroup.h"

#include "server/EnumItemAttributes.h"
#include "server/ItemProperties.h"

namespace tagwell::server {
namespace {

// The result and error arrays of a per-item call, freed again unless the
// call hands them to the caller.
template <class T>
struct TaskArrays {
  T* results = nullptr;
  com::HRESULT* errors = nullptr;
  TaskArrays(com::DWORD count, bool withResults) {
    if (withResults) results = TaskArray<T>(count);
    errors = TaskArray<com::HRESULT>(count);
  }
  ~TaskArrays() {
    com::CoTaskMemFree(results);
    com::CoTaskMemFree(errors);
  }
  bool Ok(bool withResults) const { return errors && (!withResults || results); }
  void HandTo(T** r, com::HRESULT** e) {
    if (r) *r = std::exchange(results, nullptr);
    *e = std::exchange(errors, nullptr);
  }
};

com::HRESULT Overall(const com::HRESULT* errors, com::DWORD count) {
  for (com::DWORD i = 0; i < count; ++i)
    if (errors[i] != com::S_OK) return com::S_FALSE;
  return com::S_OK;
}

}  // namespace

SimulationGroup::SimulationGroup(std::shared_ptr<AddressSpace> space, GroupSettings settings)
    : space_(std::move(space)), settings_(settings) {}

com::HRESULT SimulationGroup::QueryInterface(com::REFIID riid, void** ppv) {
  if (!ppv) return com::E_POINTER;
  if (riid == com::IID_IUnknown || riid == com::IID_IOPCItemMgt)
    return HandOut<com::IOPCItemMgt>(this, ppv);
  if (riid == com::IID_IOPCSyncIO) return HandOut<com::IOPCSyncIO>(this, ppv);
  *ppv = nullptr;
  return com::E_NOINTERFACE;
}

com::ULONG SimulationGroup::Release() {
  return ReleaseObject(this, refs_);
}

com::HRESULT SimulationGroup::CheckDefinition(const com::OPCITEMDEF& definition,
                                              const Item** item) const {
  *item = nullptr;
  if (!definition.szItemID) return com::OPC_E_INVALIDITEMID;
  const com::HRESULT hr = space_->Lookup(FromWide(definition.szItemID), item);
  if (com::FAILED(hr)) return hr;
  // The simulation has no access paths.
  if (definition.szAccessPath && definition.szAccessPath[0] != 0) return com::OPC_E_UNKNOWNPATH;
  return space_->CheckRequestedType(**item, definition.vtRequestedDataType);
}

com::HRESULT SimulationGroup::AddItems(com::DWORD count, com::OPCITEMDEF* items,
                                       com::OPCITEMRESULT** results, com::HRESULT** errors) {
  const com::HRESULT hr = ValidateItems(count, items, com::FALSE, results, errors);
  if (com::FAILED(hr)) return hr;
  std::lock_guard lock(mutex_);
  for (com::DWORD i = 0; i < count; ++i) {
    if ((*errors)[i] != com::S_OK) continue;
    GroupItem entry;
    space_->Lookup(FromWide(items[i].szItemID), &entry.item);
    entry.clientHandle = items[i].hClient;
    entry.requestedType = items[i].vtRequestedDataType;
    entry.active = items[i].bActive != com::FALSE;
    const com::OPCHANDLE handle = nextHandle_++;
    items_[handle] = entry;
    (*results)[i].hServer = handle;
  }
  return hr;
}

com::HRESULT SimulationGroup::ValidateItems(com::DWORD count, com::OPCITEMDEF* items,
                                            com::BOOL /*blobUpdate*/, com::OPCITEMRESULT** results,
                                            com::HRESULT** errors) {
  if (!results || !errors) return com::E_INVALIDARG;
  *results = nullptr;
  *errors = nullptr;
  if (count == 0 || !items) return com::E_INVALIDARG;
  TaskArrays<com::OPCITEMRESULT> out(count, true);
  if (!out.Ok(true)) return com::E_OUTOFMEMORY;
  for (com::DWORD i = 0; i < count; ++i) {
    const Item* item = nullptr;
    out.errors[i] = CheckDefinition(items[i], &item);
    if (out.errors[i] != com::S_OK) continue;  // a refused item's result stays zeroed
    out.results[i].vtCanonicalDataType = item->definition.canonicalType;
    out.results[i].dwAccessRights = item->definition.accessRights;
  }
  out.HandTo(results, errors);
  return Overall(*errors, count);
}

template <class Fn>
com::HRESULT SimulationGroup::ForEachHandle(com::DWORD count, com::OPCHANDLE* handles,
                                            com::HRESULT** errors, Fn perItem) {
  if (!errors) return com::E_INVALIDARG;
  *errors = nullptr;
  if (count == 0 || !handles) return com::E_INVALIDARG;
  TaskArrays<char> out(count, false);
  if (!out.Ok(false)) return com::E_OUTOFMEMORY;
  std::lock_guard lock(mutex_);
  for (com::DWORD i = 0; i < count; ++i) {
    auto it = items_.find(handles[i]);
    out.errors[i] = it == items_.end() ? com::OPC_E_INVALIDHANDLE : perItem(it, i);
  }
  out.HandTo(nullptr, errors);
  return Overall(*errors, count);
}

com::HRESULT SimulationGroup::RemoveItems(com::DWORD count, com::OPCHANDLE* handles,
                                          com::HRESULT** errors) {
  return ForEachHandle(count, handles, errors, [&](auto it, com::DWORD) {
    items_.erase(it);
    return com::S_OK;
  });
}

com::HRESULT SimulationGroup::SetActiveState(com::DWORD count, com::OPCHANDLE* handles,
                                             com::BOOL active, com::HRESULT** errors) {
  return ForEachHandle(count, handles, errors, [&](auto it, com::DWORD) {
    it->second.active = active != com::FALSE;
    return com::S_OK;
  });
}

com::HRESULT SimulationGroup::SetClientHandles(com::DWORD count, com::OPCHANDLE* handles,
                                               com::OPCHANDLE* clientHandles,
                                               com::HRESULT** errors) {
  if (!clientHandles) return com::E_INVALIDARG;
  return ForEachHandle(count, handles, errors, [&](auto it, com::DWORD i) {
    it->second.clientHandle = clientHandles[i];
    return com::S_OK;
  });
}

com::HRESULT SimulationGroup::SetDatatypes(com::DWORD count, com::OPCHANDLE* handles,
                                           com::VARTYPE* types, com::HRESULT** errors) {
  if (!types) return com::E_INVALIDARG;
  return ForEachHandle(count, handles, errors, [&](auto it, com::DWORD i) {
    const com::HRESULT hr = space_->CheckRequestedType(*it->second.item, types[i]);
    if (hr == com::S_OK) it->second.requestedType = types[i];
    return hr;
  });
}

com::HRESULT SimulationGroup::CreateEnumerator(com::REFIID riid, com::LPUNKNOWN* ppUnk) {
  if (!ppUnk) return com::E_INVALIDARG;
  *ppUnk = nullptr;
  if (riid != com::IID_IEnumOPCItemAttributes && riid != com::IID_IUnknown)
    return com::E_NOINTERFACE;
  auto records = std::make_shared<std::vector<ItemAttributesRecord>>();
  {
    std::lock_guard lock(mutex_);
    for (const auto& [handle, entry] : items_) {
      ItemAttributesRecord& r = records->emplace_back();
      const ItemDefinition& d = entry.item->definition;
      r.itemId = entry.item->id;
      r.active = entry.active ? com::TRUE : com::FALSE;
      r.clientHandle = entry.clientHandle;
      r.serverHandle = handle;
      r.accessRights = d.accessRights;
      r.requestedType = entry.requestedType;
      r.canonicalType = d.canonicalType;
      r.euType = d.euType;
      EuInfo(*entry.item, r.euInfo.get());
    }
  }
  const bool empty = records->empty();
  *ppUnk = MakeEnumItemAttributes(std::move(records));
  // An empty group still gives an (empty) enumerator, so a caller that only
  // tests for failure never meets a null one.
  return empty ? com::S_FALSE : com::S_OK;
}

com::HRESULT SimulationGroup::ReadOne(const GroupItem& entry, bool groupActive,
                                      com::OPCDATASOURCE source, ItemReading reading,
                                      com::OPCITEMSTATE* state) {
  state->hClient = entry.clientHandle;
  state->ftTimeStamp = reading.timeStamp;
  state->wQuality = reading.quality;
  if (source == com::OPC_DS_CACHE && !(entry.active && groupActive))
    state->wQuality = com::OPC_QUALITY_OUT_OF_SERVICE;
  const com::VARTYPE wanted = entry.requestedType;
  if (wanted == com::VT_EMPTY || wanted == reading.value->vt)
    return com::VariantCopy(&state->vDataValue, reading.value.get());
  const com::HRESULT hr =
      com::VariantChangeType(&state->vDataValue, reading.value.get(), 0, wanted);
  if (com::SUCCEEDED(hr)) return com::S_OK;
  state->wQuality = com::OPC_QUALITY_BAD;
  return ConversionError(hr);
}

com::HRESULT SimulationGroup::Read(com::OPCDATASOURCE source, com::DWORD count,
                                   com::OPCHANDLE* handles, com::OPCITEMSTATE** states,
                                   com::HRESULT** errors) {
  if (!states || !errors) return com::E_INVALIDARG;
  *states = nullptr;
  *errors = nullptr;
  if (count == 0 || !handles || (source != com::OPC_DS_CACHE && source != com::OPC_DS_DEVICE))
    return com::E_INVALIDARG;
  // The items are taken under the lock and read without it: a device read
  // may wait for a device, and the group's other calls must not.
  std::vector<GroupItem> entries(count);
  std::vector<const Item*> items;
  std::vector<com::DWORD> positions;
  bool groupActive = false;
  com::HRESULT hr = ForEachHandle(count, handles, errors, [&](auto it, com::DWORD i) {
    entries[i] = it->second;
    items.push_back(it->second.item);
    positions.push_back(i);
    return com::S_OK;
  });
  if (com::FAILED(hr)) return hr;
  {
    std::lock_guard lock(mutex_);
    groupActive = settings_.active;
  }
  std::vector<ItemReading> readings(items.size());
  space_->ReadItems(items.data(), items.size(), source == com::OPC_DS_DEVICE, readings.data());
  com::OPCITEMSTATE* out = TaskArray<com::OPCITEMSTATE>(count);
  if (!out) {
    com::CoTaskMemFree(*errors);
    *errors = nullptr;
    return com::E_OUTOFMEMORY;
  }
  for (std::size_t k = 0; k < items.size(); ++k) {
    const com::DWORD i = positions[k];
    (*errors)[i] = ReadOne(entries[i], groupActive, source, std::move(readings[k]), &out[i]);
    if ((*errors)[i] != com::S_OK) hr = com::S_FALSE;
  }
  *states = out;
  return hr;
}

com::HRESULT SimulationGroup::Write(com::DWORD count, com::OPCHANDLE* handles, com::VARIANT* values,
                                    com::HRESULT** errors) {
  if (!values) return com::E_INVALIDARG;
  return ForEachHandle(count, handles, errors, [&](auto it, com::DWORD i) {
    return space_->Write(*it->second.item, values[i]);
  });
}

}  // namespace tagwell::server
