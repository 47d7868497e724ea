// tagwell-recorder as the service manager runs it: each recorder tells a
// NOTIFY_SOCKET of the test's own what it does (READY, WATCHDOG, STATUS,
// STOPPING), and shares one tagwell-server, one Config.ini and one SQLite
// file with other recorders and with a window run by the e2e driver.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

#include "tests/e2e/Process.h"
#include "tests/support/PgDatabaseTest.h"
#include "tests/support/TempDir.h"

namespace tagwell::testing {
namespace {

using namespace std::chrono_literals;

constexpr long long kCycleMs = 500;

// The service manager's end of sd_notify for one recorder.
class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << path;
    // The kernel stamps each message with its arrival.
    const int on = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMP, &on, sizeof on);
  }
  ~NotifySocket() { ::close(fd_); }
  const std::string& path() const { return path_; }

  struct Message {
    long long at;
    std::string text;
  };
  // Every message so far, with the wall-clock time it arrived.
  const std::vector<Message>& Messages() {
    char buffer[4096];
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timeval))];
    iovec part{buffer, sizeof buffer};
    msghdr header{};
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    for (;;) {
      header.msg_control = control;
      header.msg_controllen = sizeof control;
      const ssize_t n = ::recvmsg(fd_, &header, 0);
      if (n <= 0) break;
      long long at = NowMs();
      if (cmsghdr* c = CMSG_FIRSTHDR(&header); c && c->cmsg_type == SCM_TIMESTAMP) {
        timeval arrived{};
        std::memcpy(&arrived, CMSG_DATA(c), sizeof arrived);
        at = arrived.tv_sec * 1000LL + arrived.tv_usec / 1000;
      }
      messages_.push_back({at, std::string(buffer, static_cast<std::size_t>(n))});
    }
    return messages_;
  }
  std::string LastStatus() {
    const auto& all = Messages();
    for (auto it = all.rbegin(); it != all.rend(); ++it)
      if (auto at = it->text.find("STATUS="); at != std::string::npos)
        return it->text.substr(at + 7);
    return {};
  }
  // The times the ticks that stored rows began (the status after a tick
  // says how long it took).
  std::vector<long long> RecordingTicks() {
    std::vector<long long> ticks;
    long long rows = 0;
    for (const Message& m : Messages()) {
      const auto stored = m.text.find(" rows stored");
      if (m.text.find("WATCHDOG=1") == std::string::npos || stored == std::string::npos) continue;
      const long long now = std::atoll(m.text.c_str() + m.text.rfind("; ", stored) + 2);
      const auto took = m.text.find(" took ");
      if (now > rows)
        ticks.push_back(m.at - (took == std::string::npos ? 0 : std::atoll(&m.text[took + 6])));
      rows = now;
    }
    return ticks;
  }
  long long Rows() {
    const std::string status = LastStatus();
    const auto stored = status.find(" rows stored");
    return stored == std::string::npos
               ? -1
               : std::atoll(status.c_str() + status.rfind("; ", stored) + 2);
  }

 private:
  std::string path_;
  int fd_ = -1;
  std::vector<Message> messages_;
};

struct Recorder {
  std::unique_ptr<NotifySocket> notify;
  std::unique_ptr<ChildProcess> process;
  bool Ready() {
    for (const auto& m : notify->Messages())
      if (m.text.find("READY=1") != std::string::npos) return true;
    return false;
  }
  std::string Role() {
    const std::string status = notify->LastStatus();
    return status.substr(0, status.find(';'));
  }
};

