// The test server's group and enumerator decorators: they consult the
// FaultScript and otherwise hand every call to the simulation server's objects.
#include <algorithm>
#include <vector>

#include "platform/com/Runtime.h"
#include "server/ComSupport.h"
#include "server/Simulation.h"
#include "tests/support/TestServer.h"
#include "tests/support/TestServerParts.h"

namespace tagwell::testing {
namespace {

using server::FromWide;
using server::HandOut;
using server::ReleaseObject;
using Script = std::shared_ptr<FaultScript>;

// IEnumString and IEnumOPCItemAttributes share this shape.
template <class I, const com::IID* Iid, class Element>
class FaultyEnum final : public I {
 public:
  FaultyEnum(I* inner, Script script)
      : inner_(com::ComPtr<I>::Adopt(inner)), script_(std::move(script)) {}

  com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override {
    if (!ppv) return com::E_POINTER;
    *ppv = nullptr;
    if (const com::HRESULT hr = script_->Enter(Call::QueryInterface); com::FAILED(hr)) return hr;
    if (riid == com::IID_IUnknown || riid == *Iid) return HandOut<I>(this, ppv);
    return com::E_NOINTERFACE;
  }
  com::ULONG AddRef() override { return refs_.Increment(); }
  com::ULONG Release() override { return ReleaseObject(this, refs_); }

  com::HRESULT Next(com::ULONG celt, Element* items, com::ULONG* fetched) override {
    if (const com::HRESULT hr = script_->Enter(Call::EnumNext); com::FAILED(hr)) {
      if (fetched) *fetched = 0;
      return hr;
    }
    return inner_->Next(celt, items, fetched);
  }
  com::HRESULT Skip(com::ULONG celt) override {
    if (const com::HRESULT hr = script_->Enter(Call::EnumNext); com::FAILED(hr)) return hr;
    return inner_->Skip(celt);
  }
  com::HRESULT Reset() override {
    if (const com::HRESULT hr = script_->Enter(Call::EnumNext); com::FAILED(hr)) return hr;
    return inner_->Reset();
  }
  com::HRESULT Clone(I** ppEnum) override {
    if (!ppEnum) return com::E_POINTER;
    *ppEnum = nullptr;
    if (const com::HRESULT hr = script_->Enter(Call::EnumNext); com::FAILED(hr)) return hr;
    I* clone = nullptr;
    const com::HRESULT hr = inner_->Clone(&clone);
    if (com::SUCCEEDED(hr)) *ppEnum = new FaultyEnum(clone, script_);
    return hr;
  }

 private:
  ~FaultyEnum() = default;
  friend com::ULONG ReleaseObject<FaultyEnum>(FaultyEnum*, com::RefCount&);

  com::RefCount refs_;
  com::ComPtr<I> inner_;
  Script script_;
};

using FaultyEnumString = FaultyEnum<com::IEnumString, &com::IID_IEnumString, com::LPOLESTR>;
using FaultyEnumAttributes = FaultyEnum<com::IEnumOPCItemAttributes,
                                        &com::IID_IEnumOPCItemAttributes, com::OPCITEMATTRIBUTES*>;

class FaultyGroup final : public com::IOPCItemMgt, public com::IOPCSyncIO {
 public:
  FaultyGroup(com::ComPtr<com::IOPCItemMgt> mgt, Script script)
      : mgt_(std::move(mgt)), script_(std::move(script)) {
    mgt_.As(com::IID_IOPCSyncIO, &io_);
  }
  // The inner group's identity, to find this wrapper for GetGroupByName.
  void* Inner() const { return mgt_.Get(); }

  com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override {
    if (!ppv) return com::E_POINTER;
    *ppv = nullptr;
    if (const com::HRESULT hr = script_->Enter(Call::QueryInterface); com::FAILED(hr)) return hr;
    if (riid == com::IID_IUnknown || riid == com::IID_IOPCItemMgt)
      return HandOut<com::IOPCItemMgt>(this, ppv);
    if (riid == com::IID_IOPCSyncIO && io_) return HandOut<com::IOPCSyncIO>(this, ppv);
    return com::E_NOINTERFACE;
  }
  com::ULONG AddRef() override { return refs_.Increment(); }
  com::ULONG Release() override { return ReleaseObject(this, refs_); }

