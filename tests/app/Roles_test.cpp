// The active/standby protocol between clients that share one Config.ini
// folder and one server: three windows in one process, ticks by hand.
#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <climits>
#include <sstream>

#include "app/SmallDialogs.h"
#include "resources/ResourceIds.h"
#include "tests/app/AppTestSupport.h"

namespace tagwell {
namespace {

using namespace res;
using testing::Plant;
using testing::ReadFile;
using testing::TempDir;
using testing::TestWindow;
using Lines = std::vector<std::string>;

class RolesTest : public ::testing::Test {
 protected:
  // A client of the shared folder with the heartbeat item in row 0 and one
  // more item, reading.
  std::unique_ptr<TestWindow> StartClient() {
    auto w = std::make_unique<TestWindow>(folder_.path());
    testing::ConnectTo(*w);
    testing::AddTypedItem(*w, "OPC.ConnectionMonitor");
    testing::AddTypedItem(*w, "Line1.Count");
    w->Command(IDC_READ_BUTTON);
    EXPECT_EQ(w->client().state.monitorItemPresent, 1);
    return w;
  }
  // Active and Number of the role record, as "[Clients]\nActive=..\nNumber=..\n"
  // with the keys that are present (the lease keys are left out).
  std::string Config() {
    std::string out = "[Clients]\n";
    std::istringstream lines(ReadFile(folder_.File("Config.ini")));
    for (std::string line; std::getline(lines, line);)
      if (line.rfind("Active=", 0) == 0 || line.rfind("Number=", 0) == 0) out += line + "\n";
    return out;
  }
  static std::string Role(TestWindow& w) {
    Lines lines = w.Lines(IDC_ROLE_BOX);
    EXPECT_LE(lines.size(), 1u);
    return lines.empty() ? "" : lines[0];
  }
  void Tick(TestWindow& w) { w->readCycle().Tick(); }

