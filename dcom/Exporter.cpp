#include "dcom/Exporter.h"

#include <algorithm>

namespace tagwell::dcom {

using namespace com;

std::vector<std::uint8_t> GuidKey(const GUID& g) {
  std::vector<std::uint8_t> key(16);
  std::memcpy(key.data(), &g.Data1, 4);
  std::memcpy(key.data() + 4, &g.Data2, 2);
  std::memcpy(key.data() + 6, &g.Data3, 2);
  std::memcpy(key.data() + 8, g.Data4, 8);
  return key;
}

Exporter::Exporter(Bindings bindings, NowFunction clock, std::chrono::seconds pingPeriod,
                   InterfaceQuery query)
    : oxid_(RandomId64()),
      remUnknown_(RandomGuid()),
      bindings_(std::move(bindings)),
      clock_(std::move(clock)),
      pingPeriod_(pingPeriod),
      query_(std::move(query)) {}

bool Exporter::Expired(std::chrono::steady_clock::time_point last) const {
  return clock_() - last > pingPeriod_ * kPingsMissed;
}

HRESULT Exporter::Marshal(IUnknown* object, const IID& iid, StdObjref* out) {
  if (!object) return E_POINTER;
  ComPtr<IUnknown> identity;
  HRESULT hr = object->QueryInterface(IID_IUnknown, identity.ReceiveVoid());
  if (FAILED(hr) || !identity) return FAILED(hr) ? hr : E_NOINTERFACE;
  ComPtr<IUnknown> itf;
  hr = query_(object, iid, itf.Receive());
  if (FAILED(hr) || !itf) return FAILED(hr) ? hr : E_NOINTERFACE;
  std::lock_guard lock(mutex_);
  OID oid = 0;
  if (auto found = byIdentity_.find(identity.Get()); found != byIdentity_.end()) {
    oid = found->second;
  } else {
    oid = RandomId64();
    Object record;
    record.state = std::make_shared<ObjectState>();
    record.identity = identity;
    record.lastPing = clock_();
    byIdentity_[identity.Get()] = oid;
    objects_.emplace(oid, std::move(record));
  }
  return ExportLocked(oid, iid, std::move(itf), 1, out);
}

HRESULT Exporter::MarshalObjref(IUnknown* object, const IID& iid,
                                std::vector<std::uint8_t>* objref) {
  StdObjref std;
  HRESULT hr = Marshal(object, iid, &std);
  if (SUCCEEDED(hr)) *objref = MakeStandardObjref(iid, std, bindings_);
  return hr;
}

HRESULT Exporter::ExportLocked(OID oid, const IID& iid, ComPtr<IUnknown> itf, std::uint32_t refs,
                               StdObjref* out) {
  Object& object = objects_.at(oid);
  auto key = GuidKey(iid);
  IPID ipid{};
  if (auto found = object.ipids.find(key); found != object.ipids.end()) {
    ipid = found->second;
  } else {
    ipid = RandomGuid();
    object.ipids[key] = ipid;
    interfaces_[GuidKey(ipid)] = Interface{oid, iid, std::move(itf), 0};
  }
  interfaces_[GuidKey(ipid)].publicRefs += refs;
  out->flags = 0;
  out->publicRefs = refs;
  out->oxid = oxid_;
  out->oid = oid;
  out->ipid = ipid;
  return S_OK;
}

std::optional<Exporter::Target> Exporter::Find(const IPID& ipid) {
  std::lock_guard lock(mutex_);
  auto found = interfaces_.find(GuidKey(ipid));
  if (found == interfaces_.end()) return std::nullopt;
  return Target{found->second.itf, found->second.iid, objects_.at(found->second.oid).state};
}

std::shared_ptr<ObjectState> Exporter::StateOf(IUnknown* object) {
  ComPtr<IUnknown> identity;
  if (!object || FAILED(object->QueryInterface(IID_IUnknown, identity.ReceiveVoid()))) return {};
  std::lock_guard lock(mutex_);
  auto found = byIdentity_.find(identity.Get());
  if (found == byIdentity_.end()) return {};
  return objects_.at(found->second).state;
}

HRESULT Exporter::QueryInterface(const IPID& ipid, const IID& iid, std::uint32_t refs,
                                 StdObjref* out) {
  ComPtr<IUnknown> identity;
  OID oid = 0;
  {
    std::lock_guard lock(mutex_);
    auto found = interfaces_.find(GuidKey(ipid));
    if (found == interfaces_.end()) return RPC_E_DISCONNECTED;
    oid = found->second.oid;
    identity = objects_.at(oid).identity;
  }
  ComPtr<IUnknown> itf;
  HRESULT hr = query_(identity.Get(), iid, itf.Receive());
  if (FAILED(hr) || !itf) return FAILED(hr) ? hr : E_NOINTERFACE;
  std::lock_guard lock(mutex_);
  if (!objects_.count(oid)) return RPC_E_DISCONNECTED;
  return ExportLocked(oid, iid, std::move(itf), std::max<std::uint32_t>(refs, 1), out);
}

HRESULT Exporter::AddRef(const IPID& ipid, std::uint32_t refs) {
  std::lock_guard lock(mutex_);
  auto found = interfaces_.find(GuidKey(ipid));
  if (found == interfaces_.end()) return E_INVALIDARG;
  found->second.publicRefs += refs;
  return S_OK;
}

HRESULT Exporter::Release(const IPID& ipid, std::uint32_t refs) {
  std::vector<ComPtr<IUnknown>> released;  // released after the lock
  std::lock_guard lock(mutex_);
  auto found = interfaces_.find(GuidKey(ipid));
  if (found == interfaces_.end()) return E_INVALIDARG;
  Interface& itf = found->second;
  itf.publicRefs -= std::min(refs, itf.publicRefs);
  OID oid = itf.oid;
  const Object& object = objects_.at(oid);
  bool referenced = false;
  for (const auto& [iid, other] : object.ipids)
    referenced |= interfaces_.at(GuidKey(other)).publicRefs > 0;
  if (!referenced) DropObjectLocked(oid, &released);
  return S_OK;
}

void Exporter::DropObjectLocked(OID oid, std::vector<ComPtr<IUnknown>>* released) {
  auto found = objects_.find(oid);
  if (found == objects_.end()) return;
  for (const auto& [iid, ipid] : found->second.ipids) {
    auto itf = interfaces_.find(GuidKey(ipid));
    released->push_back(std::move(itf->second.itf));
    interfaces_.erase(itf);
  }
  byIdentity_.erase(found->second.identity.Get());
  released->push_back(std::move(found->second.identity));
  objects_.erase(found);
}

HRESULT Exporter::ComplexPing(SETID* setId, std::span<const OID> add, std::span<const OID> remove) {
  std::lock_guard lock(mutex_);
  if (*setId == 0) {
    *setId = RandomId64();
    sets_[*setId].lastPing = clock_();
  }
  auto set = sets_.find(*setId);
  if (set == sets_.end()) return E_INVALIDARG;  // OR_INVALID_SET is the caller's to give
  auto now = clock_();
  set->second.lastPing = now;
  auto& oids = set->second.oids;
  for (OID oid : remove) oids.erase(std::remove(oids.begin(), oids.end(), oid), oids.end());
  for (OID oid : add)
    if (objects_.count(oid) && std::find(oids.begin(), oids.end(), oid) == oids.end())
      oids.push_back(oid);
  for (OID oid : oids)
    if (auto object = objects_.find(oid); object != objects_.end()) object->second.lastPing = now;
  return S_OK;
}

HRESULT Exporter::SimplePing(SETID setId) {
  std::lock_guard lock(mutex_);
  auto set = sets_.find(setId);
  if (set == sets_.end()) return E_INVALIDARG;
  auto now = clock_();
  set->second.lastPing = now;
  for (OID oid : set->second.oids)
    if (auto object = objects_.find(oid); object != objects_.end()) object->second.lastPing = now;
  return S_OK;
}

void Exporter::Collect() {
  std::vector<ComPtr<IUnknown>> released;
  std::lock_guard lock(mutex_);
  for (auto set = sets_.begin(); set != sets_.end();)
    set = Expired(set->second.lastPing) ? sets_.erase(set) : std::next(set);
  std::vector<OID> expired;
  for (const auto& [oid, object] : objects_)
    if (Expired(object.lastPing)) expired.push_back(oid);
  for (OID oid : expired) DropObjectLocked(oid, &released);
}

std::size_t Exporter::ObjectCount() const {
  std::lock_guard lock(mutex_);
  return objects_.size();
}

}  // namespace tagwell::dcom
