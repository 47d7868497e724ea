#include "app/TrendBuffer.h"

#include <algorithm>

namespace tagwell {

CurveKind KindOfType(VARTYPE canonical) {
  if (canonical & (com::VT_ARRAY | com::VT_BYREF)) return CurveKind::NoCurve;
  switch (canonical) {
    case com::VT_BOOL:
      return CurveKind::Boolean;
    case com::VT_BSTR:
    case com::VT_VARIANT:
      return CurveKind::NoCurve;
    default:
      return CurveKind::Number;
  }
}

qint64 FileTimeMs(const FILETIME& ft) {
  const auto ticks = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  if (ticks == 0) return 0;
  constexpr std::int64_t kUnixEpochTicks = 116444736000000000LL;  // 1970 in 100 ns since 1601
  return (static_cast<std::int64_t>(ticks) - kUnixEpochTicks) / 10000;
}

const LiveTrack* TrendBuffer::Find(const std::string& name) const {
  auto it = tracks_.find(name);
  return it == tracks_.end() ? nullptr : &it->second;
}

std::size_t TrendBuffer::PerItemLimit() const {
  const std::size_t share = kTotalPoints / std::max<std::size_t>(1, tracks_.size());
  return std::clamp(share, kLeastPerItem, kMostPerItem);
}

void TrendBuffer::OnReading(const RowReading& reading) {
  LiveTrack& track = tracks_[reading.itemName];
  track.kind = KindOfType(reading.canonical);
  SeriesPoint p;
  p.ms = FileTimeMs(reading.timeStamp);
  p.quality = reading.quality;
  com::Variant number;
  if (track.kind == CurveKind::NoCurve || !reading.value || p.ms == 0 ||
      com::FAILED(com::VariantChangeType(number.get(), reading.value, 0, com::VT_R8))) {
    // No number to draw: a reading that is not Good still marks its time.
    if (track.kind == CurveKind::NoCurve || IsGoodQuality(p.quality) || p.ms == 0) return;
  } else {
    p.value = number->dblVal;
  }
  if (track.kind == CurveKind::Boolean) p.value = p.value != 0 ? 1 : 0;
  // A value that did not change keeps the time stamp of its change: one
  // point stands for it.
  if (!track.points.empty()) {
    const SeriesPoint& last = track.points.back();
    if (last.ms == p.ms && last.value == p.value && last.quality == p.quality) return;
  }
  track.points.push_back(p);
  newestMs_ = std::max(newestMs_, p.ms);
  Trim(track, newestMs_);
  if (newestMs_ - lastDropMs_ >= 10000) {
    lastDropMs_ = newestMs_;
    DropStaleTracks(newestMs_);
  }
  if (onChanged) onChanged();
}

void TrendBuffer::Trim(LiveTrack& track, qint64 newestMs) {
  const std::size_t limit = PerItemLimit();
  while (track.points.size() > limit) track.points.pop_front();
  while (!track.points.empty() && track.points.front().ms < newestMs - kKeptMs)
    track.points.pop_front();
}

// Items removed from the table stop being read: their tracks go once their
// newest point is older than what is kept.
void TrendBuffer::DropStaleTracks(qint64 newestMs) {
  for (auto it = tracks_.begin(); it != tracks_.end();) {
    const LiveTrack& t = it->second;
    if (!t.points.empty() && t.points.back().ms < newestMs - kKeptMs) {
      it = tracks_.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace tagwell
