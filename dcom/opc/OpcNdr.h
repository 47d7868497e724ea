// The OPC DA 2.0 structures as NDR lays them out, for both ends: a stub
// reads what a client writes (item definitions, values) and writes what a
// client reads (results, states, attributes, status); a proxy does the
// opposite. Enumerations (OPCEUTYPE, OPCSERVERSTATE ...) travel as 16-bit
// NDR enums.
//
// Arrays of structures are written as NDR orders them: all the structures,
// then the deferred pointees of each in turn.
#pragma once

#include <string>
#include <vector>

#include "dcom/Ndr.h"
#include "platform/opcda/OpcDa.h"

namespace tagwell::dcom::opc {

// Item definitions read from the wire, with the storage their strings and
// blobs point into.
class ItemDefs {
 public:
  // [in, size_is(count)] OPCITEMDEF*: the conformance must equal count.
  void Read(NdrReader& r, std::uint32_t count);
  com::OPCITEMDEF* data() { return defs_.data(); }
  std::uint32_t size() const { return static_cast<std::uint32_t>(defs_.size()); }

 private:
  std::vector<com::OPCITEMDEF> defs_;
  std::vector<std::u16string> strings_;
  std::vector<std::vector<std::uint8_t>> blobs_;
};
// A proxy's side: the conformant array of definitions.
void WriteItemDefs(NdrWriter& w, const com::OPCITEMDEF* defs, std::uint32_t count);

// [out, size_is(,count)] T**: the unique pointer and, when the array is
// there, the conformant array of structures with their pointees. The
// structures are freed by the caller.
void WriteItemResults(NdrWriter& w, const com::OPCITEMRESULT* results, std::uint32_t count);
com::HRESULT WriteItemStates(NdrWriter& w, const com::OPCITEMSTATE* states, std::uint32_t count);
com::HRESULT WriteItemAttributes(NdrWriter& w, const com::OPCITEMATTRIBUTES* records,
                                 std::uint32_t count);
// [out] OPCSERVERSTATUS**.
void WriteServerStatus(NdrWriter& w, const com::OPCSERVERSTATUS* status);

// A proxy's side: the same read into task-allocator blocks the caller frees
// as it frees what an in-process server hands out. Null for a null pointer;
// the reader fails on a count other than expected (any count when
// expected is kAnyCount).
inline constexpr std::uint32_t kAnyCount = 0xFFFFFFFF;
com::OPCITEMRESULT* ReadItemResults(NdrReader& r, std::uint32_t expected);
com::OPCITEMSTATE* ReadItemStates(NdrReader& r, std::uint32_t expected);
com::OPCITEMATTRIBUTES* ReadItemAttributes(NdrReader& r, std::uint32_t expected,
                                           std::uint32_t* count);
com::OPCSERVERSTATUS* ReadServerStatus(NdrReader& r);
com::HRESULT* ReadErrors(NdrReader& r, std::uint32_t expected);

// Frees what the stubs and proxies hand over, strings and values included.
void FreeItemResults(com::OPCITEMRESULT* results, std::uint32_t count);
void FreeItemStates(com::OPCITEMSTATE* states, std::uint32_t count);
void FreeItemAttributes(com::OPCITEMATTRIBUTES* records, std::uint32_t count);
void FreeServerStatus(com::OPCSERVERSTATUS* status);

}  // namespace tagwell::dcom::opc