// One tagwell-server, an item list, a SQLite file and the recorders of a
// test, in one folder.
class Plant {
 protected:
  void OpenPlant() {
    runtime_ = work_.File("runtime");
    mkdir(runtime_.c_str(), 0700);
    mkdir(work_.File("config").c_str(), 0700);
    env_ = {{"XDG_RUNTIME_DIR", runtime_},
            {"XDG_CONFIG_HOME", work_.File("config")},
            {"QT_QPA_PLATFORM", "offscreen"}};
    server_ = std::make_unique<ChildProcess>(ProgramFolder() + "/tagwell-server",
                                             std::vector<std::string>{}, work_.path(), env_);
    ASSERT_TRUE(WaitUntil(
        [&] { return FileExists(runtime_ + "/tagwell/Tagwell.Simulation.1.sock"); }, 20s));
    WriteFile(work_.File("items.xml"),
              "<ItemList>\n  <Item><Name>OPC.ConnectionMonitor</Name></Item>\n"
              "  <Item><Name>Boiler.Setpoint</Name></Item>\n</ItemList>\n");
    std::system(("sqlite3 '" + work_.File("plant.db") + "' < '" + std::string(TAGWELL_SOURCE) +
                 "/db/OPCvalues.sql'")
                    .c_str());
    WriteSession("pair.session", "yes");
  }
  void ClosePlant() {
    recorders_.clear();
    if (server_) server_->Terminate();
  }
  void WriteSession(const std::string& name, const std::string& roles,
                    const std::string& database = "plant.db") {
    WriteFile(work_.File(name),
              "[Server]\nName = Tagwell.Simulation.1\nComputer =\n"
              "[Items]\nList = items.xml\n[Cycle]\nSeconds = 0.5\n"
              "[Database]\nFile = " +
                  database + "\n[Roles]\nActiveStandby = " + roles + "\n");
  }
  // A recorder working in folder (its Config.ini and Logfile.txt).
  Recorder& Start(const std::string& session = "pair.session", std::string folder = {}) {
    if (folder.empty()) folder = work_.path();
    const std::string n = std::to_string(recorders_.size());
    auto r = std::make_unique<Recorder>();
    r->notify = std::make_unique<NotifySocket>(work_.File("notify-" + n));
    auto env = env_;
    env["NOTIFY_SOCKET"] = r->notify->path();
    r->process =
        std::make_unique<ChildProcess>(ProgramFolder() + "/tagwell-recorder",
                                       std::vector<std::string>{work_.File(session)}, folder, env);
    recorders_.push_back(std::move(r));
    Recorder& started = *recorders_.back();
    EXPECT_TRUE(WaitUntil([&] { return started.Ready(); }, 20s)) << "recorder " << n;
    return started;
  }
  long long DatabaseRows() {
    return std::atoll(
        Shell("sqlite3 '" + work_.File("plant.db") + "' 'SELECT count(*) FROM OPCvalues'").c_str());
  }

  TempDir work_;
  std::string runtime_;
  std::map<std::string, std::string> env_;
  std::unique_ptr<ChildProcess> server_;
  std::vector<std::unique_ptr<Recorder>> recorders_;
};

class Recorders : public ::testing::Test, protected Plant {
 protected:
  void SetUp() override { OpenPlant(); }
  void TearDown() override { ClosePlant(); }
};

// Consecutive recording ticks of two different recorders closer than
// 0.6 cycles: one cycle recorded twice.
int RecordedTwice(std::vector<std::pair<long long, int>> ticks) {
  std::sort(ticks.begin(), ticks.end());
  int twice = 0;
  for (std::size_t i = 1; i < ticks.size(); ++i)
    if (ticks[i].second != ticks[i - 1].second &&
        ticks[i].first - ticks[i - 1].first < kCycleMs * 6 / 10)
      ++twice;
  return twice;
}

