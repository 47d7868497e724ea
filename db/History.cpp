#include "db/History.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <unordered_map>

#include "db/ConnectionString.h"
#include "db/ServerDatabase.h"
#include "opc/Reading.h"

namespace tagwell {
namespace {

// The six time columns as one number that sorts like the local time it
// stands for: YYYYMMDDhhmmss.
constexpr char kTimeKey[] =
    "(Year * 10000000000 + Month * 100000000 + Day * 1000000 + Hours * 10000 + Minutes * 100 + "
    "Seconds)";

qint64 TimeKey(const QDateTime& local) {
  const QDate d = local.date();
  const QTime t = local.time();
  return d.year() * 10000000000LL + d.month() * 100000000LL + d.day() * 1000000LL +
         t.hour() * 10000LL + t.minute() * 100LL + t.second();
}

// Local date and time parts to ms since 1970. The start of the hour is
// asked of the time-zone rules once per hour met, not once per row.
class LocalClock final {
 public:
  bool ToMs(int year, int month, int day, int hour, int minute, int second, qint64* ms) {
    if (minute < 0 || minute > 59 || second < 0 || second > 60) return false;
    const qint64 hourKey = ((year * 100LL + month) * 100 + day) * 100 + hour;
    if (hourKey != hourKey_) {
      const QDateTime start(QDate(year, month, day), QTime(hour, 0));
      if (!start.isValid()) return false;
      hourKey_ = hourKey;
      hourStartMs_ = start.toMSecsSinceEpoch();
    }
    *ms = hourStartMs_ + (minute * 60LL + second) * 1000;
    return true;
  }

 private:
  qint64 hourKey_ = -1;
  qint64 hourStartMs_ = 0;
};

QString SelectStatement(std::size_t names) {
  QString list;
  for (std::size_t i = 0; i < names; ++i) list += i ? ",?" : "?";
  return QStringLiteral(
             "SELECT Name, Type, Year, Month, Day, Hours, Minutes, Seconds, Value, Quality "
             "FROM OPCvalues WHERE Name IN (%1) AND %2 BETWEEN ? AND ?")
      .arg(list, QLatin1String(kTimeKey));
}

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

std::shared_ptr<ado::Connection> OpenHistoryDatabase(std::string_view path, std::string* reason) {
  if (IsConnectionFile(path)) {
    ServerDatabase database;
    if (!ReadConnectionFile(path, &database, reason)) return nullptr;
    return OpenServerDatabase(database, reason);
  }
  auto connection = std::make_shared<ado::Connection>();
  const std::string text = "Provider=SQLite;Data Source=" + ConnectionStringValue(path);
  if (com::FAILED(connection->Open(text, "", ""))) {
    *reason = connection->LastError().description.value_or("it cannot be opened");
    return nullptr;
  }
  QSqlQuery probe(connection->Database());
  if (!probe.exec("SELECT 1 FROM OPCvalues LIMIT 1")) {
    *reason = "it has no table OPCvalues (" + probe.lastError().text().toStdString() + ")";
    return nullptr;
  }
  return connection;
}

bool ReadHistory(ado::Connection& connection, const HistoryRequest& request, HistoryResult* result,
                 std::string* reason) {
  result->items.clear();
  const int buckets = std::max(1, request.buckets);
  result->bucketMs = std::max<qint64>(1, (request.toMs - request.fromMs + 1) / buckets);
  std::unordered_map<QString, std::size_t> index;
  std::vector<HistoryThinner> thinners;
  for (const std::string& name : request.names) {
    index.emplace(QString::fromStdString(name), result->items.size());
    result->items.push_back(ItemHistory{name, {}, 0, 0, false, false});
    thinners.emplace_back(request.fromMs, request.toMs, buckets);
  }
  if (request.names.empty()) return true;

  QSqlQuery query(connection.Database());
  query.setForwardOnly(true);
  query.prepare(SelectStatement(request.names.size()));
  for (const std::string& name : request.names) query.addBindValue(QString::fromStdString(name));
  // The local-time key may take in an hour more where the clocks go back;
  // the exact period is kept below.
  query.addBindValue(TimeKey(QDateTime::fromMSecsSinceEpoch(request.fromMs)));
  query.addBindValue(TimeKey(QDateTime::fromMSecsSinceEpoch(request.toMs)));
  if (!query.exec()) {
    *reason = query.lastError().text().toStdString();
    return false;
  }
  LocalClock clock;
  while (query.next()) {
    auto found = index.find(query.value(0).toString());
    if (found == index.end()) continue;
    SeriesPoint p;
    if (!clock.ToMs(query.value(2).toInt(), query.value(3).toInt(), query.value(4).toInt(),
                    query.value(5).toInt(), query.value(6).toInt(), query.value(7).toInt(),
                    &p.ms) ||
        p.ms < request.fromMs || p.ms > request.toMs)
      continue;
    ItemHistory& item = result->items[found->second];
    ++item.rows;
    const QString type = query.value(1).toString();
    bool number = type != QLatin1String("string");
    if (number) p.value = query.value(8).toString().toDouble(&number);
    if (!number) {
      ++item.textRows;
      continue;
    }
    if (type == QLatin1String("boolean")) item.boolean = true;
    p.quality = QualityOfText(query.value(9).toString().toStdString());
    thinners[found->second].Add(p);
  }
  for (std::size_t i = 0; i < thinners.size(); ++i)
    result->items[i].points = thinners[i].Take(&result->items[i].thinned);
  return true;
}

bool ReadRecordedItems(ado::Connection& connection, std::vector<RecordedItem>* items,
                       std::string* reason) {
  items->clear();
  QSqlQuery query(connection.Database());
  query.setForwardOnly(true);
  if (!query.exec("SELECT Name, MIN(Type) FROM OPCvalues GROUP BY Name ORDER BY Name")) {
    *reason = query.lastError().text().toStdString();
    return false;
  }
  while (query.next())
    items->push_back(
        {query.value(0).toString().toStdString(), query.value(1).toString().toStdString()});
  return true;
}

}  // namespace tagwell
