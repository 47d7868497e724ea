// The recorded readings read back for the trend, from SQLite and from
// PostgreSQL: rows over midnight inserted out of time order, with running
// numbers that wrap past 32767, a Bad spell, a boolean and a text item.
#include <gtest/gtest.h>

#include <QDateTime>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <future>
#include <thread>

#include "db/History.h"
#include "tests/db/DbFixture.h"
#include "tests/support/PgDatabaseTest.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

// Local time in a zone that is not UTC, so that a mix-up of the two shows.
class BerlinTime {
 public:
  BerlinTime() {
    if (const char* tz = std::getenv("TZ")) old_ = tz, had_ = true;
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
  }
  ~BerlinTime() {
    had_ ? setenv("TZ", old_.c_str(), 1) : unsetenv("TZ");
    tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

qint64 Local(int day, int hour, int minute, int second) {
  return QDateTime(QDate(2026, 12, day), QTime(hour, minute, second)).toMSecsSinceEpoch();
}

// Every 10 s from 23:58:00 on the 6th to 00:02:00 on the 7th (25 readings
// per item); the rows after midnight are inserted first, and Number counts
// on from 32760, so it wraps to -32768 on the way.
std::string Rows() {
  std::string sql;
  int number = 32760;
  auto row = [&](const char* name, const char* type, qint64 ms, const std::string& value,
                 const char* quality) {
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms);
    const int n = static_cast<std::int16_t>(number++);
    sql += "INSERT INTO OPCvalues VALUES (" + std::to_string(n) + ",'" + name + "','" + type +
           "'," + t.toString("H,m,s,d,M,yyyy").toStdString() + ",'" + value + "','" + quality +
           "');\n";
  };
  for (int half : {1, 0}) {
    for (int i = 0; i <= 24; ++i) {
      const qint64 ms = Local(6, 23, 58, 0) + i * 10000LL;
      if ((ms >= Local(7, 0, 0, 0)) != (half == 1)) continue;
      const bool badSpell = ms >= Local(7, 0, 0, 30) && ms <= Local(7, 0, 0, 50);
      row("Tank.Level", "double", ms, std::to_string(10 + i) + ".5",
          badSpell ? "Bad - communication error" : "Good");
      row("Pump.Running", "boolean", ms, i % 6 < 3 ? "1" : "0", "Good");
      row("Line.Batch", "string", ms, "B-" + std::to_string(i), "Good");
      row("Other.Item", "long", ms, "7", "Good");
    }
  }
  return sql;
}

struct Case {
  const char* what;
  const char* name;
  qint64 from, to;
  int buckets;
  long rows, textRows;
  std::size_t points;
  bool boolean, thinned;
};

void CheckCases(ado::Connection& db) {
  const Case cases[] = {
      {"over midnight, in time order", "Tank.Level", Local(6, 23, 59, 0), Local(7, 0, 1, 0), 100,
       13, 0, 13, false, false},
      {"a boolean", "Pump.Running", Local(6, 23, 58, 0), Local(7, 0, 2, 0), 100, 25, 0, 25, true,
       false},
      {"text is counted, not drawn", "Line.Batch", Local(6, 23, 58, 0), Local(7, 0, 2, 0), 100, 25,
       25, 0, false, false},
      {"no rows in the period", "Tank.Level", Local(7, 1, 0, 0), Local(7, 2, 0, 0), 100, 0, 0, 0,
       false, false},
      // 25 rows > 2 x 4 buckets: the lowest and highest Good reading per
      // bucket and the first Bad one (in the third bucket) remain.
      {"thinned", "Tank.Level", Local(6, 23, 58, 0), Local(7, 0, 2, 0), 4, 25, 0, 9, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HistoryRequest request{{c.name}, c.from, c.to, c.buckets};
    HistoryResult result;
    std::string reason;
    ASSERT_TRUE(ReadHistory(db, request, &result, &reason)) << reason;
    ASSERT_EQ(result.items.size(), 1u);
    const ItemHistory& h = result.items[0];
    EXPECT_EQ(h.rows, c.rows);
    EXPECT_EQ(h.textRows, c.textRows);
    EXPECT_EQ(h.points.size(), c.points);
    EXPECT_EQ(h.boolean, c.boolean);
    EXPECT_EQ(h.thinned, c.thinned);
    for (std::size_t i = 1; i < h.points.size(); ++i) EXPECT_LE(h.points[i - 1].ms, h.points[i].ms);
    if (h.points.empty() || c.thinned) continue;
    EXPECT_EQ(h.points.front().ms, c.from);
    for (const SeriesPoint& p : h.points) {
      const bool bad = p.ms >= Local(7, 0, 0, 30) && p.ms <= Local(7, 0, 0, 50) && !c.boolean;
      EXPECT_EQ(IsGoodQuality(p.quality), !bad) << p.ms;
      if (bad) {
        EXPECT_EQ(p.quality, 0x18);
      }
    }
  }
  // Many items at once are named by their texts, not by their places.
  HistoryRequest many{{}, Local(6, 23, 59, 0), Local(7, 0, 1, 0), 100};
  for (int i = 0; i < 70; ++i) many.names.push_back("Unrecorded." + std::to_string(i));
  many.names[50] = "Tank.Level";
  HistoryResult result;
  std::string reason;
  ASSERT_TRUE(ReadHistory(db, many, &result, &reason)) << reason;
  EXPECT_EQ(result.items[50].rows, 13);
  EXPECT_EQ(result.items[49].rows, 0);
  std::vector<RecordedItem> items;
  ASSERT_TRUE(ReadRecordedItems(db, &items, &reason)) << reason;
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items[0].name, "Line.Batch");
  EXPECT_EQ(items[0].type, "string");
}

TEST(History, SqliteRowsOverMidnightComeBackInTimeOrderWithTheirQuality) {
  BerlinTime berlin;
  testing::TempDir dir;
  const std::string path = dir.File("plant.db");
  ASSERT_TRUE(testing::MakeOpcValuesDatabase(path));
  {
    testing::SqlPeek peek(path);
    for (const QString& statement : QString::fromStdString(Rows()).split('\n', Qt::SkipEmptyParts))
      ASSERT_TRUE(peek.Exec(statement));
  }
  std::string reason;
  auto db = OpenHistoryDatabase(path, &reason);
  ASSERT_TRUE(db) << reason;
  CheckCases(*db);
  EXPECT_FALSE(OpenHistoryDatabase(dir.File("missing.db"), &reason));
  EXPECT_FALSE(reason.empty());
}

// How the Value text of a number row is read, the same from both
// databases.
struct ValueCase {
  const char* text;
  bool number;
  double value;
};
constexpr ValueCase kValueCases[] = {
    {"12.5", true, 12.5},  {" 7 ", true, 7},          {"+3", true, 3},
    {"-2e3", true, -2000}, {"-inf", true, -INFINITY}, {"nan", true, NAN},
    {"+-1", false, 0},     {"12abc", false, 0},       {"", false, 0},
    {"abc", false, 0},  // SQLite's CAST once drew this as 0
};

std::string ValueRows() {
  std::string sql;
  for (std::size_t i = 0; i < std::size(kValueCases); ++i)
    sql += "INSERT INTO OPCvalues VALUES (" + std::to_string(i) + ",'Flow','double',3,0," +
           std::to_string(i) + ",7,12,2026,'" + kValueCases[i].text + "','Good');\n";
  return sql;
}

void CheckValues(ado::Connection& db) {
  HistoryRequest request{{"Flow"}, Local(7, 3, 0, 0), Local(7, 3, 1, 0), 100};
  HistoryResult result;
  std::string reason;
  ASSERT_TRUE(ReadHistory(db, request, &result, &reason)) << reason;
  const ItemHistory& h = result.items.at(0);
  EXPECT_EQ(h.rows, static_cast<long>(std::size(kValueCases)));
  std::size_t next = 0;
  for (std::size_t i = 0; i < std::size(kValueCases); ++i) {
    const ValueCase& c = kValueCases[i];
    SCOPED_TRACE(std::string("value '") + c.text + "'");
    const bool drawn = next < h.points.size() && h.points[next].ms == Local(7, 3, 0, int(i));
    ASSERT_EQ(drawn, c.number);
    if (!drawn) continue;
    const double v = h.points[next++].value;
    EXPECT_TRUE(std::isnan(c.value) ? std::isnan(v) : v == c.value) << v;
  }
  EXPECT_EQ(h.textRows, static_cast<long>(std::size(kValueCases) - next));
}

TEST(History, SqliteValueTextsReadAsNumbersOrText) {
  testing::TempDir dir;
  const std::string path = dir.File("values.db");
  ASSERT_TRUE(testing::MakeOpcValuesDatabase(path));
  {
    testing::SqlPeek peek(path);
    for (const QString& row : QString::fromStdString(ValueRows()).split('\n', Qt::SkipEmptyParts))
      ASSERT_TRUE(peek.Exec(row));
  }
  std::string reason;
  auto db = OpenHistoryDatabase(path, &reason);
  ASSERT_TRUE(db) << reason;
  CheckValues(*db);
}

// A recorder's lock on the file is waited for up to the connection's busy
// timeout; past it, SQLite's reason reaches the operator.
TEST(History, SqliteReadWaitsForAWriterUpToTheBusyTimeout) {
  testing::TempDir dir;
  const std::string path = dir.File("busy.db");
  ASSERT_TRUE(testing::MakeOpcValuesDatabase(path));
  const struct {
    int timeoutMs, heldMs;
    bool ok;
  } cases[] = {{10000, 300, true}, {0, 1000, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.timeoutMs);
    auto db = std::make_shared<ado::Connection>();
    ASSERT_EQ(db->Open("Provider=SQLite;Data Source=" + path +
                           ";Busy Timeout=" + std::to_string(c.timeoutMs),
                       "", ""),
              com::S_OK);
    std::promise<void> locked;
    std::thread writer([&] {
      testing::SqlPeek peek(path);
      peek.Exec("BEGIN EXCLUSIVE");
      locked.set_value();
      std::this_thread::sleep_for(std::chrono::milliseconds(c.heldMs));
      peek.Exec("COMMIT");
    });
    locked.get_future().wait();
    HistoryResult result;
    std::string reason;
    EXPECT_EQ(ReadHistory(*db, {{"Flow"}, 0, Local(7, 3, 0, 0), 10}, &result, &reason), c.ok);
    EXPECT_EQ(reason.starts_with("database is locked"), !c.ok) << reason;
    writer.join();
  }
}

class PgHistory : public testing::PgDatabaseTest {
 protected:
  PgHistory() : PgDatabaseTest("hist") {}
};

TEST_F(PgHistory, ServerRowsOverMidnightComeBackInTimeOrderWithTheirQuality) {
  BerlinTime berlin;
  Sql(Rows());
  testing::TempDir dir;
  std::string reason;
  auto db = OpenHistoryDatabase(cluster_->ConnectionFile(dir.path(), name_), &reason);
  ASSERT_TRUE(db) << reason;
  CheckCases(*db);
}

TEST_F(PgHistory, ServerValueTextsReadAsNumbersOrText) {
  Sql(ValueRows());
  testing::TempDir dir;
  std::string reason;
  auto db = OpenHistoryDatabase(cluster_->ConnectionFile(dir.path(), name_), &reason);
  ASSERT_TRUE(db) << reason;
  CheckValues(*db);
}

}  // namespace
}  // namespace tagwell
