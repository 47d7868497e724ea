#include "tests/server/ServerConformance.h"

#include <gmock/gmock.h>

#include <chrono>
#include <thread>

#include "platform/com/Memory.h"
#include "platform/com/Text.h"
#include "server/AddressSpaceXml.h"
#include "server/Simulation.h"
#include "tests/server/ConformanceHelpers.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace tagwell::testing;

namespace tagwell::testing {

namespace {
constexpr const char* kConformanceXml = R"(<AddressSpace>
  <Item name="OPC.ConnectionMonitor" type="VT_I4" access="readwrite" value="0"/>
  <Item name="Root2" type="VT_R8" value="2.5"/>
  <Branch name="DevA">
    <Item name="Temp" type="VT_R8" access="readwrite" value="21.5" euType="analog" euLow="0" euHigh="100"/>
    <Item name="Count" type="VT_I2" value="-5"/>
    <Item name="Name" type="VT_BSTR" access="readwrite" value="alpha"/>
    <Branch name="G1">
      <Item name="Flag" type="VT_BOOL" access="readwrite" value="true"/>
      <Item name="Big" type="VT_UI4" value="3000000000"/>
    </Branch>
    <Branch name="G2">
      <Item name="Ramp" type="VT_R4" signal="ramp" low="0" high="10" period="10"/>
      <Item name="Mode" type="VT_UI2" access="readwrite" value="1" euType="enumerated">
        <State>Off</State><State>On</State>
      </Item>
    </Branch>
  </Branch>
  <Branch name="DevB">
    <Item name="Vector" type="VT_ARRAY|VT_R8" value="1 2 3"/>
    <Item name="Bytes" type="VT_ARRAY|VT_UI1" value="7 8"/>
    <Item name="Cold" type="VT_I4" value="4" quality="0x0C"/>
  </Branch>
</AddressSpace>)";
}  // namespace

std::shared_ptr<server::AddressSpace> MakeConformanceSpace(std::shared_ptr<server::Clock> clock,
                                                           bool flat) {
  server::AddressSpaceFile file = server::ParseAddressSpaceXml(kConformanceXml, "conformance");
  EXPECT_TRUE(file.definition) << file.error;
  server::AddressSpaceOptions options;
  options.flat = flat;
  return server::AddressSpace::Create(std::move(*file.definition), std::move(clock), options,
                                      nullptr);
}

}  // namespace tagwell::testing

void ServerConformance::SetUp() {
  clock_ = std::make_shared<ManualClock>(TestEpoch());
  space_ = MakeConformanceSpace(clock_, false);
  // The space holds blocks of its own (string and array values).
  baseline_ = com::TaskMemOutstanding();
  server_ = NewServer();
  ASSERT_TRUE(server_);
  ASSERT_EQ(server_.As(com::IID_IOPCBrowseServerAddressSpace, &browse_), com::S_OK);
}

void ServerConformance::UseFlatSpace() {
  browse_.Reset();
  server_.Reset();
  space_ = MakeConformanceSpace(clock_, true);
  baseline_ = com::TaskMemOutstanding();
  server_ = NewServer();
  ASSERT_EQ(server_.As(com::IID_IOPCBrowseServerAddressSpace, &browse_), com::S_OK);
}

com::ComPtr<com::IOPCServer> ServerConformance::NewServer() {
  return GetParam().create(space_);
}

void ServerConformance::TearDown() {
  browse_.Reset();
  server_.Reset();
  // A remote object frees its side of a call after the answer: wait for it, bounded.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (com::TaskMemOutstanding() != baseline_ && std::chrono::steady_clock::now() < deadline)
    std::this_thread::yield();
  EXPECT_EQ(com::TaskMemOutstanding(), baseline_) << "task-allocator blocks were not freed";
}

// --- Interfaces and status ----------------------------------------------------

TEST_P(ServerConformance, QueryInterfaceAnswersExactlyWhatIsImplemented) {
  for (const com::IID* iid :
       {&com::IID_IUnknown, &com::IID_IOPCServer, &com::IID_IOPCItemProperties,
        &com::IID_IOPCBrowseServerAddressSpace}) {
    com::ComPtr<com::IUnknown> p;
    EXPECT_EQ(server_->QueryInterface(*iid, p.ReceiveVoid()), com::S_OK) << com::FormatGuid(*iid);
    EXPECT_TRUE(p);
  }
  for (const com::IID* iid :
       {&com::IID_IPersistFile, &com::IID_IEnumUnknown, &com::IID_IOPCServerPublicGroups,
        &com::IID_IOPCSyncIO, &com::IID_IOPCItemMgt}) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(server_->QueryInterface(*iid, &p), com::E_NOINTERFACE) << com::FormatGuid(*iid);
    EXPECT_EQ(p, nullptr);
  }
  auto group = AddTestGroup(server_.Get());
  ASSERT_TRUE(group);
  com::ComPtr<com::IOPCSyncIO> io;
  EXPECT_EQ(group.As(com::IID_IOPCSyncIO, &io), com::S_OK);
  com::ComPtr<com::IOPCServer> notAGroup;
  EXPECT_EQ(group.As(com::IID_IOPCServer, &notAGroup), com::E_NOINTERFACE);
}