  com::HRESULT AddItems(com::DWORD count, com::OPCITEMDEF* items, com::OPCITEMRESULT** results,
                        com::HRESULT** errors) override {
    if (results) *results = nullptr;
    if (errors) *errors = nullptr;
    if (const com::HRESULT hr = script_->Enter(Call::AddItems); com::FAILED(hr)) return hr;
    if (script_->Has(Fault::AddItemsFails) && AnyDefinitionTargeted(count, items))
      return com::E_FAIL;
    com::HRESULT hr = mgt_->AddItems(count, items, results, errors);
    if (com::FAILED(hr)) return hr;
    for (com::DWORD i = 0; i < count; ++i) {
      if ((*errors)[i] != com::S_OK) continue;
      const std::string id = FromWide(items[i].szItemID);
      if (script_->Has(Fault::AddItemsRefuses) && script_->Targets(id)) {
        RefuseAdded(&(*results)[i], &(*errors)[i]);
        hr = com::S_FALSE;
      } else {
        std::lock_guard lock(mutex_);
        ids_[(*results)[i].hServer] = id;
      }
    }
    return hr;
  }
  com::HRESULT ValidateItems(com::DWORD count, com::OPCITEMDEF* items, com::BOOL blobUpdate,
                             com::OPCITEMRESULT** results, com::HRESULT** errors) override {
    if (const com::HRESULT hr = script_->Enter(Call::ItemMgt); com::FAILED(hr)) return hr;
    return mgt_->ValidateItems(count, items, blobUpdate, results, errors);
  }
  com::HRESULT RemoveItems(com::DWORD count, com::OPCHANDLE* handles,
                           com::HRESULT** errors) override {
    if (const com::HRESULT hr = script_->Enter(Call::RemoveItems); com::FAILED(hr)) return hr;
    const com::HRESULT hr = mgt_->RemoveItems(count, handles, errors);
    std::lock_guard lock(mutex_);
    for (com::DWORD i = 0; com::SUCCEEDED(hr) && i < count; ++i) ids_.erase(handles[i]);
    return hr;
  }
  com::HRESULT SetActiveState(com::DWORD count, com::OPCHANDLE* handles, com::BOOL active,
                              com::HRESULT** errors) override {
    if (const com::HRESULT hr = script_->Enter(Call::ItemMgt); com::FAILED(hr)) return hr;
    return mgt_->SetActiveState(count, handles, active, errors);
  }
  com::HRESULT SetClientHandles(com::DWORD count, com::OPCHANDLE* handles,
                                com::OPCHANDLE* clientHandles, com::HRESULT** errors) override {
    if (const com::HRESULT hr = script_->Enter(Call::ItemMgt); com::FAILED(hr)) return hr;
    return mgt_->SetClientHandles(count, handles, clientHandles, errors);
  }
  com::HRESULT SetDatatypes(com::DWORD count, com::OPCHANDLE* handles, com::VARTYPE* types,
                            com::HRESULT** errors) override {
    if (const com::HRESULT hr = script_->Enter(Call::ItemMgt); com::FAILED(hr)) return hr;
    return mgt_->SetDatatypes(count, handles, types, errors);
  }
  com::HRESULT CreateEnumerator(com::REFIID riid, com::LPUNKNOWN* ppUnk) override {
    if (ppUnk) *ppUnk = nullptr;
    if (const com::HRESULT hr = script_->Enter(Call::CreateEnumerator); com::FAILED(hr)) return hr;
    if (script_->Has(Fault::CreateEnumeratorFails)) return com::E_FAIL;
    com::IUnknown* inner = nullptr;
    const com::HRESULT hr = mgt_->CreateEnumerator(com::IID_IEnumOPCItemAttributes, &inner);
    if (com::FAILED(hr) || !inner) return hr;
    auto* wrapped =
        new FaultyEnumAttributes(static_cast<com::IEnumOPCItemAttributes*>(inner), script_);
    const com::HRESULT qi = wrapped->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    wrapped->Release();
    return com::FAILED(qi) ? qi : hr;
  }

