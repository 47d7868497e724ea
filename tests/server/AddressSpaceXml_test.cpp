// Reading address spaces from XML, and the built-in plant.
#include "server/AddressSpaceXml.h"

#include <gmock/gmock.h>

#include <set>

#include "tests/server/ConformanceHelpers.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace tagwell::server {
namespace {

std::string ErrorOf(const std::string& body) {
  AddressSpaceFile file =
      ParseAddressSpaceXml("<AddressSpace>" + body + "</AddressSpace>", "plant.xml");
  EXPECT_FALSE(file.definition) << "accepted: " << body;
  return file.error;
}

std::shared_ptr<AddressSpace> SpaceOf(const std::string& body) {
  AddressSpaceFile file =
      ParseAddressSpaceXml("<AddressSpace>" + body + "</AddressSpace>", "plant.xml");
  EXPECT_TRUE(file.definition) << file.error;
  if (!file.definition) return nullptr;
  return AddressSpace::Create(std::move(*file.definition), nullptr, {}, nullptr);
}

TEST(AddressSpaceXml, ReadsItemsWithTheirAttributes) {
  auto space = SpaceOf(R"(
    <Branch name="B"><Branch name="C">
      <Item name="V" type="VT_UI1" access="readwrite" value="200" quality="0xD8"
            euType="analog" euLow="0" euHigh="250" units="kg" description="weight"/>
      <Item name="E" type="VT_I4" value="1" euType="enumerated"><State>a</State><State>b c</State></Item>
      <Item name="S" type="VT_R8" signal="counter" low="5" high="7" period="2"/>
      <Item name="A" type="VT_ARRAY|VT_UI1" value="1, 2,3"/>
      <Item name="T" type="VT_BSTR" value="  spaced  "/>
    </Branch></Branch>)");
  ASSERT_TRUE(space);
  const Item* v = space->FindItem("B.C.V");
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->definition.canonicalType, com::VT_UI1);
  EXPECT_EQ(v->definition.accessRights, com::OPC_READABLE | com::OPC_WRITEABLE);
  EXPECT_EQ(v->definition.quality, 0xD8);
  EXPECT_EQ(v->definition.euType, com::OPC_ANALOG);
  EXPECT_EQ(v->definition.euHigh, 250.0);
  EXPECT_EQ(v->definition.units, "kg");
  EXPECT_EQ(space->Read(*v).value->bVal, 200);
  EXPECT_THAT(space->FindItem("B.C.E")->definition.euTexts, ::testing::ElementsAre("a", "b c"));
  EXPECT_EQ(space->FindItem("B.C.S")->definition.signal.kind, SignalKind::Counter);
  EXPECT_EQ(space->FindItem("B.C.S")->definition.accessRights, com::OPC_READABLE);
  EXPECT_THAT(testing::ArrayOf(*space->Read(*space->FindItem("B.C.A")).value.get()),
              ::testing::ElementsAre(1.0, 2.0, 3.0));
  EXPECT_EQ(testing::TextOf(*space->Read(*space->FindItem("B.C.T")).value.get()), "  spaced  ");
  EXPECT_EQ(space->FindBranch("B.C")->items.size(), 5u);
}

TEST(AddressSpaceXml, MalformedDocumentsAreRefusedWithTheirPlace) {
  AddressSpaceFile file =
      ParseAddressSpaceXml("<AddressSpace>\n  <Item name=\"x\"\n</AddressSpace>", "p.xml");
  EXPECT_FALSE(file.definition);
  EXPECT_THAT(file.error, StartsWith("p.xml:3:"));
  EXPECT_THAT(file.error, HasSubstr("not well-formed"));
  EXPECT_THAT(ParseAddressSpaceXml("", "p.xml").error, HasSubstr("not well-formed"));
  EXPECT_THAT(ParseAddressSpaceXml("<Plant/>", "p.xml").error, HasSubstr("not <AddressSpace>"));
  EXPECT_THAT(ErrorOf("\n<Folder name=\"x\"/>"), StartsWith("plant.xml:2:"));
  EXPECT_THAT(ErrorOf("stray text"), HasSubstr("unexpected text"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_I4" colour="red"/>)"),
              HasSubstr("unknown attribute \"colour\""));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_I4"><State>a</State></Item>)"),
              HasSubstr("unexpected <State>"));
}

