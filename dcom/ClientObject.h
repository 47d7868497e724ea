// A COM object on another computer, as the client holds it: its identity
// (IUnknown) and one interface proxy ("tear-off") per interface asked for,
// each calling its IPID over the object's ClientSession. AddRef, Release
// and QueryInterface of every tear-off are the object's, so identity and
// reference counts are those of one COM object. An interface the client
// has not used yet is asked of the server (IRemUnknown) on first
// QueryInterface. The last Release gives every IPID's references back
// (RemRelease) and takes the object out of the ping set.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "dcom/ClientSession.h"
#include "dcom/NdrOaut.h"
#include "platform/com/Unknown.h"

namespace tagwell::dcom {

class RemoteObject;

// What RemoteObject owns of its tear-offs.
class TearOffBase {
 public:
  virtual ~TearOffBase() = default;
  virtual void* Pointer() = 0;  // the interface pointer handed out
};

// Makes the tear-off of iid for owner calling ipid; null when this layer
// has no proxy of that interface.
using TearOffFactory = std::unique_ptr<TearOffBase> (*)(const com::IID& iid, RemoteObject& owner,
                                                        const IPID& ipid);
// The proxies of dcom/opc (installed by them; see ClientProxies.h).
TearOffFactory ProxyFactory();

class RemoteObject final : public com::IUnknown {
 public:
  // The object of a standard OBJREF for interface iid an answer carried;
  // null for anything else.
  static com::ComPtr<com::IUnknown> FromObjref(const std::shared_ptr<ClientSession>& session,
                                               std::span<const std::uint8_t> objref);
  static com::ComPtr<com::IUnknown> FromStd(const std::shared_ptr<ClientSession>& session,
                                            const StdObjref& std, const com::IID& iid);

  com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override;
  com::ULONG AddRef() override;
  com::ULONG Release() override;

  ClientSession& session() { return *session_; }
  const std::shared_ptr<ClientSession>& sharedSession() const { return session_; }

 private:
  RemoteObject(std::shared_ptr<ClientSession> session, OID oid);
  ~RemoteObject() override;
  // The tear-off of iid (made when ipid is known), null when none.
  void* Interface(const com::IID& iid, const IPID& ipid, std::uint32_t refs);

  struct Held {
    com::IID iid;
    IPID ipid;
    std::uint32_t refs;
    std::unique_ptr<TearOffBase> tearOff;
  };

  std::shared_ptr<ClientSession> session_;
  OID oid_;
  std::mutex mutex_;
  std::vector<Held> held_;
  std::atomic<com::ULONG> refs_{0};
};

// Base of the interface proxies: IUnknown goes to the object; Call goes to
// this interface's IPID.
template <class Interface>
class RemoteTearOff : public Interface, public TearOffBase {
 public:
  RemoteTearOff(RemoteObject& owner, const IPID& ipid) : owner_(owner), ipid_(ipid) {}
  com::HRESULT QueryInterface(com::REFIID riid, void** ppv) override {
    return owner_.QueryInterface(riid, ppv);
  }
  com::ULONG AddRef() override { return owner_.AddRef(); }
  com::ULONG Release() override { return owner_.Release(); }
  void* Pointer() override { return static_cast<Interface*>(this); }

 protected:
  // The call's HRESULT: the transport's failure, else what the answer
  // carried (read sets *hr from the answer's last field).
  com::HRESULT Call(const com::IID& iid, std::uint16_t opnum,
                    const std::function<void(NdrWriter&)>& args, const AnswerReader& read) {
    return owner_.session().Call(iid, opnum, ipid_, args, read);
  }
  // An [out, iid_is(riid)] interface pointer of the answer, into *ppv.
  com::HRESULT TakeObject(NdrReader& in, com::REFIID riid, void** ppv);
  // A call whose answer is such a pointer and then the HRESULT, after what
  // readFirst takes: *ppv holds the object only when the call went through.
  com::HRESULT CallForObject(const com::IID& iid, std::uint16_t opnum,
                             const std::function<void(NdrWriter&)>& args, com::REFIID riid,
                             void** ppv, const AnswerReader& readFirst = nullptr);

  RemoteObject& owner_;
  IPID ipid_;
};

template <class Interface>
com::HRESULT RemoteTearOff<Interface>::TakeObject(NdrReader& in, com::REFIID riid, void** ppv) {
  *ppv = nullptr;
  if (!in.Pointer()) return com::S_OK;
  std::vector<std::uint8_t> objref = ReadInterfacePointer(in);
  if (!in.ok()) return com::E_FAIL;
  auto object = RemoteObject::FromObjref(owner_.sharedSession(), objref);
  if (!object) {
    in.Fail();
    return com::E_FAIL;
  }
  return object->QueryInterface(riid, ppv);
}

template <class Interface>
com::HRESULT RemoteTearOff<Interface>::CallForObject(const com::IID& iid, std::uint16_t opnum,
                                                     const std::function<void(NdrWriter&)>& args,
                                                     com::REFIID riid, void** ppv,
                                                     const AnswerReader& readFirst) {
  *ppv = nullptr;
  com::HRESULT answer = com::E_FAIL, given = com::S_OK;
  com::HRESULT hr = Call(iid, opnum, args, [&](NdrReader& in) {
    if (readFirst) readFirst(in);
    given = TakeObject(in, riid, ppv);
    answer = in.I32();
  });
  if (com::FAILED(hr) && *ppv) {
    static_cast<com::IUnknown*>(*ppv)->Release();
    *ppv = nullptr;
  }
  return com::FAILED(hr) ? hr : com::FAILED(given) ? given : answer;
}

}  // namespace tagwell::dcom
