// The role record in Config.ini: key conversion, where the file is, the
// updates at Disconnect and exit, and the Connection Monitor command.
#include "app/ConfigIni.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <filesystem>

#include "tests/support/FakeUi.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

using testing::FakeClient;
using testing::FileExists;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

std::string Golden(const std::string& name) {
  std::string text = ReadFile(std::string(TAGWELL_TESTDATA) + "/config/" + name);
  EXPECT_FALSE(text.empty()) << "missing golden file " << name;
  return text;
}

class ConfigIniTest : public ::testing::Test {
 protected:
  std::string Config() const { return ReadFile(dir.File(kConfigFileName)); }
  void SetConfig(const std::string& text) { WriteFile(dir.File(kConfigFileName), text); }
  ino_t Inode() const {
    struct stat st {};
    return ::stat(dir.File(kConfigFileName).c_str(), &st) == 0 ? st.st_ino : 0;
  }
  void Role(FakeClient& c, int isActive, int clientsNumber) {
    c.client.state.isActive = isActive;
    c.client.state.clientsNumber = clientsNumber;
  }

  TempDir dir;
  FakeClient a{dir.path()};
};

TEST_F(ConfigIniTest, ReadsKeysLikeAtoi) {
  struct Case {
    const char* text;
    int value;
  } cases[] = {{"1", 1},
               {"1x", 1},
               {"x1", 0},
               {" 1 ", 1},
               {"-1", -1},
               {"+1", 1},
               {"", 0},
               {"\"1\"", 1},
               {"0x1", 0},
               {"1.9", 1},
               {"99999999999", INT_MAX},
               {"-99999999999", INT_MIN}};
  for (const Case& c : cases) {
    SetConfig(std::string("[Clients]\nActive=") + c.text + "\n");
    EXPECT_EQ(ReadClientsKey(a.client, kActiveKey), c.value) << c.text;
  }
  // Blanks around a value do not count, but the blanks inside quotes do, and
  // only the first 179 bytes of the value are read.
  SetConfig("[Clients]\nNumber=" + std::string(179, ' ') + "1\n");
  EXPECT_EQ(ReadClientsKey(a.client, kNumberKey), 1);
  SetConfig("[Clients]\nNumber=\"" + std::string(179, ' ') + "1\"\n");
  EXPECT_EQ(ReadClientsKey(a.client, kNumberKey), 0);
  std::filesystem::remove(dir.File(kConfigFileName));
  EXPECT_EQ(ReadClientsKey(a.client, kNumberKey), 0);
}

TEST_F(ConfigIniTest, WritesDecimalText) {
  ASSERT_TRUE(WriteClientsKey(a.client, kNumberKey, -12));
  ASSERT_TRUE(WriteClientsKey(a.client, kActiveKey, 1));
  EXPECT_EQ(Config(), "[Clients]\nNumber=-12\nActive=1\n");
}

// A client without a folder uses the current directory of each access.
TEST_F(ConfigIniTest, FollowsTheCurrentDirectory) {
  TempDir other;
  std::string start = std::filesystem::current_path().string();
  FakeClient here{""};
  ASSERT_EQ(::chdir(dir.path().c_str()), 0);
  WriteClientsKey(here.client, kActiveKey, 1);
  ASSERT_EQ(::chdir(other.path().c_str()), 0);
  int inOther = ReadClientsKey(here.client, kActiveKey);
  EnsureConfigFile(here.client);
  ASSERT_EQ(::chdir(start.c_str()), 0);
  EXPECT_EQ(Config(), "[Clients]\nActive=1\n");
  EXPECT_EQ(inOther, 0);
  EXPECT_TRUE(FileExists(other.File(kConfigFileName)));
}

// One update of the shared record, applied to the golden start file by a
// client of each role; expected is the golden result.
struct RoleCase {
  const char* who;
  int isActive, clientsNumber;
  const char* expected;
};

TEST_F(ConfigIniTest, DisconnectUpdatesByRole) {
  for (const RoleCase& c : {
           RoleCase{"active, standby announced", 1, 1, "after_active_leaves.ini"},
           RoleCase{"active, Number last read 0", 1, 0, "after_active_leaves.ini"},
           RoleCase{"standby", 0, 1, "after_standby_leaves.ini"},
           RoleCase{"unmonitored", 0, 0, "start_active_standby.ini"},
       }) {
    SetConfig(Golden("start_active_standby.ini"));
    ino_t before = Inode();
    Role(a, c.isActive, c.clientsNumber);
    UpdateConfigOnDisconnect(a.client);
    EXPECT_EQ(Config(), Golden(c.expected)) << c.who;
    EXPECT_TRUE(c.isActive || c.clientsNumber || Inode() == before) << "nothing written";
  }
  std::filesystem::remove(dir.File(kConfigFileName));
  Role(a, 0, 0);
  UpdateConfigOnDisconnect(a.client);
  EXPECT_TRUE(FileExists(dir.File(kConfigFileName)));
  EXPECT_EQ(Config(), "");
}

// Number last read as 0 deletes the file first: it is then written afresh.
TEST_F(ConfigIniTest, ExitUpdatesByRole) {
  for (const RoleCase& c : {
           RoleCase{"active, standby announced", 1, 1, "after_active_leaves.ini"},
           RoleCase{"standby", 0, 1, "after_standby_leaves.ini"},
           RoleCase{"active, Number last read 0", 1, 0, "recreated_active.ini"},
           RoleCase{"unmonitored", 0, 0, "recreated_standby.ini"},
       }) {
    SetConfig(Golden("start_active_standby.ini"));
    Role(a, c.isActive, c.clientsNumber);
    UpdateConfigOnExit(a.client);
    EXPECT_EQ(Config(), Golden(c.expected)) << c.who;
  }
  std::filesystem::remove(dir.File(kConfigFileName));
  Role(a, 0, 0);
  UpdateConfigOnExit(a.client);
  EXPECT_EQ(Config(), Golden("recreated_standby.ini"));
}

