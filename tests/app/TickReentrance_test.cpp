// What may happen while a tick waits in a message box: the timer fires
// again, or the operator removes an item or disconnects. The tick must not
// run twice at once nor read through what the operator changed.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <thread>

#include "platform/com/CallWait.h"
#include "resources/ResourceIds.h"
#include "tests/app/AppTestSupport.h"

namespace tagwell {
namespace {

using namespace res;
using testing::ActingMessageBox;
using testing::Call;
using testing::Fault;
using testing::Plant;
using testing::ReadFile;
using testing::TestWindow;
using Lines = std::vector<std::string>;

class TickReentranceTest : public ::testing::Test {
 protected:
  TickReentranceTest() : w_({}, &box_) {
    testing::ConnectTo(w_, "Tagwell.TestServer.1");
    for (const char* id : {"Boiler.Pressure", "Line1.Speed", "Line1.Length"})
      testing::AddTypedItem(w_, id);
    w_.Command(IDC_READ_BUTTON);
    plant_.faults->SetTargetItem("Line1.Speed");
    plant_.faults->Set(Fault::ReadFails);
  }
  const std::vector<testing::ShownMessage>& Shown() { return box_.record.shown; }

  Plant plant_;
  ActingMessageBox box_;
  TestWindow w_;
};

TEST_F(TickReentranceTest, ATickDuringAReadErrorBoxIsDropped) {
  int nested = 0;
  box_.onShow = [&] {
    ++nested;
    w_->readCycle().Tick();  // the timer fires while the box is open
  };
  w_->readCycle().Tick();
  ASSERT_EQ(Shown().size(), 1u);
  EXPECT_EQ(Shown()[0].text,
            "Error reading item number 2.\nProbably doesn't exist or deleted from Server.");
  EXPECT_EQ(Shown()[0].caption, "ReadGroup function");
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(w_.Lines(IDC_VALUES), (Lines{"2.5000", "12.5000", "3.2500"}));
  EXPECT_EQ(w_.client().state.currentItem, 3);
}

TEST_F(TickReentranceTest, RemovingARowFromTheBoxKeepsTheColumnsTogether) {
  box_.onShow = [&] {
    box_.onShow = nullptr;
    w_->listBox(IDC_ITEM_NAMES)->setCurrentRow(0);
    w_.Command(IDC_REMOVE_BUTTON);
  };
  w_->readCycle().Tick();
  EXPECT_EQ(w_.Lines(IDC_ITEM_NAMES), (Lines{"Line1.Speed", "Line1.Length"}));
  for (int id : {8, 9, 10, 11}) EXPECT_EQ(w_->listBox(id)->count(), 2) << id;
  plant_.faults->ClearAll();
  w_->readCycle().Tick();
  EXPECT_EQ(w_.Lines(IDC_VALUES), (Lines{"12.5000", "3.2500"}));
  EXPECT_EQ(Shown().size(), 1u);
}

TEST_F(TickReentranceTest, DisconnectingFromTheBoxEndsTheTick) {
  box_.onShow = [&] {
    box_.onShow = nullptr;
    w_.Command(IDM_DISCONNECT);
  };
  w_->readCycle().Tick();
  EXPECT_EQ(w_.client().state.connected, 0);
  EXPECT_EQ(w_->listBox(IDC_VALUES)->count(), 0);
  EXPECT_EQ(w_->listBox(IDC_ROLE_BOX)->count(), 0) << "the rest of the tick did not run";
  w_->readCycle().Tick();
  EXPECT_EQ(Shown().size(), 1u);
}

// While a call of the window's thread waits (here the database work of a
// tick, 300 ms on its thread), the window keeps running its timers, a tick
// that comes meanwhile reads nothing, and closing the window waits for the
// call to end.
TEST_F(TickReentranceTest, WhileACallWaitsTheWindowRunsTicksAreSkippedAndCloseWaits) {
  plant_.faults->ClearAll();
  w_.ShowActive();
  com::WorkThread database;
  int timerRuns = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] { ++timerRuns; });
  timer.start(5);
  const int readsBefore = plant_.faults->CallCount(Call::Read);
  bool closedDuringWait = true;
  QTimer::singleShot(50, [&] {
    w_->readCycle().Tick();
    w_->close();
    closedDuringWait = !w_->isVisible();
  });
  database.Run([] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); });
  EXPECT_GE(timerRuns, 10) << "the window's timers ran while it waited";
  EXPECT_EQ(plant_.faults->CallCount(Call::Read), readsBefore) << "the tick was skipped";
  EXPECT_FALSE(closedDuringWait);
  EXPECT_TRUE(w_->isVisible());
  QElapsedTimer waited;
  waited.start();
  while (w_->isVisible() && waited.elapsed() < 5000) QApplication::processEvents();
  EXPECT_FALSE(w_->isVisible()) << "the close came once the call had ended";
}

TEST(RemoteConnect, AServerNameAloneConnectsOnThisComputer) {
  Plant plant;
  testing::InprocActivator activator;
  TestWindow w;
  w->editBox(IDC_REMOTE_SERVER)->setText("Tagwell.Simulation.1");
  w.Command(IDC_REMOTE_SERVER, EN_MAXTEXT);
  EXPECT_EQ(w->listBox(IDC_LOCAL_SERVERS)->count(), 0);
  w.Command(IDC_CONNECT_BUTTON);
  EXPECT_EQ(w.client().state.connected, 1);
  EXPECT_EQ(activator.hosts, Lines{""});
  EXPECT_EQ(w.Lines(IDC_LOCAL_SERVERS), Lines{"OPC server is started on Remote computer"});
  EXPECT_TRUE(w.messages.shown.empty());

  // With both names: the computer goes to the activator.
  w.Command(IDM_DISCONNECT);
  w->editBox(IDC_REMOTE_COMPUTER)->setText("plant-pc7:4135");
  w.Command(IDC_REMOTE_COMPUTER, EN_MAXTEXT);
  w.Command(IDC_REMOTE_SERVER, EN_MAXTEXT);
  w.Command(IDM_CONNECT);
  EXPECT_EQ(w.client().state.connected, 1);
  EXPECT_EQ(activator.hosts, (Lines{"", "plant-pc7:4135"}));

  // After a Disconnect the boxes still show both names: Enter in the server
  // box alone takes both again. An emptied computer box means this computer.
  const std::string logBefore = ReadFile(w.dir.File("Logfile.txt"));
  w.Command(IDM_DISCONNECT);
  w.Command(IDC_REMOTE_SERVER, EN_MAXTEXT);
  w.Command(IDM_CONNECT);
  w.Command(IDM_DISCONNECT);
  w->editBox(IDC_REMOTE_COMPUTER)->setText("  ");
  w.Command(IDC_REMOTE_SERVER, EN_MAXTEXT);
  w.Command(IDM_CONNECT);
  EXPECT_EQ(w.client().state.connected, 1);
  EXPECT_EQ(activator.hosts, (Lines{"", "plant-pc7:4135", "plant-pc7:4135", ""}));
  const std::string log = ReadFile(w.dir.File("Logfile.txt")).substr(logBefore.size());
  EXPECT_NE(log.find("Remote computer: plant-pc7:4135\nRemote Server: Tagwell.Simulation.1\n"),
            std::string::npos);
  EXPECT_NE(log.find("Remote computer: none given, the server is looked for on this computer\n"
                     "Remote Server: Tagwell.Simulation.1\n"),
            std::string::npos);
}

}  // namespace
}  // namespace tagwell
