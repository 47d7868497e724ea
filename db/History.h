// The recorded readings of a few items over a period, read back from
// OPCvalues for the trend: a SQLite file or a server database named by a
// connection file. Rows are streamed and thinned while they are read, so a
// period of a year costs the memory of the points shown, not of its rows.
#pragma once

#include <QtGlobal>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/Ado.h"

namespace tagwell {

// One reading on a curve: ms since 1970 (UTC), the value, the OPC quality
// word.
struct SeriesPoint {
  qint64 ms = 0;
  double value = 0;
  std::uint16_t quality = 0xC0;
};

// Good, Good with limit bits and local override: what the curve may draw.
inline bool IsGoodQuality(std::uint16_t quality) {
  return (quality & 0xC0) == 0xC0;
}

// The quality word a recorded quality text stands for (the texts the
// readers write; an unknown text by its first word, Bad when even that is
// unknown).
std::uint16_t QualityOfText(std::string_view text);

struct HistoryRequest {
  std::vector<std::string> names;  // item IDs
  qint64 fromMs = 0;               // the period, both ends included
  qint64 toMs = 0;
  // The period is cut into this many equal buckets; an item with more rows
  // than twice as many is thinned to the lowest and the highest Good
  // reading of each bucket and its first reading that is not Good.
  int buckets = 1000;
};

struct ItemHistory {
  std::string name;
  std::vector<SeriesPoint> points;  // in time order
  long rows = 0;                    // rows of the period read for the item
  long textRows = 0;                // rows whose value is no number (strings)
  bool boolean = false;             // its rows are of type boolean
  bool thinned = false;             // points holds a thinned picture of the rows
};

struct HistoryResult {
  std::vector<ItemHistory> items;  // in the order of the request's names
  qint64 bucketMs = 0;             // the span of one bucket
};

// Opens the database at path for reading: a SQLite file (never created) or
// a connection file (ServerDatabase.h). Null, with a sentence for the
// operator in *reason, when it cannot be opened.
std::shared_ptr<ado::Connection> OpenHistoryDatabase(std::string_view path, std::string* reason);

// Reads the rows of the request's items whose local time (the six time
// columns) lies in the period, in any order the database returns them. A
// SQLite file is read on a read-only connection of its own that waits for
// a writer's lock as long as connection's busy timeout. False, with the
// database's reason in *reason, when the query fails.
bool ReadHistory(ado::Connection& connection, const HistoryRequest& request, HistoryResult* result,
                 std::string* reason);

// The item names recorded in OPCvalues, sorted, with whether their rows
// are booleans or strings (by the first row's type). False, with the
// database's reason, when the query fails.
struct RecordedItem {
  std::string name;
  std::string type;
};
bool ReadRecordedItems(ado::Connection& connection, std::vector<RecordedItem>* items,
                       std::string* reason);

// Thins one item's readings as ReadHistory does, for rows that arrive in
// any order: at most 2 x buckets raw points are kept, then only the
// buckets. Exposed for the live curves and the tests.
class HistoryThinner final {
 public:
  HistoryThinner(qint64 fromMs, qint64 toMs, int buckets);
  void Add(const SeriesPoint& point);
  // The points in time order; *thinned tells whether they are a thinned
  // picture. The thinner is empty afterwards.
  std::vector<SeriesPoint> Take(bool* thinned);

 private:
  struct Bucket {
    int count = 0;
    SeriesPoint low, high, firstNotGood;
    bool hasGood = false, hasNotGood = false;
  };
  qint64 fromMs_, spanMs_;
  int buckets_;
  std::vector<SeriesPoint> raw_;
  std::vector<Bucket> bucket_;
  bool overflowed_ = false;
};

}  // namespace tagwell
