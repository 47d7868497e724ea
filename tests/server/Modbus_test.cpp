// Device items against an independent Modbus TCP device (pymodbus), read
// and written through the rpc proxies as a client process does.
#include <gmock/gmock.h>

#include <cmath>

#include "platform/com/Memory.h"
#include "platform/com/Text.h"
#include "platform/com/Time.h"
#include "rpc/Client.h"
#include "rpc/ServerThread.h"
#include "server/AddressSpaceXml.h"
#include "server/Simulation.h"
#include "tests/e2e/ModbusPeer.h"
#include "tests/server/ConformanceHelpers.h"

using ::testing::HasSubstr;

namespace tagwell::testing {
namespace {

using Words = std::vector<unsigned>;

// Items of the device "Plc" at the peer; "Far" names a port where nothing listens.
std::string PlantXml(std::uint16_t port, std::uint16_t deadPort) {
  const std::string device = "host=\"127.0.0.1\" timeoutMs=\"300\" periodMs=\"200\"";
  return R"(<AddressSpace>
  <ModbusDevice name="Plc" )" +
         device + " port=\"" + std::to_string(port) + R"(">
    <Item name="Coil" register="coil" address="0"/>
    <Item name="Input" register="discreteInput" address="0"/>
    <Item name="I16" register="holdingRegister" address="10" encoding="int16"/>
    <Item name="U16" register="holdingRegister" address="11"/>
    <Item name="I32" register="holdingRegister" address="20" encoding="int32"/>
    <Item name="I32low" register="holdingRegister" address="22" encoding="int32" wordOrder="lowFirst"/>
    <Item name="U32" register="holdingRegister" address="24" encoding="uint32"/>
    <Item name="U32low" register="holdingRegister" address="26" encoding="uint32" wordOrder="lowFirst"/>
    <Item name="F32" register="holdingRegister" address="30" encoding="float32"/>
    <Item name="F32low" register="holdingRegister" address="32" encoding="float32" wordOrder="lowFirst"/>
    <Item name="F64" register="holdingRegister" address="40" encoding="float64"/>
    <Item name="Text" register="holdingRegister" address="50" encoding="string" length="3"/>
    <Item name="Level" register="inputRegister" address="0" rawLow="0" rawHigh="4096" euLow="0" euHigh="100"/>
    <Item name="SetPoint" register="holdingRegister" address="60" rawLow="0" rawHigh="1000" euLow="0" euHigh="10"/>
    <Item name="Last" register="holdingRegister" address="199"/>
    <Item name="Missing" register="holdingRegister" address="200"/>
  </ModbusDevice>
  <ModbusDevice name="Far" )" +
         device + " port=\"" + std::to_string(deadPort) + R"(">
    <Item name="Value" register="holdingRegister" address="0"/>
  </ModbusDevice>
</AddressSpace>)";
}

// A port nobody listens on: the peer's own, taken by a second peer that is gone.
std::uint16_t DeadPort() {
  ModbusPeer gone;
  return gone.port();
}

class ModbusDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(peer_.port(), 0) << "pymodbus did not start";
    server::AddressSpaceFile file =
        server::ParseAddressSpaceXml(PlantXml(peer_.port(), deadPort_), "plant.xml");
    ASSERT_TRUE(file.definition) << file.error;
    std::string error;
    space_ = server::AddressSpace::Create(std::move(*file.definition), nullptr, {}, &error);
    ASSERT_TRUE(space_) << error;
    ASSERT_EQ(rpc::CreateObjectOverSocket(thread_.ConnectPair(), server::CLSID_TagwellSimulation,
                                          com::IID_IOPCServer, server_.ReceiveVoid()),
              com::S_OK);
    // Active, so that cache reads give the polled values.
    com::OPCHANDLE handle = 0;
    com::DWORD revised = 0;
    ASSERT_EQ(server_->AddGroup(u"Group", com::TRUE, 1000, 0, nullptr, nullptr, 0, &handle,
                                &revised, com::IID_IOPCItemMgt,
                                reinterpret_cast<com::LPUNKNOWN*>(group_.Receive())),
              com::S_OK);
  }

  com::OPCHANDLE Handle(const std::string& id) {
    if (auto it = handles_.find(id); it != handles_.end()) return it->second;
    Added added = AddItem(group_.Get(), id);
    EXPECT_EQ(added.error, com::S_OK) << id;
    com::OPCHANDLE handle = added.result.hServer;
    com::HRESULT* errors = nullptr;
    EXPECT_EQ(group_->SetActiveState(1, &handle, com::TRUE, &errors), com::S_OK);
    com::CoTaskMemFree(errors);
    return handles_[id] = handle;
  }
  ReadResult Read(const std::string& id, com::OPCDATASOURCE source = com::OPC_DS_DEVICE) {
    return ReadItem(group_.Get(), Handle(id), source);
  }
  com::HRESULT Write(const std::string& id, const com::Variant& value) {
    return WriteItem(group_.Get(), Handle(id), *value.get()).second;
  }
  // Polls (bounded) until the item's cache read has the quality.
  bool QualityBecomes(const std::string& id, com::WORD quality) {
    return WaitUntil([&] { return Read(id, com::OPC_DS_CACHE).quality == quality; },
                     std::chrono::seconds(10));
  }
  std::string ErrorText(com::HRESULT code) {
    com::LPWSTR text = nullptr;
    if (com::FAILED(server_->GetErrorString(code, 0, &text))) return "";
    std::string utf8 = com::Utf16ToUtf8(com::WideView(text));
    com::CoTaskMemFree(text);
    return utf8;
  }

  ModbusPeer peer_;
  std::uint16_t deadPort_ = DeadPort();
  std::shared_ptr<server::AddressSpace> space_;
  rpc::ServerThread thread_{[this](const com::CLSID&, com::IUnknown** object) {
    return server::CreateSimulationServer(space_, com::IID_IUnknown,
                                          reinterpret_cast<void**>(object));
  }};
  com::ComPtr<com::IOPCServer> server_;
  com::ComPtr<com::IOPCItemMgt> group_;
  std::map<std::string, com::OPCHANDLE> handles_;
};

double NumberOf(const com::VARIANT& v) {
  com::Variant number;
  EXPECT_EQ(com::VariantChangeType(number.get(), &v, 0, com::VT_R8), com::S_OK);
  return number->dblVal;
}

com::Variant Value(double number, com::VARTYPE vt) {
  com::Variant value = MakeR8(number);
  com::Variant converted;
  EXPECT_EQ(com::VariantChangeType(converted.get(), value.get(), 0, vt), com::S_OK);
  return converted;
}

// Every encoding, read from what the peer holds and written back: the
// words the peer then holds are the encoding of the value written.
TEST_F(ModbusDeviceTest, EveryEncodingReadsAndWritesBack) {
  struct Case {
    const char* item;
    const char* table;
    unsigned address;
    Words held;
    double read;  // texts: see below
    com::VARTYPE canonical;
    double written;
    Words stored;
  };
  const Case cases[] = {
      {"Coil", "co", 0, {1}, -1, com::VT_BOOL, 0, {0}},
      {"I16", "hr", 10, {0xFFFF}, -1, com::VT_I2, -2, {0xFFFE}},
      {"U16", "hr", 11, {0xFFFF}, 65535, com::VT_UI2, 40000, {40000}},
      {"I32", "hr", 20, {0xFFFF, 0xFFFE}, -2, com::VT_I4, -65536, {0xFFFF, 0x0000}},
      {"I32low", "hr", 22, {0xFFFE, 0xFFFF}, -2, com::VT_I4, 0x12345678, {0x5678, 0x1234}},
      {"U32", "hr", 24, {0x1234, 0x5678}, 0x12345678, com::VT_UI4, 4e9, {0xEE6B, 0x2800}},
      {"U32low", "hr", 26, {0x5678, 0x1234}, 0x12345678, com::VT_UI4, 4e9, {0x2800, 0xEE6B}},
      {"F32", "hr", 30, {0x3FC0, 0}, 1.5, com::VT_R4, -2.25, {0xC010, 0}},
      {"F32low", "hr", 32, {0, 0x3FC0}, 1.5, com::VT_R4, -2.25, {0, 0xC010}},
      {"F64", "hr", 40, {0x3FF8, 0, 0, 0}, 1.5, com::VT_R8, -2.5, {0xC004, 0, 0, 0}},
      // Scaled 0..1000 to 0..10.
      {"SetPoint", "hr", 60, {500}, 5.0, com::VT_R8, 2.5, {250}},
  };
  for (const Case& c : cases) ASSERT_TRUE(peer_.Set(c.table, c.address, c.held));
  ASSERT_TRUE(peer_.Set("di", 0, {1}));
  ASSERT_TRUE(peer_.Set("ir", 0, {2050}));
  ASSERT_TRUE(peer_.Set("hr", 50, {0x4142, 0x4300, 0}));  // "ABC"
  for (const Case& c : cases) {
    SCOPED_TRACE(c.item);
    const ReadResult before = Read(std::string("Plc.") + c.item);
    EXPECT_EQ(before.quality, com::OPC_QUALITY_GOOD);
    EXPECT_EQ(before.value->vt, c.canonical);
    EXPECT_EQ(NumberOf(*before.value.get()), c.read);
    EXPECT_EQ(Write(std::string("Plc.") + c.item, Value(c.written, c.canonical)), com::S_OK);
    EXPECT_EQ(peer_.Get(c.table, c.address, static_cast<unsigned>(c.stored.size())), c.stored);
    EXPECT_EQ(NumberOf(*Read(std::string("Plc.") + c.item).value.get()), c.written);
  }
  EXPECT_EQ(NumberOf(*Read("Plc.Input").value.get()), -1);  // VARIANT_TRUE
  EXPECT_EQ(NumberOf(*Read("Plc.Level").value.get()), 2050 * 100.0 / 4096);
  EXPECT_EQ(TextOf(*Read("Plc.Text").value.get()), "ABC");
  EXPECT_EQ(Write("Plc.Text", MakeText("xyz12")), com::S_OK);
  EXPECT_EQ(peer_.Get("hr", 50, 3), (Words{0x7879, 0x7A31, 0x3200}));
  EXPECT_EQ(TextOf(*Read("Plc.Text").value.get()), "xyz12");
}

