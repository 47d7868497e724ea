// A group of the simulation server: IOPCItemMgt and IOPCSyncIO.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/opcda/SyncIoAsync.h"
#include "server/AddressSpace.h"
#include "server/ComSupport.h"

namespace tagwell::server {

struct GroupSettings {
  bool active = false;
  com::DWORD updateRateMs = 0;
  com::OPCHANDLE clientHandle = 0;
  com::LONG timeBiasMinutes = 0;
  float percentDeadband = 0.0f;
  com::LCID locale = 0;
};

// Lives while anyone holds a reference: the server object that created it
// keeps one until RemoveGroup or its own end. Thread-safe.
class SimulationGroup final : public com::IOPCItemMgt,
                              public com::IOPCSyncIO,
                              public com::ISyncIOAsync {
 public:
  SimulationGroup(std::shared_ptr<AddressSpace> space, GroupSettings settings);

  com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override;
  com::ULONG AddRef() override { return refs_.Increment(); }
  com::ULONG Release() override;
  com::ULONG References() const { return refs_.Value(); }

  // IOPCItemMgt. Items are enumerated in the order they were added.
  com::HRESULT AddItems(com::DWORD count, com::OPCITEMDEF* items, com::OPCITEMRESULT** results,
                        com::HRESULT** errors) override;
  com::HRESULT ValidateItems(com::DWORD count, com::OPCITEMDEF* items, com::BOOL blobUpdate,
                             com::OPCITEMRESULT** results, com::HRESULT** errors) override;
  com::HRESULT RemoveItems(com::DWORD count, com::OPCHANDLE* handles,
                           com::HRESULT** errors) override;
  com::HRESULT SetActiveState(com::DWORD count, com::OPCHANDLE* handles, com::BOOL active,
                              com::HRESULT** errors) override;
  com::HRESULT SetClientHandles(com::DWORD count, com::OPCHANDLE* handles,
                                com::OPCHANDLE* clientHandles, com::HRESULT** errors) override;
  com::HRESULT SetDatatypes(com::DWORD count, com::OPCHANDLE* handles, com::VARTYPE* types,
                            com::HRESULT** errors) override;
  com::HRESULT CreateEnumerator(com::REFIID riid, com::LPUNKNOWN* ppUnk) override;

  // IOPCSyncIO. A cache read of an inactive item or of an item in an
  // inactive group has quality OPC_QUALITY_OUT_OF_SERVICE. Simulated items
  // read the same from cache and device, as each value is computed on
  // demand; a device item's cache read gives its last polled value, a device
  // read waits for its device (AddressSpace::ReadItems).
  com::HRESULT Read(com::OPCDATASOURCE source, com::DWORD count, com::OPCHANDLE* handles,
                    com::OPCITEMSTATE** states, com::HRESULT** errors) override;
  com::HRESULT Write(com::DWORD count, com::OPCHANDLE* handles, com::VARIANT* values,
                     com::HRESULT** errors) override;
  // ISyncIOAsync: the same, answered when the devices have answered.
  void BeginRead(com::OPCDATASOURCE source, com::DWORD count, com::OPCHANDLE* handles,
                 ReadDone done) override;
  void BeginWrite(com::DWORD count, com::OPCHANDLE* handles, com::VARIANT* values,
                  WriteDone done) override;

 private:
  struct GroupItem {
    const Item* item = nullptr;
    com::OPCHANDLE clientHandle = 0;
    com::VARTYPE requestedType = com::VT_EMPTY;  // VT_EMPTY: canonical
    bool active = false;
  };
  template <class Fn>
  com::HRESULT ForEachHandle(com::DWORD count, com::OPCHANDLE* handles, com::HRESULT** errors,
                             Fn perItem);
  com::HRESULT CheckDefinition(const com::OPCITEMDEF& definition, const Item** item) const;
  struct Taken;
  com::HRESULT Take(com::DWORD count, com::OPCHANDLE* handles, Taken* taken);
  static com::HRESULT ReadOne(const GroupItem& entry, bool groupActive, com::OPCDATASOURCE source,
                              ItemReading reading, com::OPCITEMSTATE* state);
  ~SimulationGroup() = default;
  friend com::ULONG ReleaseObject<SimulationGroup>(SimulationGroup*, com::RefCount&);

  com::RefCount refs_;
  std::shared_ptr<AddressSpace> space_;
  std::mutex mutex_;
  GroupSettings settings_;
  std::map<com::OPCHANDLE, GroupItem> items_;  // handles only grow: map order is add order
  com::OPCHANDLE nextHandle_ = 1;
};

}  // namespace tagwell::server
