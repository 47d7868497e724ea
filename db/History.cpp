#include "db/History.h"

#include <sqlite3.h>

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>
#include <unordered_map>

#include "db/ConnectionString.h"
#include "db/ServerDatabase.h"

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
  std::uint16_t Quality(std::string_view text) {
    if (text != qualityText_) {
      qualityText_ = text;
      quality_ = QualityOfText(text);
    }
    return quality_;
  }

 private:
  qint64 hourKey_ = -1;
  qint64 hourStartMs_ = 0;
  std::string qualityText_;
  std::uint16_t quality_ = 0;
};

// Up to this many items, a row names its item by its place in the request
// (a number costs less to hand over than a text).
constexpr std::size_t kItemsByPlace = 64;

// The rows of the request's items in the period (by its time key).
QString Selection(std::size_t names) {
  QString list;
  for (std::size_t i = 0; i < names; ++i) list += i ? ",?" : "?";
  return QStringLiteral(" FROM OPCvalues WHERE Name IN (%1) AND %2 BETWEEN ? AND ?")
      .arg(list, QLatin1String(kTimeKey));
}

// Through QtSql every column costs, so the server does the decoding.
// Columns: the item (its place, or its name), the type (0 a number, 1
// boolean, 2 text), the time key, the value, the quality (null when Good).
std::string ServerStatement(std::size_t names) {
  QString places;
  for (std::size_t i = 0; names <= kItemsByPlace && i < names; ++i)
    places += QString(" WHEN ? THEN %1").arg(i);
  const QString item = names <= kItemsByPlace ? "CASE Name" + places + " END" : "Name";
  return QStringLiteral(
             "SELECT %1, CASE Type WHEN 'string' THEN 2 WHEN 'boolean' THEN 1 ELSE 0 END, %2, "
             "Value, CASE Quality WHEN 'Good' THEN NULL ELSE Quality END")
             .arg(item, QLatin1String(kTimeKey))
             .toStdString() +
         Selection(names).toStdString();
}

// Through SQLite's own library a column costs less than an expression:
// the columns come as stored and SqliteRow decodes them.
std::string SqliteStatement(std::size_t names) {
  return "SELECT Name, Type, Year, Month, Day, Hours, Minutes, Seconds, Value, Quality" +
         Selection(names).toStdString();
}

}  // namespace

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

// One row of the history query as its database handed it over, its item
// already found.
struct QueryRow {
  std::size_t item = 0;  // its place in the request
  int type = 0;          // 0 a number, 1 boolean, 2 text
  qint64 timeKey = 0;
  bool valueNull = true;
  bool valueIsNumber = false;  // number holds the value, else valueText
  double number = 0;
  std::string_view valueText;
  bool good = true;  // the quality column is null; else qualityText
  std::string_view qualityText;
};

// A number written as text, read the way the readers write it: blanks
// around it and a leading + are allowed, nothing else after it.
bool NumberOfText(std::string_view text, double* value) {
  const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  const char* begin = text.data();
  const char* end = begin + text.size();
  while (begin != end && blank(*begin)) ++begin;
  while (begin != end && blank(end[-1])) --end;
  if (begin != end && *begin == '+' && ++begin != end && *begin == '-') return false;
  const auto [stop, error] = std::from_chars(begin, end, *value);
  return error == std::errc() && stop == end;
}

// Where the rows of either database go: each row is checked against the
// exact period, counted for its item and handed to the item's thinner.
class HistorySink final {
 public:
  HistorySink(const HistoryRequest& request, HistoryResult* result)
      : request_(request), result_(*result) {
    const int buckets = std::max(1, request.buckets);
    result_.items.clear();
    result_.bucketMs = std::max<qint64>(1, (request.toMs - request.fromMs + 1) / buckets);
    for (const std::string& name : request.names) {
      index_.emplace(name, result_.items.size());
      result_.items.push_back(ItemHistory{name, {}, 0, 0, false, false});
      thinners_.emplace_back(request.fromMs, request.toMs, buckets);
    }
  }

  // The item of a row by its place in the request or by its name; false
  // for a null place or an item not asked for.
  bool ItemAt(qint64 place, bool isNull, std::size_t* at) const {
    *at = static_cast<std::size_t>(place);
    return !isNull && place >= 0 && *at < result_.items.size();
  }
  // Recorders write the items in the same round again and again, so the
  // item after the last one found is tried before the index.
  bool ItemNamed(std::string_view name, std::size_t* at) {
    const std::vector<std::string>& names = request_.names;
    if (++guess_ >= names.size()) guess_ = 0;
    const std::string& guess = names[guess_];
    if (guess.size() != name.size() || std::memcmp(guess.data(), name.data(), name.size()) != 0) {
      const auto found = index_.find(name);
      if (found == index_.end()) return false;
      guess_ = found->second;
    }
    *at = guess_;
    return true;
  }

