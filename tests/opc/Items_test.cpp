// The group and its items: requested types, refusals, removal, the
// heartbeat item flag, and the refusals without a group or without room.

#include "tests/opc/OpsFixture.h"

namespace tagwell::testing {
namespace {

using Types = std::vector<VARTYPE>;

class ItemsTest : public OpsTest {
 protected:
  // The requested type of every item of the group, as the server keeps it.
  Types RequestedTypes() {
    Types out;
    com::IUnknown* unknown = nullptr;
    client.state.ptrIOPCItemMgt->CreateEnumerator(com::IID_IEnumOPCItemAttributes, &unknown);
    auto items = com::ComPtr<com::IEnumOPCItemAttributes>::Adopt(
        InterfaceFrom<com::IEnumOPCItemAttributes>(unknown));
    com::OPCITEMATTRIBUTES* a = nullptr;
    com::ULONG n = 0;
    while (items && items->Next(1, &a, &n) == com::S_OK) {
      out.push_back(a->vtRequestedDataType);
      com::CoTaskMemFree(a->szAccessPath);
      com::CoTaskMemFree(a->szItemID);
      com::CoTaskMemFree(a->pBlob);
      com::VariantClear(&a->vEUInfo);
      com::CoTaskMemFree(a);
    }
    return out;
  }
};

TEST_F(ItemsTest, RequestedTypeIsThePreviousCanonicalTypeAcrossDisconnects) {
  Connect();
  Add("Boiler.Temperature");    // VT_R8
  Add("Line1.Station1.Count");  // VT_I4, served as VT_R8
  Add("Line1.Speed");           // VT_R4, served as VT_I4
  EXPECT_EQ(RequestedTypes(), (Types{com::VT_EMPTY, com::VT_R8, com::VT_I4}));
  EXPECT_EQ(window.types.Lines(), (Lines{"VT_R8", "VT_I4", "VT_R4"}));
  // The counter arrives as a double and is still shown as an integer.
  EXPECT_EQ(window.values.Line(1), "0");

  Disconnect();
  Connect();
  Add("Boiler.Setpoint");
  EXPECT_EQ(RequestedTypes(), Types{com::VT_R4});
  EXPECT_EQ(client.table.rows[0].itemName, u"Boiler.Setpoint");
  // An array cannot be served as the scalar asked for: the server refuses it.
  window.messages.Clear();
  Add("Line1.Frame");
  ASSERT_FALSE(window.messages.shown.empty());
  EXPECT_EQ(window.messages.shown[0].text.rfind("Error: OPC server refused item Line1.Frame:\n", 0),
            0u);
}

TEST_F(ItemsTest, RefusedItemIsReportedAndKeepsARowWithoutHandle) {
  Connect();
  Add("Boiler.Temperature");
  EXPECT_EQ(Add("Boiler.NoSuchItem"), 0);
  const std::string reason = "The item ID is not defined in the server's address space.";
  EXPECT_EQ(window.messages.Texts(),
            (Lines{"Error: OPC server refused item Boiler.NoSuchItem:\n" + reason,
                   "Error reading item's data"}));
  EXPECT_EQ(Captions(), (Lines{"AddItem function", "ReadItem function"}));
  EXPECT_NE(Log().find("*** AddItem function: item Boiler.NoSuchItem is refused by server: " +
                       reason + "\n"),
            std::string::npos);
  const ItemRecord& refused = client.table.rows[1];
  EXPECT_EQ(refused.itemName, u"Boiler.NoSuchItem");
  EXPECT_EQ(refused.hClient, 1u);
  EXPECT_EQ(client.table.serverHandles[1], 0u);
  EXPECT_EQ(client.state.currentItem, 1);

  Add("Boiler.Pressure");
  EXPECT_EQ(client.state.currentItem, 3);
  EXPECT_EQ(window.values.Lines().size(), 3u);
  EXPECT_EQ(window.values.Line(1), "");
  EXPECT_EQ(window.types.Lines(), (Lines{"VT_R8", "", "VT_R4"}));

  window.messages.Clear();
  EXPECT_EQ(ReadRow(1), 1);
  EXPECT_EQ(window.messages.Texts(),
            Lines{"Error reading item number 2.\nProbably doesn't exist or deleted from Server."});
  EXPECT_EQ(ReadRow(2), 0);
}

TEST_F(ItemsTest, RemovalInTheMiddleKeepsOrderHandlesAndValues) {
  Connect();
  Add("Diagnostics.Quality.Good");
  Add("Diagnostics.Quality.Bad");
  Add("Diagnostics.Quality.Uncertain");
  const OPCHANDLE lastHandle = client.table.serverHandles[2];
  RemoveRow(1);
  EXPECT_EQ(client.state.szReadItemName, "Diagnostics.Quality.Bad");
  EXPECT_EQ(client.table.rows[1].itemName, u"Diagnostics.Quality.Uncertain");
  EXPECT_EQ(client.table.serverHandles[1], lastHandle);
  EXPECT_EQ(client.state.lastRowIndex, 1);
  EXPECT_EQ(client.state.currentItem, 2);
  ReadRow(0);
  ReadRow(1);
  EXPECT_EQ(window.values.Lines(), (Lines{"1", "9"}));
  EXPECT_EQ(window.qualities.Lines(), (Lines{"Good", "Uncertain"}));
  Add("Diagnostics.Quality.LastKnown");
  EXPECT_EQ(client.table.rows[2].itemName, u"Diagnostics.Quality.LastKnown");
  EXPECT_EQ(Log().find("***"), std::string::npos);
}

TEST_F(ItemsTest, FailedRemovalIsLoggedWithTheRowFromOne) {
  Connect(kTestServerProgId);
  Add("OPC.ConnectionMonitor");
  EXPECT_EQ(client.state.monitorItemPresent, 1);
  script->DropConnectionAt(Call::RemoveItems);
  RemoveRow(0);
  EXPECT_NE(Log().find("*** Error: failed to remove Item: 1. Probably doesn't exist or already "
                       "deleted from Server.\n"),
            std::string::npos);
  EXPECT_TRUE(window.messages.shown.empty());
  // Row 0 is no longer the heartbeat item.
  EXPECT_EQ(client.state.monitorItemPresent, 0);
}

TEST_F(ItemsTest, OnlyRowZeroCanBeTheMonitorItem) {
  Connect();
  Add("Boiler.Temperature");
  Add("OPC.ConnectionMonitor");
  EXPECT_EQ(client.state.monitorItemPresent, 0);
  Disconnect();
  Connect();
  Add("OPC.ConnectionMonitor");
  EXPECT_EQ(client.state.monitorItemPresent, 1);
}

TEST_F(ItemsTest, FailedAdditionShowsBoxAndLogs) {
  script->Set(Fault::AddItemsFails);
  Connect(kTestServerProgId);
  EXPECT_EQ(Add("Boiler.Temperature"), 1);
  EXPECT_EQ(window.messages.Texts(),
            (Lines{"Error: failed to add  Item", "Error reading item's data"}));
  EXPECT_NE(Log().find("*** AddItem function: failed to add item.\n\n"), std::string::npos);
  EXPECT_EQ(client.state.currentItem, 0);
}

TEST_F(ItemsTest, WithoutGroupTheItemOperationsRefuse) {
  script->Set(Fault::AddGroupFails);
  Connect(kTestServerProgId);
  EXPECT_EQ(window.messages.Texts(), Lines{"Error: failed to add Group "});
  EXPECT_EQ(Captions(), Lines{"AddGroup function"});
  EXPECT_EQ(client.state.connected, 1);
  window.messages.Clear();
  EXPECT_TRUE(RefuseWithoutGroup(client, client.state.ptrIOPCItemMgt, "Add Item error"));
  EXPECT_EQ(Add("Boiler.Temperature"), 1);
  EXPECT_EQ(ReadRow(0), 1);
  EXPECT_EQ(Write(0, "1"), 1);
  EXPECT_EQ(Captions(), (Lines{"Add Item error", "AddItem function", "ReadItem function",
                               "ReadGroup function", "Write Item"}));
}

TEST_F(ItemsTest, FullTableRefusesAnotherItem) {
  Connect();
  for (int i = 0; i < MAX_ITEMS; ++i) window.itemNames.AddString("x");
  EXPECT_TRUE(RefuseWhenTableFull(client));
  EXPECT_EQ(window.messages.Texts(),
            Lines{"Error: the item table is full (1000 items).\nRemove an item before adding "
                  "another."});
  // A caller that adds the name anyway gets it taken out again.
  ClientState& s = client.state;
  s.lastRowIndex = s.currentRow = window.itemNames.AddString("Boiler.Temperature");
  s.szItemName = "Boiler.Temperature";
  EXPECT_EQ(AddItem(client, s.ptrIOPCItemMgt, &s.lastServerHandle), 1);
  EXPECT_EQ(window.itemNames.GetCount(), MAX_ITEMS);
  EXPECT_EQ(s.lastRowIndex, MAX_ITEMS - 1);
}

TEST_F(ItemsTest, FailedAttributeEnumerationGivesNoEuType) {
  Connect(kTestServerProgId);
  Add("Boiler.Setpoint");
  EXPECT_EQ(client.table.rows[0].euType, 1);
  script->Set(Fault::CreateEnumeratorFails);
  Add("Diagnostics.Values.Double");
  EXPECT_EQ(client.table.rows[1].euType, 0);
  EXPECT_EQ(client.reading.valueType, 5);  // a double, not an analog float
  EXPECT_NE(Log().find("Item Diagnostics.Values.Double is added.\nEUType (scaling or engineering "
                       "units): 0 - No information available (no scaling)\n"),
            std::string::npos);
}

}  // namespace
}  // namespace tagwell::testing
