// Two client processes that share only a PostgreSQL database (a private
// cluster): each has a folder of its own (Config.ini, Logfile.txt), both
// read one tagwell-server over TCP. The role record is the lease row in the
// database; the active client is killed, stalled, and the database is
// stopped and started again. Recording must go on with one recorder at a
// time, every stored tick once.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <thread>

#include "tests/e2e/Process.h"
#include "tests/support/PgCluster.h"
#include "tests/support/TempDir.h"

namespace tagwell::testing {
namespace {

using namespace std::chrono_literals;

constexpr long long kCycleMs = 500;
constexpr int kItems = 2;

constexpr char kSimulationClsid[] = "{6E0C5A1D-3B7F-4C2E-9A41-2F8D7B1C9E53}";

struct Tick {
  long long at;
  int client;
};

class ServerPair : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!PgCluster::Available(&why)) GTEST_SKIP() << why;
    cluster_ = std::make_unique<PgCluster>();
    ASSERT_TRUE(cluster_->ok()) << cluster_->error();
    ASSERT_TRUE(cluster_->MakeDatabase("plant")) << cluster_->error();
    const std::string runtime = work_.File("runtime");
    mkdir(runtime.c_str(), 0700);
    mkdir(work_.File("config").c_str(), 0700);
    env_ = {{"XDG_RUNTIME_DIR", runtime},
            {"XDG_CONFIG_HOME", work_.File("config")},
            {"QT_QPA_PLATFORM", "offscreen"}};
    port_ = FreeLoopbackPort();
    server_ = std::make_unique<ChildProcess>(
        ProgramFolder() + "/tagwell-server",
        std::vector<std::string>{"--listen", "127.0.0.1:" + std::to_string(port_),
                                 "--allow-any-client"},
        work_.path(),
        env_);
    ASSERT_TRUE(
        WaitUntil([&] { return FileExists(runtime + "/tagwell/Tagwell.Simulation.1.sock"); }, 20s));
    WriteFile(work_.File("items.xml"),
              "<ItemList>\n  <Item><Name>OPC.ConnectionMonitor</Name></Item>\n"
              "  <Item><Name>Boiler.Setpoint</Name></Item>\n</ItemList>\n");
  }
  void TearDown() override {
    clients_.clear();
    if (server_) {
      server_->Terminate();
      server_->Wait(10s);
    }
  }

  // Client n, in folder pc<n> with a connection file of its own: records
  // into the database and monitors, reading every 0.5 s.
  ChildProcess& Start(int n) {
    const std::string folder = work_.File("pc" + std::to_string(n));
    mkdir(folder.c_str(), 0700);
    const std::string file = cluster_->ConnectionFile(folder, "plant");
    auto env = env_;
    env["TAGWELL_E2E_RECORDS"] = work_.File("records-" + std::to_string(n));
    if (clients_.size() <= static_cast<std::size_t>(n)) clients_.resize(n + 1);
    clients_[n] = std::make_unique<ChildProcess>(ProgramFolder() + "/tagwell_e2e_driver",
                                                 std::vector<std::string>{}, folder, env);
    ChildProcess& c = *clients_[n];
    // The first client trusts the server's certificate; the second finds it
    // in known-servers.
    EXPECT_EQ(c.Ask("answer yes"), "ok");
    EXPECT_EQ(c.Ask("remote 127.0.0.1:" + std::to_string(port_) + " " + kSimulationClsid),
              "ok connected=1");
    EXPECT_EQ(c.Ask("load " + work_.File("items.xml")), "ok items=2");
    EXPECT_EQ(c.Ask("cycle 0.5"), "ok cycle=0.5");
    EXPECT_EQ(c.Ask("database " + file), "ok writing=1");
    EXPECT_EQ(c.Ask("read"), "ok");
    EXPECT_EQ(c.Ask("monitor"), "ok monitor=1");
    return c;
  }
  std::string Role(int n) { return Field(clients_[n]->Ask("state"), "role"); }
  int Active() {
    int active = -1;
    for (int n = 0; n < static_cast<int>(clients_.size()); ++n)
      if (Role(n) == "ACTIVE") active = active < 0 ? n : 9;  // 9: two at once
    return active;
  }
  std::vector<Tick> Ticks() {
    std::vector<Tick> ticks;
    for (int n = 0; n < 2; ++n) {
      std::ifstream in(work_.File("records-" + std::to_string(n)));
      for (long long t; in >> t;)
        if (ticks.empty() || ticks.back().client != n || t - ticks.back().at > 100)
          ticks.push_back({t, n});
    }
    std::sort(ticks.begin(), ticks.end(), [](const Tick& a, const Tick& b) { return a.at < b.at; });
    return ticks;
  }
  long Records() {
    long lines = 0;
    for (int n = 0; n < 2; ++n) {
      std::ifstream in(work_.File("records-" + std::to_string(n)));
      for (std::string line; std::getline(in, line);) ++lines;
    }
    return lines;
  }
  std::string Sql(const std::string& sql) {
    std::string out;
    EXPECT_TRUE(cluster_->Sql("plant", sql, &out)) << cluster_->error();
    return out;
  }
  // Cycles from at until the first tick of client n after it.
  double TakeoverCycles(long long at, int n) {
    for (const Tick& t : Ticks())
      if (t.at > at && t.client == n) return double(t.at - at) / kCycleMs;
    return 1e9;
  }

  TempDir work_;
  std::unique_ptr<PgCluster> cluster_;
  std::map<std::string, std::string> env_;
  std::unique_ptr<ChildProcess> server_;
  int port_ = 0;
  std::vector<std::unique_ptr<ChildProcess>> clients_;
};

