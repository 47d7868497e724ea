#include "opc/Log.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/FakeUi.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

using testing::FakeClient;
using testing::ReadFile;
using testing::TempDir;

// Every line the client can write, in one session, compared with the golden
// file byte for byte (blanks, empty lines and missing flushes included).
TEST(LogLines, EveryLineHasItsExactShape) {
  TempDir dir;
  FakeClient f(dir.path());
  Client& c = f.client;
  c.state.szComputerName = "\\\\plant-07";
  c.state.szRemoteServerName = "Tagwell.Simulation.1";
  c.state.szReadItemName = "Line1.Pump2.Speed";
  c.reading.itemName = c.state.szReadItemName.c_str();
  com::SYSTEMTIME start{2010, 3, 1, 1, 9, 5, 3, 250};

  LogCoInitializeError(c);
  LogCoInitializeSecurityError(c);
  LogCoGetMallocError(c);
  LogConnectBlock(c, "Tagwell Simulation Server 8.4", "Tagwell.Simulation.1", start);
  LogRemoteComputer(c);
  LogRemoteServer(c);
  LogAddItemFailed(c);
  LogItemAdded(c, "Line1.Pump2.Speed", "1 - Analog (get LOW and HI EU range in vEUInfo)");
  LogItemCount(c, 1);
  LogRemoveItemFailed(c, 1);
  LogItemRemoved(c, "Line1.Pump2.Speed", 0);
  LogCycleDuration(c, "   5.0");
  LogReadGroupError(c);
  LogReadItemError(c);
  LogWriteNotConnected(c);
  LogMonitorWriteNotConnected(c);
  LogEmptyStringRefused(c);
  LogServerLost(c, "Tagwell.Simulation.1 on plant-07", "the connection was broken (0x80010108)");
  LogServerRestored(c, "Tagwell.Simulation.1 on plant-07", 11, 12);

  EXPECT_EQ(ReadFile(dir.File("Logfile.txt")),
            ReadFile(std::string(TAGWELL_TESTDATA) + "/log/all-lines.txt"));
  EXPECT_TRUE(f.window.messages.shown.empty());
}

TEST(LogLines, AppendsToWhatIsThere) {
  TempDir dir;
  testing::WriteFile(dir.File("Logfile.txt"), "earlier run\n");
  FakeClient f(dir.path());
  LogItemCount(f.client, 3);
  EXPECT_EQ(ReadFile(dir.File("Logfile.txt")), "earlier run\nCurrent number of items: 3\n");
}

// A log file that cannot be opened is reported as each writer says and never
// stops the writer.
TEST(LogLines, OpenFailureIsReportedAsTheWriterSays) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("Logfile.txt"));  // cannot be opened as a file
  FakeClient f(dir.path());

  LogItemCount(f.client, 1);  // unchecked
  EXPECT_TRUE(f.window.messages.shown.empty());

  LogAddItemFailed(f.client);  // checked: a box without owner
  ASSERT_EQ(f.window.messages.shown.size(), 1u);
  EXPECT_EQ(f.window.messages.shown[0].text, "Error:can't open logfile");
  EXPECT_EQ(f.window.messages.shown[0].caption, "Open Logfile");
  EXPECT_EQ(f.window.messages.shown[0].owner, ui::Owner::None);
  EXPECT_EQ(f.window.messages.shown[0].icon, ui::Icon::Warning);

  LogReadItemError(f.client);  // checked into the server information list
  EXPECT_EQ(f.window.messages.shown.size(), 1u);
  EXPECT_EQ(f.window.serverInfo.Lines(), std::vector<std::string>{"***Error:can't open logfile."});
}

}  // namespace
}  // namespace tagwell
