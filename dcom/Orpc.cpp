#include "dcom/Orpc.h"

#include <sys/random.h>

#include <random>

namespace tagwell::dcom {

namespace {

// The most ORPC extents one call may carry; Windows sends one or two.
constexpr std::uint32_t kMaxExtents = 64;

void SkipExtents(NdrReader& r) {
  std::uint32_t size = r.U32();
  r.U32();  // reserved
  std::uint32_t array = r.Pointer();
  if (!r.ok() || size > kMaxExtents) {
    r.Fail();
    return;
  }
  if (!array) return;
  std::uint32_t n = r.Conformance(4);
  if (!r.ok() || n != ((size + 1) & ~1u)) {
    r.Fail();
    return;
  }
  std::vector<std::uint32_t> present(n);
  for (auto& p : present) p = r.Pointer();
  for (std::uint32_t p : present) {
    if (!p || !r.ok()) continue;
    std::uint32_t max = r.Conformance(1);
    r.Guid();
    std::uint32_t bytes = r.U32();
    if (!r.ok() || max != ((std::uint64_t(bytes) + 7) & ~7ull)) {
      r.Fail();
      return;
    }
    r.Skip(max);
  }
}

std::u16string ReadZeroTerminated(const std::vector<std::uint16_t>& units, std::size_t* at) {
  std::u16string text;
  while (*at < units.size() && units[*at] != 0)
    text.push_back(static_cast<char16_t>(units[(*at)++]));
  ++*at;
  return text;
}

Bindings DecodeBindings(const std::vector<std::uint16_t>& units, std::uint16_t securityOffset,
                        bool* ok) {
  Bindings b;
  if (securityOffset > units.size()) {
    *ok = false;
    return b;
  }
  std::size_t at = 0;
  while (at < securityOffset && units[at] != 0) {
    std::uint16_t tower = units[at++];
    std::u16string address = ReadZeroTerminated(units, &at);
    if (tower == kTowerTcp) b.tcp.push_back(address);
  }
  at = securityOffset;
  while (at + 1 < units.size() && units[at] != 0) {
    SecurityBinding s;
    s.authnService = units[at];
    at += 2;  // and the reserved authorisation service
    s.principal = ReadZeroTerminated(units, &at);
    b.security.push_back(s);
  }
  *ok = at <= units.size();
  return b;
}

}  // namespace

OrpcThis ReadOrpcThis(NdrReader& r) {
  OrpcThis orpc;
  orpc.major = r.U16();
  orpc.minor = r.U16();
  orpc.flags = r.U32();
  r.U32();  // reserved1
  orpc.cid = r.Guid();
  if (r.Pointer()) SkipExtents(r);
  if (r.ok() && orpc.major != kComVersionMajor) r.Fail();
  return orpc;
}

void WriteOrpcThis(NdrWriter& w, const OrpcThis& orpc) {
  w.U16(orpc.major);
  w.U16(orpc.minor);
  w.U32(orpc.flags);
  w.U32(0);
  w.Guid(orpc.cid);
  w.Pointer(false);
}

void WriteOrpcThat(NdrWriter& w) {
  w.U32(0);
  w.Pointer(false);
}

void ReadOrpcThat(NdrReader& r) {
  r.U32();
  if (r.Pointer()) SkipExtents(r);
}

void WriteStdObjref(NdrWriter& w, const StdObjref& std) {
  w.U32(std.flags);
  w.U32(std.publicRefs);
  w.U64(std.oxid);
  w.U64(std.oid);
  w.Guid(std.ipid);
}

StdObjref ReadStdObjref(NdrReader& r) {
  StdObjref std;
  std.flags = r.U32();
  std.publicRefs = r.U32();
  std.oxid = r.U64();
  std.oid = r.U64();
  std.ipid = r.Guid();
  return std;
}

std::vector<std::uint16_t> EncodeBindings(const Bindings& bindings, std::uint16_t* securityOffset) {
  std::vector<std::uint16_t> units;
  for (const auto& address : bindings.tcp) {
    units.push_back(kTowerTcp);
    units.insert(units.end(), address.begin(), address.end());
    units.push_back(0);
  }
  if (bindings.tcp.empty()) units.push_back(0);
  units.push_back(0);
  *securityOffset = static_cast<std::uint16_t>(units.size());
  for (const auto& s : bindings.security) {
    units.push_back(s.authnService);
    units.push_back(0xFFFF);  // authorisation service: none named
    units.insert(units.end(), s.principal.begin(), s.principal.end());
    units.push_back(0);
  }
  if (bindings.security.empty()) units.push_back(0);
  units.push_back(0);
  return units;
}

void WriteBindings(NdrWriter& w, const Bindings& bindings, bool conformant) {
  std::uint16_t offset = 0;
  auto units = EncodeBindings(bindings, &offset);
  if (conformant) w.Conformance(static_cast<std::uint32_t>(units.size()));
  w.U16(static_cast<std::uint16_t>(units.size()));
  w.U16(offset);
  for (auto u : units) w.U16(u);
}

Bindings ReadBindings(NdrReader& r, bool conformant) {
  std::uint32_t max = conformant ? r.Conformance(2) : 0;
  std::uint16_t entries = r.U16();
  std::uint16_t offset = r.U16();
  if (!r.ok() || (conformant && max != entries)) {
    r.Fail();
    return {};
  }
  auto units = r.Elements<std::uint16_t>(entries);
  if (!r.ok()) return {};
  bool ok = true;
  Bindings b = DecodeBindings(units, offset, &ok);
  if (!ok) r.Fail();
  return b;
}

std::vector<std::uint8_t> MakeStandardObjref(const com::IID& iid, const StdObjref& std,
                                             const Bindings& bindings) {
  NdrWriter w;
  w.U32(kObjrefSignature);
  w.U32(OBJREF_STANDARD);
  w.Guid(iid);
  WriteStdObjref(w, std);
  WriteBindings(w, bindings, false);
  return w.Take();
}

std::vector<std::uint8_t> MakeCustomObjref(const com::IID& iid, const com::CLSID& clsid,
                                           const std::vector<std::uint8_t>& data) {
  NdrWriter w;
  w.U32(kObjrefSignature);
  w.U32(OBJREF_CUSTOM);
  w.Guid(iid);
  w.Guid(clsid);
  w.U32(0);  // cbExtension
  w.U32(static_cast<std::uint32_t>(data.size()));
  w.Raw(data.data(), data.size());
  return w.Take();
}

std::optional<Objref> ParseObjref(std::span<const std::uint8_t> bytes) {
  NdrReader r(bytes);
  Objref o;
  if (r.U32() != kObjrefSignature) return std::nullopt;
  o.flags = r.U32();
  o.iid = r.Guid();
  if (o.flags == OBJREF_STANDARD || o.flags == OBJREF_HANDLER) {
    o.std = ReadStdObjref(r);
    if (o.flags == OBJREF_HANDLER) o.clsid = r.Guid();
    o.bindings = ReadBindings(r, false);
  } else if (o.flags == OBJREF_CUSTOM) {
    o.clsid = r.Guid();
    r.U32();  // cbExtension
    r.U32();  // size: reserved, the rest of the reference is the data
    if (r.ok()) o.data.assign(bytes.begin() + r.position(), bytes.end());
  } else {
    return std::nullopt;
  }
  if (!r.ok()) return std::nullopt;
  return o;
}

std::uint64_t RandomId64() {
  std::uint64_t v = 0;
  while (v == 0) {
    if (getrandom(&v, sizeof v, 0) != sizeof v) v = std::random_device{}();
  }
  return v;
}

com::GUID RandomGuid() {
  com::GUID g{};
  std::uint8_t bytes[16] = {};
  if (getrandom(bytes, sizeof bytes, 0) != sizeof bytes) {
    std::random_device device;
    for (auto& b : bytes) b = static_cast<std::uint8_t>(device());
  }
  std::memcpy(&g.Data1, bytes, 4);
  std::memcpy(&g.Data2, bytes + 4, 2);
  std::memcpy(&g.Data3, bytes + 6, 2);
  std::memcpy(g.Data4, bytes + 8, 8);
  g.Data3 = static_cast<std::uint16_t>((g.Data3 & 0x0FFF) | 0x4000);  // version 4
  g.Data4[0] = static_cast<std::uint8_t>((g.Data4[0] & 0x3F) | 0x80);
  return g;
}

}  // namespace tagwell::dcom
