// Rows per second appended into OPCvalues tables of 0, 100,000 and 1,000,000
// rows:
//   WriteDatabase/<rows>/1   the writer on a database made by OPCvalues.sql
//                            (row counter kept by triggers)
//   WriteDatabase/<rows>/0   the writer on a bare OPCvalues table (counted)
//   PreparedInsert/<rows>    one open connection, one prepared INSERT, each
//                            row its own transaction: the floor
// Each row is committed to disk, so the numbers depend on the disk's sync
// speed; compare the ratios and the growth with the table size. Rates are
// per wall-clock second.
#include <benchmark/benchmark.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>
#include <cstdio>
#include <map>
#include <memory>

#include "db/Database.h"
#include "tests/db/DbFixture.h"
#include "tests/support/FakeUi.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

// The databases live in a temporary folder under TMPDIR (default /tmp);
// TMPDIR=/dev/shm takes the disk's sync time out of the numbers.
testing::TempDir& Folder() {
  static testing::TempDir dir;
  return dir;
}

// One database per (rows, counter, user), made on first use.
std::string Database(long rows, bool counter, const char* user) {
  static std::map<std::string, std::string> made;
  char name[96];
  std::snprintf(name, sizeof name, "%s-%ld-%d.db", user, rows, counter ? 1 : 0);
  auto it = made.find(name);
  if (it != made.end()) return it->second;
  const std::string path = Folder().File(name);
  bool ok = testing::MakeOpcValuesDatabase(path, counter);
  if (ok && rows > 0) ok = testing::SqlPeek(path).AddRows(rows);
  if (!ok) return {};
  return made[name] = path;
}

void SetReading(CurrentReading& r) {
  r.itemName = "Simulation.Random.Real8";
  r.qualityText = "Good";
  r.hour = 12, r.minute = 30, r.second = 15, r.day = 4, r.month = 6, r.year = 2024;
  r.valueType = 5;
  r.doubleTypeName = "double";
  r.doubleValue = 3.14159;
}

void BM_WriteDatabase(benchmark::State& state) {
  const std::string path = Database(state.range(0), state.range(1) != 0, "writer");
  if (path.empty()) return state.SkipWithError("cannot make the database");
  testing::FakeClient fake(Folder().path());
  fake.client.state.databasePath = path;
  SetReading(fake.client.reading);
  for (auto _ : state) benchmark::DoNotOptimize(WriteDatabase(fake.client));
  state.SetItemsProcessed(state.iterations());
  if (testing::FileExists(Folder().File("Logfile.txt")))
    state.SkipWithError("the writer logged an error");
}

void BM_PreparedInsert(benchmark::State& state) {
  const std::string path = Database(state.range(0), true, "insert");
  if (path.empty()) return state.SkipWithError("cannot make the database");
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "bench.insert");
    db.setDatabaseName(QString::fromStdString(path));
    db.open();
    QSqlQuery insert(db);
    insert.prepare(
        "INSERT INTO OPCvalues (Number, Name, Type, Hours, Minutes, Seconds, Day, Month, Year, "
        "Value, Quality) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    const QVariantList values = {1, "Simulation.Random.Real8", "double", 12, 30, 15, 4, 6, 2024,
                                 "3.14159", "Good"};
    for (auto _ : state) {
      for (int i = 0; i < values.size(); ++i) insert.bindValue(i, values[i]);
      if (!insert.exec()) state.SkipWithError("insert failed");
    }
  }
  QSqlDatabase::removeDatabase("bench.insert");
  state.SetItemsProcessed(state.iterations());
}

void TableSizes(benchmark::internal::Benchmark* b, bool withCounterArg) {
  for (long rows : {0L, 100000L, 1000000L}) {
    if (withCounterArg) {
      b->Args({rows, 1});
      b->Args({rows, 0});
    } else {
      b->Args({rows});
    }
  }
  b->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();
}

BENCHMARK(BM_WriteDatabase)->Apply([](auto* b) { TableSizes(b, true); });
BENCHMARK(BM_PreparedInsert)->Apply([](auto* b) { TableSizes(b, false); });

}  // namespace
}  // namespace tagwell

BENCHMARK_MAIN();
