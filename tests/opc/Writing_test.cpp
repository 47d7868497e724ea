// Writes: text conversions per type as the server receives them, the
// refusals, the not-connected path and the heartbeat.

#include "tests/opc/OpsFixture.h"
#include "tests/support/CommaLocale.h"

namespace tagwell::testing {
namespace {

class WritingTest : public OpsTest {};

TEST_F(WritingTest, TypedTextIsConvertedToTheItemsType) {
  ScopedCommaLocale desktop;  // a decimal comma on the desktop changes nothing
  Connect();
  struct Case {
    const char* item;
    const char* text;
    std::function<bool(const com::VARIANT&)> received;
  };
  const Case cases[] = {
      {"Diagnostics.Values.NegativeShort", "12.7", [](auto& v) { return v.iVal == 12; }},
      {"Diagnostics.Values.Long", " -7 ", [](auto& v) { return v.lVal == -7; }},
      {"Diagnostics.Values.HalfFloat", "0.25", [](auto& v) { return v.fltVal == 0.25f; }},
      {"Diagnostics.Values.Double", "1e3", [](auto& v) { return v.dblVal == 1000.0; }},
      {"Diagnostics.Values.Flag", "1", [](auto& v) { return v.boolVal == com::VARIANT_TRUE; }},
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

// What is sent, before the server makes it its own. A text that is not a
// number of the item's type, or does not fit it, sends nothing.
TEST(WriteValueFromText, SendsTheTypedValueOrRefusesIt) {
  constexpr auto kRefused = WriteConversion::Refused;
  struct Case {
    VARTYPE vt;
    const char* text;
    double sent;  // as the item's member reads, when converted
    WriteConversion result = WriteConversion::Converted;
  };
  const Case cases[] = {
      {com::VT_I2, "-32768", -32768},
      {com::VT_I2, " 32767 ", 32767},
      {com::VT_I2, "12.7", 12},  // a fraction is cut off
      {com::VT_I2, "-0.9", 0},
      {com::VT_I2, "32768", 0, kRefused},
      {com::VT_I2, "70000", 0, kRefused},  // once sent as 4464
      {com::VT_I2, "40000", 0, kRefused},  // once sent as -25536
      {com::VT_I2, "abc", 0, kRefused},    // once sent as 0
      {com::VT_I2, "1e3", 0, kRefused},
      {com::VT_I2, "", 0, kRefused},
      {com::VT_UI2, "65535", 65535},
      {com::VT_UI2, "70000", 0, kRefused},
      {com::VT_UI2, "-1", 0, kRefused},
      {com::VT_I4, "2147483647", INT32_MAX},
      {com::VT_I4, "2147483648", 0, kRefused},
      {com::VT_UI4, "4294967295", 4294967295.0},
      {com::VT_UI4, "4294967296", 0, kRefused},
      {com::VT_UI4, "-1", 0, kRefused},  // once sent as 4294967295
      {com::VT_R8, "2.5", 2.5},
      {com::VT_R8, "1.7e308", 1.7e308},
      {com::VT_R8, "1e309", 0, kRefused},
      {com::VT_R8, "2,5", 0, kRefused},  // once sent as 2.0
      {com::VT_R8, "nan", 0, kRefused},
      {com::VT_R4, "0.25", 0.25},
      {com::VT_R4, "-3.4e38", -3.4e38f},
      {com::VT_R4, "3.5e38", 0, kRefused},
      {com::VT_BOOL, "1", com::VARIANT_TRUE},  // once sent as 1
      {com::VT_BOOL, "true", com::VARIANT_TRUE},
      {com::VT_BOOL, " TRUE ", com::VARIANT_TRUE},
      {com::VT_BOOL, "0", com::VARIANT_FALSE},
      {com::VT_BOOL, "yes", 0, kRefused},
      {com::VT_BOOL, "", 0, kRefused},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(CanonicalTypeText(c.vt)) + " <- \"" + c.text + "\"");
    com::Variant value;
    ASSERT_EQ(WriteValueFromText(c.text, c.vt, value.get()), c.result);
    if (c.result != WriteConversion::Converted) {
      EXPECT_EQ(value->vt, com::VT_EMPTY);
      continue;
    }
    EXPECT_EQ(value->vt, c.vt);
    com::Variant number;
    ASSERT_TRUE(com::SUCCEEDED(com::VariantChangeType(number.get(), value.get(), 0, com::VT_R8)));
    EXPECT_EQ(c.vt == com::VT_BOOL ? value->boolVal : number->dblVal, c.sent);
  }
  com::Variant text;
  EXPECT_EQ(WriteValueFromText("", com::VT_BSTR, text.get()), WriteConversion::Converted);
  EXPECT_EQ(WideText(text->bstrVal), "");  // strings are sent as typed, the empty one too
  com::Variant untouched;
  EXPECT_EQ(WriteValueFromText("1", com::VT_ARRAY | com::VT_R8, untouched.get()),
            WriteConversion::NoConversion);
  EXPECT_EQ(WriteValueFromText("1", com::VT_EMPTY, untouched.get()), WriteConversion::NoConversion);
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
  EXPECT_EQ(Write(3, "2,5"), 1);
  s.isActive = 0;  // STAND BY while the heartbeat item is present
  EXPECT_EQ(Write(3, "7"), 1);
  EXPECT_EQ(Write(-1, "7"), 1);
  EXPECT_EQ(Write(4, "7"), 1);
  EXPECT_EQ(window.messages.Texts(),
            (Lines{"Error: no value can be written to item Line1.Recipe:\nits data type "
                   "VT_FLOAT_ARRAY has no conversion.",
                   "Error writing data of item Diagnostics.Values.LargeUnsigned!\nProbaly "
                   "read-only.\nThe item's access rights do not allow the operation.",
                   "Error: \"2,5\" cannot be written to item Diagnostics.Values.Double:\nthe "
                   "item takes a number from -1.797693e+308 to 1.797693e+308, with a decimal "
                   "point.\nNothing was written.",
                   "Error: only \"active\" client can write in the item!",
                   "Error: item is not selected in column \"Item Name\".",
                   "Error: item is not selected in column \"Item Name\"."}));
  EXPECT_EQ(Captions(), (Lines{"Write Item", "ReadGroup function", "Write Item", "Write Item",
                               "Write Item", "Write Item"}));
  EXPECT_EQ(ServerValue("Diagnostics.Values.Double")->dblVal, 2.5);
  // Only the server's refusal is logged, with its reason.
  EXPECT_EQ(Log().substr(Log().find("*** WriteItem")),
            "*** WriteItem: the server refused the value for item "
            "Diagnostics.Values.LargeUnsigned: The item's access rights do not allow the "
            "operation.\n");
}

// The table keeps the rows of the previous session after a Disconnect; the
// emptied Item name column has no row to write to.
TEST_F(WritingTest, WriteAfterReconnectionWithoutRowsIsRefused) {
  Connect();
  AddCanonical("Diagnostics.Values.Double");
  Disconnect();
  Connect();
  ClientState& s = client.state;
  EXPECT_EQ(Write(s.selectedRow, "7"), 1);
  EXPECT_EQ(Write(0, "7"), 1);
  EXPECT_EQ(window.messages.Texts(),
            (Lines(2, "Error: item is not selected in column \"Item Name\".")));
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
