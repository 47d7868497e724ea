// Writes: text conversions per type as the server receives them, the
// refusals, the not-connected path and the heartbeat.

#include "tests/opc/OpsFixture.h"

namespace tagwell::testing {
namespace {

class WritingTest : public OpsTest {};

TEST_F(WritingTest, TypedTextIsConvertedToTheItemsType) {
  Connect();
  struct Case {
    const char* item;
    const char* text;
    std::function<bool(const com::VARIANT&)> received;
  };
  const Case cases[] = {
      {"Diagnostics.Values.NegativeShort", "12.7", [](auto& v) { return v.iVal == 12; }},
      {"Diagnostics.Values.NegativeShort", "abc", [](auto& v) { return v.iVal == 0; }},
      {"Diagnostics.Values.Long", " -7xyz", [](auto& v) { return v.lVal == -7; }},
      {"Diagnostics.Values.HalfFloat", "0.25", [](auto& v) { return v.fltVal == 0.25f; }},
      {"Diagnostics.Values.Double", "1e3", [](auto& v) { return v.dblVal == 1000.0; }},
      {"Diagnostics.Values.Flag", "1", [](auto& v) { return v.boolVal != 0; }},
      {"Diagnostics.Values.Word", "65535", [](auto& v) { return v.uiVal == 65535; }},
      {"Diagnostics.Values.Text", "h\xC3\xA9llo w\xC3\xB6rld",
       [](auto& v) { return WideText(v.bstrVal) == "h\xC3\xA9llo w\xC3\xB6rld"; }},
      {"Boiler.Setpoint", "42.5", [](auto& v) { return v.dblVal == 42.5; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.item) + " <- " + c.text);
    const int row = AddCanonical(c.item);
    EXPECT_EQ(Write(row, c.text), 0);
    EXPECT_TRUE(c.received(*ServerValue(c.item).get()));
  }
  EXPECT_TRUE(window.messages.shown.empty());
}

// What is sent, before the server makes it its own (it stores booleans as
// VARIANT_TRUE, for instance).
TEST(WriteValueFromText, SendsTheLeadingNumberInTheItemsMember) {
  struct Case {
    VARTYPE vt;
    const char* text;
    std::function<bool(const com::VARIANT&)> sent;
  };
  const Case cases[] = {
      {com::VT_BOOL, "1", [](auto& v) { return v.boolVal == 1; }},  // not VARIANT_TRUE
      {com::VT_BOOL, "-1", [](auto& v) { return v.boolVal == -1; }},
      {com::VT_I2, "70000", [](auto& v) { return v.iVal == 4464; }},  // cut to 16 bits
      {com::VT_I4, "99999999999", [](auto& v) { return v.lVal == INT32_MAX; }},
      {com::VT_UI4, "3000000000", [](auto& v) { return v.ulVal == 3000000000u; }},
      {com::VT_UI2, "65535", [](auto& v) { return v.uiVal == 65535; }},
      {com::VT_R8, "2,5", [](auto& v) { return v.dblVal == 2.0; }},
      {com::VT_R4, "", [](auto& v) { return v.fltVal == 0.0f; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    com::Variant value;
    ASSERT_TRUE(WriteValueFromText(c.text, c.vt, value.get()));
    EXPECT_EQ(value->vt, c.vt);
    EXPECT_TRUE(c.sent(*value.get()));
  }
  com::Variant untouched;
  EXPECT_FALSE(WriteValueFromText("1", com::VT_ARRAY | com::VT_R8, untouched.get()));
  EXPECT_FALSE(WriteValueFromText("1", com::VT_EMPTY, untouched.get()));
  EXPECT_EQ(untouched->vt, com::VT_EMPTY);
}

TEST_F(WritingTest, WritesThatCannotOrMayNotBeMadeAreRefused) {
  Connect();
  AddCanonical("OPC.ConnectionMonitor");
  AddCanonical("Line1.Recipe");
  AddCanonical("Diagnostics.Values.LargeUnsigned");  // read-only
  AddCanonical("Diagnostics.Values.Double");
  ClientState& s = client.state;
  s.isActive = 1;
  EXPECT_EQ(Write(1, "1"), 1);
  EXPECT_EQ(Write(2, "5"), 1);
  s.isActive = 0;  // STAND BY while the heartbeat item is present
  EXPECT_EQ(Write(3, "7"), 1);
  EXPECT_EQ(Write(-1, "7"), 1);
  EXPECT_EQ(Write(4, "7"), 1);
  EXPECT_EQ(window.messages.Texts(),
            (Lines{"Error: no value can be written to item Line1.Recipe:\nits data type "
                   "VT_FLOAT_ARRAY has no conversion.",
                   "Error writing data of item Diagnostics.Values.LargeUnsigned!\nProbaly "
                   "read-only.",
                   "Error: only \"active\" client can write in the item!",
                   "Error: item is not selected in column \"Item Name\".",
                   "Error: item is not selected in column \"Item Name\"."}));
  EXPECT_EQ(Captions(),
            (Lines{"Write Item", "ReadGroup function", "Write Item", "Write Item", "Write Item"}));
  EXPECT_EQ(ServerValue("Diagnostics.Values.Double")->dblVal, 2.5);
}

TEST_F(WritingTest, WriteWithoutConnectionStopsReadingAndRecording) {
  Connect();
  AddCanonical("OPC.ConnectionMonitor");
  AddCanonical("Diagnostics.Values.Double");
  ClientState& s = client.state;
  s.isActive = s.readingStarted = s.databaseWriting = s.remoteMode = 1;
  s.connected = 0;
  EXPECT_EQ(Write(1, "3"), 1);
  EXPECT_EQ(s.readingStarted + s.databaseWriting + s.remoteMode + s.currentItem, 0);
  EXPECT_EQ(ServerValue("Diagnostics.Values.Double")->dblVal, 2.5);
  EXPECT_EQ(WriteConnectionMonitor(client, s.ptrIOPCItemMgt, 0, nullptr), 1);
  EXPECT_EQ(s.monitorError, 1);
  EXPECT_EQ(window.messages.Texts(),
            (Lines{"Error writing value: check connection with OPC server.",
                   "*** Error writing connection monitor value. ***"}));
  EXPECT_EQ(Captions(), (Lines{"ReadGroup function", "Connection monitor"}));
  EXPECT_EQ(Log().substr(Log().rfind("Item Diagnostics.Values.Double is added.")),
            "Item Diagnostics.Values.Double is added.\n"
            "EUType (scaling or engineering units): 0 - No information available (no scaling)\n"
            "*** Error writing value: check connection with OPC server.\n"
            "*** Error writing connection monitor value. ***\n");
}

TEST_F(WritingTest, HeartbeatAlternatesTheMonitorItemOnly) {
  Connect();
  Add("OPC.ConnectionMonitor");
  Add("Diagnostics.Values.Long");
  ClientState& s = client.state;
  for (int next : {1, 0, 1}) {
    s.monitorValueNext = next;
    EXPECT_EQ(WriteConnectionMonitor(client, s.ptrIOPCItemMgt, 0, nullptr), 0);
    ReadRow(0);
    EXPECT_EQ(s.monitorValueRead, next);
    EXPECT_EQ(s.monitorError, 0);
  }
  // Once the heartbeat item is removed, row 0 holds an operator's item: it
  // never receives the heartbeat.
  RemoveRow(0);
  s.monitorValueNext = 0;
  EXPECT_EQ(WriteConnectionMonitor(client, s.ptrIOPCItemMgt, 0, nullptr), 1);
  EXPECT_EQ(s.monitorError, 1);
  EXPECT_EQ(window.messages.Texts(), Lines{"Error writing OPC.ConnectionMonitor value."});
  EXPECT_EQ(ServerValue("Diagnostics.Values.Long")->lVal, INT32_MIN);
}

TEST_F(WritingTest, FailedHeartbeatSetsTheMonitorError) {
  Connect(kTestServerProgId);
  Add("OPC.ConnectionMonitor");
  script->Set(Fault::WriteFails);
  EXPECT_EQ(WriteConnectionMonitor(client, client.state.ptrIOPCItemMgt, 0, nullptr), 1);
  EXPECT_EQ(client.state.monitorError, 1);
  EXPECT_EQ(Captions(), Lines{"Connection monitor"});
}

}  // namespace
}  // namespace tagwell::testing