  void Add(const QueryRow& row) {
    SeriesPoint p;
    if (!decoder_.Time(row.timeKey, &p.ms) || p.ms < request_.fromMs || p.ms > request_.toMs)
      return;
    ItemHistory& item = result_.items[row.item];
    ++item.rows;
    bool number = row.type != 2 && !row.valueNull;
    if (number && row.valueIsNumber)
      p.value = row.number;
    else if (number)
      number = NumberOfText(row.valueText, &p.value);
    if (!number) {
      ++item.textRows;
      return;
    }
    if (row.type == 1) item.boolean = true;
    p.quality = row.good ? 0xC0 : decoder_.Quality(row.qualityText);
    thinners_[row.item].Add(p);
  }

  void Finish() {
    for (std::size_t i = 0; i < thinners_.size(); ++i)
      result_.items[i].points = thinners_[i].Take(&result_.items[i].thinned);
  }

 private:
  const HistoryRequest& request_;
  HistoryResult& result_;
  struct NameHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view name) const {
      return std::hash<std::string_view>{}(name);
    }
  };
  std::unordered_map<std::string, std::size_t, NameHash, std::equal_to<>> index_;
  std::size_t guess_ = 0;
  std::vector<HistoryThinner> thinners_;
  RowDecoder decoder_;
};

// The statement's parameters in their order: the names (twice when items
// go by place), then the period as two time keys. The local-time key may
// take in an hour more where the clocks go back; HistorySink keeps the
// exact period.
struct Parameters {
  std::vector<std::string_view> names;
  qint64 fromKey = 0, toKey = 0;
};

Parameters ParametersOf(const HistoryRequest& request, bool byPlace) {
  Parameters p;
  for (int pass = byPlace ? 0 : 1; pass < 2; ++pass)
    for (const std::string& name : request.names) p.names.push_back(name);
  p.fromKey = TimeKey(QDateTime::fromMSecsSinceEpoch(request.fromMs));
  p.toKey = TimeKey(QDateTime::fromMSecsSinceEpoch(request.toMs));
  return p;
}

// One row of a QtSql query; the texts stay in the buffers until the next.
bool QtSqlRow(const QSqlQuery& query, bool byPlace, HistorySink& sink, QueryRow* row,
              QByteArray (&texts)[3]) {
  const auto text = [&](const QVariant& v, QByteArray& buffer) {
    buffer = v.toString().toUtf8();
    return std::string_view(buffer.constData(), static_cast<std::size_t>(buffer.size()));
  };
  const QVariant item = query.value(0);
  if (byPlace ? !sink.ItemAt(item.toLongLong(), item.isNull(), &row->item)
              : !sink.ItemNamed(text(item, texts[0]), &row->item))
    return false;
  row->type = query.value(1).toInt();
  row->timeKey = query.value(2).toLongLong();
  const QVariant value = query.value(3);
  row->valueNull = value.isNull();
  row->valueIsNumber = value.typeId() == QMetaType::Double;
  if (row->valueIsNumber)
    row->number = value.toDouble();
  else if (!row->valueNull)
    row->valueText = text(value, texts[1]);
  const QVariant quality = query.value(4);
  row->good = quality.isNull();
  if (!row->good) row->qualityText = text(quality, texts[2]);
  return true;
}

