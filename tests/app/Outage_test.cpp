// What the operator sees of a server that goes away and comes back, of a
// tick whose box is still open, and of a Connect given while connected.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QMessageBox>

#include "app/QtPorts.h"
#include "resources/ResourceIds.h"
#include "tests/app/AppTestSupport.h"

namespace tagwell {
namespace {

using namespace res;
using testing::Fault;
using testing::Plant;
using testing::TestWindow;
using Lines = std::vector<std::string>;

int recorded = 0;
int CountRecording(Client&) {
  return ++recorded, 0;
}

// The visible message boxes with this caption.
std::vector<QMessageBox*> OpenBoxes(const QString& caption) {
  std::vector<QMessageBox*> boxes;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(widget);
        box && box->isVisible() && box->windowTitle() == caption)
      boxes.push_back(box);
  return boxes;
}

class OutageTest : public ::testing::Test {
 protected:
  explicit OutageTest(ui::MessageBox* boxes = nullptr) : w_({}, boxes) {
    testing::ConnectTo(w_, "Tagwell.TestServer.1");
    for (const char* id : {"Boiler.Pressure", "Line1.Speed", "Line1.Length"})
      testing::AddTypedItem(w_, id);
    w_.Command(IDC_READ_BUTTON);
    recorded = 0;
    w_.client().writeDatabase = &CountRecording;
    w_.client().state.databaseWriting = 1;
  }

  Plant plant_;
  TestWindow w_;
};

class TickBoxesTest : public OutageTest {
 protected:
  TickBoxesTest() : OutageTest(&qtBoxes_) {}
  ~TickBoxesTest() override {
    for (QMessageBox* box : OpenBoxes("ReadGroup function")) box->close();
  }
  QtMessageBox qtBoxes_{nullptr};
};

// An unattended recorder meets a read error at night: the box waits for the
// morning, the cycle does not.
TEST_F(TickBoxesTest, LaterTicksReadAndRecordWhileABoxOfAnEarlierTickIsOpen) {
  plant_.faults->SetTargetItem("Line1.Speed");
  plant_.faults->Set(Fault::ReadFails);
  for (int tick = 1; tick <= 3; ++tick) {
    w_->readCycle().Tick();
    EXPECT_EQ(recorded, 2 * tick) << "two good rows recorded every tick";
    EXPECT_EQ(OpenBoxes("ReadGroup function").size(), 1u) << "a like box is not opened again";
  }
  const std::string log = testing::ReadFile(w_.dir.File("Logfile.txt"));
  const std::string line = "***ReadGroup: error reading current data of item: Line1.Speed\n";
  int logged = 0;
  for (auto at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++logged;
  EXPECT_EQ(logged, 3) << "every tick still logs";
  testing::SaveScreenshot(*OpenBoxes("ReadGroup function")[0], "tick-box.png");
}

TEST_F(OutageTest, TheServerGoesAwayAndComesBackInTheWindow) {
  w_->readCycle().Tick();
  const int before = recorded;
  plant_.faults->DropConnectionNow();
  w_->readCycle().Tick();
  w_->readCycle().Tick();
  EXPECT_EQ(w_.Lines(IDC_QUALITIES), Lines(3, "Bad - communication error"));
  EXPECT_EQ(w_.Lines(IDC_VALUES), (Lines{"2.5000", "12.5000", "3.2500"})) << "last values stay";
  EXPECT_EQ(recorded, before);
  ASSERT_EQ(w_.messages.shown.size(), 1u);
  EXPECT_EQ(w_.messages.shown[0].caption, "OPC server connection");
  // Commands that need the server say why they cannot go on.
  w_.Command(IDC_ADD_BUTTON);
  EXPECT_EQ(w_.messages.shown.back().caption, "Add Item error");

  plant_.faults->ComeBack();
  const auto later = Reconnector::Clock::now() + Reconnector::kInterval;
  EXPECT_TRUE(w_->readCycle().PollReconnect(later));
  w_->readCycle().Tick();
  EXPECT_EQ(w_.Lines(IDC_QUALITIES), Lines(3, "Good"));
  EXPECT_EQ(recorded, before + 3);
  EXPECT_EQ(w_.Lines(IDC_ITEM_NAMES), (Lines{"Boiler.Pressure", "Line1.Speed", "Line1.Length"}));
}

// A second Connect used to drop the group but keep the rows, whose handles
// then named items of the new group.
TEST_F(OutageTest, ConnectWhileConnectedIsRefusedAndChangesNothing) {
  const auto handles = w_.client().table.serverHandles;
  for (bool selected : {true, false}) {
    w_->listBox(IDC_LOCAL_SERVERS)->setCurrentRow(selected ? 0 : -1);
    w_.Command(IDC_CONNECT_BUTTON);
    ASSERT_FALSE(w_.messages.shown.empty());
    EXPECT_EQ(w_.messages.shown.back().text,
              "Error: client is already connected to OPC server Tagwell.TestServer.1.\n"
              "Disconnect first.");
    EXPECT_EQ(w_.messages.shown.back().caption, "Local Server connection");
  }
  EXPECT_EQ(w_.client().table.serverHandles, handles);
  EXPECT_EQ(w_.client().state.connected, 1);
  w_->readCycle().Tick();
  EXPECT_EQ(recorded, 3) << "the cycle goes on reading";
}

}  // namespace
}  // namespace tagwell
