#include "server/SimulationGroup.h"

#include <atomic>
#include <future>

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
  if (riid == com::IID_ISyncIOAsync) return HandOut<com::ISyncIOAsync>(this, ppv);
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

// The items of a Read or Write, taken under the lock and used without it:
// a device may take its time, and the group's other calls must not wait.
struct SimulationGroup::Taken {
  std::vector<GroupItem> entries;  // by position; unset where errors says so
  std::vector<const Item*> items;  // the valid ones, in order
  std::vector<com::DWORD> positions;
  com::HRESULT* errors = nullptr;
  bool groupActive = false;
};

com::HRESULT SimulationGroup::Take(com::DWORD count, com::OPCHANDLE* handles, Taken* taken) {
  taken->entries.resize(count);
  const com::HRESULT hr = ForEachHandle(count, handles, &taken->errors, [&](auto it, com::DWORD i) {
    taken->entries[i] = it->second;
    taken->items.push_back(it->second.item);
    taken->positions.push_back(i);
    return com::S_OK;
  });
  std::lock_guard lock(mutex_);
  taken->groupActive = settings_.active;
  return hr;
}

void SimulationGroup::BeginRead(com::OPCDATASOURCE source, com::DWORD count,
                                com::OPCHANDLE* handles, ReadDone done) {
  if (count == 0 || !handles || (source != com::OPC_DS_CACHE && source != com::OPC_DS_DEVICE))
    return done(com::E_INVALIDARG, nullptr, nullptr);
  auto taken = std::make_shared<Taken>();
  const com::HRESULT hr = Take(count, handles, taken.get());
  if (com::FAILED(hr)) return done(hr, nullptr, nullptr);
  // The answer needs nothing of the group: a device thread must never be
  // the one to release it (and with it, maybe, the devices).
  auto items = taken->items;
  space_->BeginReadItems(
      std::move(items), source == com::OPC_DS_DEVICE,
      [taken, source, count, hr, done = std::move(done)](std::vector<ItemReading> readings) {
        com::OPCITEMSTATE* out = TaskArray<com::OPCITEMSTATE>(count);
        com::HRESULT overall = hr;
        for (std::size_t k = 0; out && k < readings.size(); ++k) {
          const com::DWORD i = taken->positions[k];
          taken->errors[i] = ReadOne(taken->entries[i], taken->groupActive, source,
                                     std::move(readings[k]), &out[i]);
          if (taken->errors[i] != com::S_OK) overall = com::S_FALSE;
        }
        if (!out) {
          com::CoTaskMemFree(taken->errors);
          done(com::E_OUTOFMEMORY, nullptr, nullptr);
        } else {
          done(overall, out, taken->errors);
        }
      });
}

void SimulationGroup::BeginWrite(com::DWORD count, com::OPCHANDLE* handles, com::VARIANT* values,
                                 WriteDone done) {
  if (!values) return done(com::E_INVALIDARG, nullptr);
  Taken taken;
  const com::HRESULT hr = Take(count, handles, &taken);
  if (com::FAILED(hr)) return done(hr, nullptr);
  // Each item's answer lands in errors; the last one hands them on.
  struct Gather {
    com::HRESULT* errors;
    com::DWORD count;
    std::atomic<std::size_t> left;
    WriteDone done;
    void Release() {
      if (left.fetch_sub(1) != 1) return;
      done(Overall(errors, count), errors);
    }
  };
  auto gather = std::make_shared<Gather>();
  gather->errors = taken.errors;
  gather->count = count;
  gather->left = taken.items.size() + 1;
  gather->done = std::move(done);
  for (std::size_t k = 0; k < taken.items.size(); ++k) {
    const com::DWORD i = taken.positions[k];
    space_->BeginWrite(*taken.items[k], values[i], [gather, i](com::HRESULT result) {
      gather->errors[i] = result;
      gather->Release();
    });
  }
  gather->Release();
}

com::HRESULT SimulationGroup::Read(com::OPCDATASOURCE source, com::DWORD count,
                                   com::OPCHANDLE* handles, com::OPCITEMSTATE** states,
                                   com::HRESULT** errors) {
  if (!states || !errors) return com::E_INVALIDARG;
  *states = nullptr;
  *errors = nullptr;
  std::promise<com::HRESULT> answer;
  BeginRead(source, count, handles,
            [&](com::HRESULT hr, com::OPCITEMSTATE* readStates, com::HRESULT* readErrors) {
              *states = readStates;
              *errors = readErrors;
              answer.set_value(hr);
            });
  return answer.get_future().get();
}

com::HRESULT SimulationGroup::Write(com::DWORD count, com::OPCHANDLE* handles, com::VARIANT* values,
                                    com::HRESULT** errors) {
  if (!errors) return com::E_INVALIDARG;
  *errors = nullptr;
  std::promise<com::HRESULT> answer;
  BeginWrite(count, handles, values, [&](com::HRESULT hr, com::HRESULT* writeErrors) {
    *errors = writeErrors;
    answer.set_value(hr);
  });
  return answer.get_future().get();
}

}  // namespace tagwell::server