TEST(AddressSpaceXml, ValuesMustFitTheirItems) {
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_I8"/>)"), HasSubstr("unknown type \"VT_I8\""));
  EXPECT_THAT(ErrorOf(R"(<Item name="x"/>)"), HasSubstr("has no type"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_UI1" value="300"/>)"), HasSubstr("does not fit"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_I2" value="1.5"/>)"),
              HasSubstr("not a whole number"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_R8" value="12,5"/>)"), HasSubstr("not a number"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_R8" value="nan"/>)"), HasSubstr("not a number"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_BOOL" value="yes"/>)"),
              HasSubstr("not true or false"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_ARRAY|VT_UI1" value="1 256"/>)"),
              HasSubstr("does not fit"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_I4" access="write"/>)"),
              HasSubstr("neither read nor readwrite"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_I4" quality="0x10000"/>)"), HasSubstr("16-bit"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_I4" euType="analog" euLow="1"/>)"),
              HasSubstr("euLow and euHigh"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_I4" euType="analog" euLow="5" euHigh="5"/>)"),
              HasSubstr("low < high"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_BSTR" euType="analog" euLow="0" euHigh="5"/>)"),
              HasSubstr("only a numeric item"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_I4" euType="enumerated"/>)"),
              HasSubstr("state texts"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_I4" euType="scaled"/>)"),
              HasSubstr("unknown euType"));
}

TEST(AddressSpaceXml, SignalsAreReadOnlyScalarsWithinTheirType) {
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_R8" signal="square"/>)"),
              HasSubstr("unknown signal"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_R8" signal="sine" access="readwrite"/>)"),
              HasSubstr("cannot be written"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_R8" signal="ramp" value="3"/>)"),
              HasSubstr("value is given"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_ARRAY|VT_R8" signal="random"/>)"),
              HasSubstr("array item"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_R8" signal="ramp" period="0"/>)"),
              HasSubstr("period"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_R8" signal="ramp" low="5" high="1"/>)"),
              HasSubstr("low <= high"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_UI2" signal="sine" low="-1" high="10"/>)"),
              HasSubstr("does not fit the item's type"));
}

TEST(AddressSpaceXml, NamesAndIdsMustBeUnambiguous) {
  EXPECT_THAT(ErrorOf(R"(<Item name="x" type="VT_I4"/><Item name="x" type="VT_R8"/>)"),
              HasSubstr("item ID x is given twice"));
  // A root item whose name has a dot against an item in a branch: the same ID.
  EXPECT_THAT(
      ErrorOf(
          R"(<Item name="B.y" type="VT_I4"/><Branch name="B"><Item name="y" type="VT_I4"/></Branch>)"),
      HasSubstr("item ID B.y is given twice"));
  EXPECT_THAT(ErrorOf(R"(<Branch name="B"/><Branch name="B"/>)"),
              HasSubstr("branch B is given twice"));
  EXPECT_THAT(ErrorOf(R"(<Item name="B" type="VT_I4"/><Branch name="B"/>)"),
              HasSubstr("branch and an item"));
  EXPECT_THAT(ErrorOf(R"(<Branch name="a.b"/>)"), HasSubstr("contains a dot"));
  EXPECT_THAT(ErrorOf(R"(<Branch/>)"), HasSubstr("no name"));
  EXPECT_THAT(ErrorOf(R"(<Item name="x." type="VT_I4"/>)"), HasSubstr("empty part"));
  EXPECT_THAT(ErrorOf("<Item name=\"a&#9;b\" type=\"VT_I4\"/>"), HasSubstr("control character"));
}

