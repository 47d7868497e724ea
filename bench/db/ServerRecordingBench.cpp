// A tick of 1000 readings into PostgreSQL on loopback (a private cluster
// made by the benchmark, as the tests make theirs):
//   ServerTick           ServerRecorder::Store of the 1000 rows: one
//                        transaction, the running number and the lease fence
//                        (the writer of one tick)
//   ServerPerReading     WriteDatabase once per reading: 1000 transactions
//                        (the writer while it is called per reading)
//   BarePreparedInsert   one connection, one prepared INSERT run for each
//                        row, all in one transaction: the floor
// Rates are rows per wall-clock second.
#include <benchmark/benchmark.h>

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>
#include <memory>

#include "db/Database.h"
#include "db/ServerRecording.h"
#include "tests/support/FakeUi.h"
#include "tests/support/PgCluster.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

constexpr int kRows = 1000;

struct Plant {
  testing::TempDir folder;
  testing::PgCluster cluster;
  std::string file;
  Plant() {
    if (!cluster.ok() || !cluster.MakeDatabase("bench")) return;
    file = cluster.ConnectionFile(folder.path(), "bench");
    cluster.Sql("bench", "UPDATE TagwellRole SET Active = 1, Holder = 'bench', LeaseUntil = " +
                             std::string(kServerNowMs) + " + 86400000");
  }
};

Plant* Shared() {
  std::string why;
  if (!testing::PgCluster::Available(&why)) return nullptr;
  static Plant plant;
  return plant.file.empty() ? nullptr : &plant;
}

QVariantList Row(int i) {
  return {0,    QString("Line%1.Flow").arg(i % 50), "double", 12, 30, 15, 4, 6,
          2024, QString::number(i * 0.25),          "Good"};
}

void BM_ServerTick(benchmark::State& state) {
  Plant* plant = Shared();
  if (!plant) return state.SkipWithError("no PostgreSQL cluster");
  ServerDatabase database;
  std::string error;
  if (!ReadConnectionFile(plant->file, &database, &error)) return state.SkipWithError("file");
  ServerRecorder recorder(plant->file, database);
  for (auto _ : state) {
    std::vector<QVariantList> rows;
    for (int i = 0; i < kRows; ++i) rows.push_back(Row(i));
    bool fenced = false;
    if (!recorder.Store(rows, "bench", &fenced, &error)) return state.SkipWithError("store");
  }
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_ServerPerReading(benchmark::State& state) {
  Plant* plant = Shared();
  if (!plant) return state.SkipWithError("no PostgreSQL cluster");
  testing::FakeClient fake(plant->folder.path());
  Client& client = fake.client;
  client.state.databasePath = plant->file;
  client.state.databaseWriting = 1;
  client.dbWriter.roleHolder = "bench";
  CurrentReading& r = client.reading;
  r.itemName = "Line1.Flow";
  r.qualityText = "Good";
  r.valueType = 5;
  r.doubleTypeName = "double";
  r.doubleValue = 2.5;
  for (auto _ : state)
    for (int i = 0; i < kRows; ++i) WriteDatabase(client);
  state.SetItemsProcessed(state.iterations() * kRows);
}

void BM_BarePreparedInsert(benchmark::State& state) {
  Plant* plant = Shared();
  if (!plant) return state.SkipWithError("no PostgreSQL cluster");
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QPSQL", "bare");
    db.setHostName("127.0.0.1");
    db.setPort(plant->cluster.port());
    db.setDatabaseName("bench");
    if (!db.open("postgres", testing::PgCluster::Password())) return state.SkipWithError("open");
    QSqlQuery insert(db);
    insert.prepare(
        "INSERT INTO OPCvalues (Number, Name, Type, Hours, Minutes, Seconds, Day, Month, Year, "
        "Value, Quality) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (auto _ : state) {
      db.transaction();
      for (int i = 0; i < kRows; ++i) {
        const QVariantList row = Row(i);
        for (int c = 0; c < row.size(); ++c) insert.bindValue(c, c == 0 ? QVariant(i) : row[c]);
        if (!insert.exec()) return state.SkipWithError("insert");
      }
      db.commit();
    }
    state.SetItemsProcessed(state.iterations() * kRows);
  }
  QSqlDatabase::removeDatabase("bare");
}

BENCHMARK(BM_ServerTick)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ServerPerReading)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_BarePreparedInsert)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace tagwell

BENCHMARK_MAIN();