// Two recorders and a window on one server and one SQLite file: kill -9 of
// the active recorder hands the role over within three cycles (two of
// lease, one to notice), and no cycle is recorded twice.
TEST_F(Recorders, KillOfTheActiveRecorderHandsOverWithinThreeCycles) {
  Recorder& a = Start();
  ASSERT_TRUE(WaitUntil([&] { return a.Role() == "ACTIVE"; }, 10s)) << a.notify->LastStatus();
  Recorder& b = Start();
  auto env = env_;
  env["TAGWELL_E2E_RECORDS"] = work_.File("window-records");
  ChildProcess window(ProgramFolder() + "/tagwell_e2e_driver", {}, work_.path(), env);
  EXPECT_EQ(window.Ask("connect Tagwell.Simulation.1"), "ok connected=1");
  EXPECT_EQ(window.Ask("load " + work_.File("items.xml")), "ok items=2");
  EXPECT_EQ(window.Ask("cycle 0.5"), "ok cycle=0.5");
  EXPECT_EQ(window.Ask("read"), "ok");
  EXPECT_EQ(window.Ask("monitor"), "ok monitor=1");
  EXPECT_EQ(window.Ask("database " + work_.File("plant.db")), "ok writing=1");
  EXPECT_TRUE(WaitUntil([&] { return a.notify->RecordingTicks().size() >= 4; }, 10s));
  EXPECT_EQ(b.Role(), "STAND BY");
  EXPECT_EQ(Field(window.Ask("state"), "role"), "STAND_BY");

  const long long killed = NowMs();
  ::kill(a.process->pid(), SIGKILL);
  a.process->Wait(5s);
  std::vector<long long> windowTicks;
  auto windowRecords = [&] {
    windowTicks.clear();
    std::ifstream in(work_.File("window-records"));
    for (long long t; in >> t;)
      if (windowTicks.empty() || t - windowTicks.back() > 100) windowTicks.push_back(t);
    return windowTicks;
  };
  ASSERT_TRUE(WaitUntil(
      [&] { return b.Role() == "ACTIVE" || Field(window.Ask("state"), "role") == "ACTIVE"; }, 10s));
  std::this_thread::sleep_for(std::chrono::milliseconds(4 * kCycleMs));

  std::vector<std::pair<long long, int>> ticks;
  for (long long t : a.notify->RecordingTicks()) ticks.emplace_back(t, 0);
  for (long long t : b.notify->RecordingTicks()) ticks.emplace_back(t, 1);
  for (long long t : windowRecords()) ticks.emplace_back(t, 2);
  std::sort(ticks.begin(), ticks.end());
  auto next = std::find_if(ticks.begin(), ticks.end(),
                           [&](const auto& t) { return t.first > killed && t.second != 0; });
  ASSERT_NE(next, ticks.end());
  const double takeover = double(next->first - killed) / kCycleMs;
  std::cout << "kill -9 to the first recording of " << (next->second == 1 ? "recorder" : "window")
            << ": " << takeover << " cycles\n";
  EXPECT_LE(takeover, 3.3);
  EXPECT_EQ(RecordedTwice(ticks), 0);
  EXPECT_EQ(window.Ask("exit"), "ok");
  EXPECT_EQ(window.Wait(20s), 0);
}

// SIGTERM of the active recorder: its tick ends, its rows are stored, it
// gives the role up (the standby records from its next tick, and only after
// the last rows of the first), tells the manager READY, WATCHDOG, STATUS and
// STOPPING in this order and exits 0. Every row a recorder reports stored
// is in the file, once.
TEST_F(Recorders, SigtermHandsOverAtTheNextTick) {
  Recorder& a = Start();
  ASSERT_TRUE(WaitUntil([&] { return a.Role() == "ACTIVE"; }, 10s));
  Recorder& b = Start();
  EXPECT_TRUE(WaitUntil([&] { return a.notify->RecordingTicks().size() >= 4; }, 10s));
  a.process->Terminate();
  EXPECT_EQ(a.process->Wait(10s), 0);
  const auto& messages = a.notify->Messages();
  ASSERT_GE(messages.size(), 3u);
  std::vector<std::string> order;
  for (const auto& m : messages)
    for (const char* state : {"READY=1", "WATCHDOG=1", "STATUS=", "STOPPING=1"})
      if (m.text.find(state) != std::string::npos && (order.empty() || order.back() != state))
        order.push_back(state);
  // The first STATUS ("Started") comes before READY; then READY with the
  // first tick, the ticks, and STOPPING last.
  const auto ready = std::find(order.begin(), order.end(), "READY=1");
  ASSERT_NE(ready, order.end());
  EXPECT_EQ(*(ready + 1), "WATCHDOG=1");
  EXPECT_EQ(order.back(), "STOPPING=1");
  EXPECT_NE(messages.back().text.find("STATUS=Stopped."), std::string::npos);
  const long long stopped = messages.back().at;

  ASSERT_TRUE(WaitUntil([&] { return b.Role() == "ACTIVE"; }, 5s)) << b.notify->LastStatus();
  const auto bTicks = b.notify->RecordingTicks();
  ASSERT_FALSE(bTicks.empty());
  const double takeover = double(bTicks.front() - stopped) / kCycleMs;
  std::cout << "SIGTERM to the standby's first recording: " << takeover << " cycles\n";
  EXPECT_LE(takeover, 1.3) << "the standby takes over at its next tick";
  // The handover comes at any moment of the standby's cycle: what must hold
  // is that the two never record side by side.
  const auto aTicks = a.notify->RecordingTicks();
  ASSERT_FALSE(aTicks.empty());
  EXPECT_LT(aTicks.back(), bTicks.front());

  b.process->Terminate();
  EXPECT_EQ(b.process->Wait(10s), 0);
  EXPECT_EQ(DatabaseRows(), a.notify->Rows() + b.notify->Rows());
  const std::string log = ReadFile(work_.File("Logfile.txt"));
  EXPECT_NE(log.find("Client role changed to ACTIVE: the active client exited"), std::string::npos)
      << log;
}