TEST(AddressSpaceXml, FilesAreReadOrRefusedWithTheirName) {
  testing::TempDir dir;
  std::string error;
  EXPECT_FALSE(LoadAddressSpace(dir.File("missing.xml"), nullptr, {}, &error));
  EXPECT_THAT(error, StartsWith(dir.File("missing.xml") + ": cannot be read"));
  testing::WriteFile(dir.File("plant.xml"), std::string(DefaultPlantXml()));
  auto space = LoadAddressSpace(dir.File("plant.xml"), nullptr, {}, &error);
  ASSERT_TRUE(space) << error;
  EXPECT_EQ(space->Items().size(), MakeDefaultAddressSpace()->Items().size());
  testing::WriteFile(dir.File("bad.xml"), "<AddressSpace><Item/></AddressSpace>");
  EXPECT_FALSE(LoadAddressSpace(dir.File("bad.xml"), nullptr, {}, &error));
  EXPECT_THAT(error, StartsWith(dir.File("bad.xml") + ":1:"));
}

// A device is a branch of its items; type and access follow the register.
// (Nothing listens on port 9 of loopback: the device is simply not there.)
TEST(AddressSpaceXml, ModbusDevicesAreBranchesOfTheirItems) {
  auto space = SpaceOf(R"(<Branch name="Hall"><ModbusDevice name="Press" host="127.0.0.1" port="9">
      <Item name="Run" register="coil" address="3"/>
      <Item name="Level" register="inputRegister" address="0" rawLow="0" rawHigh="4095"
            euLow="0" euHigh="100" units="%"/>
      <Item name="Name" register="holdingRegister" address="10" encoding="string" length="4"/>
    </ModbusDevice></Branch>)");
  ASSERT_TRUE(space);
  const Branch* device = space->FindBranch("Hall.Press");
  ASSERT_NE(device, nullptr);
  ASSERT_EQ(device->items.size(), 3u);
  const ItemDefinition& run = space->FindItem("Hall.Press.Run")->definition;
  EXPECT_EQ(run.canonicalType, com::VT_BOOL);
  EXPECT_EQ(run.accessRights, com::OPC_READABLE | com::OPC_WRITEABLE);
  const ItemDefinition& level = space->FindItem("Hall.Press.Level")->definition;
  EXPECT_EQ(level.canonicalType, com::VT_R8);
  EXPECT_EQ(level.accessRights, com::OPC_READABLE);
  EXPECT_EQ(level.euType, com::OPC_ANALOG);
  EXPECT_EQ(level.euHigh, 100.0);
  EXPECT_EQ(level.units, "%");
  EXPECT_EQ(space->FindItem("Hall.Press.Name")->definition.canonicalType, com::VT_BSTR);
  // Before the device has answered.
  EXPECT_EQ(space->Read(*space->FindItem("Hall.Press.Run")).quality,
            com::OPC_QUALITY_NOT_CONNECTED);
}

