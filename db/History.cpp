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

// What a row of the query costs beyond its values is kept small: the
// start of a local hour is asked of the time-zone rules once per hour met,
// a quality text once per change of text.
class RowDecoder final {
 public:
  // The time key (YYYYMMDDhhmmss, local) as ms since 1970.
  bool Time(qint64 key, qint64* ms) {
    const qint64 minute = key / 100 % 100, second = key % 100;
    if (minute > 59 || second > 60 || key < 0) return false;
    const qint64 hourKey = key / 10000;
    if (hourKey != hourKey_) {
      const QDateTime start(
          QDate(static_cast<int>(hourKey / 1000000), static_cast<int>(hourKey / 10000 % 100),
                static_cast<int>(hourKey / 100 % 100)),
          QTime(static_cast<int>(hourKey % 100), 0));
      if (!start.isValid()) return false;
      hourKey_ = hourKey;
      hourStartMs_ = start.toMSecsSinceEpoch();
    }
    *ms = hourStartMs_ + (minute * 60 + second) * 1000;
    return true;
  }
  std::uint16_t Quality(const QString& text) {
    if (text != qualityText_) {
      qualityText_ = text;
      quality_ = QualityOfText(text.toStdString());
    }
    return quality_;
  }

 private:
  qint64 hourKey_ = -1;
  qint64 hourStartMs_ = 0;
  QString qualityText_;
  std::uint16_t quality_ = 0;
};

// Up to this many items, a row names its item by its place in the request
// (a number costs less to hand over than a text).
constexpr std::size_t kItemsByPlace = 64;

// Columns: the item (its place, or its name), the type (0 a number, 1
// boolean, 2 text), the time key, the value (SQLite: a number where it is
// one), the quality (null when Good).
QString SelectStatement(std::size_t names, bool sqlite) {
  QString list, places;
  for (std::size_t i = 0; i < names; ++i) {
    list += i ? ",?" : "?";
    if (names <= kItemsByPlace) places += QString(" WHEN ? THEN %1").arg(i);
  }
  const QString item = names <= kItemsByPlace ? "CASE Name" + places + " END" : "Name";
  const QString value = sqlite ? "CASE WHEN Type = 'string' OR Value IN ('inf', '-inf', 'nan') "
                                 "THEN Value ELSE CAST(Value AS REAL) END"
                               : "Value";
  return QStringLiteral(
             "SELECT %1, CASE Type WHEN 'string' THEN 2 WHEN 'boolean' THEN 1 ELSE 0 END, %2, %3, "
             "CASE Quality WHEN 'Good' THEN NULL ELSE Quality END "
             "FROM OPCvalues WHERE Name IN (%4) AND %2 BETWEEN ? AND ?")
      .arg(item, QLatin1String(kTimeKey), value, list);
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

namespace {

class HistoryQuery final {
 public:
  HistoryQuery(ado::Connection& connection, const HistoryRequest& request, HistoryResult* result)
      : query_(connection.Database()),
        request_(request),
        result_(*result),
        byPlace_(request.names.size() <= kItemsByPlace) {
    const int buckets = std::max(1, request.buckets);
    result_.items.clear();
    result_.bucketMs = std::max<qint64>(1, (request.toMs - request.fromMs + 1) / buckets);
    for (const std::string& name : request.names) {
      index_.emplace(QString::fromStdString(name), result_.items.size());
      result_.items.push_back(ItemHistory{name, {}, 0, 0, false, false});
      thinners_.emplace_back(request.fromMs, request.toMs, buckets);
    }
    query_.setForwardOnly(true);
    query_.prepare(SelectStatement(request.names.size(), connection.DriverName() == "QSQLITE"));
    for (int pass = byPlace_ ? 0 : 1; pass < 2; ++pass)
      for (const std::string& name : request.names)
        query_.addBindValue(QString::fromStdString(name));
    // The local-time key may take in an hour more where the clocks go back;
    // the exact period is kept in Row().
    query_.addBindValue(TimeKey(QDateTime::fromMSecsSinceEpoch(request.fromMs)));
    query_.addBindValue(TimeKey(QDateTime::fromMSecsSinceEpoch(request.toMs)));
  }

  bool Run(std::string* reason) {
    if (!query_.exec()) {
      *reason = query_.lastError().text().toStdString();
      return false;
    }
    while (query_.next()) Row();
    for (std::size_t i = 0; i < thinners_.size(); ++i)
      result_.items[i].points = thinners_[i].Take(&result_.items[i].thinned);
    return true;
  }

 private:
  void Row() {
    std::size_t at;
    if (!Item(&at)) return;
    SeriesPoint p;
    if (!decoder_.Time(query_.value(2).toLongLong(), &p.ms) || p.ms < request_.fromMs ||
        p.ms > request_.toMs)
      return;
    ItemHistory& item = result_.items[at];
    ++item.rows;
    const int type = query_.value(1).toInt();
    const QVariant value = query_.value(3);
    bool number = type != 2 && !value.isNull();
    if (number)
      p.value = value.typeId() == QMetaType::Double ? value.toDouble()
                                                    : value.toString().toDouble(&number);
    if (!number) {
      ++item.textRows;
      return;
    }
    if (type == 1) item.boolean = true;
    const QVariant quality = query_.value(4);
    p.quality = quality.isNull() ? 0xC0 : decoder_.Quality(quality.toString());
    thinners_[at].Add(p);
  }

  bool Item(std::size_t* at) {
    const QVariant item = query_.value(0);
    if (byPlace_) {
      bool ok = false;
      *at = static_cast<std::size_t>(item.toInt(&ok));
      return ok && !item.isNull() && *at < result_.items.size();
    }
    auto found = index_.find(item.toString());
    if (found == index_.end()) return false;
    *at = found->second;
    return true;
  }

  QSqlQuery query_;
  const HistoryRequest& request_;
  HistoryResult& result_;
  bool byPlace_;
  std::unordered_map<QString, std::size_t> index_;
  std::vector<HistoryThinner> thinners_;
  RowDecoder decoder_;
};

}  // namespace

bool ReadHistory(ado::Connection& connection, const HistoryRequest& request, HistoryResult* result,
                 std::string* reason) {
  HistoryQuery query(connection, request, result);
  if (request.names.empty()) return true;
  return query.Run(reason);
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
