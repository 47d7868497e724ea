// Sessions against the simulation server, driven through the window:
// connect, add items through the dialog, read, select, write, remove,
// load an XML item list and disconnect.
#include <gtest/gtest.h>

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "app/ItemListDialog.h"
#include "app/SmallDialogs.h"
#include "browse/XmlItemList.h"
#include "resources/ResourceIds.h"
#include "tests/app/AppTestSupport.h"

namespace tagwell {
namespace {

using namespace res;
using namespace std::chrono_literals;
using testing::ConnectTo;
using testing::Plant;
using testing::ReadFile;
using testing::TestWindow;
using testing::WhenShown;
using Lines = std::vector<std::string>;

// Clicks line `row` of a list as the operator would; twice: a double click
// (a click, then the second click that Qt reports as a double click).
void ClickRow(QListWidget* list, int row, bool twice = false) {
  QRect rect = list->visualItemRect(list->item(row));
  ASSERT_TRUE(rect.isValid()) << "row " << row << " is not visible";
  if (twice) {
    QTest::mousePress(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
  } else
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

int Selected(QListWidget* list) {
  QList<QListWidgetItem*> items = list->selectedItems();
  return items.isEmpty() ? -1 : list->row(items.first());
}

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() { w_.ShowActive(); }

  Lines Row(int row) {
    Lines line;
    for (int id : {7, 8, 9, 10, 11}) {
      QListWidgetItem* item = w_->listBox(id)->item(row);
      line.push_back(item ? item->text().toStdString() : "<none>");
    }
    return line;
  }
  std::vector<int> Selections() {
    std::vector<int> rows;
    for (int id : {7, 8, 9, 10, 11}) rows.push_back(Selected(w_->listBox(id)));
    return rows;
  }
  void AddItems(std::initializer_list<const char*> ids) {
    for (const char* id : ids) testing::AddTypedItem(w_, id);
  }

  Plant plant_;
  TestWindow w_;
};

TEST_F(SessionTest, ConnectShowsTheServerInformationAndReportsInterfaces) {
  EXPECT_EQ(w_.Lines(IDC_LOCAL_SERVERS), (Lines{"Tagwell.Simulation.1", "Tagwell.TestServer.1"}));
  ConnectTo(w_);
  EXPECT_EQ(w_.Lines(IDC_LOCAL_SERVERS), Lines{"Tagwell.Simulation.1"});
  EXPECT_EQ(
      w_.Lines(IDC_SERVER_INFO),
      (Lines{"Vendor information = ", "   Tagwell Simulation Server 8.4",
             "Server start time: 7:8:9, 5.6.2010", "",
             "Devices (or Groups) available on server: ", "", "Boiler", "Line1", "",
             "Interfaces implemented on OPC Server:", "", "IUnknown       -- Supported",
             "IOPCServer     -- Supported", "IPersistFile   --  Not supported",
             "IEnumUnknown   --  Not supported", "IOPCServerPublicGroups --  Not supported",
             "IOPCBrowseServerAddressSpace -- Supported", "IOPCItemProperties -- Supported"}));
  EXPECT_TRUE(w_->button(IDC_DISCONNECT_BUTTON)->isEnabled());
  EXPECT_TRUE(w_->action(IDM_DISCONNECT)->isEnabled());
  EXPECT_FALSE(w_->action(IDM_REMOVEITEM)->isEnabled());
  EXPECT_EQ(ReadFile(w_.dir.File("Logfile.txt")),
            "\nVendor Info: Tagwell Simulation Server 8.4\n"
            "OPC Server started: Tagwell.Simulation.1\n"
            "Server start time: 7:8:9, 5.6.2010 \n");
  EXPECT_TRUE(w_.messages.shown.empty());
}

TEST_F(SessionTest, AddItemDialogOffersTheNamesAndRefusesDevicesAndTheRoot) {
  ConnectTo(w_);
  bool checked = false;
  WhenShown<ItemListDialog>([&](ItemListDialog& d) {
    QListWidget* list = d.list();
    ASSERT_GE(list->count(), 4);
    EXPECT_EQ(list->item(0)->text(), "Tagwell.Simulation.1");
    EXPECT_EQ(Selected(list), 0);
    EXPECT_EQ(d.field()->text(), "");
    // OK right away: refused, the dialog stays.
    QTest::mouseClick(d.findChildren<QPushButton*>()[0], Qt::LeftButton);
    ASSERT_EQ(w_.messages.shown.size(), 1u);
    EXPECT_EQ(w_.messages.shown[0].caption, "AddItem dialog");
    EXPECT_TRUE(d.isVisible());

    int boiler = list->row(list->findItems("Boiler", Qt::MatchExactly).value(0));
    int pressure = list->row(list->findItems("Boiler.Pressure", Qt::MatchExactly).value(0));
    ASSERT_GT(boiler, 0);
    ASSERT_GT(pressure, 0);
    ClickRow(list, pressure);
    EXPECT_EQ(d.field()->text(), "Boiler.Pressure");
    ClickRow(list, boiler);
    EXPECT_EQ(d.field()->text(), "") << "a device";
    d.field()->setText("typed");
    ClickRow(list, 0);
    EXPECT_EQ(d.field()->text(), "") << "the root line";
    ClickRow(list, pressure, /*twice=*/true);
    EXPECT_EQ(d.field()->text(), "Boiler.Pressure");
    EXPECT_TRUE(d.isVisible()) << "a double click does not press OK";
    QTest::keyClick(d.field(), Qt::Key_Return);
    checked = true;
  });
  w_.Command(IDM_ADDITEM);
  ASSERT_TRUE(checked);
  EXPECT_EQ(Row(0), (Lines{"Boiler.Pressure", "2.5000", "7:8:9, 5.6.2010", "Good", "VT_R8"}));
  EXPECT_EQ(w_.Lines(IDC_ITEM_COUNT), Lines{"   1"});
  EXPECT_TRUE(w_->action(IDM_REMOVEITEM)->isEnabled());
  EXPECT_TRUE(w_->button(IDC_REMOVE_BUTTON)->isEnabled());
  std::string log = ReadFile(w_.dir.File("Logfile.txt"));
  EXPECT_NE(log.find("Item Boiler.Pressure is added.\n"), std::string::npos) << log;
  EXPECT_NE(log.find("Current number of items: 1\n"), std::string::npos) << log;
}

TEST_F(SessionTest, TypedIdsAreTakenAsTypedAndCancelAddsNothing) {
  ConnectTo(w_);
  testing::AddTypedItem(w_, "Line1.Speed");
  WhenShown<ItemListDialog>([](ItemListDialog& d) {
    d.field()->setText("Line1.Batch");
    QTest::keyClick(d.field(), Qt::Key_Escape);
  });
  w_.Command(IDM_ADDITEM);
  EXPECT_EQ(w_.Lines(IDC_ITEM_NAMES), Lines{"Line1.Speed"});
  EXPECT_EQ(w_.client().state.itemsAdded, 1);
  EXPECT_EQ(Row(0)[1], "12.5000");
}

TEST_F(SessionTest, ReadCycleRewritesRowsAndKeepsTheOperatorsSelection) {
  ConnectTo(w_);
  AddItems({"OPC.ConnectionMonitor", "Line1.Count", "Boiler.Burner.Starts"});
  w_.Command(IDC_READ_BUTTON);
  EXPECT_EQ(w_.timer.periods, std::vector<unsigned>{5000});
  EXPECT_EQ(w_.Lines(IDC_CYCLE_BOX), Lines{"   5.0"});

  ClickRow(w_->listBox(7), 1);
  EXPECT_EQ(Selections(), (std::vector<int>{1, 1, 1, 1, 1}));
  plant_.clock->Advance(3s);
  w_->readCycle().Tick();
  EXPECT_EQ(Row(1), (Lines{"Line1.Count", "103", "7:8:12, 5.6.2010", "Good", "VT_I4"}));
  EXPECT_EQ(Row(2)[1], "3");
  EXPECT_EQ(Selections(), (std::vector<int>{1, 1, 1, 1, 1}));
  for (int id : {7, 8, 9, 10, 11}) EXPECT_EQ(w_->listBox(id)->count(), 3) << id;

  // A click in another column selects only there, until the next read.
  ClickRow(w_->listBox(9), 2);
  EXPECT_EQ(Selections(), (std::vector<int>{1, 1, 2, 1, 1}));
  EXPECT_EQ(w_.client().state.selectedRow, 1);
  plant_.clock->Advance(1s);
  w_->readCycle().Tick();
  EXPECT_EQ(Row(1)[1], "104");
  EXPECT_EQ(Selections(), (std::vector<int>{1, 1, 1, 1, 1}));
  EXPECT_EQ(w_.Lines(IDC_ROLE_BOX), Lines{"NOT MONITORED"});
  EXPECT_TRUE(w_.messages.shown.empty());
}

TEST_F(SessionTest, RemovingAMiddleRowKeepsTheOthersInOrderWithTheirHandles) {
  ConnectTo(w_);
  AddItems({"Boiler.Pressure", "Line1.Speed", "Boiler.Burner.Starts"});
  w_.Command(IDC_REMOVE_BUTTON);
  ASSERT_EQ(w_.messages.shown.size(), 1u) << "nothing selected";
  EXPECT_EQ(w_.messages.shown[0].text,
            "Error: item is not selected in column \"Item Name\"\nor there are no items to "
            "remove.");
  w_.messages.Clear();

  ClickRow(w_->listBox(7), 1);
  w_.Command(IDC_REMOVE_BUTTON);
  EXPECT_EQ(w_.Lines(IDC_ITEM_NAMES), (Lines{"Boiler.Pressure", "Boiler.Burner.Starts"}));
  EXPECT_EQ(w_.Lines(IDC_ITEM_COUNT), Lines{"   2"});
  EXPECT_EQ(w_.client().state.selectedRow, -1);
  EXPECT_EQ(w_.client().state.itemsAdded, 3);
  EXPECT_EQ(Selections(), (std::vector<int>{-1, -1, -1, -1, -1}));
  EXPECT_NE(ReadFile(w_.dir.File("Logfile.txt"))
                .find("Item Line1.Speed is removed. Current number of items: 2\n"),
            std::string::npos);

  // The rows below moved up with their server handles: a cycle reads them.
  plant_.clock->Advance(7s);
  w_->readCycle().Tick();
  EXPECT_TRUE(w_.messages.shown.empty());
  EXPECT_EQ(Row(0)[1], "2.5000");
  EXPECT_EQ(Row(1)[1], "7");
  for (int id : {8, 9, 10, 11}) EXPECT_EQ(w_->listBox(id)->count(), 2) << id;
  EXPECT_TRUE(w_->action(IDM_REMOVEITEM)->isEnabled());
}

TEST_F(SessionTest, DoubleClickWritesTheRowThroughTheDialog) {
  ConnectTo(w_);
  AddItems({"Boiler.Pressure", "Line1.Speed"});
  WhenShown<WriteValueDialog>([](WriteValueDialog& d) {
    QTest::keyClicks(d.edit(), "99.5");
    QTest::keyClick(d.edit(), Qt::Key_Return);
  });
  ClickRow(w_->listBox(7), 1, /*twice=*/true);
  EXPECT_EQ(w_.client().state.selectedRow, 1);
  EXPECT_EQ(testing::PlantValue(plant_, "Line1.Speed"), "99.5");
  EXPECT_EQ(testing::PlantValue(plant_, "Boiler.Pressure"), "2.5");
  w_->readCycle().Tick();
  EXPECT_EQ(Row(1)[1], "99.5000");
  EXPECT_EQ(Selections(), (std::vector<int>{1, 1, 1, 1, 1}));
  EXPECT_TRUE(w_.messages.shown.empty());
}

TEST_F(SessionTest, DisconnectEmptiesTheListsAndListsTheServersAgain) {
  ConnectTo(w_);
  AddItems({"Boiler.Pressure", "Line1.Speed"});
  w_.Command(IDC_READ_BUTTON);
  w_.Command(IDM_DISCONNECT);
  EXPECT_EQ(w_.Lines(IDC_SERVER_INFO), Lines{"Disconnected from OPC server"});
  for (int id : {7, 8, 9, 10, 11, 12, 19, 20}) EXPECT_EQ(w_->listBox(id)->count(), 0) << id;
  EXPECT_EQ(w_.Lines(IDC_LOCAL_SERVERS), (Lines{"Tagwell.Simulation.1", "Tagwell.TestServer.1"}));
  EXPECT_FALSE(w_.timer.running);
  EXPECT_FALSE(w_->button(IDC_DISCONNECT_BUTTON)->isEnabled());
  EXPECT_FALSE(w_->button(IDC_REMOVE_BUTTON)->isEnabled());
  const ClientState& s = w_.client().state;
  EXPECT_EQ(s.connected, 0);
  EXPECT_EQ(s.itemsAdded, 0);
  EXPECT_EQ(s.ptrIOPCItemMgt, nullptr);
  EXPECT_EQ(s.ptrIOPCServer, nullptr);
  EXPECT_EQ(w_.client().browse.browseItemCount, 0);
  // A new connection starts again from row 0.
  ConnectTo(w_);
  testing::AddTypedItem(w_, "Boiler.Pressure");
  EXPECT_EQ(Row(0)[1], "2.5000");
  EXPECT_EQ(w_.client().state.lastRowIndex, 0);
}

TEST_F(SessionTest, AnXmlItemListAddsItsEntriesAfterTheRows) {
  ConnectTo(w_);
  testing::AddTypedItem(w_, "Boiler.Pressure");
  w_.desktop.answers = {std::string(TAGWELL_TESTDATA) + "/xml/session-items.xml"};
  w_.Command(IDM_LOADCONFIG);
  EXPECT_EQ(w_.Lines(IDC_ITEM_NAMES),
            (Lines{"Boiler.Pressure", "Boiler.Pressure", "Line1.Speed", "Boiler.Pressure"}));
  EXPECT_EQ(w_.Lines(IDC_ITEM_COUNT), Lines{"   4"});
  EXPECT_EQ(w_.client().state.itemsAdded, 4);
  EXPECT_EQ(Row(2), (Lines{"Line1.Speed", "12.5000", "7:8:9, 5.6.2010", "Good", "VT_R8"}));
  EXPECT_TRUE(w_->action(IDM_REMOVEITEM)->isEnabled());
  EXPECT_TRUE(w_.messages.shown.empty());

  w_.desktop.answers = {std::string(TAGWELL_TESTDATA) + "/xml/malformed.xml"};
  w_.Command(IDM_LOADCONFIG);
  ASSERT_EQ(w_.messages.shown.size(), 1u);
  EXPECT_EQ(w_.messages.shown[0].text, "Error: failed to load XML file. Check the file name.");
  EXPECT_EQ(w_.messages.shown[0].caption, "Load XML file");
  EXPECT_EQ(w_.messages.shown[0].owner, ui::Owner::None);
  EXPECT_EQ(w_->listBox(7)->count(), 4);
  EXPECT_NE(ReadFile(w_.dir.File("Logfile.txt")).find("*** Load XML file: failed to load "),
            std::string::npos);

  LoadXMLFile(w_.client(), (w_.dir.path() + "/missing.xml").c_str());
  ASSERT_EQ(w_.messages.shown.size(), 2u);
  EXPECT_EQ(w_.messages.shown[1].text, "Error: failed to load XML file. Check the file name.");
  EXPECT_EQ(w_->listBox(7)->count(), 4);
}

TEST_F(SessionTest, XmlEntriesWithoutANameOrLongerThanAnItemIdAreSkippedAndCounted) {
  ConnectTo(w_);
  std::string longId(128, 'L');
  testing::WriteFile(w_.dir.File("long.xml"),
                     "<L><Item><Name>" + longId + "</Name><Name>Line1.Speed</Name><Name/>" +
                         "<Name>  \n\t </Name></Item><Item><Name></Name></Item></L>");
  LoadXMLFile(w_.client(), w_.dir.File("long.xml").c_str());
  EXPECT_EQ(w_.Lines(IDC_ITEM_NAMES), Lines{"Line1.Speed"});
  EXPECT_EQ(w_.Lines(IDC_ITEM_COUNT), Lines{"   1"});
  EXPECT_EQ(w_.client().state.itemsAdded, 1);
  ASSERT_EQ(w_.messages.shown.size(), 1u);
  EXPECT_EQ(w_.messages.shown[0].text,
            "Warning: 4 item ID(s) were not added: 3 with an empty name, 1 longer than 127 "
            "characters.\nSee Logfile.txt for the names.");
  const std::string log = ReadFile(w_.dir.File("Logfile.txt"));
  EXPECT_NE(log.find(longId), std::string::npos);
  EXPECT_NE(log.find("*** Load XML file: item with an empty name is not added.\n"),
            std::string::npos);
}

TEST_F(SessionTest, TheXmlLoaderRefusesWithoutAGroup) {
  LoadXMLFile(w_.client(), (std::string(TAGWELL_TESTDATA) + "/xml/session-items.xml").c_str());
  ASSERT_EQ(w_.messages.shown.size(), 1u);
  EXPECT_EQ(w_.messages.shown[0].caption, "Load XML file");
  EXPECT_EQ(w_->listBox(7)->count(), 0);
}

// With a server whose flat listings name the branches, the walk meets the
// group Boiler.Burner; the dialog offers it but does not take it.
TEST(SessionGroups, AGroupNameIsRefusedLikeADevice) {
  Plant plant(/*flatListsBranches=*/true);
  TestWindow w;
  w.ShowActive();
  ConnectTo(w);
  WhenShown<ItemListDialog>([&](ItemListDialog& d) {
    QListWidget* list = d.list();
    int group = list->row(list->findItems("Boiler.Burner", Qt::MatchExactly).value(0));
    int item = list->row(list->findItems("Boiler.Pressure", Qt::MatchExactly).value(0));
    ASSERT_GT(group, 0);
    ASSERT_GT(item, 0);
    ClickRow(list, item);
    EXPECT_EQ(d.field()->text(), "Boiler.Pressure");
    ClickRow(list, group);
    EXPECT_EQ(d.field()->text(), "");
    QTest::mouseClick(d.findChildren<QPushButton*>()[0], Qt::LeftButton);
    EXPECT_TRUE(d.isVisible());
    d.reject();
  });
  w.Command(IDM_ADDITEM);
  ASSERT_EQ(w.messages.shown.size(), 1u);
  EXPECT_EQ(w.messages.shown[0].text,
            "Error selecting item from the list!\nProbably device or group name was selected.");
  EXPECT_EQ(w->listBox(IDC_ITEM_NAMES)->count(), 0);
}

}  // namespace
}  // namespace tagwell
