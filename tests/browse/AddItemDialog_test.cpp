// The Add Item dialog's rules over the fake list boxes: what the list
// offers, what a selection puts into the item field, and what OK and Cancel
// leave behind.
#include "browse/AddItemDialog.h"

#include <gtest/gtest.h>

#include "tests/support/FakeUi.h"
#include "tests/support/TempDir.h"

namespace tagwell {
namespace {

using testing::FakeClient;
using testing::FakeListBox;
using testing::TempDir;

class AddItemDialogTest : public ::testing::Test {
 protected:
  AddItemDialogTest() : fake_(dir_.path()) {
    ClientState& s = client().state;
    s.szServerName = "Tagwell.Simulation.1";
    s.szRemoteServerName = "Remote.Server.1";
    // A walk of a space with one root leaf, a device with a leaf and a group.
    BrowseLists& b = client().browse;
    b.browseItemNames = {"OPC.ConnectionMonitor", "Boiler",     "Boiler.Pressure", "Boiler.Burner",
                         "Boiler.Burner.Flame",   "stale entry"};
    b.browseItemCount = 5;
    b.browseGroupNames = {"Boiler", "Boiler.Burner", "stale group"};
    b.browseGroupCount = 2;
  }
  Client& client() { return fake_.client; }
  testing::FakeWindow& window() { return fake_.window; }

  std::string Select(int row) {
    list_.Select(row);
    return SelectListItem(client(), list_);
  }

  TempDir dir_;
  FakeClient fake_;
  FakeListBox list_;
};

TEST_F(AddItemDialogTest, ListHasTheRootLineThenTheCountedNamesAndSelectsTheRoot) {
  list_.AddString("left over from an earlier opening");
  FillItemList(client(), list_);
  EXPECT_EQ(list_.Lines(),
            (std::vector<std::string>{"Tagwell.Simulation.1", "OPC.ConnectionMonitor", "Boiler",
                                      "Boiler.Pressure", "Boiler.Burner", "Boiler.Burner.Flame"}));
  EXPECT_EQ(list_.GetItemData(0), kRootLevel);
  for (int i = 1; i < list_.GetCount(); ++i) EXPECT_EQ(list_.GetItemData(i), kNameLevel) << i;
  EXPECT_EQ(list_.GetCurSel(), 0);
  EXPECT_EQ(SelectListItem(client(), list_), "");
}

TEST_F(AddItemDialogTest, RemoteModeShowsTheRemoteServerAsRoot) {
  client().state.remoteMode = 1;
  FillItemList(client(), list_);
  EXPECT_EQ(list_.Line(0), "Remote.Server.1");
}

TEST_F(AddItemDialogTest, WithoutBrowsedNamesOnlyTheRootIsOfferedAndRefused) {
  client().browse = BrowseLists{};
  FillItemList(client(), list_);
  ASSERT_EQ(list_.GetCount(), 1);
  EXPECT_EQ(Select(0), "");
}

TEST_F(AddItemDialogTest, SelectionGivesItemsButNotDevicesGroupsOrRoots) {
  FillItemList(client(), list_);
  EXPECT_EQ(Select(1), "OPC.ConnectionMonitor");
  EXPECT_EQ(Select(3), "Boiler.Pressure");
  EXPECT_EQ(Select(5), "Boiler.Burner.Flame");
  EXPECT_EQ(Select(2), "") << "a device";
  EXPECT_EQ(Select(4), "") << "a group, although it is in the item names too";
  EXPECT_EQ(Select(0), "") << "the root line";
  EXPECT_EQ(Select(-1), "") << "nothing selected";
}

TEST_F(AddItemDialogTest, OnlyCountedGroupNamesAndBothServerNamesRefuse) {
  client().browse.browseItemNames[0] = "stale group";      // past browseGroupCount
  client().browse.browseItemNames[1] = "Remote.Server.1";  // the other root name
  FillItemList(client(), list_);
  EXPECT_EQ(Select(1), "stale group");
  EXPECT_EQ(Select(2), "");
}

TEST_F(AddItemDialogTest, OkWithAnEmptyFieldIsRefusedAndChangesNothing) {
  client().state.itemChosen = 0;
  EXPECT_FALSE(AcceptItemId(client(), ""));
  ASSERT_EQ(window().messages.shown.size(), 1u);
  const auto& shown = window().messages.shown[0];
  EXPECT_EQ(shown.text,
            "Error selecting item from the list!\nProbably device or group name was selected.");
  EXPECT_EQ(shown.caption, "AddItem dialog");
  EXPECT_EQ(shown.icon, ui::Icon::Warning);
  EXPECT_EQ(shown.owner, ui::Owner::None);
  EXPECT_EQ(window().itemNames.GetCount(), 0);
  EXPECT_EQ(client().state.itemChosen, 0);
}

TEST_F(AddItemDialogTest, OkAppendsTheIdAsANewRowOfEveryColumn) {
  ClientState& s = client().state;
  window().itemNames.AddString("Boiler.Pressure");
  window().values.AddString("1.5000");  // the other columns lag behind
  EXPECT_TRUE(AcceptItemId(client(), "Typed.Item\nsecond line"));
  EXPECT_EQ(s.szItemName.view(), "Typed.Item");
  EXPECT_EQ(window().itemNames.Lines(),
            (std::vector<std::string>{"Boiler.Pressure", "Typed.Item"}));
  EXPECT_EQ(s.currentRow, 1);
  EXPECT_EQ(s.lastRowIndex, 1);
  EXPECT_EQ(s.itemChosen, 1);
  for (FakeListBox* column :
       {&window().values, &window().timeStamps, &window().qualities, &window().types})
    EXPECT_EQ(column->GetCount(), 2);
  EXPECT_EQ(window().values.Line(0), "1.5000");
  EXPECT_TRUE(window().messages.shown.empty());
}

TEST_F(AddItemDialogTest, AnIdLongerThanTheBufferIsRefusedNotCut) {
  std::string longest(kMaxItemIdLength, 'x');
  EXPECT_TRUE(AcceptItemId(client(), longest));
  EXPECT_EQ(client().state.szItemName.view(), longest);

  EXPECT_FALSE(AcceptItemId(client(), longest + "y"));
  ASSERT_EQ(window().messages.shown.size(), 1u);
  EXPECT_EQ(window().messages.shown[0].caption, "AddItem dialog");
  EXPECT_EQ(window().itemNames.GetCount(), 1);
  EXPECT_EQ(client().state.szItemName.view(), longest);
}

TEST_F(AddItemDialogTest, CancelAfterARefusedOkChoosesNothing) {
  client().state.itemChosen = 1;  // left by the XML loader
  EXPECT_FALSE(AcceptItemId(client(), ""));
  CancelItemDialog(client());
  EXPECT_EQ(client().state.itemChosen, 0);
  EXPECT_EQ(window().itemNames.GetCount(), 0);
}

TEST_F(AddItemDialogTest, ItemCountIsShownOnOneLineAndKept) {
  window().itemCount.AddString("   7");
  window().itemNames.AddString("a");
  window().itemNames.AddString("b");
  EXPECT_EQ(ShowItemCount(client()), 2);
  EXPECT_EQ(window().itemCount.Lines(), (std::vector<std::string>{"   2"}));
  EXPECT_EQ(client().state.displayedItemCount, 2);
}

}  // namespace
}  // namespace tagwell