TEST_F(ConfigIniTest, ActiveClientThatDisconnectsBeforeExitLeavesAFreshFile) {
  SetConfig(Golden("start_active_standby.ini"));
  Role(a, 1, 1);
  UpdateConfigOnDisconnect(a.client);
  ResetClientState(a.client);
  UpdateConfigOnExit(a.client);
  EXPECT_EQ(Config(), Golden("recreated_standby.ini"));
}

TEST_F(ConfigIniTest, SwitchingOnAssignsRolesInArrivalOrder) {
  FakeClient b{dir.path()}, c{dir.path()};
  EXPECT_EQ(ConnectionMonitorCommand(a.client), 1);
  EXPECT_EQ(a.client.state.isActive, 1);
  EXPECT_EQ(a.window.roleBox.Lines(), std::vector<std::string>{"ACTIVE"});
  EXPECT_EQ(Config(), "[Clients]\nActive=1\n");

  EXPECT_EQ(ConnectionMonitorCommand(b.client), 1);
  EXPECT_EQ(b.client.state.isActive, 0);
  EXPECT_EQ(b.client.state.clientsNumber, 0);
  EXPECT_EQ(b.window.roleBox.Lines(), std::vector<std::string>{"STAND BY"});
  EXPECT_EQ(Config(), "[Clients]\nActive=1\nNumber=1\n");

  ino_t before = Inode();
  c.client.state.isActive = 1;
  EXPECT_EQ(ConnectionMonitorCommand(c.client), 1);
  EXPECT_EQ(c.client.state.isActive, 0);
  EXPECT_EQ(c.client.state.clientsNumber, 1);
  EXPECT_EQ(c.window.roleBox.Lines(), std::vector<std::string>{"STAND BY"});
  EXPECT_EQ(Inode(), before) << "the third client writes nothing";
}

TEST_F(ConfigIniTest, SwitchingOnWithAnUnknownRecordChangesNothing) {
  SetConfig("[Clients]\nActive=0\nNumber=1\n");
  a.client.state.isActive = 1;
  a.window.roleBox.AddString("ERROR");
  EXPECT_EQ(ConnectionMonitorCommand(a.client), 1);
  EXPECT_EQ(a.client.state.monitorEnabled, 1);
  EXPECT_EQ(a.client.state.isActive, 1);
  EXPECT_EQ(a.client.state.clientsNumber, 1);
  EXPECT_EQ(a.window.roleBox.Lines(), std::vector<std::string>{"ERROR"});
  EXPECT_EQ(Config(), "[Clients]\nActive=0\nNumber=1\n");
}

TEST_F(ConfigIniTest, SwitchingOffReleasesWhatThisClientHeld) {
  struct Case {
    const char* before;
    int isActive;
    const char* after;
  } cases[] = {
      {"[Clients]\nActive=1\nNumber=0\n", 0, "[Clients]\nActive=0\nNumber=0\n"},
      {"[Clients]\nActive=1\nNumber=0\n", 1, "[Clients]\nActive=0\nNumber=0\n"},
      {"[Clients]\nActive=1\nNumber=1\n", 0, "[Clients]\nActive=1\nNumber=0\n"},
      {"[Clients]\nActive=1\nNumber=1\n", 1, "[Clients]\nActive=0\nNumber=1\n"},
      {"[Clients]\nActive=0\nNumber=1\n", 1, "[Clients]\nActive=0\nNumber=1\n"},
      {"[Clients]\nActive=0\nNumber=0\n", 0, "[Clients]\nActive=0\nNumber=0\n"},
  };
  for (const Case& c : cases) {
    SetConfig(c.before);
    FakeClient client{dir.path()};
    client.client.state.monitorEnabled = 1;
    client.client.state.isActive = c.isActive;
    ShowRole(client.client, c.isActive ? kRoleActive : kRoleStandBy);
    EXPECT_EQ(ConnectionMonitorCommand(client.client), 0);
    EXPECT_EQ(client.client.state.monitorEnabled, 0);
    EXPECT_EQ(client.client.state.isActive, c.isActive);
    EXPECT_EQ(client.window.roleBox.Lines(),
              std::vector<std::string>{c.isActive ? "ACTIVE" : "STAND BY"});
    EXPECT_EQ(Config(), c.after) << c.before << "isActive " << c.isActive;
  }
  std::filesystem::remove(dir.File(kConfigFileName));
  a.client.state.monitorEnabled = 1;
  EXPECT_EQ(ConnectionMonitorCommand(a.client), 0);
  EXPECT_EQ(Config(), "") << "switching off makes sure the file exists";
}

TEST_F(ConfigIniTest, RoleBoxKeepsOneLine) {
  ConnectionMonitorCommand(a.client);  // ACTIVE
  ShowRole(a.client, kRoleNotMonitored);
  ShowRole(a.client, kRoleError);
  EXPECT_EQ(a.window.roleBox.Lines(), std::vector<std::string>{"ERROR"});
  Client windowless(WindowPorts{}, dir.path());
  ShowRole(windowless, kRoleActive);  // no box: nothing to show, nothing to break
}

}  // namespace
}  // namespace tagwell
