// The active/standby protocol over a role record in a server database:
// clients of separate Config.ini folders that share only a PostgreSQL
// database (a private cluster), and the protocol over a store that cannot
// be reached.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QThread>

#include "db/Database.h"
#include "session/Roles.h"
#include "resources/ResourceIds.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/PgDatabaseTest.h"

namespace tagwell {
namespace {

using namespace res;
using testing::TempDir;
using testing::TestWindow;

std::string Role(TestWindow& w) {
  std::vector<std::string> lines = w.Lines(IDC_ROLE_BOX);
  return lines.empty() ? "" : lines[0];
}

// A role record in memory that can be taken out of reach.
class FlakyStore final : public RoleStore {
 public:
  bool Update(const std::function<bool(RoleRecord&, long long)>& change) override {
    if (!up) return false;
    RoleRecord changed = record;
    if (change(changed, nowMs)) record = changed;
    return true;
  }
  bool up = true;
  RoleRecord record;
  long long nowMs = 1'000'000;
};

TEST(UnreachableRoleStore, TheActiveClientStepsDownAndNobodyTakesTheRoleWithoutIt) {
  TempDir folder;
  TestWindow w(folder.path());
  FlakyStore store;
  ActiveStandby me(w.client(), store, "me");
  const ClientState& s = w.client().state;

  store.up = false;
  me.MonitorCommand(1000);
  EXPECT_EQ(s.isActive, 0) << "switched on without the record: standby";
  EXPECT_EQ(Role(w), "STAND BY");
  store.up = true;
  me.Tick(1000);
  EXPECT_EQ(s.isActive, 1) << "nobody held the role";

  struct Step {
    const char* what;
    bool up;
    long long advanceMs;
    bool afterRead;  // the step is the renewal after the rows
    int active;
  } steps[] = {
      {"renewal at the start of a tick fails", false, 0, false, 0},
      {"still out of reach, the lease ran out", false, 5000, false, 0},
      {"back: the free role is taken", true, 0, false, 1},
      {"renewal after the rows fails", false, 0, true, 0},
      {"back again", true, 5000, false, 1},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    store.up = step.up;
    store.nowMs += step.advanceMs;
    step.afterRead ? me.AfterRead(1000) : me.Tick(1000);
    EXPECT_EQ(s.isActive, step.active);
    EXPECT_EQ(Role(w), step.active ? "ACTIVE" : "STAND BY");
  }
  EXPECT_EQ(store.record.holder, "me");
}

class ServerRolesTest : public testing::PgDatabaseTest {
 protected:
  ServerRolesTest() : PgDatabaseTest("roles") {}
  // A client of a folder of its own, recording into the database, with the
  // heartbeat item and one more, reading.
  std::unique_ptr<TestWindow> StartClient(TempDir& folder) {
    auto w = std::make_unique<TestWindow>(folder.path());
    testing::ConnectTo(*w);
    testing::AddTypedItem(*w, "OPC.ConnectionMonitor");
    testing::AddTypedItem(*w, "Line1.Count");
    w->Command(IDC_READ_BUTTON);
    ClientState& s = w->client().state;
    s.databasePath = cluster_->ConnectionFile(folder.path(), name_);
    s.databaseWriting = 1;
    return w;
  }
  static void Tick(TestWindow& w) { w->readCycle().Tick(); }
  static std::string Config(TempDir& folder) {
    return testing::ReadFile(folder.File("Config.ini"));
  }
  static int Active(TestWindow& w) { return w.client().state.isActive; }