// kill -9 of the server under a recorder: it connects again by itself (the
// registration starts a new server) and reads Good again.
TEST_F(Recorders, ReadsGoodAgainAfterItsServerWasKilled) {
  // Outside the role protocol the heartbeat item would stop the recording.
  WriteFile(work_.File("items.xml"),
            "<ItemList><Item><Name>Boiler.Setpoint</Name></Item>"
            "<Item><Name>Line1.Speed</Name></Item></ItemList>\n");
  WriteSession("alone.session", "no");
  Recorder& r = Start("alone.session");
  ASSERT_TRUE(WaitUntil(
      [&] { return r.notify->LastStatus().find("2 items, 2 Good") != std::string::npos; }, 10s))
      << r.notify->LastStatus();
  ::kill(server_->pid(), SIGKILL);
  server_->Wait(5s);
  server_.reset();
  EXPECT_TRUE(WaitUntil(
      [&] { return r.notify->LastStatus().find("server lost") != std::string::npos; }, 10s))
      << r.notify->LastStatus();
  EXPECT_TRUE(WaitUntil(
      [&] {
        const std::string s = r.notify->LastStatus();
        return s.find("server lost") == std::string::npos && s.find("2 Good") != std::string::npos;
      },
      20s))
      << r.notify->LastStatus();
  const long long rows = r.notify->Rows();
  EXPECT_GT(rows, 0);
  r.process->Terminate();
  EXPECT_EQ(r.process->Wait(10s), 0);
  EXPECT_EQ(DatabaseRows(), r.notify->Rows());
  // The server it started ends by itself once its last client has gone.
}

// Two recorders as on two computers (a working folder each, no Config.ini
// in common) keep the role in the PostgreSQL database they record into:
// kill -9 of the active one hands over within three cycles, no cycle is
// recorded twice, every row reported stored is there, and the last one
// gives the role up when it stops.
class PgRecorders : public PgDatabaseTest, protected Plant {
 protected:
  PgRecorders() : PgDatabaseTest("recorder") {}
  void SetUp() override {
    PgDatabaseTest::SetUp();
    if (!IsSkipped() && !HasFatalFailure()) OpenPlant();
  }
  void TearDown() override { ClosePlant(); }
};

TEST_F(PgRecorders, TwoComputersShareTheRoleInTheDatabase) {
  const std::string second = work_.File("second");
  mkdir(second.c_str(), 0700);
  WriteSession("pg.session", "yes", cluster_->ConnectionFile(work_.path(), name_));
  Recorder& a = Start("pg.session");
  ASSERT_TRUE(WaitUntil([&] { return a.Role() == "ACTIVE"; }, 10s)) << a.notify->LastStatus();
  Recorder& b = Start("pg.session", second);
  EXPECT_TRUE(WaitUntil([&] { return b.Role() == "STAND BY"; }, 10s)) << b.notify->LastStatus();
  EXPECT_TRUE(WaitUntil([&] { return a.notify->RecordingTicks().size() >= 4; }, 10s));
  const long long killed = NowMs();
  ::kill(a.process->pid(), SIGKILL);
  a.process->Wait(5s);
  ASSERT_TRUE(WaitUntil([&] { return b.Role() == "ACTIVE"; }, 10s)) << b.notify->LastStatus();
  std::this_thread::sleep_for(std::chrono::milliseconds(3 * kCycleMs));
  const auto bTicks = b.notify->RecordingTicks();
  ASSERT_FALSE(bTicks.empty());
  EXPECT_LE(double(bTicks.front() - killed) / kCycleMs, 3.3);
  std::vector<std::pair<long long, int>> ticks;
  for (long long t : a.notify->RecordingTicks()) ticks.emplace_back(t, 0);
  for (long long t : bTicks) ticks.emplace_back(t, 1);
  EXPECT_EQ(RecordedTwice(ticks), 0);
  b.process->Terminate();
  EXPECT_EQ(b.process->Wait(10s), 0);
  // The killed recorder may have stored one tick (two rows) it did not
  // report any more.
  const long long reported = a.notify->Rows() + b.notify->Rows();
  const long long rows = std::atoll(Sql("SELECT count(*) FROM OPCvalues").c_str());
  EXPECT_GE(rows, reported);
  EXPECT_LE(rows, reported + 2);
  EXPECT_EQ(Sql("SELECT Active FROM TagwellRole"), "0\n");
}

