// The role record in Config.ini: key conversion, where the file is, and the
// active/standby protocol of clients sharing it (crashes, stalls, leaving
// clients, different cycles) on an injected clock.
#include "session/ConfigIni.h"
#include "session/Roles.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "tests/support/FakeUi.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

using testing::FakeClient;
using testing::FileExists;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

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
// Clients of one folder on one injected clock, each with its own protocol.
// Time moves by hand; each client ticks at its own cycle while it runs.
class RoleProtocolTest : public ::testing::Test {
 protected:
  struct Peer {
    Peer(const std::string& folder, long long* now, const std::string& id, unsigned cycle)
        : fake(folder), store(fake.client, [now] { return *now; }), roles(fake.client, store, id),
          cycleMs(cycle) {
      fake.client.state.monitorItemPresent = 1;
    }
    std::string Role() const {
      auto lines = fake.window.roleBox.Lines();
      return lines.empty() ? "" : lines[0];
    }
    FakeClient fake;
    ConfigIniRoleStore store;
    ActiveStandby roles;
    unsigned cycleMs;
    bool running = true;
    long long nextTick = 0;
  };

  Peer& Join(const std::string& id, unsigned cycleMs = 1000) {
    peers_.push_back(std::make_unique<Peer>(dir.path(), &now, id, cycleMs));
    Peer& p = *peers_.back();
    p.roles.MonitorCommand(cycleMs);
    p.nextTick = now + cycleMs;
    return p;
  }
  // Runs the clock for ms; returns when check() holds (true) or the time is
  // up (false). Every moment at most one client may be active.
  bool RunFor(long long ms, const std::function<bool()>& check = [] { return false; }) {
    for (long long end = now + ms; now < end; now += 50) {
      for (auto& p : peers_) {
        if (!p->running || now < p->nextTick) continue;
        p->roles.Tick(p->cycleMs);
        p->nextTick = now + p->cycleMs;
      }
      int active = 0;
      for (auto& p : peers_) active += p->running && p->fake.client.state.isActive;
      EXPECT_LE(active, 1) << "two active clients at " << now;
      if (check()) return true;
    }
    return false;
  }
  std::string Config() const { return ReadFile(dir.File(kConfigFileName)); }
  std::string Log() const { return ReadFile(dir.File("Logfile.txt")); }

  TempDir dir;
  long long now = 1'000'000;
  std::vector<std::unique_ptr<Peer>> peers_;
};

TEST_F(RoleProtocolTest, StandbyTakesOverWithinTheLeaseOfACrashedActiveClient) {
  // The cycles of the active client decide, whatever the standby's are.
  for (unsigned activeCycle : {1000u, 5000u}) {
    Peer& a = Join("a" + std::to_string(activeCycle), activeCycle);
    Peer& b = Join("b" + std::to_string(activeCycle), 700);
    EXPECT_EQ(a.Role(), "ACTIVE");
    EXPECT_EQ(b.Role(), "STAND BY");
    EXPECT_FALSE(RunFor(10 * activeCycle, [&] { return b.fake.client.state.isActive == 1; }))
        << "no takeover from a healthy active client with a longer cycle";
    a.running = false;  // kill -9
    const long long lastRenewal = a.nextTick - activeCycle;
    ASSERT_TRUE(RunFor(10 * activeCycle, [&] { return b.fake.client.state.isActive == 1; }));
    EXPECT_LE(now - lastRenewal, kLeaseCycles * activeCycle + b.cycleMs + 50);
    EXPECT_EQ(b.Role(), "ACTIVE");
    EXPECT_NE(Log().find("Client role changed to ACTIVE: heartbeat stopped\n"), std::string::npos);
    b.running = false;
    now += 100'000;
  }
}

