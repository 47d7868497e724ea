// The quality words of recorded texts and the thinning of a curve's
// readings (History.h).
#include <algorithm>
#include <string>
#include <unordered_map>

#include "db/History.h"
#include "opc/Reading.h"

namespace tagwell {
namespace {

// The quality words of the texts the readers write, by text.
const std::unordered_map<std::string, std::uint16_t>& QualityWords() {
  static const auto* words = [] {
    auto* map = new std::unordered_map<std::string, std::uint16_t>;
    // Descending, so that a text shared by several words keeps the plain one.
    for (int word = 0xFC; word >= 0; word -= 4)
      (*map)[QualityText(static_cast<WORD>(word))] = static_cast<std::uint16_t>(word);
    (*map)["Good"] = 0xC0;
    (*map)["Bad"] = 0x00;
    (*map)["Uncertain"] = 0x40;
    return map;
  }();
  return *words;
}

}  // namespace

std::uint16_t QualityOfText(std::string_view text) {
  const auto& words = QualityWords();
  if (auto it = words.find(std::string(text)); it != words.end()) return it->second;
  if (text.starts_with("Good")) return 0xC0;
  if (text.starts_with("Uncertain")) return 0x40;
  return 0x00;
}

HistoryThinner::HistoryThinner(qint64 fromMs, qint64 toMs, int buckets)
    : fromMs_(fromMs),
      spanMs_(std::max<qint64>(1, toMs - fromMs + 1)),
      buckets_(std::max(1, buckets)) {}

void HistoryThinner::Add(const SeriesPoint& p) {
  if (!overflowed_) {
    raw_.push_back(p);
    if (raw_.size() > 2 * static_cast<std::size_t>(buckets_)) {
      overflowed_ = true;
      bucket_.assign(buckets_, Bucket{});
      std::vector<SeriesPoint> kept;
      kept.swap(raw_);
      for (const SeriesPoint& q : kept) Add(q);
    }
    return;
  }
  const qint64 index = std::clamp<qint64>((p.ms - fromMs_) * buckets_ / spanMs_, 0, buckets_ - 1);
  Bucket& b = bucket_[index];
  ++b.count;
  if (!IsGoodQuality(p.quality)) {
    if (!b.hasNotGood || p.ms < b.firstNotGood.ms) b.firstNotGood = p;
    b.hasNotGood = true;
    return;
  }
  if (!b.hasGood || p.value < b.low.value) b.low = p;
  if (!b.hasGood || p.value > b.high.value) b.high = p;
  b.hasGood = true;
}

std::vector<SeriesPoint> HistoryThinner::Take(bool* thinned) {
  *thinned = overflowed_;
  std::vector<SeriesPoint> out;
  if (!overflowed_) {
    out.swap(raw_);
  } else {
    for (const Bucket& b : bucket_) {
      if (b.hasGood) out.push_back(b.low);
      if (b.hasGood && (b.high.ms != b.low.ms || b.high.value != b.low.value))
        out.push_back(b.high);
      if (b.hasNotGood) out.push_back(b.firstNotGood);
    }
    bucket_.clear();
    overflowed_ = false;
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const SeriesPoint& a, const SeriesPoint& b) { return a.ms < b.ms; });
  return out;
}

}  // namespace tagwell
