// The server object of the simulation server.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/AddressSpace.h"
#include "server/Browser.h"
#include "server/ComSupport.h"
#include "server/Simulation.h"
#include "server/SimulationGroup.h"

namespace tagwell::server {

// Thread-safe: calls are serialised by one mutex (the browse position and
// the group list are per object).
class SimulationServer final : public com::IOPCServer,
                               public com::IOPCBrowseServerAddressSpace,
                               public com::IOPCItemProperties {
 public:
  SimulationServer(std::shared_ptr<AddressSpace> space, SimulationServerOptions options);

  com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override;
  com::ULONG AddRef() override { return refs_.Increment(); }
  com::ULONG Release() override { return ReleaseObject(this, refs_); }

  // IOPCServer. Update rates are revised up to kFastestRateMs
  // (OPC_S_UNSUPPORTEDRATE); an empty group name gets a generated one.
  com::HRESULT AddGroup(com::LPCWSTR name, com::BOOL active, com::DWORD requestedRate,
                        com::OPCHANDLE clientGroup, com::LONG* timeBias, com::FLOAT* deadband,
                        com::DWORD lcid, com::OPCHANDLE* serverGroup, com::DWORD* revisedRate,
                        com::REFIID riid, com::LPUNKNOWN* ppUnk) override;
  com::HRESULT GetErrorString(com::HRESULT error, com::LCID locale, com::LPWSTR* text) override;
  com::HRESULT GetGroupByName(com::LPCWSTR name, com::REFIID riid, com::LPUNKNOWN* ppUnk) override;
  com::HRESULT GetStatus(com::OPCSERVERSTATUS** status) override;
  com::HRESULT RemoveGroup(com::OPCHANDLE serverGroup, com::BOOL force) override;
  com::HRESULT CreateGroupEnumerator(com::OPCENUMSCOPE scope, com::REFIID riid,
                                     com::LPUNKNOWN* ppUnk) override;

  // IOPCBrowseServerAddressSpace (see Browser).
  com::HRESULT QueryOrganization(com::OPCNAMESPACETYPE* type) override;
  com::HRESULT ChangeBrowsePosition(com::OPCBROWSEDIRECTION direction, com::LPCWSTR name) override;
  com::HRESULT BrowseOPCItemIDs(com::OPCBROWSETYPE type, com::LPCWSTR filter, com::VARTYPE dataType,
                                com::DWORD accessRights, com::LPENUMSTRING* names) override;
  com::HRESULT GetItemID(com::LPWSTR name, com::LPWSTR* itemId) override;
  com::HRESULT BrowseAccessPaths(com::LPCWSTR itemId, com::LPENUMSTRING* paths) override;

  // IOPCItemProperties (see ItemProperties.h).
  com::HRESULT QueryAvailableProperties(com::LPWSTR itemId, com::DWORD* count, com::DWORD** ids,
                                        com::LPWSTR** descriptions, com::VARTYPE** types) override;
  com::HRESULT GetItemProperties(com::LPWSTR itemId, com::DWORD count, com::DWORD* ids,
                                 com::VARIANT** values, com::HRESULT** errors) override;
  com::HRESULT LookupItemIDs(com::LPWSTR itemId, com::DWORD count, com::DWORD* ids,
                             com::LPWSTR** newItemIds, com::HRESULT** errors) override;

 private:
  struct GroupEntry {
    com::OPCHANDLE handle;
    std::string name;
    com::ComPtr<SimulationGroup> group;
  };
  ~SimulationServer() = default;
  friend com::ULONG ReleaseObject<SimulationServer>(SimulationServer*, com::RefCount&);
  std::string UniqueGroupName();
  const GroupEntry* FindGroup(const std::string& name) const;

  com::RefCount refs_;
  std::shared_ptr<AddressSpace> space_;
  std::mutex mutex_;
  Browser browser_;
  std::vector<GroupEntry> groups_;
  com::OPCHANDLE nextGroupHandle_ = 1;
};

}  // namespace tagwell::server