TEST_P(ServerConformance, GetStatusGivesTimesVendorStateAndGroupCount) {
  clock_->Advance(std::chrono::seconds(90));
  com::OPCSERVERSTATUS* status = nullptr;
  ASSERT_EQ(server_->GetStatus(&status), com::S_OK);
  ASSERT_NE(status, nullptr);
  EXPECT_TRUE(SameTime(status->ftStartTime, TestEpoch()));
  EXPECT_EQ(com::FileTimeTicks(status->ftCurrentTime),
            com::FileTimeTicks(TestEpoch()) + 900000000u);
  EXPECT_EQ(status->dwServerState, com::OPC_STATUS_RUNNING);
  EXPECT_EQ(status->dwGroupCount, 0u);
  EXPECT_EQ(com::Utf16ToUtf8(com::WideView(status->szVendorInfo)), "Tagwell Simulation Server 8.4");
  com::CoTaskMemFree(status->szVendorInfo);
  com::CoTaskMemFree(status);

  auto group = AddTestGroup(server_.Get());
  ASSERT_EQ(server_->GetStatus(&status), com::S_OK);
  EXPECT_EQ(status->dwGroupCount, 1u);
  com::CoTaskMemFree(status->szVendorInfo);
  com::CoTaskMemFree(status);
}

TEST_P(ServerConformance, GroupsAreNamedRevisedFoundAndRemoved) {
  com::OPCHANDLE first = 0;
  auto group = AddTestGroup(server_.Get(), "Group", &first);
  ASSERT_TRUE(group);
  EXPECT_NE(first, 0u);

  com::OPCHANDLE handle = 0;
  com::DWORD revised = 0;
  com::ComPtr<com::IUnknown> other;
  EXPECT_EQ(server_->AddGroup(u"Group", com::FALSE, 100, 0, nullptr, nullptr, 0, &handle, &revised,
                              com::IID_IOPCItemMgt, other.Receive()),
            com::OPC_E_DUPLICATENAME);
  EXPECT_FALSE(other);
  // A rate faster than the simulation is revised; an empty name gets one of its own.
  EXPECT_EQ(server_->AddGroup(u"", com::TRUE, 10, 7, nullptr, nullptr, 0, &handle, &revised,
                              com::IID_IOPCSyncIO, other.Receive()),
            com::OPC_S_UNSUPPORTEDRATE);
  EXPECT_EQ(revised, 100u);
  EXPECT_NE(handle, first);
  ASSERT_TRUE(other);
  other.Reset();

  com::ComPtr<com::IUnknown> found;
  EXPECT_EQ(server_->GetGroupByName(u"Group", com::IID_IOPCItemMgt, found.Receive()), com::S_OK);
  EXPECT_EQ(server_->GetGroupByName(u"Nope", com::IID_IOPCItemMgt, other.Receive()),
            com::E_INVALIDARG);
  found.Reset();

  EXPECT_EQ(server_->RemoveGroup(handle, com::FALSE), com::S_OK);
  EXPECT_EQ(server_->RemoveGroup(handle, com::FALSE), com::E_INVALIDARG);
  // The client still holds the first group: it is removed by name but lives on.
  EXPECT_EQ(server_->RemoveGroup(first, com::FALSE), com::OPC_S_INUSE);
  EXPECT_EQ(AddItem(group.Get(), "Root2").error, com::S_OK);
}

TEST_P(ServerConformance, GetErrorStringKnowsOpcAndComCodes) {
  for (com::HRESULT code : {com::OPC_E_UNKNOWNITEMID, com::OPC_E_BADRIGHTS, com::E_FAIL}) {
    com::LPWSTR text = nullptr;
    EXPECT_EQ(server_->GetErrorString(code, 0, &text), com::S_OK);
    ASSERT_NE(text, nullptr);
    EXPECT_GT(com::WideLength(text), 10u);
    com::CoTaskMemFree(text);
  }
  com::LPWSTR text = nullptr;
  EXPECT_EQ(server_->GetErrorString(com::MakeHresult(0x80001234), 0, &text), com::E_INVALIDARG);
  EXPECT_EQ(text, nullptr);
}
