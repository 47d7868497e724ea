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

// Every item is asked for in its own canonical type, whatever was added
// before it: a carried-over type wrapped values (an enumerated item after a
// boolean showed -1.0000) or had the server refuse strings and arrays.
TEST_F(ItemsTest, EveryItemIsRequestedInItsOwnCanonicalType) {
  struct Case {
    const char* id;
    const char* type;
    const char* value;
  };
  const Case cases[] = {
      {"Boiler.BurnerOn", "VT_BOOL", "1"},
      {"Boiler.Mode", "VT_I2", "2.0000"},  // enumerated, after a boolean
      {"Boiler.Temperature", "VT_R8", nullptr},
      {"Line1.BatchName", "VT_BSTR", "Batch 2024-001"},  // a string after a double
      {"Line1.Recipe", "VT_FLOAT_ARRAY", "[4] 1.5000 2.5000 3.7500 10.0000"},  // array after scalar
      {"OPC.ConnectionMonitor", "VT_I4", nullptr},  // the heartbeat after an array
  };
  Connect();
  for (const Case& c : cases) Add(c.id);
  EXPECT_TRUE(window.messages.shown.empty()) << window.messages.Texts()[0];
  EXPECT_EQ(RequestedTypes(), Types(std::size(cases), com::VT_EMPTY));
  for (int row = 0; row < static_cast<int>(std::size(cases)); ++row) {
    EXPECT_EQ(window.types.Line(row), cases[row].type) << cases[row].id;
    if (cases[row].value) {
      EXPECT_EQ(window.values.Line(row), cases[row].value) << cases[row].id;
    }
  }
  // Nothing carries over a Disconnect either.
  Disconnect();
  Connect();
  Add("Line1.Recipe");
  EXPECT_EQ(RequestedTypes(), Types{com::VT_EMPTY});
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
  EXPECT_EQ(window.messages.shown.size(), 1u) << "only the outage is told";
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

// The EU type of a new item comes from the item properties for that item
// alone, or, from a server without them, from the attribute enumeration;
// both give what the operator sees. With the properties an addition costs
// the same server calls however many items the group holds.
TEST_F(ItemsTest, EuTypeOfTheNewItemAloneWithOrWithoutItemProperties) {
  for (bool properties : {true, false}) {
    script->Set(Fault::NoOptionalInterfaces, !properties);
    Connect(kTestServerProgId);
    const std::pair<const char*, WORD> cases[] = {
        {"Boiler.Setpoint", 1}, {"Boiler.Mode", 2}, {"Boiler.BurnerOn", 0}};
    for (const auto& [id, euType] : cases) {
      Add(id);
      EXPECT_EQ(client.table.rows[client.state.lastRowIndex].euType, euType) << id << properties;
    }
    std::vector<int> calls;
    for (int n = 0; n < 12; ++n) {
      const int before = script->CallCount(Call::Any);
      Add("Diagnostics.Values.Long");
      calls.push_back(script->CallCount(Call::Any) - before);
    }
    if (properties) {
      EXPECT_EQ(calls.front(), calls.back()) << "an addition must not cost more as the group grows";
      EXPECT_EQ(script->CallCount(Call::CreateEnumerator), 0);
    }
    Disconnect();
  }
}

TEST_F(ItemsTest, FailedAttributeEnumerationGivesNoEuType) {
  script->Set(Fault::NoOptionalInterfaces);  // no item properties: the enumeration is asked
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
