// The object exporter of this process: which objects are reachable over
// DCOM, by IPID, with their references, and their lifetime by pinging.
//
// An object is exported once per identity (its IUnknown) and gets an OID;
// each of its interfaces asked for gets an IPID and counts the public
// references handed out for it. An object dies here when its references are
// released (RemRelease) or when no client has pinged it for
// pingPeriod * kPingsMissed; then the exporter drops its hold on the COM
// object. Thread-safe: the table is guarded by one mutex, and no COM object
// is called while it is held.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "dcom/Orpc.h"
#include "platform/com/Unknown.h"

namespace tagwell::dcom {

using NowFunction = std::function<std::chrono::steady_clock::time_point()>;

inline constexpr int kPingsMissed = 3;

// What the DCOM layer keeps about an object beside the object itself: the
// interfaces it answers for the object (IOPCCommon, IOPCGroupStateMgt)
// keep their state here. Guarded by its own mutex.
struct ObjectState {
  // Held for each call on the object: the server's objects (its
  // enumerators among them) see one call at a time, from any connection.
  std::mutex calls;
  std::mutex mutex;
  com::LCID locale = 0;
  std::u16string clientName;
  // A group's state as AddGroup set it and SetState changed it.
  bool isGroup = false;
  std::u16string name;
  com::DWORD updateRate = 0;
  com::BOOL active = 0;
  com::LONG timeBias = 0;
  com::FLOAT deadband = 0;
  com::DWORD clientGroup = 0;
  com::DWORD serverGroup = 0;
};

// How an exported object answers an interface: its own QueryInterface, or
// an interface the DCOM layer adds. Returns the interface pointer to call
// (AddRef'd) or an error.
using InterfaceQuery =
    std::function<com::HRESULT(com::IUnknown* object, const com::IID& iid, com::IUnknown** itf)>;

class Exporter {
 public:
  Exporter(Bindings bindings, NowFunction clock, std::chrono::seconds pingPeriod,
           InterfaceQuery query);

  OXID oxid() const { return oxid_; }
  const IPID& remUnknownIpid() const { return remUnknown_; }
  const Bindings& bindings() const { return bindings_; }
  std::chrono::seconds pingPeriod() const { return pingPeriod_; }

  // Exports interface iid of object with one public reference: its
  // STDOBJREF, or E_NOINTERFACE.
  com::HRESULT Marshal(com::IUnknown* object, const com::IID& iid, StdObjref* out);
  // The same as a standard OBJREF, as an MInterfacePointer carries it.
  com::HRESULT MarshalObjref(com::IUnknown* object, const com::IID& iid,
                             std::vector<std::uint8_t>* objref);

  struct Target {
    com::ComPtr<com::IUnknown> itf;  // the interface of the IPID
    com::IID iid{};
    std::shared_ptr<ObjectState> state;
  };
  std::optional<Target> Find(const IPID& ipid);
  // The state of an exported object by its identity (null when not exported).
  std::shared_ptr<ObjectState> StateOf(com::IUnknown* object);

  // IRemUnknown on an IPID's object: another interface with refs public
  // references; references added and released by IPID.
  com::HRESULT QueryInterface(const IPID& ipid, const com::IID& iid, std::uint32_t refs,
                              StdObjref* out);
  com::HRESULT AddRef(const IPID& ipid, std::uint32_t refs);
  com::HRESULT Release(const IPID& ipid, std::uint32_t refs);

  // Pinging. ComplexPing makes a set when setId is 0 and returns its id.
  com::HRESULT ComplexPing(SETID* setId, std::span<const OID> add, std::span<const OID> remove);
  com::HRESULT SimplePing(SETID setId);
  // Drops objects and sets nobody pinged for pingPeriod * kPingsMissed.
  void Collect();
  std::size_t ObjectCount() const;

 private:
  struct Interface {
    OID oid = 0;
    com::IID iid{};
    com::ComPtr<com::IUnknown> itf;
    std::uint32_t publicRefs = 0;
  };
  struct Object {
    com::ComPtr<com::IUnknown> identity;
    std::shared_ptr<ObjectState> state;
    std::map<std::vector<std::uint8_t>, IPID> ipids;  // by IID bytes
    std::chrono::steady_clock::time_point lastPing;
  };
  struct PingSet {
    std::vector<OID> oids;
    std::chrono::steady_clock::time_point lastPing;
  };

  com::HRESULT ExportLocked(OID oid, const com::IID& iid, com::ComPtr<com::IUnknown> itf,
                            std::uint32_t refs, StdObjref* out);
  void DropObjectLocked(OID oid, std::vector<com::ComPtr<com::IUnknown>>* released);
  bool Expired(std::chrono::steady_clock::time_point last) const;

  const OXID oxid_;
  const IPID remUnknown_;
  const Bindings bindings_;
  const NowFunction clock_;
  const std::chrono::seconds pingPeriod_;
  const InterfaceQuery query_;

  mutable std::mutex mutex_;
  std::map<OID, Object> objects_;
  std::map<com::IUnknown*, OID> byIdentity_;
  std::map<std::vector<std::uint8_t>, Interface> interfaces_;  // by IPID bytes
  std::map<SETID, PingSet> sets_;
};

// GUIDs as map keys.
std::vector<std::uint8_t> GuidKey(const com::GUID& g);

}  // namespace tagwell::dcom
