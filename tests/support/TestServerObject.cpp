// The test server's server object: the simulation server object behind a
// decorator that consults the FaultScript.
#include <algorithm>
#include <vector>

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

#define TAGWELL_ENTER(call)                                                            \
  if (const com::HRESULT enterResult = script_->Enter(call); com::FAILED(enterResult)) \
  return enterResult

class FaultyServer final : public com::IOPCServer,
                           public com::IOPCBrowseServerAddressSpace,
                           public com::IOPCItemProperties {
 public:
  FaultyServer(com::ComPtr<com::IOPCServer> server, Script script)
      : server_(std::move(server)), script_(std::move(script)) {
    server_.As(com::IID_IOPCBrowseServerAddressSpace, &browse_);
    server_.As(com::IID_IOPCItemProperties, &properties_);
  }

  com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override {
    if (!ppv) return com::E_POINTER;
    *ppv = nullptr;
    TAGWELL_ENTER(Call::QueryInterface);
    const bool optional = !script_->Has(Fault::NoOptionalInterfaces);
    if (riid == com::IID_IUnknown || riid == com::IID_IOPCServer)
      return HandOut<com::IOPCServer>(this, ppv);
    if (riid == com::IID_IOPCBrowseServerAddressSpace && optional && !script_->Has(Fault::NoBrowse))
      return HandOut<com::IOPCBrowseServerAddressSpace>(this, ppv);
    if (riid == com::IID_IOPCItemProperties && optional)
      return HandOut<com::IOPCItemProperties>(this, ppv);
    return com::E_NOINTERFACE;
  }
  com::ULONG AddRef() override { return refs_.Increment(); }
  com::ULONG Release() override { return ReleaseObject(this, refs_); }

  // --- IOPCServer ---
  com::HRESULT AddGroup(com::LPCWSTR name, com::BOOL active, com::DWORD rate, com::OPCHANDLE client,
                        com::LONG* bias, com::FLOAT* deadband, com::DWORD lcid,
                        com::OPCHANDLE* serverGroup, com::DWORD* revisedRate, com::REFIID riid,
                        com::LPUNKNOWN* ppUnk) override {
    if (ppUnk) *ppUnk = nullptr;
    TAGWELL_ENTER(Call::AddGroup);
    if (script_->Has(Fault::AddGroupFails)) return com::E_FAIL;
    com::ComPtr<com::IOPCItemMgt> inner;
    com::HRESULT hr = server_->AddGroup(name, active, rate, client, bias, deadband, lcid,
                                        serverGroup, revisedRate, com::IID_IOPCItemMgt,
                                        reinterpret_cast<com::LPUNKNOWN*>(inner.Receive()));
    if (com::FAILED(hr)) return hr;
    auto group = com::ComPtr<com::IUnknown>::Adopt(WrapTestGroup(inner, script_));
    const com::HRESULT qi = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    if (com::FAILED(qi)) {
      server_->RemoveGroup(*serverGroup, com::TRUE);
      return qi;
    }
    std::lock_guard lock(mutex_);
    groups_.push_back({*serverGroup, std::move(group)});
    return hr;
  }
  com::HRESULT GetErrorString(com::HRESULT error, com::LCID locale, com::LPWSTR* text) override {
    if (text) *text = nullptr;
    TAGWELL_ENTER(Call::GetErrorString);
    return server_->GetErrorString(error, locale, text);
  }
  com::HRESULT GetGroupByName(com::LPCWSTR name, com::REFIID riid, com::LPUNKNOWN* ppUnk) override {
    if (ppUnk) *ppUnk = nullptr;
    TAGWELL_ENTER(Call::GetGroupByName);
    com::ComPtr<com::IUnknown> inner;
    const com::HRESULT hr = server_->GetGroupByName(
        name, com::IID_IOPCItemMgt, reinterpret_cast<com::LPUNKNOWN*>(inner.Receive()));
    if (com::FAILED(hr)) return hr;
    std::lock_guard lock(mutex_);
    for (const GroupEntry& entry : groups_)
      if (TestGroupInner(entry.group.Get()) == inner.Get())
        return entry.group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    return com::E_INVALIDARG;
  }
  com::HRESULT GetStatus(com::OPCSERVERSTATUS** status) override {
    if (status) *status = nullptr;
    TAGWELL_ENTER(Call::GetStatus);
    if (script_->Has(Fault::GetStatusFails)) return com::E_FAIL;
    return server_->GetStatus(status);
  }
  com::HRESULT RemoveGroup(com::OPCHANDLE serverGroup, com::BOOL force) override {
    TAGWELL_ENTER(Call::RemoveGroup);
    com::ComPtr<com::IUnknown> group;  // released before the simulation judges "in use"
    {
      std::lock_guard lock(mutex_);
      auto it = std::find_if(groups_.begin(), groups_.end(),
                             [&](const GroupEntry& e) { return e.handle == serverGroup; });
      if (it != groups_.end()) {
        group = std::move(it->group);
        groups_.erase(it);
      }
    }
    group.Reset();
    return server_->RemoveGroup(serverGroup, force);
  }
  com::HRESULT CreateGroupEnumerator(com::OPCENUMSCOPE scope, com::REFIID riid,
                                     com::LPUNKNOWN* ppUnk) override {
    if (ppUnk) *ppUnk = nullptr;
    TAGWELL_ENTER(Call::GetGroupByName);
    return server_->CreateGroupEnumerator(scope, riid, ppUnk);
  }

  // --- IOPCBrowseServerAddressSpace ---
  com::HRESULT QueryOrganization(com::OPCNAMESPACETYPE* type) override {
    TAGWELL_ENTER(Call::Browse);
    return browse_->QueryOrganization(type);
  }
  com::HRESULT ChangeBrowsePosition(com::OPCBROWSEDIRECTION direction, com::LPCWSTR name) override {
    TAGWELL_ENTER(Call::Browse);
    if ((direction == com::OPC_BROWSE_TO || direction == com::OPC_BROWSE_DOWN) && name &&
        script_->DeviceBlocked(FromWide(name)))
      return com::E_INVALIDARG;
    return browse_->ChangeBrowsePosition(direction, name);
  }
  com::HRESULT BrowseOPCItemIDs(com::OPCBROWSETYPE type, com::LPCWSTR filter, com::VARTYPE dataType,
                                com::DWORD rights, com::LPENUMSTRING* names) override {
    if (names) *names = nullptr;
    TAGWELL_ENTER(Call::Browse);
    const com::HRESULT hr = browse_->BrowseOPCItemIDs(type, filter, dataType, rights, names);
    if (names && *names) *names = WrapTestEnumString(*names, script_);
    return hr;
  }
  com::HRESULT GetItemID(com::LPWSTR name, com::LPWSTR* itemId) override {
    if (itemId) *itemId = nullptr;
    TAGWELL_ENTER(Call::Browse);
    if (script_->Has(Fault::GetItemIdFails)) return com::E_FAIL;
    return browse_->GetItemID(name, itemId);
  }
  com::HRESULT BrowseAccessPaths(com::LPCWSTR itemId, com::LPENUMSTRING* paths) override {
    if (paths) *paths = nullptr;
    TAGWELL_ENTER(Call::Browse);
    return browse_->BrowseAccessPaths(itemId, paths);
  }

  // --- IOPCItemProperties ---
  com::HRESULT QueryAvailableProperties(com::LPWSTR itemId, com::DWORD* count, com::DWORD** ids,
                                        com::LPWSTR** descriptions, com::VARTYPE** types) override {
    TAGWELL_ENTER(Call::Properties);
    return properties_->QueryAvailableProperties(itemId, count, ids, descriptions, types);
  }
  com::HRESULT GetItemProperties(com::LPWSTR itemId, com::DWORD count, com::DWORD* ids,
                                 com::VARIANT** values, com::HRESULT** errors) override {
    TAGWELL_ENTER(Call::Properties);
    return properties_->GetItemProperties(itemId, count, ids, values, errors);
  }
  com::HRESULT LookupItemIDs(com::LPWSTR itemId, com::DWORD count, com::DWORD* ids,
                             com::LPWSTR** newIds, com::HRESULT** errors) override {
    TAGWELL_ENTER(Call::Properties);
    return properties_->LookupItemIDs(itemId, count, ids, newIds, errors);
  }

 private:
  struct GroupEntry {
    com::OPCHANDLE handle;
    com::ComPtr<com::IUnknown> group;
  };
  ~FaultyServer() = default;
  friend com::ULONG ReleaseObject<FaultyServer>(FaultyServer*, com::RefCount&);

  com::RefCount refs_;
  com::ComPtr<com::IOPCServer> server_;
  com::ComPtr<com::IOPCBrowseServerAddressSpace> browse_;
  com::ComPtr<com::IOPCItemProperties> properties_;
  Script script_;
  std::mutex mutex_;
  std::vector<GroupEntry> groups_;
};

#undef TAGWELL_ENTER

}  // namespace

com::HRESULT CreateTestServer(std::shared_ptr<server::AddressSpace> space,
                              std::shared_ptr<FaultScript> script, com::REFIID riid, void** ppv) {
  if (!ppv) return com::E_POINTER;
  *ppv = nullptr;
  if (!space || !script) return com::E_INVALIDARG;
  if (script->Dropped()) return com::RPC_S_SERVER_UNAVAILABLE;
  server::SimulationServerOptions options;
  options.flatListsBranches = script->Has(Fault::FlatListsBranches);
  com::ComPtr<com::IOPCServer> inner;
  const com::HRESULT hr = server::CreateSimulationServer(std::move(space), com::IID_IOPCServer,
                                                         inner.ReceiveVoid(), options);
  if (com::FAILED(hr)) return hr;
  auto wrapper = com::ComPtr<com::IOPCServer>::Adopt(new FaultyServer(std::move(inner), script));
  return wrapper->QueryInterface(riid, ppv);
}

}  // namespace tagwell::testing