// Bad input, for --check and for a start alike: a line naming the file and
// the line to blame, exit status 1, nothing recorded.
TEST_F(Recorders, BadSessionsAreRefusedWithTheirLine) {
  WriteFile(work_.File("not-a-database.db"), "rows, but no SQLite file\n");
  WriteFile(work_.File("late-heartbeat.xml"),
            "<ItemList><Item><Name>Boiler.Setpoint</Name></Item>"
            "<Item><Name>OPC.ConnectionMonitor</Name></Item></ItemList>\n");
  struct Case {
    const char* name;
    std::string session;
    std::string expected;  // in the output, after "FILE:"
  };
  auto session = [](const std::string& server, const std::string& list, const std::string& file,
                    const std::string& extra = {}) {
    return "[Server]\nName = " + server + "\n" + extra + "[Items]\nList = " + list +
           "\n[Cycle]\nSeconds = 0.5\n[Database]\nFile = " + file +
           "\n[Roles]\nActiveStandby = yes\n";
  };
  const std::vector<Case> cases{
      {"unknown-key", session("Tagwell.Simulation.1", "items.xml", "plant.db", "Colour = blue\n"),
       "3: unknown key \"Colour\" in section [Server]"},
      {"missing-list", session("Tagwell.Simulation.1", "gone.xml", "plant.db"),
       "4: the item list " + work_.File("gone.xml") + " is missing"},
      {"no-server", session("No.Such.Server.1", "items.xml", "plant.db"),
       "2: cannot connect to the OPC server No.Such.Server.1 on this computer"},
      {"bad-database", session("Tagwell.Simulation.1", "items.xml", "not-a-database.db"),
       "8: the database " + work_.File("not-a-database.db") + " cannot be used for recording"},
      {"late-heartbeat", session("Tagwell.Simulation.1", "late-heartbeat.xml", "plant.db"),
       "10: the role protocol needs the heartbeat item OPC.ConnectionMonitor as the first entry"},
  };
  const std::string program = "cd '" + work_.path() + "' && XDG_RUNTIME_DIR='" + runtime_ +
                              "' XDG_CONFIG_HOME='" + work_.File("config") + "' '" +
                              ProgramFolder() + "/tagwell-recorder' ";
  for (const Case& c : cases) {
    const std::string file = work_.File(std::string(c.name) + ".session");
    WriteFile(file, c.session);
    for (const std::string mode : {"--check ", ""}) {
      const std::string out = Shell(program + mode + "'" + file + "' 2>&1; echo exit=$?");
      EXPECT_NE(out.find(file + ":" + c.expected), std::string::npos) << c.name << " " << out;
      EXPECT_NE(out.find("exit=1"), std::string::npos) << c.name << " " << mode << out;
    }
  }
  const std::string out = Shell(program + "--check pair.session; echo exit=$?");
  EXPECT_NE(out.find("Items: 2 added from " + work_.File("items.xml") + ", 2 read Good"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("pair.session: ready to record\nexit=0"), std::string::npos) << out;
  EXPECT_EQ(DatabaseRows(), 0);
}

// The unit file as installed (with this build's program) passes
// systemd-analyze verify without a warning.
TEST(RecorderUnit, SystemdAnalyzeAcceptsIt) {
  if (Shell("command -v systemd-analyze").empty())
    GTEST_SKIP() << "systemd-analyze is not installed";
  TempDir folder;
  const std::string unit = folder.File("tagwell-recorder@boiler.service");
  // The build's copy runs the build's program.
  const std::string text =
      ReadFile(std::string(TAGWELL_BUILD_DIR) + "/recorder/tagwell-recorder@.service");
  WriteFile(unit, text);
  const std::string out = Shell("cd '" + folder.path() + "' && systemd-analyze verify --man=no '" +
                                unit + "' 2>&1; echo exit=$?");
  EXPECT_EQ(out, "exit=0\n");
  for (const char* line : {"Type=notify", "WatchdogSec=", "StateDirectory=tagwell/%i",
                           "WorkingDirectory=%S/tagwell/%i", "Restart=on-failure", "User=tagwell"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
  // The service has no window: neither Qt Widgets nor Qt Gui is linked.
  EXPECT_EQ(Shell("ldd '" + ProgramFolder() + "/tagwell-recorder' | grep -c 'Qt6Widgets\\|Qt6Gui'"),
            "0\n");
}

}  // namespace
}  // namespace tagwell::testing
