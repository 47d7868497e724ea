// Server calls made ahead for many rows at once: one IOPCSyncIO::Read for a
// chunk of rows, one AddItems for a chunk of new items, the EU types of a
// group from its attribute enumeration in batches. The answers wait here,
// by row, and the one-row operations (ReadGroup, ReadItem, AddItem,
// ReadItemAttributes) take them instead of calling the server, so a row is
// shown, logged and recorded exactly as a call of its own would have it.
// A row without an answer here (the batch call failed, or was not made)
// makes its own call as before.
//
// Thread rules: those of Client (the window's thread).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "opc/ClientState.h"

namespace tagwell {

// The answer of a read for one row.
struct PrefetchedRead {
  OPCHANDLE handle = 0;
  HRESULT itemError = com::S_OK;
  FILETIME ftTimeStamp{};
  WORD wQuality = 0;
  com::Variant value;
};

// The answer of AddItems for one new row.
struct PrefetchedAdd {
  std::u16string name;
  HRESULT hr = com::S_OK;  // what a call for this item alone returns
  HRESULT itemError = com::S_OK;
  OPCHANDLE hServer = 0;
  VARTYPE canonical = com::VT_EMPTY;
};

struct Prefetch {
  std::map<int, PrefetchedRead> reads;
  std::map<int, PrefetchedAdd> adds;
  std::map<std::u16string, WORD> euTypes;  // by item ID, for items added in a batch
};

// How many handles one batch call carries at most: a message stays small
// (a few hundred readings) and the server's answer comes in one piece.
inline constexpr int kReadChunk = 500;
inline constexpr int kAddChunk = 250;
// Records asked of an enumerator per Next.
inline constexpr int kEnumBatch = 100;

// Reads rows [first, last] (their serverHandles) in one IOPCSyncIO::Read
// and keeps the answers for ReadGroup. A call that fails leaves nothing
// (each row then reads alone), except a lost server, which is marked
// (MarkServerLost) and returned as true.
bool PrefetchReads(Client& client, com::IOPCItemMgt* itemMgt, int first, int last);

// The answer kept for row with handle, taken out of the store; nullopt when
// there is none.
std::optional<PrefetchedRead> TakePrefetchedRead(Client& client, int row, OPCHANDLE handle);

// Adds the items (ANSI IDs, rows firstRow, firstRow + 1, ...) in one AddItems
// call, then reads their EU types from the group's attribute enumeration
// and their first values in one Read, and keeps all of it for AddItem,
// ReadItemAttributes and ReadItem. As PrefetchReads for failures.
bool PrefetchAdditions(Client& client, com::IOPCItemMgt* itemMgt, int firstRow,
                       const std::vector<std::string>& ids);

// The kept answer of AddItems for row, when it was made for name.
const PrefetchedAdd* PrefetchedAddFor(const Client& client, int row, const WCHAR* name);
// The kept EU type of the item with this ID.
std::optional<WORD> PrefetchedEuType(const Client& client, const WCHAR* name);

// Forgets every kept answer when it goes (also on early returns).
class PrefetchScope final {
 public:
  explicit PrefetchScope(Client& client) : client_(client) {}
  ~PrefetchScope();
  PrefetchScope(const PrefetchScope&) = delete;
  PrefetchScope& operator=(const PrefetchScope&) = delete;

 private:
  Client& client_;
};

}  // namespace tagwell
