// The trend: how readings become lines and marks, a live trend of the
// built-in plant read by the real read cycle through a Bad spell, and a day
// of history from a SQLite file seen by a window that reads nothing itself.
// The pictures (trend-live.png, trend-history.png) are saved in the test's
// build folder for a look by eye.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QFile>
#include <QKeySequence>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <cmath>
#include <future>
#include <thread>

#include "app/TrendWindow.h"
#include "platform/com/CallWait.h"
#include "platform/com/Time.h"
#include "resources/ResourceIds.h"
#include "tests/app/AppTestSupport.h"

namespace tagwell {
namespace {

using namespace std::chrono_literals;

constexpr std::uint16_t kGood = 0xC0, kBad = 0x18, kUncertain = 0x40;

TEST(Trend, AReadingThatIsNotGoodIsAMarkInAGapNeverAPointOfTheLine) {
  struct Case {
    const char* what;
    CurveKind kind;
    std::vector<SeriesPoint> points;
    std::vector<std::size_t> lineSizes;
    std::size_t marks;
  };
  const Case cases[] = {
      {"all Good: one line",
       CurveKind::Number,
       {{0, 1, kGood}, {1000, 2, kGood}, {2000, 3, kGood}},
       {3},
       0},
      {"a Bad reading splits the line",
       CurveKind::Number,
       {{0, 1, kGood}, {1000, 99, kBad}, {2000, 3, kGood}, {3000, 4, kGood}},
       {1, 2},
       1},
      {"Uncertain is not Good either",
       CurveKind::Number,
       {{0, 1, kGood}, {1000, 2, kUncertain}, {2000, 3, kGood}},
       {1, 1},
       1},
      {"a Bad spell at the start draws no line before it",
       CurveKind::Number,
       {{0, 0, kBad}, {1000, 0, kBad}, {2000, 3, kGood}},
       {1},
       2},
      // Readings stop for a minute at a 1 s cycle: the line breaks there.
      {"a silence breaks the line",
       CurveKind::Number,
       {{0, 1, kGood}, {1000, 2, kGood}, {2000, 2, kGood}, {62000, 5, kGood}, {63000, 5, kGood}},
       {3, 2},
       0},
      // 0, 1, 1, 0 in steps: each change adds the corner at its time.
      {"a boolean in steps",
       CurveKind::Boolean,
       {{0, 0, kGood}, {1000, 1, kGood}, {2000, 1, kGood}, {3000, 0, kGood}},
       {6},
       0},
      {"nothing Good: marks only", CurveKind::Number, {{0, 5, kBad}, {1000, 5, kBad}}, {}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const CurveShape shape = ShapeOf(TrendCurve{"X", "", c.kind, Qt::black, c.points, false});
    std::vector<std::size_t> sizes;
    for (const auto& line : shape.lines) sizes.push_back(line.size());
    EXPECT_EQ(sizes, c.lineSizes);
    EXPECT_EQ(shape.marks.size(), c.marks);
    for (const auto& line : shape.lines)
      for (const QPointF& p : line)
        for (const SeriesPoint& s : c.points)
          if (!IsGoodQuality(s.quality)) {
            EXPECT_NE(p.x(), static_cast<qreal>(s.ms));
          }
  }
}

qint64 Ms(const com::FILETIME& ft) {
  return FileTimeMs(ft);
}

TEST(Trend, LiveCurvesOfFourPlantItemsThroughABadSpell) {
  testing::Plant plant(false, true);
  testing::TestWindow w;
  auto clock = plant.clock;
  // The trend's clock is the plant's.
  w.window.reset();
  MainWindowOptions options;
  options.folder = w.dir.path();
  options.messageBox = &w.messages;
  options.desktop = &w.desktop;
  options.timer = &w.timer;
  options.trendClock = [clock] { return Ms(clock->Now()); };
  w.window = std::make_unique<MainWindow>(options);
  w.ShowActive();
  testing::ConnectTo(w, testing::kTestServerProgId);
  const char* items[] = {"Boiler.Temperature", "Boiler.Pressure", "Boiler.Burner.FlameDetected",
                         "Boiler.Feedwater.Level", "Line1.BatchName"};
  for (const char* id : items) testing::AddTypedItem(w, id);
  w.Command(res::IDC_READ_BUTTON);
  plant.faults->SetTargetItem("Boiler.Temperature");
  for (int tick = 0; tick < 600; ++tick) {
    plant.clock->Advance(1s);
    plant.faults->Set(testing::Fault::ReadsCommFailure, tick >= 300 && tick < 360);
    w->readCycle().Tick();
  }
  for (const std::string& text : w.messages.Texts()) ADD_FAILURE() << text;

  EXPECT_EQ(w->action(res::IDM_TREND)->shortcut(), QKeySequence("Alt+T"));
  w.Command(res::IDM_TREND);
  TrendWindow* trend = w->trendWindow();
  ASSERT_TRUE(trend && trend->isVisible());
  trend->resize(1100, 640);
  trend->RefreshLive();
  QApplication::processEvents();
  const auto& curves = trend->chart()->curves();
  ASSERT_EQ(curves.size(), 4u);  // the text item is listed, not drawn
  EXPECT_TRUE(trend->notes().contains("Line1.BatchName holds text"))
      << trend->notes().toStdString();
  EXPECT_EQ(LegendText(curves[0]), "Boiler.Temperature [degC]");
  EXPECT_EQ(curves[2].kind, CurveKind::Boolean);
  const CurveShape temperature = ShapeOf(curves[0]);
  EXPECT_EQ(temperature.lines.size(), 2u);
  EXPECT_EQ(temperature.marks.size(), 60u);
  EXPECT_EQ(ShapeOf(curves[1]).lines.size(), 1u);
  const qint64 inSpell = Ms(plant.clock->Now()) - 270 * 1000;
  EXPECT_TRUE(trend->chart()->ReadoutAt(inSpell).contains("Bad - communication error"));
  // Following: the last ten minutes up to now, the spell in view.
  EXPECT_FALSE(trend->paused());
  EXPECT_EQ(trend->chart()->toMs(), Ms(plant.clock->Now()));
  EXPECT_EQ(trend->chart()->toMs() - trend->chart()->fromMs(), TrendBuffer::kKeptMs);
  testing::SaveScreenshot(*trend, "trend-live.png");

  trend->SetPaused(true);
  plant.clock->Advance(1s);
  w->readCycle().Tick();
  trend->RefreshLive();
  EXPECT_EQ(trend->chart()->curves()[0].points.size(), curves[0].points.size());
}

// A day of readings every 30 s, in local time: a temperature swinging
// with the day, a level that rises and is Bad for 40 minutes at 03:00, a
// pump that stops at 02:13 for three hours, and nothing recorded from
// 05:00 to 05:30 (the recorder was off).
void RecordADay(const std::string& path, qint64 dayStart) {
  testing::MakeRecordingDatabase(path);
  QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "trend.day");
  db.setDatabaseName(QString::fromStdString(path));
  ASSERT_TRUE(db.open());
  QSqlQuery q(db);
  q.exec("BEGIN");
  q.prepare("INSERT INTO OPCvalues VALUES (?,?,?,?,?,?,?,?,?,?,?)");
  int number = 0;
  auto row = [&](const char* name, const char* type, const QDateTime& t, double v,
                 const char* quality) {
    const QVariantList values{static_cast<std::int16_t>(++number),
                              name,
                              type,
                              t.time().hour(),
                              t.time().minute(),
                              t.time().second(),
                              t.date().day(),
                              t.date().month(),
                              t.date().year(),
                              QString::number(v),
                              quality};
    for (int i = 0; i < values.size(); ++i) q.bindValue(i, values[i]);
    EXPECT_TRUE(q.exec());
  };
  for (int s = 0; s < 86400; s += 30) {
    if (s >= 5 * 3600 && s < 5 * 3600 + 1800) continue;
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(dayStart + s * 1000LL);
    const double hours = s / 3600.0;
    row("Boiler.Temperature", "double", t, 50 + 20 * std::sin((hours - 9) / 24 * 2 * M_PI), "Good");
    const bool bad = s >= 3 * 3600 && s < 3 * 3600 + 2400;
    row("Tank.Level", "float", t, 20 + hours * 2.5 + std::fmod(s * 7.3, 3.0),
        bad ? "Bad - communication error" : "Good");
    row("Pump.Running", "boolean", t, (s >= 2 * 3600 + 780 && s < 5 * 3600 + 780) ? 0 : 1, "Good");
    row("Line1.BatchName", "string", t, 0, "Good");
  }
  EXPECT_TRUE(q.exec("COMMIT"));
  q = QSqlQuery();
  db.close();
  db = QSqlDatabase();
  QSqlDatabase::removeDatabase("trend.day");
}

TEST(Trend, ADayOfHistoryFromTheDatabaseAWindowOpensItself) {
  testing::EnsureApplication();
  testing::TempDir dir;
  const std::string path = dir.File("plant.db");
  const qint64 dayStart = QDateTime(QDate(2026, 12, 7), QTime(0, 0)).toMSecsSinceEpoch();
  RecordADay(path, dayStart);
  TrendWindowOptions options;
  std::vector<std::string> asked;
  options.chooseFile = [&](QWidget*, const QString& caption, const QString&, bool save) {
    asked.push_back(caption.toStdString());
    return save ? dir.File(caption.contains("PNG") ? "out.png" : "out.csv") : path;
  };
  options.now = [dayStart] { return dayStart + 86400 * 1000LL + 3600 * 1000LL; };
  TrendWindow trend(options);  // no rows, no live readings: a window looking at a database
  trend.resize(1100, 640);
  trend.show();
  trend.ShowPeriod(TrendPeriod::FromTo, dayStart, dayStart + 86400 * 1000LL);
  QApplication::processEvents();
  ASSERT_EQ(asked, std::vector<std::string>{"Open a database"});
  const auto& curves = trend.chart()->curves();
  ASSERT_EQ(curves.size(), 3u) << trend.status().toStdString();  // the text item is not ticked
  EXPECT_TRUE(trend.notes().contains("rows drawn as")) << trend.notes().toStdString();
  for (const TrendCurve& c : curves) {
    EXPECT_TRUE(c.thinned);
    EXPECT_LT(c.points.size(), 3u * 1100);  // at most three points per bucket
  }
  const CurveShape level = ShapeOf(curves[2]);
  EXPECT_FALSE(level.marks.empty());  // the Bad spell survives the thinning
  testing::SaveScreenshot(trend, "trend-history.png");

  ASSERT_TRUE(trend.ExportCsv(dir.File("day.csv")));
  QFile csv(QString::fromStdString(dir.File("day.csv")));
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  const QStringList lines = QString::fromUtf8(csv.readAll()).split('\n', Qt::SkipEmptyParts);
  EXPECT_EQ(lines.value(0), "time,item,value,quality");
  EXPECT_TRUE(lines.filter(",Tank.Level,").filter("Bad - communication error").size() > 0);
  EXPECT_TRUE(lines.value(1).startsWith("2026-12-07 00:00:00.000,"));
  EXPECT_TRUE(trend.ExportPng(dir.File("day.png")));
  EXPECT_TRUE(QFile::exists(QString::fromStdString(dir.File("day.png"))));

  trend.ShowPeriod(TrendPeriod::LastHour);  // the next day: nothing was recorded
  EXPECT_TRUE(trend.notes().contains("The database has no rows")) << trend.notes().toStdString();

  // A recorder holds the file for a moment: the read waits for it on the
  // window's database thread while the window keeps running.
  static int pumped = 0;
  com::SetCallWaitPump([] { ++pumped; });
  std::promise<void> locked;
  std::thread recorder([&] {
    {
      QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "trend.recorder");
      db.setDatabaseName(QString::fromStdString(path));
      db.open();
      QSqlQuery(db).exec("BEGIN EXCLUSIVE");
      locked.set_value();
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      QSqlQuery(db).exec("COMMIT");
    }
    QSqlDatabase::removeDatabase("trend.recorder");
  });
  locked.get_future().wait();
  trend.ShowPeriod(TrendPeriod::FromTo, dayStart, dayStart + 86400 * 1000LL);
  recorder.join();
  com::SetCallWaitPump(nullptr);
  EXPECT_GT(pumped, 5);
  EXPECT_EQ(trend.chart()->curves().size(), 3u) << trend.status().toStdString();
}

}  // namespace
}  // namespace tagwell
