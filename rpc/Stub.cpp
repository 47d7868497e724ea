// The stub's construction and the server object's interfaces: IOPCServer,
// IOPCServerPublicGroups and IPersistFile.
#include "rpc/Stub.h"

namespace tagwell::rpc {

using namespace com;
using namespace stub;

void ObjectStub::Marshal(IUnknown* object, wire::Object::Builder out, Rights rights) {
  auto stub = kj::heap<ObjectStub>(object, rights);
  auto iids = out.initInterfaces(static_cast<unsigned>(stub->interfaces_.size()));
  for (unsigned i = 0; i < iids.size(); ++i) GuidToWire(stub->interfaces_[i], iids[i]);
  out.setCap(kj::mv(stub));
}

template <class Interface>
void ObjectStub::Probe(const IID& iid, ComPtr<Interface>* slot) {
  if (SUCCEEDED(object_->QueryInterface(iid, slot->ReceiveVoid())) && *slot) {
    interfaces_.push_back(iid);
  }
}

ObjectStub::ObjectStub(IUnknown* object, Rights rights) : object_(object), rights_(rights) {
  Probe(IID_IOPCServer, &server_);
  Probe(IID_IOPCServerPublicGroups, &publicGroups_);
  Probe(IID_IOPCBrowseServerAddressSpace, &browse_);
  Probe(IID_IOPCItemProperties, &properties_);
  Probe(IID_IPersistFile, &persistFile_);
  Probe(IID_IPersist, &persist_);
  Probe(IID_IEnumUnknown, &enumUnknown_);
  Probe(IID_IOPCItemMgt, &itemMgt_);
  Probe(IID_IOPCSyncIO, &syncIo_);
  // Not an interface of the wire: only how reads and writes are served.
  if (syncIo_) object_->QueryInterface(IID_ISyncIOAsync, asyncIo_.ReceiveVoid());
  Probe(IID_IEnumString, &enumString_);
  Probe(IID_IEnumOPCItemAttributes, &enumAttributes_);
}

// --- IOPCServer ----------------------------------------------------------------
kj::Promise<void> ObjectStub::addGroup(AddGroupContext context) {
  if (!server_) return NoInterface(context);
  auto params = context.getParams();
  WideArg name;
  if (!name.Assign(params.hasName(), params.getName())) return Fail(context, E_INVALIDARG);
  LONG timeBias = params.getTimeBias();
  FLOAT deadband = params.getPercentDeadband();
  OPCHANDLE serverGroup = 0;
  DWORD revisedRate = 0;
  IUnknown* group = nullptr;
  HRESULT hr =
      server_->AddGroup(name.get(), params.getActive(), params.getRequestedUpdateRate(),
                        params.getClientGroup(), params.getHasTimeBias() ? &timeBias : nullptr,
                        params.getHasPercentDeadband() ? &deadband : nullptr, params.getLcid(),
                        &serverGroup, &revisedRate, GuidFromWire(params.getIid()), &group);
  auto results = context.getResults();
  results.setServerGroup(serverGroup);
  results.setRevisedUpdateRate(revisedRate);
  PutObject(group, rights_, [&] { return results.initGroup(); });
  return Answer(context, hr);
}

kj::Promise<void> ObjectStub::getErrorString(GetErrorStringContext context) {
  if (!server_) return NoInterface(context);
  auto params = context.getParams();
  LPWSTR text = nullptr;
  HRESULT hr = server_->GetErrorString(params.getError(), params.getLocale(), &text);
  if (text) {
    context.getResults().setText(WideToWire(text));
    CoTaskMemFree(text);
  }
  return Answer(context, hr);
}

kj::Promise<void> ObjectStub::getGroupByName(GetGroupByNameContext context) {
  if (!server_) return NoInterface(context);
  auto params = context.getParams();
  WideArg name;
  if (!name.Assign(params.hasName(), params.getName())) return Fail(context, E_INVALIDARG);
  IUnknown* group = nullptr;
  HRESULT hr = server_->GetGroupByName(name.get(), GuidFromWire(params.getIid()), &group);
  PutObject(group, rights_, [&] { return context.getResults().initGroup(); });
  return Answer(context, hr);
}

kj::Promise<void> ObjectStub::getStatus(GetStatusContext context) {
  if (!server_) return NoInterface(context);
  OPCSERVERSTATUS* status = nullptr;
  HRESULT hr = server_->GetStatus(&status);
  if (status) {
    StatusToWire(*status, context.getResults().initStatus());
    FreeServerStatus(status);
  }
  return Answer(context, hr);
}

kj::Promise<void> ObjectStub::removeGroup(RemoveGroupContext context) {
  if (!server_) return NoInterface(context);
  auto params = context.getParams();
  return Answer(context, server_->RemoveGroup(params.getServerGroup(), params.getForce()));
}

kj::Promise<void> ObjectStub::createGroupEnumerator(CreateGroupEnumeratorContext context) {
  if (!server_) return NoInterface(context);
  auto params = context.getParams();
  IUnknown* enumerator = nullptr;
  HRESULT hr = server_->CreateGroupEnumerator(static_cast<OPCENUMSCOPE>(params.getScope()),
                                              GuidFromWire(params.getIid()), &enumerator);
  PutObject(enumerator, rights_, [&] { return context.getResults().initEnumerator(); });
  return Answer(context, hr);
}

// --- IOPCServerPublicGroups ------------------------------------------------------
kj::Promise<void> ObjectStub::getPublicGroupByName(GetPublicGroupByNameContext context) {
  if (!publicGroups_) return NoInterface(context);
  auto params = context.getParams();
  WideArg name;
  if (!name.Assign(params.hasName(), params.getName())) return Fail(context, E_INVALIDARG);
  IUnknown* group = nullptr;
  HRESULT hr =
      publicGroups_->GetPublicGroupByName(name.get(), GuidFromWire(params.getIid()), &group);
  PutObject(group, rights_, [&] { return context.getResults().initGroup(); });
  return Answer(context, hr);
}

kj::Promise<void> ObjectStub::removePublicGroup(RemovePublicGroupContext context) {
  if (!publicGroups_) return NoInterface(context);
  auto params = context.getParams();
  return Answer(context,
                publicGroups_->RemovePublicGroup(params.getServerGroup(), params.getForce()));
}

// --- IPersistFile --------------------------------------------------------------
kj::Promise<void> ObjectStub::getClassId(GetClassIdContext context) {
  IPersist* persist = persistFile_ ? persistFile_.Get() : persist_.Get();
  if (!persist) return NoInterface(context);
  CLSID clsid = GUID_NULL;
  HRESULT hr = persist->GetClassID(&clsid);
  GuidToWire(clsid, context.getResults().initClsid());
  return Answer(context, hr);
}

kj::Promise<void> ObjectStub::isDirty(IsDirtyContext context) {
  if (!persistFile_) return NoInterface(context);
  return Answer(context, persistFile_->IsDirty());
}

kj::Promise<void> ObjectStub::load(LoadContext context) {
  if (!persistFile_) return NoInterface(context);
  auto params = context.getParams();
  WideArg name;
  if (!name.Assign(params.hasFileName(), params.getFileName())) return Fail(context, E_INVALIDARG);
  return Answer(context, persistFile_->Load(name.get(), params.getMode()));
}

kj::Promise<void> ObjectStub::save(SaveContext context) {
  if (!persistFile_) return NoInterface(context);
  auto params = context.getParams();
  WideArg name;
  if (!name.Assign(params.hasFileName(), params.getFileName())) return Fail(context, E_INVALIDARG);
  return Answer(context, persistFile_->Save(name.get(), params.getRemember()));
}

kj::Promise<void> ObjectStub::saveCompleted(SaveCompletedContext context) {
  if (!persistFile_) return NoInterface(context);
  auto params = context.getParams();
  WideArg name;
  if (!name.Assign(params.hasFileName(), params.getFileName())) return Fail(context, E_INVALIDARG);
  return Answer(context, persistFile_->SaveCompleted(name.get()));
}

kj::Promise<void> ObjectStub::getCurFile(GetCurFileContext context) {
  if (!persistFile_) return NoInterface(context);
  LPOLESTR name = nullptr;
  HRESULT hr = persistFile_->GetCurFile(&name);
  if (name) {
    context.getResults().setFileName(WideToWire(name));
    CoTaskMemFree(name);
  }
  return Answer(context, hr);
}

}  // namespace tagwell::rpc
