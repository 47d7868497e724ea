// What the read cycle tells others about the rows it reads: one call per row
// whose reading it has just applied (the row's columns rewritten, the row
// recorded when recording is on). Readings that failed are not told.
#pragma once

#include <string>

#include "opc/ClientState.h"

namespace tagwell {

struct RowReading {
  int row = 0;
  std::string itemName;  // the item ID as UTF-8
  VARTYPE canonical = com::VT_EMPTY;
  // The value as read; null when the reader kept none for the observer.
  const com::VARIANT* value = nullptr;
  FILETIME timeStamp{};  // UTC, as the server delivered it
  WORD quality = 0;
};

class ReadingObserver {
 public:
  virtual ~ReadingObserver() = default;
  // Called on the thread that applies the readings (the window's), while
  // the cycle runs; value points into the cycle's data only for the call.
  virtual void OnReading(const RowReading& reading) = 0;
};

// The reading ReadGroup has just applied to row (its ItemRecord).
RowReading ReadingOfRow(const Client& client, int row);

// Keeps the value of the one-item read (ReadItem clears its out value and
// keeps the number only in CurrentReading) for the observer.
class LastItemReading final {
 public:
  explicit LastItemReading(Client& client);
  // The reading of row after ReadItem gave quality.
  RowReading Take(int row, WORD quality);

 private:
  Client& client_;
  int valueTypeBefore_;
  com::Variant value_;
};

}  // namespace tagwell
