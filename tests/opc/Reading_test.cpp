// Reads: the quality and value-format tables, time stamps in local time,
// failed reads, and which readings are recorded.

#include "tests/opc/OpsFixture.h"
#include "tests/support/CommaLocale.h"

namespace tagwell::testing {
namespace {

class ReadingTest : public OpsTest {};

TEST_F(ReadingTest, QualityTextsWithoutLimitBitsAndByMajorQuality) {
  Connect();
  const std::pair<const char*, const char*> cases[] = {
      {"Good", "Good"},
      {"LocalOverride", "Good - local override. Forced value"},
      {"Bad", "Bad"},
      {"ConfigError", "Bad - configuration error in server"},
      {"NotConnected", "Bad - not connected"},
      {"DeviceFailure", "Bad - device failure"},
      {"LastKnown", "Bad - last known value is passed"},
      {"CommFailure", "Bad - communication error"},
      {"Uncertain", "Uncertain"},
      {"LastUsable", "Uncertain - last good (usable) value"},
      {"EguExceeded", "Uncertain - exceeded limits for engineering units"},
      {"GoodLowLimited", "Good"},  // 0xC1: the limit bits do not change the quality
  };
  Lines expected;
  for (const auto& [item, text] : cases) {
    Add(std::string("Diagnostics.Quality.") + item);
    expected.push_back(text);
  }
  EXPECT_EQ(window.qualities.Lines(), expected);
  // Substatus without a text of its own: the text of the major quality.
  const std::pair<WORD, const char*> words[] = {
      {0x10, "Bad"},  // sensor failure
      {0x1C, "Bad"},  // out of service
      {0x1B, "Bad - communication error"},
      {0xC3, "Good"},
      {0x56, "Uncertain - exceeded limits for engineering units"},
      {0x58, "Uncertain"},  // sensor not accurate
      {0x80, "Uncertain"},  // 0x80-0xBF: a major quality OPC does not use
      {0x9F, "Uncertain"},
      {0x01C0, "Good"},  // vendor bits
  };
  for (const auto& [word, text] : words) EXPECT_STREQ(QualityText(word), text) << word;
}

TEST_F(ReadingTest, ValueTextFollowsTheCanonicalTypeAndRecordsItsKind) {
  ScopedCommaLocale desktop;  // a decimal comma on the desktop changes nothing
  Connect();
  client.state.databaseWriting = 1;
  struct Case {
    const char* item;
    const char* text;
    int valueType;  // 0: shown, not recorded
  };
  const Case cases[] = {
      {"Diagnostics.Values.NegativeShort", "-5", 2},
      {"Diagnostics.Values.HalfFloat", "1.5000", 4},
      {"Diagnostics.Values.Double", "2.5000", 5},
      {"Diagnostics.Values.Flag", "1", 1},  // VARIANT_TRUE
      {"Diagnostics.Values.Word", "65535", 3},
      {"Diagnostics.Values.LargeUnsigned", "3000000000", 3},
      {"Diagnostics.Values.Long", "-2147483648", 3},
      {"Diagnostics.Values.Text",
       "Gr\xC3\xBC\xC3\x9F"
       "e, 10 \xC2\xB0"
       "C",
       6},
      {"Diagnostics.Values.EmptyString", "", 6},
      {"Diagnostics.Values.Byte", "200.0000", 5},  // a type without a row of its own
      {"Boiler.Setpoint", "55.0000", 4},           // analog VT_R8: recorded as float
      {"Boiler.Mode", "2.0000", 4},                // enumerated VT_I2
      {"Line1.Recipe", "[4] 1.5000 2.5000 3.7500 10.0000", 0},
      {"Line1.Frame", "[6] 1 2 3 127 128 255", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    const int writes = DatabaseWrites();
    AddCanonical(c.item);
    EXPECT_EQ(window.values.Lines().back(), c.text);
    EXPECT_EQ(DatabaseWrites() - writes, c.valueType ? 1 : 0);
    if (c.valueType) {
      EXPECT_EQ(client.reading.valueType, c.valueType);
    }
  }
  EXPECT_TRUE(window.messages.shown.empty());
  EXPECT_EQ(client.reading.stringValue, nullptr);  // the borrowed string went with its value

  ReadRow(5);  // LargeUnsigned: the bits of the unsigned number
  EXPECT_EQ(client.reading.longValue, static_cast<std::int32_t>(3000000000u));
  ReadRow(0);
  EXPECT_EQ(client.reading.integerValue, -5);
  EXPECT_EQ(window.itemNames.horizontalExtent(), 0);
  ReadRow(7);  // a string widens the columns
  EXPECT_EQ(window.itemNames.horizontalExtent(), 1000);
  EXPECT_EQ(window.types.horizontalExtent(), 300);
}

TEST_F(ReadingTest, TimeStampIsLocalTimeOfItsOwnInstant) {
  ScopedTimeZone berlin("Europe/Berlin");
  Connect();
  Add("Diagnostics.Heartbeat");
  EXPECT_EQ(window.timeStamps.Line(0), "9:8:9, 5.6.2010");  // summer time
  com::SYSTEMTIME winter{2010, 1, 5, 15, 12, 0, 0, 0};
  com::FILETIME ft{};
  ASSERT_TRUE(com::SystemTimeToFileTime(&winter, &ft));
  clock->Set(ft);
  ReadRow(0);
  EXPECT_EQ(window.timeStamps.Line(0), "13:0:0, 15.1.2010");
  EXPECT_EQ(client.reading.hour, 13);
  EXPECT_EQ(client.reading.day, 15);
  EXPECT_EQ(client.reading.month, 1);
  EXPECT_EQ(client.reading.year, 2010);
}

TEST_F(ReadingTest, FailedReadsLeaveTheColumnsAndAreLogged) {
  Connect(kTestServerProgId);
  Add("Diagnostics.Values.Double");
  Add("Diagnostics.Values.HalfFloat");
  const Lines shown = window.values.Lines();
  script->SetTargetItem("Diagnostics.Values.HalfFloat");
  script->Set(Fault::ReadFails);
  EXPECT_EQ(ReadRow(1), 1);
  EXPECT_EQ(ReadRow(0), 0);
  EXPECT_EQ(window.values.Lines(), shown);

  ClientState& s = client.state;
  s.currentRow = 1;
  EXPECT_EQ(ReadItem(client, s.ptrIOPCItemMgt, client.table.serverHandles[1], s.currentValue.get(),
                     nullptr),
            1);
  // A read whose item comes back with an error of its own is no reading.
  script->Set(Fault::ReadFails, false);
  script->Set(Fault::ReadReturnsFalse);
  const int writes = DatabaseWrites();
  s.databaseWriting = 1;
  EXPECT_EQ(ReadRow(1), 1);
  EXPECT_EQ(DatabaseWrites(), writes);

  EXPECT_EQ(
      window.messages.Texts(),
      (Lines{"Error reading item number 2.\nProbably doesn't exist or deleted from Server.",
             "Error reading item's data",
             "Error reading item number 2.\nProbably doesn't exist or deleted from Server."}));
  EXPECT_EQ(Captions(), (Lines{"ReadGroup function", "ReadItem function", "ReadGroup function"}));
  const std::string name = "Diagnostics.Values.HalfFloat\n";
  EXPECT_NE(Log().find("***ReadGroup: error reading current data of item: " + name),
            std::string::npos);
  EXPECT_NE(Log().find("***ReadItem: error reading current data of item: " + name),
            std::string::npos);
}

TEST_F(ReadingTest, StandbyClientWithHeartbeatRecordsNothing) {
  Connect();
  Add("OPC.ConnectionMonitor");
  Add("Diagnostics.Quality.Good");
  ClientState& s = client.state;
  s.databaseWriting = 1;
  s.isActive = 0;
  int writes = DatabaseWrites();
  ReadRow(1);
  EXPECT_EQ(DatabaseWrites(), writes);
  ReadItem(client, s.ptrIOPCItemMgt, s.lastServerHandle, s.currentValue.get(), nullptr);
  EXPECT_EQ(DatabaseWrites(), writes);
  s.isActive = 1;
  ReadRow(1);
  ReadItem(client, s.ptrIOPCItemMgt, s.lastServerHandle, s.currentValue.get(), nullptr);
  EXPECT_EQ(DatabaseWrites(), writes + 2);
}

}  // namespace
}  // namespace tagwell::testing
