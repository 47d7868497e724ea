// The Read Item command and the timer period: what the timer is given, what
// the cycle box and the log show, and when the tick leaves the server alone.
#include "session/ReadCycle.h"

#include <gtest/gtest.h>

#include <limits>

#include "tests/app/AppTestSupport.h"
#include "tests/support/CommaLocale.h"
#include "tests/support/FakeUi.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

using testing::FakeClient;
using testing::FakeCycleTimer;
using testing::ReadFile;
using testing::TempDir;
using Lines = std::vector<std::string>;

class ReadItemCommandTest : public ::testing::Test {
 protected:
  ReadItemCommandTest() : fake_(dir_.path()), cycle_(fake_.client, timer_) {}
  ClientState& state() { return fake_.client.state; }
  std::string Log() { return ReadFile(dir_.File("Logfile.txt")); }

  TempDir dir_;
  FakeClient fake_;
  FakeCycleTimer timer_;
  ReadCycle cycle_;
};

TEST_F(ReadItemCommandTest, WithoutItemsNoTimerStartsButTheCycleIsShownAndLogged) {
  EXPECT_EQ(cycle_.ReadItemCommand(), 0u);
  EXPECT_TRUE(timer_.periods.empty());
  EXPECT_EQ(state().readingStarted, 1);
  EXPECT_EQ(fake_.window.cycleBox.Lines(), Lines{"   0.0"});
  EXPECT_EQ(Log(), "Cycle duration (in seconds):    0.0\n");
}

TEST_F(ReadItemCommandTest, FiveSecondsUntilACycleIsChosen) {
  state().itemsAdded = 1;
  state().cycleText = "0.3";  // typed, but the dialog was never opened
  EXPECT_EQ(cycle_.ReadItemCommand(), 5000u);
  EXPECT_EQ(timer_.periods, std::vector<unsigned>{5000});
  EXPECT_EQ(fake_.window.cycleBox.Lines(), Lines{"   5.0"});
}

TEST_F(ReadItemCommandTest, TheChosenCycleReplacesTheRunningTimer) {
  state().itemsAdded = 2;
  state().cycleSelected = 1;
  state().cycleText = "0.3";
  cycle_.ReadItemCommand();
  state().cycleText = "60";
  cycle_.ReadItemCommand();
  EXPECT_EQ(timer_.periods, (std::vector<unsigned>{300, 60000}));
  EXPECT_EQ(fake_.window.cycleBox.Lines(), Lines{"  60.0"});
  EXPECT_EQ(Log(),
            "Cycle duration (in seconds):    0.3\n"
            "Cycle duration (in seconds):   60.0\n");
}

// cycleText comes from the cycle dialog, which takes valid cycles only; a
// text that is none keeps the default instead of spinning the timer.
TEST_F(ReadItemCommandTest, TextThatIsNoCycleKeepsTheDefault) {
  state().itemsAdded = 1;
  state().cycleSelected = 1;
  for (const char* text : {"", "fast", "0", "-1", "1e30", "2147483.647", "0,3"}) {
    state().cycleText = text;
    cycle_.ReadItemCommand();
  }
  EXPECT_EQ(timer_.periods, std::vector<unsigned>(7, 5000));
  EXPECT_EQ(fake_.window.cycleBox.Lines(), Lines{"   5.0"});
}

// Qt takes the desktop's locale at start; the cycle's texts must not.
TEST_F(ReadItemCommandTest, CycleTextsKeepTheDecimalPointUnderACommaLocale) {
  testing::ScopedCommaLocale comma;
  TAGWELL_REQUIRE_COMMA_LOCALE(comma);
  state().itemsAdded = 1;
  cycle_.ReadItemCommand();
  state().cycleSelected = 1;
  state().cycleText = "0.3";
  EXPECT_EQ(cycle_.ReadItemCommand(), 300u);
  EXPECT_EQ(fake_.window.cycleBox.Lines(), Lines{"   0.3"});
  EXPECT_EQ(Log(),
            "Cycle duration (in seconds):    5.0\n"
            "Cycle duration (in seconds):    0.3\n");
  EXPECT_EQ(CycleSeconds("0,3"), std::nullopt);
}

TEST(TimerPeriod, TruncatesAndClampsAsAWindowsTimer) {
  EXPECT_EQ(ReadCycle::TimerPeriod(300.9f), 300u);
  EXPECT_EQ(ReadCycle::TimerPeriod(10.0f), 10u);
  EXPECT_EQ(ReadCycle::TimerPeriod(9.99f), 10u);
  EXPECT_EQ(ReadCycle::TimerPeriod(0.0f), 10u);
  EXPECT_EQ(ReadCycle::TimerPeriod(-0.5f), 10u) << "truncated toward zero first";
  EXPECT_EQ(ReadCycle::TimerPeriod(-1.0f), ReadCycle::kMaxPeriodMs);
  EXPECT_EQ(ReadCycle::TimerPeriod(2147483520.0f), 2147483520u);
  EXPECT_EQ(ReadCycle::TimerPeriod(3e9f), ReadCycle::kMaxPeriodMs);
  EXPECT_EQ(ReadCycle::TimerPeriod(std::numeric_limits<float>::infinity()),
            ReadCycle::kMaxPeriodMs);
  EXPECT_EQ(ReadCycle::TimerPeriod(std::numeric_limits<float>::quiet_NaN()),
            ReadCycle::kMaxPeriodMs);
}

TEST_F(ReadItemCommandTest, RecordingAnnouncesTheCycleUnlessOnStandBy) {
  state().itemsAdded = 1;
  state().databaseWriting = 1;
  cycle_.ReadItemCommand();
  ASSERT_EQ(fake_.window.messages.shown.size(), 1u);
  const auto& shown = fake_.window.messages.shown[0];
  EXPECT_EQ(shown.text,
            "Information: read/write cycle duration is set\n(or changed while writing in "
            "database).");
  EXPECT_EQ(shown.caption, "WriteDatabase function");
  EXPECT_EQ(shown.icon, ui::Icon::Information);
  EXPECT_EQ(shown.owner, ui::Owner::None);
  EXPECT_EQ(fake_.window.databaseStatus.current(), "Data writing in database is in progress!");
  EXPECT_EQ(fake_.window.cycleBox.Lines(), Lines{"   5.0"});

  // A standby client with the heartbeat item sets the timer and stops there.
  fake_.window.cycleBox.ResetContent();
  fake_.window.messages.Clear();
  state().monitorItemPresent = 1;
  state().isActive = 0;
  std::string logBefore = Log();
  cycle_.ReadItemCommand();
  EXPECT_EQ(timer_.periods.size(), 2u);
  EXPECT_TRUE(fake_.window.messages.shown.empty());
  EXPECT_EQ(fake_.window.cycleBox.GetCount(), 0);
  EXPECT_EQ(Log(), logBefore);
}

TEST_F(ReadItemCommandTest, TicksLeaveAGoneConnectionAlone) {
  state().itemsAdded = 3;
  state().lastRowIndex = 2;
  state().connected = 0;  // a write found the connection gone
  testing::WriteFile(dir_.File("Config.ini"), "[Clients]\nNumber=1\n");
  cycle_.Tick();
  EXPECT_EQ(state().clientsNumber, 0) << "Config.ini is not even read";
  EXPECT_TRUE(fake_.window.messages.shown.empty());
  EXPECT_EQ(fake_.window.roleBox.GetCount(), 0);
}

}  // namespace
}  // namespace tagwell