// A value the encoding cannot hold, or an item the register makes
// read-only, is refused and the device keeps what it has.
TEST_F(ModbusDeviceTest, WritesOutsideTheEncodingOrToInputsAreRefused) {
  struct Case {
    const char* item;
    com::Variant value;
    com::HRESULT expected;
  };
  const Case cases[] = {
      {"Plc.I16", MakeI4(40000), com::OPC_E_RANGE},
      {"Plc.U16", MakeI4(-1), com::OPC_E_RANGE},
      {"Plc.U32", MakeR8(5e9), com::OPC_E_RANGE},
      {"Plc.F32", MakeR8(1e300), com::OPC_E_RANGE},
      {"Plc.Text", MakeText("1234567"), com::OPC_E_RANGE},  // 3 registers hold 6 bytes
      {"Plc.SetPoint", MakeR8(10.5), com::OPC_E_RANGE},     // beyond the EU range
      {"Plc.Input", MakeI4(1), com::OPC_E_BADRIGHTS},
      {"Plc.Level", MakeR8(1), com::OPC_E_BADRIGHTS},
      {"Plc.U16", MakeText("many"), com::OPC_E_BADTYPE},
  };
  for (const Case& c : cases) EXPECT_EQ(Write(c.item, c.value), c.expected) << c.item;
  EXPECT_EQ(peer_.Get("hr", 10, 2), (Words{0, 0}));
  EXPECT_EQ(peer_.Get("hr", 50, 3), (Words{0, 0, 0}));
}

// An address the device does not have: that item alone gets a device
// failure, though it was read in one request with its neighbour.
TEST_F(ModbusDeviceTest, AModbusExceptionFailsOnlyItsItem) {
  ASSERT_TRUE(peer_.Set("hr", 199, {7}));
  com::OPCHANDLE handles[] = {Handle("Plc.Last"), Handle("Plc.Missing")};
  com::OPCITEMSTATE* states = nullptr;
  com::HRESULT* errors = nullptr;
  com::ComPtr<com::IOPCSyncIO> io;
  ASSERT_EQ(group_.As(com::IID_IOPCSyncIO, &io), com::S_OK);
  ASSERT_EQ(io->Read(com::OPC_DS_DEVICE, 2, handles, &states, &errors), com::S_OK);
  EXPECT_EQ(states[0].wQuality, com::OPC_QUALITY_GOOD);
  EXPECT_EQ(NumberOf(states[0].vDataValue), 7);
  EXPECT_EQ(states[1].wQuality, com::OPC_QUALITY_DEVICE_FAILURE);
  for (int i = 0; i < 2; ++i) com::VariantClear(&states[i].vDataValue);
  com::CoTaskMemFree(states);
  com::CoTaskMemFree(errors);

  const com::HRESULT refused = Write("Plc.Missing", MakeI4(1));
  EXPECT_TRUE(com::FAILED(refused));
  EXPECT_THAT(ErrorText(refused), HasSubstr("Modbus exception 2 (illegal data address)"));
}

