#include "server/SimulationServer.h"

#include <algorithm>

#include "server/ErrorStrings.h"
#include "server/ItemProperties.h"

namespace tagwell::server {

SimulationServer::SimulationServer(std::shared_ptr<AddressSpace> space,
                                   SimulationServerOptions options)
    : space_(std::move(space)), browser_(space_, options.flatListsBranches) {}

com::HRESULT SimulationServer::QueryInterface(com::REFIID riid, void** ppv) {
  if (!ppv) return com::E_POINTER;
  if (riid == com::IID_IUnknown || riid == com::IID_IOPCServer)
    return HandOut<com::IOPCServer>(this, ppv);
  if (riid == com::IID_IOPCBrowseServerAddressSpace)
    return HandOut<com::IOPCBrowseServerAddressSpace>(this, ppv);
  if (riid == com::IID_IOPCItemProperties) return HandOut<com::IOPCItemProperties>(this, ppv);
  *ppv = nullptr;
  return com::E_NOINTERFACE;
}

// --- IOPCServer ---------------------------------------------------------------

std::string SimulationServer::UniqueGroupName() {
  for (com::OPCHANDLE n = nextGroupHandle_;; ++n) {
    std::string name = "Group" + std::to_string(n);
    if (!FindGroup(name)) return name;
  }
}

const SimulationServer::GroupEntry* SimulationServer::FindGroup(const std::string& name) const {
  for (const GroupEntry& entry : groups_)
    if (entry.name == name) return &entry;
  return nullptr;
}

com::HRESULT SimulationServer::AddGroup(com::LPCWSTR name, com::BOOL active,
                                        com::DWORD requestedRate, com::OPCHANDLE clientGroup,
                                        com::LONG* timeBias, com::FLOAT* deadband, com::DWORD lcid,
                                        com::OPCHANDLE* serverGroup, com::DWORD* revisedRate,
                                        com::REFIID riid, com::LPUNKNOWN* ppUnk) {
  if (!serverGroup || !revisedRate || !ppUnk) return com::E_INVALIDARG;
  *ppUnk = nullptr;
  if (deadband && !(*deadband >= 0.0f && *deadband <= 100.0f)) return com::E_INVALIDARG;
  std::lock_guard lock(mutex_);
  std::string groupName = name ? FromWide(name) : std::string();
  if (groupName.empty()) groupName = UniqueGroupName();
  if (FindGroup(groupName)) return com::OPC_E_DUPLICATENAME;

  GroupSettings settings;
  settings.active = active != com::FALSE;
  settings.updateRateMs = std::max(requestedRate, kFastestRateMs);
  settings.clientHandle = clientGroup;
  settings.timeBiasMinutes = timeBias ? *timeBias : 0;
  settings.percentDeadband = deadband ? *deadband : 0.0f;
  settings.locale = lcid;
  auto group = com::ComPtr<SimulationGroup>::Adopt(new SimulationGroup(space_, settings));
  const com::HRESULT hr = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
  if (com::FAILED(hr)) return hr;
  *serverGroup = nextGroupHandle_++;
  *revisedRate = settings.updateRateMs;
  groups_.push_back({*serverGroup, std::move(groupName), std::move(group)});
  return settings.updateRateMs == requestedRate ? com::S_OK : com::OPC_S_UNSUPPORTEDRATE;
}

com::HRESULT SimulationServer::GetErrorString(com::HRESULT error, com::LCID /*locale*/,
                                              com::LPWSTR* text) {
  if (!text) return com::E_INVALIDARG;
  *text = nullptr;
  const char* known = ErrorText(error);
  if (!known) return com::E_INVALIDARG;
  *text = TaskString(known);
  return *text ? com::S_OK : com::E_OUTOFMEMORY;
}

com::HRESULT SimulationServer::GetGroupByName(com::LPCWSTR name, com::REFIID riid,
                                              com::LPUNKNOWN* ppUnk) {
  if (!name || !ppUnk) return com::E_INVALIDARG;
  *ppUnk = nullptr;
  std::lock_guard lock(mutex_);
  const GroupEntry* entry = FindGroup(FromWide(name));
  if (!entry) return com::E_INVALIDARG;
  return entry->group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
}

com::HRESULT SimulationServer::GetStatus(com::OPCSERVERSTATUS** status) {
  if (!status) return com::E_INVALIDARG;
  *status = TaskArray<com::OPCSERVERSTATUS>(1);
  if (!*status) return com::E_OUTOFMEMORY;
  com::OPCSERVERSTATUS& s = **status;
  s.ftStartTime = space_->StartTime();
  s.ftCurrentTime = space_->TheClock().Now();
  s.dwServerState = com::OPC_STATUS_RUNNING;
  {
    std::lock_guard lock(mutex_);
    s.dwGroupCount = static_cast<com::DWORD>(groups_.size());
  }
  s.wMajorVersion = 8;
  s.wMinorVersion = 4;
  s.szVendorInfo = TaskString(kSimulationVendor);
  return com::S_OK;
}

com::HRESULT SimulationServer::RemoveGroup(com::OPCHANDLE serverGroup, com::BOOL /*force*/) {
  com::ComPtr<SimulationGroup> group;
  {
    std::lock_guard lock(mutex_);
    auto it = std::find_if(groups_.begin(), groups_.end(),
                           [&](const GroupEntry& e) { return e.handle == serverGroup; });
    if (it == groups_.end()) return com::E_INVALIDARG;
    group = std::move(it->group);
    groups_.erase(it);
  }
  // The group lives on while the client holds references to it.
  return group->References() > 1 ? com::OPC_S_INUSE : com::S_OK;
}

com::HRESULT SimulationServer::CreateGroupEnumerator(com::OPCENUMSCOPE, com::REFIID,
                                                     com::LPUNKNOWN* ppUnk) {
  if (ppUnk) *ppUnk = nullptr;
  return com::E_NOTIMPL;
}

// --- IOPCBrowseServerAddressSpace --------------------------------------------

com::HRESULT SimulationServer::QueryOrganization(com::OPCNAMESPACETYPE* type) {
  if (!type) return com::E_INVALIDARG;
  *type = browser_.Organization();
  return com::S_OK;
}

com::HRESULT SimulationServer::ChangeBrowsePosition(com::OPCBROWSEDIRECTION direction,
                                                    com::LPCWSTR name) {
  std::lock_guard lock(mutex_);
  return browser_.Change(direction, name ? FromWide(name) : std::string());
}

com::HRESULT SimulationServer::BrowseOPCItemIDs(com::OPCBROWSETYPE type, com::LPCWSTR filter,
                                                com::VARTYPE dataType, com::DWORD accessRights,
                                                com::LPENUMSTRING* names) {
  if (!names) return com::E_INVALIDARG;
  *names = nullptr;
  BrowseFilter browseFilter;
  browseFilter.pattern = filter ? FromWide(filter) : std::string();
  browseFilter.dataType = dataType;
  browseFilter.accessRights = accessRights;
  auto list = std::make_shared<NameList>();
  com::HRESULT hr;
  {
    std::lock_guard lock(mutex_);
    hr = browser_.List(type, browseFilter, list.get());
  }
  if (com::FAILED(hr)) return hr;
  *names = MakeEnumString(std::move(list));
  return hr;
}

com::HRESULT SimulationServer::GetItemID(com::LPWSTR name, com::LPWSTR* itemId) {
  if (!name || !itemId) return com::E_INVALIDARG;
  *itemId = nullptr;
  std::string id;
  com::HRESULT hr;
  {
    std::lock_guard lock(mutex_);
    hr = browser_.ItemId(FromWide(name), &id);
  }
  if (com::FAILED(hr)) return hr;
  *itemId = TaskString(id);
  return *itemId ? com::S_OK : com::E_OUTOFMEMORY;
}

com::HRESULT SimulationServer::BrowseAccessPaths(com::LPCWSTR, com::LPENUMSTRING* paths) {
  if (paths) *paths = nullptr;
  return com::E_NOTIMPL;
}

// --- Creation -------------------------------------------------------------------

com::HRESULT CreateSimulationServer(std::shared_ptr<AddressSpace> space, com::REFIID riid,
                                    void** ppv, SimulationServerOptions options) {
  if (!ppv) return com::E_POINTER;
  *ppv = nullptr;
  if (!space) return com::E_INVALIDARG;
  auto server =
      com::ComPtr<SimulationServer>::Adopt(new SimulationServer(std::move(space), options));
  return server->QueryInterface(riid, ppv);
}

}  // namespace tagwell::server