  com::HRESULT Read(com::OPCDATASOURCE source, com::DWORD count, com::OPCHANDLE* handles,
                    com::OPCITEMSTATE** states, com::HRESULT** errors) override {
    if (states) *states = nullptr;
    if (errors) *errors = nullptr;
    if (const com::HRESULT hr = script_->Enter(Call::Read); com::FAILED(hr)) return hr;
    if (!io_) return com::E_NOINTERFACE;
    if (script_->Has(Fault::ReadFails) && AnyHandleTargeted(count, handles)) return com::E_FAIL;
    com::HRESULT hr = io_->Read(source, count, handles, states, errors);
    if (com::SUCCEEDED(hr) && script_->Has(Fault::ReadsCommFailure))
      for (com::DWORD i = 0; i < count; ++i)
        if (HandleTargeted(handles[i])) (*states)[i].wQuality = com::OPC_QUALITY_COMM_FAILURE;
    if (com::FAILED(hr) || !script_->Has(Fault::ReadReturnsFalse)) return hr;
    for (com::DWORD i = 0; i < count; ++i) {
      if (!HandleTargeted(handles[i])) continue;
      (*errors)[i] = com::E_FAIL;
      (*states)[i].wQuality = com::OPC_QUALITY_BAD;
      hr = com::S_FALSE;
    }
    return hr;
  }
  com::HRESULT Write(com::DWORD count, com::OPCHANDLE* handles, com::VARIANT* values,
                     com::HRESULT** errors) override {
    if (errors) *errors = nullptr;
    if (const com::HRESULT hr = script_->Enter(Call::Write); com::FAILED(hr)) return hr;
    if (!io_) return com::E_NOINTERFACE;
    if (script_->Has(Fault::WriteFails) && AnyHandleTargeted(count, handles)) return com::E_FAIL;
    return io_->Write(count, handles, values, errors);
  }

 private:
  ~FaultyGroup() = default;
  friend com::ULONG ReleaseObject<FaultyGroup>(FaultyGroup*, com::RefCount&);

  bool AnyDefinitionTargeted(com::DWORD count, const com::OPCITEMDEF* items) const {
    for (com::DWORD i = 0; items && i < count; ++i)
      if (items[i].szItemID && script_->Targets(FromWide(items[i].szItemID))) return true;
    return false;
  }
  bool HandleTargeted(com::OPCHANDLE handle) {
    std::string id;
    {
      std::lock_guard lock(mutex_);
      auto it = ids_.find(handle);
      if (it != ids_.end()) id = it->second;
    }
    return script_->Targets(id);
  }
  bool AnyHandleTargeted(com::DWORD count, const com::OPCHANDLE* handles) {
    for (com::DWORD i = 0; handles && i < count; ++i)
      if (HandleTargeted(handles[i])) return true;
    return false;
  }
  // Takes an item the simulation accepted back out and reports it refused.
  void RefuseAdded(com::OPCITEMRESULT* result, com::HRESULT* error) {
    com::HRESULT* removeErrors = nullptr;
    com::OPCHANDLE handle = result->hServer;
    if (com::SUCCEEDED(mgt_->RemoveItems(1, &handle, &removeErrors)))
      com::CoTaskMemFree(removeErrors);
    *result = com::OPCITEMRESULT{};
    *error = com::OPC_E_UNKNOWNITEMID;
  }

  com::RefCount refs_;
  com::ComPtr<com::IOPCItemMgt> mgt_;
  com::ComPtr<com::IOPCSyncIO> io_;
  Script script_;
  std::mutex mutex_;
  std::map<com::OPCHANDLE, std::string> ids_;  // item IDs of the added items, for targeted faults
};

}  // namespace

com::IUnknown* WrapTestGroup(com::ComPtr<com::IOPCItemMgt> inner,
                             std::shared_ptr<FaultScript> script) {
  return static_cast<com::IOPCItemMgt*>(new FaultyGroup(std::move(inner), std::move(script)));
}

void* TestGroupInner(com::IUnknown* group) {
  return static_cast<FaultyGroup*>(static_cast<com::IOPCItemMgt*>(group))->Inner();
}

com::IEnumString* WrapTestEnumString(com::IEnumString* inner, std::shared_ptr<FaultScript> script) {
  return new FaultyEnumString(inner, std::move(script));
}

}  // namespace tagwell::testing
