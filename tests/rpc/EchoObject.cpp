#include "tests/rpc/EchoObject.h"

namespace tagwell::testing {

using namespace com;

void EchoControl::HoldReads() {
  std::lock_guard lock(mutex_);
  hold_ = true;
}

void EchoControl::ReleaseHold() {
  {
    std::lock_guard lock(mutex_);
    hold_ = false;
  }
  wake_.notify_all();
}

void EchoControl::WaitWhileHeld() {
  std::unique_lock lock(mutex_);
  wake_.wait_for(lock, std::chrono::seconds(30), [this] { return !hold_; });
}

EchoObject::EchoObject(std::shared_ptr<EchoControl> control) : control_(std::move(control)) {
  ++control_->live;
}

EchoObject::~EchoObject() {
  --control_->live;
}

HRESULT EchoObject::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid != IID_IUnknown && riid != IID_IOPCSyncIO) return E_NOINTERFACE;
  *ppv = static_cast<IOPCSyncIO*>(this);
  AddRef();
  return S_OK;
}

ULONG EchoObject::Release() {
  ULONG left = refs_.Decrement();
  if (left == 0) delete this;
  return left;
}

HRESULT EchoObject::Read(OPCDATASOURCE, DWORD count, OPCHANDLE* handles, OPCITEMSTATE** states,
                         HRESULT** errors) {
  control_->WaitWhileHeld();
  *states = static_cast<OPCITEMSTATE*>(CoTaskMemAlloc(count * sizeof(OPCITEMSTATE)));
  *errors = static_cast<HRESULT*>(CoTaskMemAlloc(count * sizeof(HRESULT)));
  HRESULT result = S_OK;
  for (DWORD i = 0; i < count; ++i) {
    OPCITEMSTATE& state = (*states)[i];
    state = OPCITEMSTATE{};
    VariantInit(&state.vDataValue);
    auto found = values_.find(handles[i]);
    if (found == values_.end()) {
      (*errors)[i] = OPC_E_INVALIDHANDLE;
      result = S_FALSE;
      continue;
    }
    state.hClient = handles[i];
    state.ftTimeStamp = {handles[i], 0x01CB0000};
    state.wQuality = OPC_QUALITY_GOOD;
    (*errors)[i] = VariantCopy(&state.vDataValue, found->second.get());
  }
  return result;
}

HRESULT EchoObject::Write(DWORD count, OPCHANDLE* handles, VARIANT* values, HRESULT** errors) {
  ++control_->writes;
  *errors = static_cast<HRESULT*>(CoTaskMemAlloc(count * sizeof(HRESULT)));
  for (DWORD i = 0; i < count; ++i)
    (*errors)[i] = VariantCopy(values_[handles[i]].get(), &values[i]);
  return S_OK;
}

rpc::ObjectFactory EchoFactory(std::shared_ptr<EchoControl> control) {
  return [control](const CLSID& clsid, IUnknown** object) -> HRESULT {
    if (clsid != CLSID_Echo) return REGDB_E_CLASSNOTREG;
    *object = static_cast<IOPCSyncIO*>(new EchoObject(control));
    return S_OK;
  };
}

}  // namespace tagwell::testing