// Every mistake names its line: the server does not start on such a file.
TEST(AddressSpaceXml, BrokenModbusDevicesAreRefusedWithTheirLine) {
  struct Case {
    const char* item;  // on line 3, after a sound item on line 2
    const char* message;
  };
  const Case cases[] = {
      {R"(register="relay" address="0")", "unknown register \"relay\""},
      {R"(register="holdingRegister" address="0" encoding="int24")", "unknown encoding \"int24\""},
      {R"(register="holdingRegister" address="65536")", "address \"65536\" is not a whole number"},
      {R"(register="holdingRegister" address="65535" encoding="int32")", "go beyond 65535"},
      {R"(register="holdingRegister" address="-1")", "is not a whole number"},
      {R"(register="holdingRegister")", "has no address"},
      {R"(register="coil" address="0" encoding="int16")", "holds only bool"},
      {R"(register="holdingRegister" address="0" encoding="bool")", "only for a coil"},
      {R"(register="holdingRegister" address="0" encoding="string")", "needs a length"},
      {R"(register="holdingRegister" address="0" encoding="int16" wordOrder="lowFirst")",
       "word order means nothing"},
      {R"(register="holdingRegister" address="0" wordOrder="middle")", "wordOrder \"middle\""},
      {R"(register="holdingRegister" address="0" rawLow="0" rawHigh="10")", "scaling needs"},
      {R"(register="holdingRegister" address="0" rawLow="5" rawHigh="5" euLow="0" euHigh="1")",
       "rawLow < rawHigh"},
      {R"(register="holdingRegister" address="0" type="VT_I4")", "unknown attribute \"type\""},
      // Overlaps the string of line 2 (registers 100..103).
      {R"(register="holdingRegister" address="103")", "overlap those of Name (line 2)"},
  };
  for (const Case& c : cases) {
    const std::string xml = std::string("<AddressSpace><ModbusDevice name=\"D\" host=\"h\">\n") +
                            R"(<Item name="Name" register="holdingRegister" address="100" )" +
                            R"(encoding="string" length="4"/>)" + "\n<Item name=\"x\" " + c.item +
                            "/>\n</ModbusDevice></AddressSpace>";
    AddressSpaceFile file = ParseAddressSpaceXml(xml, "plant.xml");
    EXPECT_FALSE(file.definition) << c.item;
    EXPECT_THAT(file.error, StartsWith("plant.xml:3:")) << c.item;
    EXPECT_THAT(file.error, HasSubstr(c.message)) << c.item;
  }
  const Case devices[] = {
      {R"(name="D")", "has no host"},
      {R"(name="D" host="h" port="0")", "port \"0\""},
      {R"(name="D" host="h" unit="250")", "unit 250 is not 1 to 247, or 255"},
      {R"(name="D" host="h" timeoutMs="fast")", "timeoutMs \"fast\""},
      {R"(name="D" host="h" retries="3")", "unknown attribute \"retries\""},
  };
  for (const Case& c : devices) {
    AddressSpaceFile file =
        ParseAddressSpaceXml(std::string("<AddressSpace>\n<Branch name=\"A\"/>\n<ModbusDevice ") +
                                 c.item + "/></AddressSpace>",
                             "plant.xml");
    EXPECT_THAT(file.error, StartsWith("plant.xml:3:")) << c.item;
    EXPECT_THAT(file.error, HasSubstr(c.message)) << c.item;
  }
  // A start tag over several lines: the fault is shown at its attribute,
  // not where the tag ends. A response timeout beyond what a client waits
  // for a call is refused.
  const struct {
    const char* attributes;
    const char* where;
    const char* message;
  } spread[] = {
      {"name=\"D\"\n host=\"h\"\n timeoutMs=\"60000\"\n periodMs=\"100\"",
       "plant.xml:5:2:", "timeoutMs \"60000\" is above 5000"},
      {"name=\"D\"\n host=\"h\" port=\"0\"\n periodMs=\"100\"", "plant.xml:4:11:", "port \"0\""},
      {"name=\"D\"\n  retries=\"3\"\n host=\"h\"",
       "plant.xml:4:3:", "unknown attribute \"retries\""},
  };
  for (const auto& c : spread) {
    AddressSpaceFile file =
        ParseAddressSpaceXml(std::string("<AddressSpace>\n<Branch name=\"A\"/>\n<ModbusDevice ") +
                                 c.attributes + "/></AddressSpace>",
                             "plant.xml");
    EXPECT_THAT(file.error, StartsWith(c.where)) << c.attributes;
    EXPECT_THAT(file.error, HasSubstr(c.message)) << c.attributes;
  }
  EXPECT_TRUE(ParseAddressSpaceXml("<AddressSpace><ModbusDevice name=\"D\" host=\"h\" "
                                   "timeoutMs=\"5000\"/></AddressSpace>",
                                   "plant.xml")
                  .definition);

  // Names given twice: the second one's line, and where the first was.
  EXPECT_THAT(ParseAddressSpaceXml("<AddressSpace>\n<Branch name=\"D\"/>\n"
                                   "<ModbusDevice name=\"D\" host=\"h\"/></AddressSpace>",
                                   "plant.xml")
                  .error,
              ::testing::AllOf(StartsWith("plant.xml:3:"),
                               HasSubstr("the branch D is given twice (first at line 2)")));
  EXPECT_THAT(ParseAddressSpaceXml("<AddressSpace><ModbusDevice name=\"D\" host=\"h\">\n"
                                   "<Item name=\"x\" register=\"coil\" address=\"0\"/>\n"
                                   "<Item name=\"x\" register=\"coil\" address=\"1\"/>\n"
                                   "</ModbusDevice></AddressSpace>",
                                   "plant.xml")
                  .error,
              ::testing::AllOf(StartsWith("plant.xml:3:"),
                               HasSubstr("the item ID D.x is given twice (first at line 2)")));
}