  Plant plant_;
  TempDir folder_;
};

TEST_F(RolesTest, FirstIsActiveTheOthersStandByAndAStandbyTakesOver) {
  auto a = StartClient(), b = StartClient(), c = StartClient();

  a->Command(IDM_MONITOR);
  EXPECT_TRUE((*a)->action(IDM_MONITOR)->isChecked());
  EXPECT_EQ(Role(*a), "ACTIVE");
  EXPECT_EQ(Config(), "[Clients]\nActive=1\n");

  b->Command(IDM_MONITOR);
  EXPECT_EQ(Role(*b), "STAND BY");
  EXPECT_EQ(Config(), "[Clients]\nActive=1\nNumber=1\n");

  c->Command(IDM_MONITOR);
  EXPECT_EQ(Role(*c), "STAND BY");
  EXPECT_EQ(Config(), "[Clients]\nActive=1\nNumber=1\n") << "the third writes nothing";

  // The active client keeps the heartbeat alternating; the others follow.
  std::vector<std::string> beats;
  for (int round = 0; round < 4; ++round) {
    for (TestWindow* w : {a.get(), b.get(), c.get()}) Tick(*w);
    beats.push_back(testing::PlantValue(plant_, "OPC.ConnectionMonitor"));
    EXPECT_EQ(Role(*a), "ACTIVE") << round;
    EXPECT_EQ(Role(*b), "STAND BY") << round;
    EXPECT_EQ(Role(*c), "STAND BY") << round;
  }
  EXPECT_EQ(beats, (Lines{"1", "0", "1", "0"}));
  EXPECT_EQ(a->client().state.isActive, 1);
  EXPECT_EQ(b->client().state.isActive, 0);

  a->Command(IDM_DISCONNECT);
  EXPECT_EQ(Config(), "[Clients]\nActive=0\nNumber=0\n");
  Tick(*b);
  EXPECT_EQ(Role(*b), "ACTIVE") << "at its first tick without a heartbeat";
  EXPECT_EQ(b->client().state.isActive, 1);
  EXPECT_EQ(Config(), "[Clients]\nActive=1\nNumber=0\n");
  Tick(*c);
  EXPECT_EQ(Role(*c), "STAND BY") << "the new active client keeps the heartbeat going";
  for (int round = 0; round < 3; ++round) {
    Tick(*b);
    Tick(*c);
    EXPECT_EQ(Role(*b), "ACTIVE");
    EXPECT_EQ(Role(*c), "STAND BY");
  }
  EXPECT_TRUE(a->messages.shown.empty());
  EXPECT_TRUE(b->messages.shown.empty());
  EXPECT_TRUE(c->messages.shown.empty());
}

TEST_F(RolesTest, OnlyTheActiveClientWritesItems) {
  auto a = StartClient(), b = StartClient();
  a->Command(IDM_MONITOR);
  b->Command(IDM_MONITOR);
  b->client().state.selectedRow = 1;
  testing::WhenShown<WriteValueDialog>([](WriteValueDialog& d) {
    d.edit()->setText("5");
    d.accept();
  });
  b->Command(IDM_WRITEITEM);
  ASSERT_EQ(b->messages.shown.size(), 1u);
  EXPECT_EQ(b->messages.shown[0].text, "Error: only \"active\" client can write in the item!");
  EXPECT_EQ(b->messages.shown[0].caption, "Write Item");
}

TEST_F(RolesTest, AnUnmonitoredClientAloneKeepsTheHeartbeatAlive) {
  auto a = StartClient();
  std::vector<std::string> beats;
  for (int round = 0; round < 3; ++round) {
    Tick(*a);
    beats.push_back(testing::PlantValue(plant_, "OPC.ConnectionMonitor"));
    EXPECT_EQ(Role(*a), "NOT MONITORED");
  }
  EXPECT_EQ(beats, (Lines{"1", "0", "1"}));
  EXPECT_TRUE(a->messages.shown.empty());
  a->Command(IDM_DISCONNECT);
  EXPECT_EQ(Role(*a), "");
}

TEST_F(RolesTest, LeavingClientsResetTheRecord) {
  auto a = StartClient(), b = StartClient();
  a->Command(IDM_MONITOR);
  b->Command(IDM_MONITOR);
  Tick(*a);
  Tick(*b);
  (*b)->close();  // standby: Number = 0 (it read Number 1 at its tick)
  EXPECT_EQ(Config(), "[Clients]\nActive=1\nNumber=0\n");
  (*a)->close();  // active, clientsNumber 1: Active = 0, Number = 0
  EXPECT_EQ(Config(), "[Clients]\nActive=0\nNumber=0\n");
}

// Without the heartbeat item the role still decides who records, and each
// operator is told what the pair needs.
TEST_F(RolesTest, WithoutTheHeartbeatItemOnlyTheActiveClientRecords) {
  static int recorded = 0;
  auto a = std::make_unique<TestWindow>(folder_.path());
  auto b = std::make_unique<TestWindow>(folder_.path());
  for (TestWindow* w : {a.get(), b.get()}) {
    testing::ConnectTo(*w);
    testing::AddTypedItem(*w, "Line1.Count");
    testing::AddTypedItem(*w, "Boiler.Pressure");
    w->Command(IDC_READ_BUTTON);
    w->client().writeDatabase = [](Client&) { return ++recorded, 0; };
    w->client().state.databaseWriting = 1;
    w->Command(IDM_MONITOR);
    ASSERT_EQ(w->messages.shown.size(), 1u);
    EXPECT_EQ(w->messages.shown[0].caption, "Connection monitor");
  }
  for (int round = 0; round < 4; ++round) Tick(*a), Tick(*b);
  EXPECT_EQ(recorded, 8) << "two items in four ticks, by the active client alone";
  EXPECT_NE(ReadFile(folder_.File("Logfile.txt"))
                .find("*** Connection monitor: the first item is not OPC.ConnectionMonitor;"),
            std::string::npos);
}

// The record as another client left it: whatever a file may hold.
class RecordStore final : public RoleStore {
 public:
  explicit RecordStore(RoleRecord record) : record_(std::move(record)) {}
  bool Update(const std::function<bool(RoleRecord&, long long)>& change) override {
    change(record_, kNow);
    return true;
  }
  static constexpr long long kNow = 1'000'000'000;
  RoleRecord record_;
};

TEST(RoleRecordTest, ALeaseWithACycleNoClientWritesHoldsNothing) {
  struct Case {
    long long cycleMs;
    bool standBy;
  } cases[] = {{1000, true},       {0, true},          {-1, false},
               {LLONG_MIN, false}, {LLONG_MAX, false}, {LLONG_MAX / 2, false}};
  for (const Case& c : cases) {
    TempDir folder;
    Client client(WindowPorts{}, folder.path());
    RecordStore store({1, 0, "other:1:1", c.cycleMs, RecordStore::kNow + 500, ""});
    ActiveStandby roles(client, store, "me:2:2");
    roles.MonitorCommand(1000);
    EXPECT_EQ(client.state.isActive, c.standBy ? 0 : 1) << c.cycleMs;
    EXPECT_EQ(store.record_.holder, c.standBy ? "other:1:1" : "me:2:2") << c.cycleMs;
  }
}

}  // namespace
}  // namespace tagwell