// The rows through QtSql: the server databases.
bool ReadWithQtSql(ado::Connection& connection, const HistoryRequest& request, HistorySink& sink,
                   std::string* reason) {
  const bool byPlace = request.names.size() <= kItemsByPlace;
  const Parameters parameters = ParametersOf(request, byPlace);
  QSqlQuery query(connection.Database());
  query.setForwardOnly(true);
  query.prepare(QString::fromStdString(ServerStatement(request.names.size())));
  for (std::string_view name : parameters.names)
    query.addBindValue(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
  query.addBindValue(parameters.fromKey);
  query.addBindValue(parameters.toKey);
  if (!query.exec()) {
    *reason = query.lastError().text().toStdString();
    return false;
  }
  QByteArray texts[3];
  while (query.next()) {
    QueryRow row;
    if (QtSqlRow(query, byPlace, sink, &row, texts)) sink.Add(row);
  }
  return true;
}

struct SqliteClose {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct SqliteFinalize {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

// SQLite's message and then what failed, worded as QtSql words it.
std::string SqliteReason(sqlite3* db, const char* what) {
  return std::string(sqlite3_errmsg(db)) + " " + what;
}

std::string_view SqliteText(sqlite3_stmt* statement, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  if (!text) return {};
  return {text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column))};
}

// One row of SqliteStatement decoded as ServerStatement's rows come; the
// texts stay valid until the next step. (Written with the C library's
// string functions: this runs for every row, in debug builds too.)
bool SqliteRow(sqlite3_stmt* statement, HistorySink& sink, QueryRow* row) {
  if (!sink.ItemNamed(SqliteText(statement, 0), &row->item)) return false;
  if (const auto* type = reinterpret_cast<const char*>(sqlite3_column_text(statement, 1)))
    row->type = std::strcmp(type, "string") == 0 ? 2 : std::strcmp(type, "boolean") == 0 ? 1 : 0;
  for (int column = 2; column < 8; ++column)  // Year ... Seconds
    row->timeKey = row->timeKey * 100 + sqlite3_column_int64(statement, column);
  const int valueType = sqlite3_column_type(statement, 8);
  row->valueNull = valueType == SQLITE_NULL;
  row->valueIsNumber = valueType == SQLITE_FLOAT || valueType == SQLITE_INTEGER;
  if (row->valueIsNumber)
    row->number = sqlite3_column_double(statement, 8);
  else if (!row->valueNull)
    row->valueText = SqliteText(statement, 8);
  const auto* quality = reinterpret_cast<const char*>(sqlite3_column_text(statement, 9));
  row->good = !quality || std::strcmp(quality, "Good") == 0;
  if (!row->good) row->qualityText = SqliteText(statement, 9);
  return true;
}

// The rows of a SQLite file through SQLite's own library, which costs a
// fraction of what QtSql costs per row. The file is opened read-only beside
// the connection, and a writer's lock is waited for as long as the
// connection would wait.
bool ReadWithSqlite(const ado::Connection& connection, const HistoryRequest& request,
                    HistorySink& sink, std::string* reason) {
  if (connection.SqliteFile().empty()) {
    *reason = "the database is closed";
    return false;
  }
  const std::string statement = SqliteStatement(request.names.size());
  const Parameters parameters = ParametersOf(request, false);
  std::string uri = SqliteOpenUri(connection.SqliteFile());  // ends in mode=rw
  uri.replace(uri.size() - 2, 2, "ro");
  sqlite3* db = nullptr;
  const int opened = sqlite3_open_v2(
      uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX, nullptr);
  const std::unique_ptr<sqlite3, SqliteClose> closer(db);
  if (opened != SQLITE_OK) {
    *reason = SqliteReason(db, "Error opening database");
    return false;
  }
  sqlite3_busy_timeout(db, connection.BusyTimeoutMs());
  // Pages read from the mapped file rather than copied into the cache.
  sqlite3_exec(db, "PRAGMA mmap_size = 1073741824", nullptr, nullptr, nullptr);
  sqlite3_stmt* query = nullptr;
  const int prepared = sqlite3_prepare_v2(db, statement.c_str(), static_cast<int>(statement.size()),
                                          &query, nullptr);
  const std::unique_ptr<sqlite3_stmt, SqliteFinalize> finalizer(query);
  if (prepared != SQLITE_OK) {
    *reason = SqliteReason(db, "Unable to execute statement");
    return false;
  }
  int at = 0;
  for (std::string_view name : parameters.names)
    sqlite3_bind_text(query, ++at, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
  sqlite3_bind_int64(query, ++at, parameters.fromKey);
  sqlite3_bind_int64(query, ++at, parameters.toKey);
  int step;
  while ((step = sqlite3_step(query)) == SQLITE_ROW) {
    QueryRow row;
    if (SqliteRow(query, sink, &row)) sink.Add(row);
  }
  if (step != SQLITE_DONE) {
    *reason = SqliteReason(db, "Unable to fetch row");
    return false;
  }
  return true;
}

}  // namespace

bool ReadHistory(ado::Connection& connection, const HistoryRequest& request, HistoryResult* result,
                 std::string* reason) {
  HistorySink sink(request, result);
  if (request.names.empty()) return true;
  const bool ok = connection.DriverName() == "QSQLITE"
                      ? ReadWithSqlite(connection, request, sink, reason)
                      : ReadWithQtSql(connection, request, sink, reason);
  if (ok) sink.Finish();
  return ok;
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
