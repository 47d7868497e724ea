// Server stubs: any in-process COM object that implements some of the
// marshalled interfaces, served as one ComObject capability.
//
// The stub asks the object once which interfaces it implements and holds a
// reference to each; dropping the capability (the client's last Release, or
// the connection going away) releases them. Each call is made on the thread
// of the serving event loop, so the object sees one call at a time from all
// connections of that loop; but the reads and writes of an object that
// offers ISyncIOAsync are answered when it calls back (from a device's
// thread, say), and the loop serves other calls meanwhile. What the object
// hands out is copied to the answer and freed with the task allocator.
#pragma once

#include <vector>

#include "platform/opcda/OpcDa.h"
#include "platform/opcda/SyncIoAsync.h"
#include "rpc/Marshal.h"
#include "rpc/ObjectServer.h"
#include "rpc/opcda.capnp.h"

namespace tagwell::rpc {

class ObjectStub final : public wire::ComObject::Server {
 public:
  // Fills `out` with a new stub of object and the IIDs it answers. The
  // objects the stub hands out get the same rights.
  static void Marshal(com::IUnknown* object, wire::Object::Builder out,
                      Rights rights = Rights::ReadWrite);

  ObjectStub(com::IUnknown* object, Rights rights);

 protected:
  // OpcServer
  kj::Promise<void> addGroup(AddGroupContext context) override;
  kj::Promise<void> getErrorString(GetErrorStringContext context) override;
  kj::Promise<void> getGroupByName(GetGroupByNameContext context) override;
  kj::Promise<void> getStatus(GetStatusContext context) override;
  kj::Promise<void> removeGroup(RemoveGroupContext context) override;
  kj::Promise<void> createGroupEnumerator(CreateGroupEnumeratorContext context) override;
  // OpcServerPublicGroups
  kj::Promise<void> getPublicGroupByName(GetPublicGroupByNameContext context) override;
  kj::Promise<void> removePublicGroup(RemovePublicGroupContext context) override;
  // PersistFile
  kj::Promise<void> getClassId(GetClassIdContext context) override;
  kj::Promise<void> isDirty(IsDirtyContext context) override;
  kj::Promise<void> load(LoadContext context) override;
  kj::Promise<void> save(SaveContext context) override;
  kj::Promise<void> saveCompleted(SaveCompletedContext context) override;
  kj::Promise<void> getCurFile(GetCurFileContext context) override;
  // OpcBrowseServerAddressSpace
  kj::Promise<void> queryOrganization(QueryOrganizationContext context) override;
  kj::Promise<void> changeBrowsePosition(ChangeBrowsePositionContext context) override;
  kj::Promise<void> browseOpcItemIds(BrowseOpcItemIdsContext context) override;
  kj::Promise<void> getItemId(GetItemIdContext context) override;
  kj::Promise<void> browseAccessPaths(BrowseAccessPathsContext context) override;
  kj::Promise<void> describeBranches(DescribeBranchesContext context) override;
  // OpcItemProperties
  kj::Promise<void> queryAvailableProperties(QueryAvailablePropertiesContext context) override;
  kj::Promise<void> getItemProperties(GetItemPropertiesContext context) override;
  kj::Promise<void> lookupItemIds(LookupItemIdsContext context) override;
  // OpcItemMgt
  kj::Promise<void> addItems(AddItemsContext context) override;
  kj::Promise<void> validateItems(ValidateItemsContext context) override;
  kj::Promise<void> removeItems(RemoveItemsContext context) override;
  kj::Promise<void> setActiveState(SetActiveStateContext context) override;
  kj::Promise<void> setClientHandles(SetClientHandlesContext context) override;
  kj::Promise<void> setDatatypes(SetDatatypesContext context) override;
  kj::Promise<void> createEnumerator(CreateEnumeratorContext context) override;
  // OpcSyncIo
  kj::Promise<void> read(ReadContext context) override;
  kj::Promise<void> write(WriteContext context) override;
  // Enumerators
  kj::Promise<void> stringNext(StringNextContext context) override;
  kj::Promise<void> stringSkip(StringSkipContext context) override;
  kj::Promise<void> stringReset(StringResetContext context) override;
  kj::Promise<void> stringClone(StringCloneContext context) override;
  kj::Promise<void> unknownNext(UnknownNextContext context) override;
  kj::Promise<void> unknownSkip(UnknownSkipContext context) override;
  kj::Promise<void> unknownReset(UnknownResetContext context) override;
  kj::Promise<void> unknownClone(UnknownCloneContext context) override;
  kj::Promise<void> attributesNext(AttributesNextContext context) override;
  kj::Promise<void> attributesSkip(AttributesSkipContext context) override;
  kj::Promise<void> attributesReset(AttributesResetContext context) override;
  kj::Promise<void> attributesClone(AttributesCloneContext context) override;

 private:
  template <class Interface>
  void Probe(const com::IID& iid, com::ComPtr<Interface>* slot);

  com::ComPtr<com::IUnknown> object_;
  Rights rights_;
  std::vector<com::IID> interfaces_;
  com::ComPtr<com::IOPCServer> server_;
  com::ComPtr<com::IOPCServerPublicGroups> publicGroups_;
  com::ComPtr<com::IOPCBrowseServerAddressSpace> browse_;
  com::ComPtr<com::IOPCItemProperties> properties_;
  com::ComPtr<com::IPersistFile> persistFile_;
  com::ComPtr<com::IPersist> persist_;
  com::ComPtr<com::IOPCItemMgt> itemMgt_;
  com::ComPtr<com::IOPCSyncIO> syncIo_;
  com::ComPtr<com::ISyncIOAsync> asyncIo_;
  com::ComPtr<com::IEnumString> enumString_;
  com::ComPtr<com::IEnumUnknown> enumUnknown_;
  com::ComPtr<com::IEnumOPCItemAttributes> enumAttributes_;
};

namespace stub {

// The answer of a call on an interface the object does not implement.
template <class Context>
kj::Promise<void> NoInterface(Context& context) {
  context.getResults().setHr(com::E_NOINTERFACE);
  return kj::READY_NOW;
}

// The answer when the request or the object's result cannot be marshalled:
// whatever was built is dropped, so no array travels with a failure.
template <class Context>
kj::Promise<void> Fail(Context& context, com::HRESULT hr) {
  context.initResults().setHr(hr == RPC_E_INVALID_DATA ? com::E_INVALIDARG : hr);
  return kj::READY_NOW;
}

template <class Context>
kj::Promise<void> Answer(Context& context, com::HRESULT hr) {
  context.getResults().setHr(hr);
  return kj::READY_NOW;
}

// Moves a per-item error array the object handed out into the answer.
template <class Results>
void PutErrors(Results results, com::HRESULT* errors, std::size_t count) {
  if (!errors) return;
  FillList(results.initErrors(static_cast<unsigned>(count)), errors);
  com::CoTaskMemFree(errors);
}

// Marshals an object the served object handed out into the field init()
// creates, and releases the reference that came with it.
template <class Init>
void PutObject(com::IUnknown* object, Rights rights, Init&& init) {
  if (!object) return;
  ObjectStub::Marshal(object, init(), rights);
  object->Release();
}

}  // namespace stub

}  // namespace tagwell::rpc