TEST_F(RoleProtocolTest, AStalledActiveClientThatResumesStepsDown) {
  Peer& a = Join("a");
  Peer& b = Join("b");
  a.fake.client.state.databaseWriting = 1;
  b.fake.client.state.databaseWriting = 1;
  RunFor(3000);
  a.running = false;  // SIGSTOP for four cycles
  ASSERT_TRUE(RunFor(4000, [&] { return b.fake.client.state.isActive == 1; }));
  RunFor(4000 - (now % 1000));
  a.running = true;  // SIGCONT: its late tick comes at once
  a.nextTick = now;
  RunFor(100);
  EXPECT_EQ(a.fake.client.state.isActive, 0);
  EXPECT_EQ(a.Role(), "STAND BY");
  EXPECT_EQ(a.fake.window.databaseStatus.current(), "Data writing in database is stopped.");
  EXPECT_EQ(b.fake.window.databaseStatus.current(), "Data writing in database is in progress!");
  EXPECT_NE(Log().find("Client role changed to STAND BY: client b took over\n"), std::string::npos);
  EXPECT_FALSE(RunFor(10'000, [&] { return a.fake.client.state.isActive == 1; }));
}

// Leaving clients hand the role over at once and never touch another's.
TEST_F(RoleProtocolTest, LeavingClientsKeepOrHandOverTheRole) {
  struct Case {
    const char* how;
    std::function<void(Peer&)> leave;
    const char* reason;
  };
  const Case cases[] = {
      {"disconnect", [](Peer& p) { p.roles.Disconnect(); }, "the active client disconnected"},
      {"exit", [](Peer& p) { p.roles.Exit(); }, "the active client exited"},
      {"monitoring off", [](Peer& p) { p.roles.MonitorCommand(p.cycleMs); },
       "monitoring was switched off on the active client"},
  };
  for (const Case& c : cases) {
    peers_.clear();
    std::filesystem::remove(dir.File(kConfigFileName));
    Peer& a = Join("a");
    Peer& b = Join("b");
    Peer& c3 = Join("c");
    // A client that never monitored leaves: the others' roles stay.
    peers_.push_back(std::make_unique<Peer>(dir.path(), &now, "unmonitored", 1000));
    peers_.back()->roles.Exit();
    peers_.back()->running = false;
    RunFor(2000);
    EXPECT_EQ(a.Role(), "ACTIVE") << c.how;
    EXPECT_NE(Config().find("ActiveClient=a\n"), std::string::npos) << Config();

    c.leave(a);
    a.running = false;
    EXPECT_EQ(a.fake.client.state.isActive, c.how == std::string("monitoring off") ? 0 : 1);
    ASSERT_TRUE(RunFor(1100, [&] { return b.fake.client.state.isActive || c3.fake.client.state.isActive; }))
        << c.how << ": a standby takes over at its next tick";
    EXPECT_NE(Log().find(std::string("Client role changed to ACTIVE: ") + c.reason + "\n"),
              std::string::npos)
        << c.how;
    EXPECT_FALSE(RunFor(5000, [&] {
      return b.fake.client.state.isActive == c3.fake.client.state.isActive;
    })) << c.how << ": exactly one of the two standbys is active";
    EXPECT_NE(Config().find("Active=1\n"), std::string::npos);
  }
}

TEST_F(ConfigIniTest, RoleBoxKeepsOneLine) {
  ShowRole(a.client, kRoleActive);
  ShowRole(a.client, kRoleNotMonitored);
  ShowRole(a.client, kRoleError);
  EXPECT_EQ(a.window.roleBox.Lines(), std::vector<std::string>{"ERROR"});
  Client windowless(WindowPorts{}, dir.path());
  ShowRole(windowless, kRoleActive);  // no box: nothing to show, nothing to break
}

long long ClockMs(clockid_t clock) {
  timespec now{};
  ::clock_gettime(clock, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1'000'000;
}

// The lease counts on the time since the computer started, which setting
// the clock does not move. An older client's lease (on the wall clock,
// without LeaseClock) is read on its clock; one of an earlier start of the
// computer holds nothing.
TEST(ConfigIniLease, CountsOnTheBootClockAndReadsOlderRecordsOnTheirs) {
  std::ifstream bootId("/proc/sys/kernel/random/boot_id");
  std::string ours;
  std::getline(bootId, ours);
  ours = "boottime:" + ours;
  const std::string wall = std::to_string(ClockMs(CLOCK_REALTIME) + 1500);
  const std::string boot = std::to_string(ClockMs(CLOCK_BOOTTIME) + 1500);
  // The lease of the record, and whether it holds the role.
  const std::pair<std::string, bool> cases[] = {
      {"", false},
      {"LeaseUntil=" + wall + "\n", true},
      {"LeaseUntil=" + std::to_string(ClockMs(CLOCK_REALTIME) - 1) + "\n", false},
      {"LeaseUntil=" + boot + "\nLeaseClock=boottime:0\n", false},
      {"LeaseUntil=" + boot + "\nLeaseClock=" + ours + "\n", true},
  };
  for (const auto& [lease, held] : cases) {
    SCOPED_TRACE(lease);
    TempDir dir;
    WriteFile(dir.File(kConfigFileName),
              "[Clients]\nActive=1\nActiveClient=other:1:1\nActiveCycle=1000\n" + lease);
    Client client(WindowPorts{}, dir.path());
    ConfigIniRoleStore store(client);
    ActiveStandby roles(client, store, "me:1:1");
    const long long before = ClockMs(CLOCK_BOOTTIME);
    roles.MonitorCommand(1000);
    EXPECT_EQ(client.state.isActive, held ? 0 : 1);
    if (held) continue;
    const std::string config = ReadFile(dir.File(kConfigFileName));
    EXPECT_NE(config.find("\nLeaseClock=" + ours + "\n"), std::string::npos) << config;
    const long long until = std::atoll(config.c_str() + config.find("\nLeaseUntil=") + 12);
    EXPECT_GE(until, before + 2000) << config;
    EXPECT_LE(until, ClockMs(CLOCK_BOOTTIME) + 2000) << config;
  }
}

}  // namespace
}  // namespace tagwell
