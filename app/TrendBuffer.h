// The live side of the trend: the readings the read cycle applies, kept per
// item for the last ten minutes, whether a trend window is open or not, so
// that a window opened later starts with them.
#pragma once

#include <QtGlobal>
#include <deque>
#include <functional>
#include <map>
#include <string>

#include "session/ReadingObserver.h"
#include "db/History.h"

namespace tagwell {

// How a reading is drawn: a number, a boolean (0 or 1, drawn as steps), or
// no curve at all (texts, arrays and values of no number).
enum class CurveKind { Number, Boolean, NoCurve };

CurveKind KindOfType(VARTYPE canonical);

// ms since 1970 of a UTC FILETIME; 0 for a zero time stamp.
qint64 FileTimeMs(const FILETIME& ft);

struct LiveTrack {
  CurveKind kind = CurveKind::Number;
  std::deque<SeriesPoint> points;  // in arrival order
};

class TrendBuffer final : public ReadingObserver {
 public:
  static constexpr qint64 kKeptMs = 10 * 60 * 1000;
  // The points of all items together, and the most and least one item
  // keeps (the least still holds ten minutes at a 1 s cycle).
  static constexpr std::size_t kTotalPoints = 600000;
  static constexpr std::size_t kMostPerItem = 6000;  // ten minutes at 0.1 s
  static constexpr std::size_t kLeastPerItem = 600;

  void OnReading(const RowReading& reading) override;

  const std::map<std::string, LiveTrack>& tracks() const { return tracks_; }
  const LiveTrack* Find(const std::string& name) const;
  // Points an item keeps at most with the items tracked now.
  std::size_t PerItemLimit() const;
  // Called after every reading kept (a trend window redraws).
  std::function<void()> onChanged;

 private:
  void Trim(LiveTrack& track, qint64 newestMs);
  void DropStaleTracks(qint64 newestMs);

  std::map<std::string, LiveTrack> tracks_;
  qint64 newestMs_ = 0;
  qint64 lastDropMs_ = 0;
};

}  // namespace tagwell