// The plant the server starts with has what the client's displays need.
TEST(DefaultPlant, HoldsEveryTypeQualityAndEdgeValueTheClientShows) {
  auto clock = std::make_shared<testing::ManualClock>(testing::TestEpoch());
  auto space = MakeDefaultAddressSpace(clock);
  const Item* monitor = space->FindItem("OPC.ConnectionMonitor");
  ASSERT_NE(monitor, nullptr);
  EXPECT_EQ(monitor->definition.canonicalType, com::VT_I4);
  EXPECT_EQ(monitor->definition.accessRights, com::OPC_READABLE | com::OPC_WRITEABLE);
  EXPECT_EQ(space->Root().items.front(), monitor);

  std::set<com::VARTYPE> types;
  std::set<com::WORD> qualities;
  std::set<SignalKind> signals;
  std::set<com::DWORD> euTypes;
  bool readOnly = false;
  for (const auto& item : space->Items()) {
    types.insert(item->definition.canonicalType);
    qualities.insert(item->definition.quality);
    signals.insert(item->definition.signal.kind);
    euTypes.insert(item->definition.euType);
    readOnly = readOnly || !(item->definition.accessRights & com::OPC_WRITEABLE);
  }
  for (com::VARTYPE vt : {com::VT_I2, com::VT_I4, com::VT_R4, com::VT_R8, com::VT_BSTR,
                          com::VT_BOOL, com::VT_UI2, com::VT_UI4})
    EXPECT_TRUE(types.count(vt)) << vt;
  EXPECT_TRUE(types.count(com::VT_ARRAY | com::VT_R8));
  EXPECT_TRUE(types.count(com::VT_ARRAY | com::VT_UI1));
  for (com::WORD q : {0xC0, 0xD8, 0x00, 0x04, 0x08, 0x0C, 0x14, 0x18, 0x40, 0x44, 0x54, 0xC1})
    EXPECT_TRUE(qualities.count(q)) << q;
  EXPECT_EQ(signals.size(), 5u);
  EXPECT_EQ(euTypes.size(), 3u);
  EXPECT_TRUE(readOnly);
  EXPECT_EQ(
      testing::TextOf(*space->Read(*space->FindItem("Diagnostics.Values.EmptyString")).value.get()),
      "");
  EXPECT_GT(space->Read(*space->FindItem("Diagnostics.Values.LargeUnsigned")).value->ulVal,
            0x80000000u);
  // Devices hold items directly and in groups.
  for (const auto& device : space->Root().branches) {
    EXPECT_FALSE(device->items.empty()) << device->name;
    EXPECT_FALSE(device->branches.empty()) << device->name;
  }
}

}  // namespace
}  // namespace tagwell::server