TEST_F(ServerPair, KillStallAndDatabaseOutageKeepOneRecorder) {
  Start(0);
  ASSERT_TRUE(WaitUntil([&] { return Active() == 0; }, 10s));
  Start(1);
  ASSERT_TRUE(WaitUntil([&] { return Role(1) == "STAND_BY"; }, 10s));
  std::this_thread::sleep_for(std::chrono::milliseconds(4 * kCycleMs));
  std::vector<double> takeovers;

  // kill -9 of the active client; it comes back as the standby.
  const long long killed = NowMs();
  ::kill(clients_[0]->pid(), SIGKILL);
  clients_[0]->Wait(5s);
  ASSERT_TRUE(WaitUntil([&] { return Role(1) == "ACTIVE"; }, 15s)) << "no takeover";
  ASSERT_TRUE(WaitUntil([&] { return TakeoverCycles(killed, 1) < 1e9; }, 5s));
  takeovers.push_back(TakeoverCycles(killed, 1));
  Start(0);
  ASSERT_TRUE(WaitUntil([&] { return Role(0) == "STAND_BY"; }, 10s));
  std::this_thread::sleep_for(std::chrono::milliseconds(4 * kCycleMs));

  // A stall of four cycles: the standby takes over, the stalled one steps
  // down when it resumes and stores nothing after its lease.
  const long long stalled = NowMs();
  ::kill(clients_[1]->pid(), SIGSTOP);
  ASSERT_TRUE(WaitUntil([&] { return Role(0) == "ACTIVE"; }, 15s));
  std::this_thread::sleep_for(std::chrono::milliseconds(2 * kCycleMs));
  ::kill(clients_[1]->pid(), SIGCONT);
  EXPECT_TRUE(WaitUntil([&] { return Role(1) == "STAND_BY"; }, 5s));
  takeovers.push_back(TakeoverCycles(stalled, 0));
  std::this_thread::sleep_for(std::chrono::milliseconds(4 * kCycleMs));

  // The database stops: nobody records, nobody holds the role; it starts
  // again: one client takes the role and recording goes on.
  ASSERT_TRUE(cluster_->Stop()) << cluster_->error();
  const long long stopped = NowMs();
  EXPECT_TRUE(WaitUntil([&] { return Active() == -1; }, 10s)) << "a role without the database";
  const long long none = NowMs();
  std::this_thread::sleep_for(std::chrono::milliseconds(4 * kCycleMs));
  ASSERT_TRUE(cluster_->Start()) << cluster_->error();
  const long long started = NowMs();
  ASSERT_TRUE(WaitUntil([&] { return Active() == 0 || Active() == 1; }, 20s));
  std::this_thread::sleep_for(std::chrono::milliseconds(4 * kCycleMs));
  EXPECT_NE(Active(), 9);
  // Both clients hold still while the run is counted, so that the counts
  // below (several queries and the clients' logs) see one moment.
  for (int n = 0; n < 2; ++n) ::kill(clients_[n]->pid(), SIGSTOP);

  // The whole run, tick by tick.
  const std::vector<Tick> ticks = Ticks();
  double longestGap = 0, outageGap = 0;
  int twice = 0;
  for (std::size_t i = 1; i < ticks.size(); ++i) {
    const double gap = double(ticks[i].at - ticks[i - 1].at) / kCycleMs;
    const bool acrossOutage = ticks[i - 1].at <= stopped + 100 && ticks[i].at >= started;
    double& worstGap = acrossOutage ? outageGap : longestGap;
    worstGap = std::max(worstGap, gap);
    if (ticks[i].client != ticks[i - 1].client && ticks[i].at - ticks[i - 1].at < kCycleMs * 6 / 10)
      ++twice;
  }
  EXPECT_TRUE(std::none_of(ticks.begin(), ticks.end(), [&](const Tick& t) {
    return t.at > none && t.at < started;
  })) << "a tick was stored while the database was stopped";
  const double worst = *std::max_element(takeovers.begin(), takeovers.end());
  const long rows = std::atol(Sql("SELECT count(*) FROM OPCvalues").c_str());
  const long distinct = std::atol(Sql("SELECT count(DISTINCT Number) FROM OPCvalues").c_str());
  std::cout << "worst takeover " << worst << " cycles (kill " << takeovers[0] << ", stall "
            << takeovers[1] << "); cycles recorded twice: " << twice
            << "; longest gap without rows: " << longestGap
            << " cycles, across the database outage: " << outageGap << " cycles; ticks "
            << ticks.size() << ", rows " << rows << "\n";
  RecordProperty("worst_takeover_cycles", std::to_string(worst));
  RecordProperty("cycles_recorded_twice", std::to_string(twice));
  RecordProperty("longest_gap_cycles", std::to_string(longestGap));
  EXPECT_LE(worst, 4.0);
  EXPECT_EQ(twice, 0);
  EXPECT_LE(longestGap, 4.0);
  // Every stored reading is one row, with a number of its own; a client
  // killed in a tick may have stored a row it could not note.
  EXPECT_GE(rows, Records());
  EXPECT_LE(rows, Records() + kItems);
  EXPECT_EQ(distinct, rows);
  for (int n = 0; n < 2; ++n) {
    const std::string log = ReadFile(work_.File("pc" + std::to_string(n) + "/Logfile.txt"));
    EXPECT_EQ(log.find(PgCluster::Password()), std::string::npos);
  }
  for (int n = 0; n < 2; ++n) ::kill(clients_[n]->pid(), SIGCONT);
}

}  // namespace
}  // namespace tagwell::testing