  testing::Plant plant_;
  TempDir folderA_, folderB_;
};


TEST_F(ServerRolesTest, ConnectToDatabaseChecksTheConnectionFileAtOnce) {
  TestWindow w(folderA_.path());
  const std::string file = cluster_->ConnectionFile(folderA_.path(), name_);
  w.desktop.answers = {file};
  w.Command(IDM_DB_CONNECT);
  EXPECT_EQ(w.client().state.databaseWriting, 1);
  EXPECT_TRUE(w.messages.shown.empty());

  w.Command(IDM_DB_DISCONNECT);
  testing::WriteFile(folderA_.File(name_ + ".pass"), "Not-The-Password-9\n");
  w.desktop.answers = {file};
  w.Command(IDM_DB_CONNECT);
  EXPECT_EQ(w.client().state.databaseWriting, 0);
  ASSERT_EQ(w.messages.shown.size(), 1u);
  const testing::ShownMessage& box = w.messages.shown[0];
  EXPECT_EQ(box.caption, "Connect to Database");
  EXPECT_EQ(box.text.rfind("Error: database " + file +
                               " cannot be used for recording:\nthe database postgres@127.0.0.1:",
                           0),
            0u)
      << box.text;
  EXPECT_EQ(box.text.find("Not-The-Password-9"), std::string::npos);
}

TEST_F(ServerRolesTest, ClientsOfTwoFoldersShareTheRoleThroughTheDatabase) {
  auto a = StartClient(folderA_), b = StartClient(folderB_);
  a->Command(IDM_MONITOR);
  b->Command(IDM_MONITOR);
  EXPECT_EQ(Role(*a), "ACTIVE");
  EXPECT_EQ(Role(*b), "STAND BY");
  char host[256] = "";
  ::gethostname(host, sizeof host - 1);
  EXPECT_EQ(Sql("SELECT Active, Number, Holder = '" + (*a)->readCycle().roles().identity() +
                "', Host, ActiveCycle FROM TagwellRole"),
            "1|1|t|" + std::string(host) + "|5000\n");
  for (int round = 0; round < 3; ++round) {
    Tick(*a);
    Tick(*b);
    EXPECT_EQ(Active(*a), 1);
    EXPECT_EQ(Active(*b), 0);
    EXPECT_EQ(a->client().dbWriter.roleHolder, (*a)->readCycle().roles().identity());
  }
  EXPECT_EQ(Sql("SELECT LeaseUntil - (extract(epoch from clock_timestamp()) * 1000)::bigint "
                "BETWEEN 5000 AND 10000 FROM TagwellRole"),
            "t\n")
      << "two cycles of 5 s on the server's clock";

  // The active client stops ticking until its lease ran out: the standby
  // takes over, and the stalled client steps down when it resumes.
  Sql("UPDATE TagwellRole SET LeaseUntil = LeaseUntil - 10000");
  Tick(*b);
  EXPECT_EQ(Role(*b), "ACTIVE");
  Tick(*a);
  EXPECT_EQ(Role(*a), "STAND BY");
  EXPECT_EQ(a->client().dbWriter.roleHolder, "");
  EXPECT_TRUE(Config(folderA_).find("Active=") == std::string::npos)
      << "the record is not in Config.ini";
}

TEST_F(ServerRolesTest, WithoutTheDatabaseNobodyIsActiveAndOneTakesOverWhenItIsBack) {
  auto a = StartClient(folderA_), b = StartClient(folderB_);
  a->Command(IDM_MONITOR);
  b->Command(IDM_MONITOR);
  ASSERT_EQ(Active(*a), 1);
  ASSERT_TRUE(cluster_->Stop()) << cluster_->error();
  for (int round = 0; round < 3; ++round) {
    Tick(*a);
    Tick(*b);
    EXPECT_EQ(Active(*a), 0);
    EXPECT_EQ(Active(*b), 0);
  }
  ASSERT_TRUE(cluster_->Start()) << cluster_->error();
  // Each store waits a second after a failed connection before it tries
  // again; tick until one client holds the role, bounded.
  QElapsedTimer waited;
  waited.start();
  while (Active(*a) + Active(*b) == 0 && waited.elapsed() < 20000) {
    Tick(*a);
    Tick(*b);
    QThread::msleep(20);
  }
  for (int round = 0; round < 3; ++round) {
    Tick(*a);
    Tick(*b);
    EXPECT_EQ(Active(*a) + Active(*b), 1) << round;
  }
}

// A restart of the database server ends the clients' connections between
// two ticks: the next tick makes them again and the active client keeps its
// role and records that tick, without a word in the log.
TEST_F(ServerRolesTest, ConnectionsTheServerEndedAreMadeAgainInTheNextTick) {
  auto a = StartClient(folderA_);
  a->client().writeDatabase = &WriteDatabase;
  a->client().flushDatabase = &FlushDatabase;
  a->Command(IDM_MONITOR);
  Tick(*a);
  ASSERT_EQ(Sql("SELECT count(*) FROM OPCvalues"), "2\n");
  EXPECT_EQ(Sql("SELECT count(pg_terminate_backend(pid)) > 0 FROM pg_stat_activity WHERE "
                "datname = current_database() AND pid <> pg_backend_pid()"),
            "t\n");
  Tick(*a);
  EXPECT_EQ(Active(*a), 1);
  EXPECT_EQ(Sql("SELECT count(*) FROM OPCvalues"), "4\n");
  const std::string log = testing::ReadFile(folderA_.File("Logfile.txt"));
  EXPECT_EQ(log.find("*** WriteDatabase error:"), std::string::npos) << log;
  EXPECT_EQ(log.find("STAND BY"), std::string::npos) << log;
}

}  // namespace
}  // namespace tagwell
