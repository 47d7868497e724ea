// The ORPC layer of DCOM: the ORPCTHIS/ORPCTHAT that open every call and
// answer on an object, object references (OBJREF) with their STDOBJREF and
// DUALSTRINGARRAY, and the identifiers OXID, OID, IPID and SETID.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dcom/Ndr.h"
#include "platform/com/Types.h"

namespace tagwell::dcom {

using OXID = std::uint64_t;   // an object exporter (this server process)
using OID = std::uint64_t;    // an exported object
using SETID = std::uint64_t;  // a ping set of a client
using IPID = com::GUID;       // one interface of one exported object

inline constexpr std::uint32_t kObjrefSignature = 0x574F454D;  // "MEOW"
inline constexpr std::uint32_t OBJREF_STANDARD = 0x1;
inline constexpr std::uint32_t OBJREF_HANDLER = 0x2;
inline constexpr std::uint32_t OBJREF_CUSTOM = 0x4;
inline constexpr std::uint32_t OBJREF_EXTENDED = 0x8;
inline constexpr std::uint32_t SORF_NOPING = 0x1000;
inline constexpr std::uint16_t kTowerTcp = 0x07;    // ncacn_ip_tcp
inline constexpr std::uint16_t kAuthnWinNt = 0x0A;  // NTLM
inline constexpr std::uint16_t kComVersionMajor = 5;
inline constexpr std::uint16_t kComVersionMinor = 7;

struct OrpcThis {
  std::uint16_t major = kComVersionMajor;
  std::uint16_t minor = kComVersionMinor;
  std::uint32_t flags = 0;
  com::GUID cid{};
};

// Reads an ORPCTHIS, skipping its extensions (checked, not kept). The
// reader fails on anything malformed or on a major version other than 5.
OrpcThis ReadOrpcThis(NdrReader& r);
void WriteOrpcThis(NdrWriter& w, const OrpcThis& orpc);
void WriteOrpcThat(NdrWriter& w);
void ReadOrpcThat(NdrReader& r);

struct StdObjref {
  std::uint32_t flags = 0;
  std::uint32_t publicRefs = 0;
  OXID oxid = 0;
  OID oid = 0;
  IPID ipid{};
};
void WriteStdObjref(NdrWriter& w, const StdObjref& std);
StdObjref ReadStdObjref(NdrReader& r);

struct SecurityBinding {
  std::uint16_t authnService = kAuthnWinNt;
  std::u16string principal;
};

// Where an object exporter listens and how it authenticates.
struct Bindings {
  std::vector<std::u16string> tcp;  // network addresses, "ADDRESS[PORT]"
  std::vector<SecurityBinding> security;
};

// The DUALSTRINGARRAY as its entries and security offset (in 16-bit units).
std::vector<std::uint16_t> EncodeBindings(const Bindings& bindings, std::uint16_t* securityOffset);
// The DUALSTRINGARRAY inside an OBJREF (no conformance) or as an NDR
// conformant structure (as ResolveOxid and the activation answer carry it).
void WriteBindings(NdrWriter& w, const Bindings& bindings, bool conformant);
Bindings ReadBindings(NdrReader& r, bool conformant);

// A standard OBJREF for one interface of an object.
std::vector<std::uint8_t> MakeStandardObjref(const com::IID& iid, const StdObjref& std,
                                             const Bindings& bindings);
// A custom OBJREF (activation properties).
std::vector<std::uint8_t> MakeCustomObjref(const com::IID& iid, const com::CLSID& clsid,
                                           const std::vector<std::uint8_t>& data);

struct Objref {
  std::uint32_t flags = 0;
  com::IID iid{};
  StdObjref std;                   // standard and handler
  Bindings bindings;               // standard and handler
  com::CLSID clsid{};              // custom and handler
  std::vector<std::uint8_t> data;  // custom
};
// nullopt for anything but a well-formed standard, handler or custom OBJREF.
std::optional<Objref> ParseObjref(std::span<const std::uint8_t> bytes);

// Fresh random identifiers (never 0).
std::uint64_t RandomId64();
com::GUID RandomGuid();

}  // namespace tagwell::dcom