// Stopped in the middle of reading: the last value with a communication
// error, at once, until the device is back.
TEST_F(ModbusDeviceTest, AStoppedDeviceReadsBadUntilItIsBack) {
  ASSERT_TRUE(peer_.Set("hr", 11, {42}));
  ASSERT_EQ(Read("Plc.U16").quality, com::OPC_QUALITY_GOOD);
  const com::FILETIME before = Read("Plc.U16").timeStamp;
  ASSERT_TRUE(peer_.Stop());
  ASSERT_TRUE(QualityBecomes("Plc.U16", com::OPC_QUALITY_COMM_FAILURE));
  const ReadResult stopped = Read("Plc.U16");
  EXPECT_EQ(stopped.quality, com::OPC_QUALITY_COMM_FAILURE);
  EXPECT_EQ(NumberOf(*stopped.value.get()), 42);
  EXPECT_LE(com::FileTimeTicks(stopped.timeStamp) - com::FileTimeTicks(before), 20'000'000u);
  EXPECT_TRUE(com::FAILED(Write("Plc.U16", MakeI4(1))));
  ASSERT_TRUE(peer_.Set("hr", 11, {43}));
  ASSERT_TRUE(peer_.Start());
  ASSERT_TRUE(QualityBecomes("Plc.U16", com::OPC_QUALITY_GOOD));
  EXPECT_EQ(NumberOf(*Read("Plc.U16").value.get()), 43);
}

// Answers later than the response timeout count as none.
TEST_F(ModbusDeviceTest, ASlowDeviceIsACommunicationError) {
  ASSERT_EQ(Read("Plc.U16").quality, com::OPC_QUALITY_GOOD);
  ASSERT_TRUE(peer_.Delay(1.0));
  EXPECT_EQ(Read("Plc.U16").quality, com::OPC_QUALITY_COMM_FAILURE);
  ASSERT_TRUE(peer_.Delay(0));
  ASSERT_TRUE(peer_.Set("hr", 11, {5}));
  EXPECT_TRUE(WaitUntil([&] { return NumberOf(*Read("Plc.U16").value.get()) == 5; },
                        std::chrono::seconds(10)));
  EXPECT_EQ(Read("Plc.U16").quality, com::OPC_QUALITY_GOOD);
}

// A device that never answered: not connected, and the other device of the
// same read is served all the same.
TEST_F(ModbusDeviceTest, ADeviceThatNeverAnsweredIsNotConnected) {
  ASSERT_TRUE(peer_.Set("hr", 11, {9}));
  const ReadResult far = Read("Far.Value");
  EXPECT_EQ(far.quality, com::OPC_QUALITY_NOT_CONNECTED);
  EXPECT_EQ(Read("Plc.U16").quality, com::OPC_QUALITY_GOOD);
  EXPECT_TRUE(com::FAILED(Write("Far.Value", MakeI4(1))));
}

// A device read gives what the device answered after the read began.
TEST_F(ModbusDeviceTest, DeviceReadsAreFreshCacheReadsArePolled) {
  com::FILETIME begun{};
  com::GetSystemTimeAsFileTime(&begun);
  const ReadResult fresh = Read("Plc.U16");
  EXPECT_GE(com::FileTimeTicks(fresh.timeStamp), com::FileTimeTicks(begun));
  ASSERT_TRUE(peer_.Set("hr", 11, {77}));
  EXPECT_EQ(NumberOf(*Read("Plc.U16").value.get()), 77);
  ASSERT_TRUE(peer_.Set("hr", 11, {78}));
  EXPECT_TRUE(
      WaitUntil([&] { return NumberOf(*Read("Plc.U16", com::OPC_DS_CACHE).value.get()) == 78; },
                std::chrono::seconds(10)));
}

}  // namespace
}  // namespace tagwell::testing
