#include "dcom/ClientObject.h"

namespace tagwell::dcom {

using namespace com;

ComPtr<IUnknown> RemoteObject::FromObjref(const std::shared_ptr<ClientSession>& session,
                                          std::span<const std::uint8_t> objref) {
  auto parsed = ParseObjref(objref);
  if (!parsed || parsed->flags != OBJREF_STANDARD) return nullptr;
  // An object of another exporter would need a session of its own.
  if (parsed->std.oxid != session->oxid()) return nullptr;
  return FromStd(session, parsed->std, parsed->iid);
}

ComPtr<IUnknown> RemoteObject::FromStd(const std::shared_ptr<ClientSession>& session,
                                       const StdObjref& std, const IID& iid) {
  auto* object = new RemoteObject(session, std.oid);
  ComPtr<IUnknown> held(object);  // one reference, or deleted on return
  if (!object->Interface(iid, std.ipid, std.publicRefs)) {
    // Nothing this layer can call: give the references back at once.
    if (std.publicRefs) session->RemRelease(std.ipid, std.publicRefs);
    return nullptr;
  }
  if (!(std.flags & SORF_NOPING)) session->AddPing(std.oid);
  return held;
}

RemoteObject::RemoteObject(std::shared_ptr<ClientSession> session, OID oid)
    : session_(std::move(session)), oid_(oid) {}

RemoteObject::~RemoteObject() {
  for (const Held& h : held_)
    if (h.refs) session_->RemRelease(h.ipid, h.refs);
  session_->RemovePing(oid_);
}

void* RemoteObject::Interface(const IID& iid, const IPID& ipid, std::uint32_t refs) {
  std::lock_guard lock(mutex_);
  for (const Held& h : held_)
    if (h.iid == iid) return h.tearOff ? h.tearOff->Pointer() : nullptr;
  if (iid == IID_IUnknown) {
    held_.push_back({iid, ipid, refs, nullptr});
    return static_cast<IUnknown*>(this);
  }
  auto tearOff = ProxyFactory() ? ProxyFactory()(iid, *this, ipid) : nullptr;
  void* pointer = tearOff ? tearOff->Pointer() : nullptr;
  held_.push_back({iid, ipid, refs, std::move(tearOff)});
  return pointer;
}

HRESULT RemoteObject::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (riid == IID_IUnknown) {
    *ppv = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  IPID known{};
  {
    std::lock_guard lock(mutex_);
    for (const Held& h : held_) {
      if (h.iid == riid && h.tearOff) {
        *ppv = h.tearOff->Pointer();
        AddRef();
        return S_OK;
      }
    }
    if (held_.empty()) return E_NOINTERFACE;
    known = held_.front().ipid;
  }
  if (!ProxyFactory() || !ProxyFactory()(riid, *this, known)) return E_NOINTERFACE;
  StdObjref std;
  HRESULT hr = session_->QueryRemote(known, riid, &std);
  if (FAILED(hr)) return hr == RPC_E_DISCONNECTED || hr == RPC_E_TIMEOUT ? hr : E_NOINTERFACE;
  void* pointer = Interface(riid, std.ipid, std.publicRefs);
  if (!pointer) return E_NOINTERFACE;
  *ppv = pointer;
  AddRef();
  return S_OK;
}

ULONG RemoteObject::AddRef() {
  return ++refs_;
}

ULONG RemoteObject::Release() {
  ULONG left = --refs_;
  if (left == 0) delete this;
  return left;
}

}  // namespace tagwell::dcom
