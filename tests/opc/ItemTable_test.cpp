#include <gtest/gtest.h>

#include "opc/ClientState.h"
#include "tests/support/FakeUi.h"

namespace tagwell {
namespace {

using testing::FakeClient;

void FillRow(Client& c, int row, const char16_t* name, OPCHANDLE handle, VARTYPE vt, WORD eu) {
  ItemRecord& r = c.table.rows[row];
  r.itemName = name;
  r.hClient = 1;
  r.hServer = handle;
  r.vtCanonical = vt;
  r.euType = eu;
  r.vValue.get()->vt = com::VT_BSTR;
  r.vValue.get()->bstrVal = com::SysAllocString(name);
  c.table.serverHandles[row] = handle;
}

// Three rows as Add Item leaves them: lastRowIndex 2, the cursors after the
// last append.
void FillThree(Client& c) {
  FillRow(c, 0, u"A.Speed", 101, com::VT_R8, 1);
  FillRow(c, 1, u"B.Level", 102, com::VT_I2, 0);
  FillRow(c, 2, u"C.Text", 103, com::VT_BSTR, 2);
  c.state.lastRowIndex = 2;
  c.state.currentRow = 2;
  c.state.currentItem = 3;
}

TEST(ItemTable, RemovingRowZeroMovesTheRestUpWithEverything) {
  FakeClient f("");
  Client& c = f.client;
  FillThree(c);

  RemoveTableRow(c, 0);

  EXPECT_EQ(c.table.rows[0].itemName, u"B.Level");
  EXPECT_EQ(c.table.rows[0].hServer, 102u);
  EXPECT_EQ(c.table.serverHandles[0], 102u);
  EXPECT_EQ(c.table.rows[0].vtCanonical, com::VT_I2);
  EXPECT_EQ(c.table.rows[0].euType, 0);
  EXPECT_EQ(std::u16string(c.table.rows[0].vValue->bstrVal), u"B.Level");
  EXPECT_EQ(c.table.rows[1].itemName, u"C.Text");
  EXPECT_EQ(c.table.serverHandles[1], 103u);
  EXPECT_EQ(c.table.rows[1].euType, 2);
  EXPECT_EQ(c.state.lastRowIndex, 1);
  EXPECT_EQ(c.state.currentRow, 1);
  EXPECT_EQ(c.state.currentItem, 2);  // the next addition goes to row 2
}

TEST(ItemTable, RemovingTheMiddleRowKeepsOrder) {
  FakeClient f("");
  FillThree(f.client);
  RemoveTableRow(f.client, 1);
  EXPECT_EQ(f.client.table.rows[0].itemName, u"A.Speed");
  EXPECT_EQ(f.client.table.rows[1].itemName, u"C.Text");
  EXPECT_EQ(f.client.table.serverHandles[1], 103u);
}

TEST(ItemTable, RemovingTheLastRowMovesNothing) {
  FakeClient f("");
  FillThree(f.client);
  RemoveTableRow(f.client, 2);
  EXPECT_EQ(f.client.table.rows[1].itemName, u"B.Level");
  EXPECT_EQ(f.client.state.lastRowIndex, 1);
  EXPECT_EQ(f.client.state.currentItem, 2);  // the next addition reuses row 2
}

TEST(ItemTable, RemovingTheLastOfAFullTableStaysInBounds) {
  FakeClient f("");
  Client& c = f.client;
  c.state.lastRowIndex = MAX_ITEMS - 1;
  c.table.serverHandles[MAX_ITEMS - 1] = 7;
  RemoveTableRow(c, MAX_ITEMS - 2);
  EXPECT_EQ(c.table.serverHandles[MAX_ITEMS - 2], 7u);
  EXPECT_EQ(c.state.lastRowIndex, MAX_ITEMS - 2);
}

TEST(ItemTable, ResetClearsCountersFlagsAndBrowseListsButKeepsRowsAndTexts) {
  FakeClient f("");
  Client& c = f.client;
  FillThree(c);
  ClientState& s = c.state;
  s.itemsAdded = 3;
  s.selectedRow = 2;
  s.displayedItemCount = 3;
  s.connected = s.remoteMode = s.readingStarted = s.databaseWriting = 1;
  s.monitorEnabled = s.isActive = s.monitorValueRead = s.monitorValueNext = 1;
  s.monitorError = s.monitorItemPresent = s.cycleSelected = s.clientsNumber = 1;
  s.vtLastCanonical = com::VT_R8;
  s.cycleText = "0.3";
  s.writeText = "12";
  s.databasePath = "/srv/plant.db";
  c.browse.browseItemNames = {"A", "B"};
  c.browse.browseItemCount = 2;
  c.browse.browseGroupNames = {"Dev"};
  c.browse.browseGroupCount = 1;
  c.dbWriter.emptyStringWarnings = 4;

  ResetClientState(c);

  for (int v :
       {s.itemsAdded, s.currentRow, s.lastRowIndex, s.currentItem, s.displayedItemCount, s.connected, s.remoteMode, s.readingStarted, s.databaseWriting,
        s.monitorEnabled, s.isActive, s.monitorValueRead, s.monitorValueNext, s.monitorError,
        s.monitorItemPresent, s.cycleSelected, s.clientsNumber})
    EXPECT_EQ(v, 0);
  EXPECT_EQ(s.selectedRow, -1);  // the emptied columns have no selection
  EXPECT_EQ(c.browse.browseItemCount, 0);
  EXPECT_EQ(c.browse.browseGroupCount, 0);
  EXPECT_TRUE(c.browse.browseItemNames.empty());
  EXPECT_EQ(c.dbWriter.emptyStringWarnings, 0);
  // Kept across a disconnect.
  EXPECT_EQ(s.vtLastCanonical, com::VT_R8);
  EXPECT_EQ(s.cycleText.view(), "0.3");
  EXPECT_EQ(s.writeText.view(), "12");
  EXPECT_EQ(c.table.rows[2].itemName, u"C.Text");
}

TEST(OneLineBoxes, HoldExactlyOneLine) {
  testing::FakeListBox box;
  SetOneLineBox(box, "   5.0");
  SetOneLineBox(box, "   0.3");
  SetOneLineBox(box, "   1.0");
  EXPECT_EQ(box.Lines(), std::vector<std::string>{"   1.0"});
}

TEST(ColumnRows, ReplaceInPlaceAndAppendAtTheEnd) {
  testing::FakeListBox column;
  column.AddString("a");
  column.AddString("b");
  ReplaceRow(column, 0, "A");
  ReplaceRow(column, 2, "c");  // a new last row: the delete finds nothing
  EXPECT_EQ(column.Lines(), (std::vector<std::string>{"A", "b", "c"}));
}

TEST(ItemTable, FullWhenTheNameColumnHoldsMaxItemsRows) {
  FakeClient f("");
  for (int i = 0; i < MAX_ITEMS - 1; ++i) f.window.itemNames.AddString("x");
  EXPECT_FALSE(TableIsFull(f.client));
  f.window.itemNames.AddString("x");
  EXPECT_TRUE(TableIsFull(f.client));
}

}  // namespace
}  // namespace tagwell
