// The trend's speed goal: 10 items x 36,000 readings (10 hours at 1 s)
// loaded from SQLite and drawn in at most 300 ms; and the live trend's
// points per item, bounded whatever the number of items.
//
//   QT_QPA_PLATFORM=offscreen build/bin/tagwell_trend_bench
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <cmath>

#include "app/TrendChart.h"
#include "db/History.h"

namespace tagwell {
namespace {

constexpr int kItems = 10;
constexpr int kSeconds = 36000;
const qint64 kStart = QDateTime(QDate(2026, 12, 7), QTime(20, 0)).toMSecsSinceEpoch();

std::string MakeDatabase() {
  static const std::string path = [] {
    const std::string file = QDir::tempPath().toStdString() + "/tagwell-trend-bench.db";
    QFile::remove(QString::fromStdString(file));
    {
      QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "bench.make");
      db.setDatabaseName(QString::fromStdString(file));
      db.open();
      QSqlQuery q(db);
      q.exec(
          "CREATE TABLE OPCvalues (Number SMALLINT, Name TEXT, Type TEXT, Hours SMALLINT, "
          "Minutes SMALLINT, Seconds SMALLINT, Day SMALLINT, Month SMALLINT, Year SMALLINT, "
          "Value TEXT, Quality TEXT)");
      q.exec("BEGIN");
      q.prepare("INSERT INTO OPCvalues VALUES (?,?,'double',?,?,?,?,?,?,?,?)");
      int number = 0;
      for (int s = 0; s < kSeconds; ++s) {
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(kStart + s * 1000LL);
        for (int i = 0; i < kItems; ++i) {
          const QVariantList v{static_cast<std::int16_t>(++number),
                               QString("Item%1").arg(i),
                               t.time().hour(),
                               t.time().minute(),
                               t.time().second(),
                               t.date().day(),
                               t.date().month(),
                               t.date().year(),
                               QString::number(i * 10 + std::sin(s / 600.0 + i), 'g', 9),
                               (s / 60) % 97 == i ? "Bad" : "Good"};
          for (int k = 0; k < v.size(); ++k) q.bindValue(k, v[k]);
          q.exec();
        }
      }
      q.exec("COMMIT");
    }
    QSqlDatabase::removeDatabase("bench.make");
    return file;
  }();
  return path;
}

void BM_LoadAndDrawTenHoursOfTenItems(benchmark::State& state) {
  std::string reason;
  auto db = OpenHistoryDatabase(MakeDatabase(), &reason);
  if (!db) {
    state.SkipWithError(reason.c_str());
    return;
  }
  TrendChart chart;
  chart.resize(1100, 600);
  HistoryRequest request;
  for (int i = 0; i < kItems; ++i) request.names.push_back("Item" + std::to_string(i));
  request.fromMs = kStart;
  request.toMs = kStart + kSeconds * 1000LL - 1;
  request.buckets = 1000;  // the plot's width in pixels
  const qint64 lastMs = request.toMs;
  std::size_t points = 0;
  for (auto _ : state) {
    // A new period each time, as when the operator chooses one (the same
    // rows: the next reading is a second later).
    request.toMs = request.toMs == lastMs ? lastMs + 1 : lastMs;
    HistoryResult result;
    ReadHistory(*db, request, &result, &reason);
    std::vector<TrendCurve> curves;
    points = 0;
    for (std::size_t i = 0; i < result.items.size(); ++i) {
      points += result.items[i].points.size();
      curves.push_back({result.items[i].name, "", CurveKind::Number, CurveColor(i),
                        std::move(result.items[i].points), true});
    }
    chart.SetCurves(std::move(curves), 5 * result.bucketMs / 2,
                    std::pair(request.fromMs, request.toMs));
    // The layout that Qt Charts leaves to the event loop, as the window
    // would run it before painting.
    QApplication::processEvents();
    benchmark::DoNotOptimize(chart.grab());
  }
  state.counters["rows"] = kItems * kSeconds;
  state.counters["points_drawn"] = static_cast<double>(points);
}
BENCHMARK(BM_LoadAndDrawTenHoursOfTenItems)->Unit(benchmark::kMillisecond)->Iterations(5);

// The reading alone, without the drawing.
void BM_LoadTenHoursOfTenItems(benchmark::State& state) {
  std::string reason;
  auto db = OpenHistoryDatabase(MakeDatabase(), &reason);
  HistoryRequest request;
  for (int i = 0; i < kItems; ++i) request.names.push_back("Item" + std::to_string(i));
  request.fromMs = kStart;
  request.toMs = kStart + kSeconds * 1000LL - 1;
  for (auto _ : state) {
    HistoryResult result;
    ReadHistory(*db, request, &result, &reason);
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_LoadTenHoursOfTenItems)->Unit(benchmark::kMillisecond)->Iterations(5);

// An hour of readings at 1 s for n items: the points each item keeps.
void BM_LivePointsPerItem(benchmark::State& state) {
  const int items = static_cast<int>(state.range(0));
  std::size_t kept = 0;
  for (auto _ : state) {
    TrendBuffer buffer;
    com::Variant value;
    value->vt = com::VT_R8;
    RowReading r;
    r.canonical = com::VT_R8;
    r.value = value.get();
    r.quality = 0xC0;
    for (int s = 0; s < 3600; ++s) {
      const auto ticks =
          static_cast<std::uint64_t>(116444736000000000LL + (kStart + s * 1000LL) * 10000);
      r.timeStamp.dwLowDateTime = static_cast<com::DWORD>(ticks);
      r.timeStamp.dwHighDateTime = static_cast<com::DWORD>(ticks >> 32);
      for (int i = 0; i < items; ++i) {
        r.itemName = "Item" + std::to_string(i);
        value->dblVal = s + i;
        buffer.OnReading(r);
      }
    }
    kept = 0;
    for (const auto& [name, track] : buffer.tracks()) kept = std::max(kept, track.points.size());
  }
  state.counters["most_points_per_item"] = static_cast<double>(kept);
  state.counters["bytes_per_item"] = static_cast<double>(kept * sizeof(SeriesPoint));
}
BENCHMARK(BM_LivePointsPerItem)->Arg(10)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace tagwell

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM",
          qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
