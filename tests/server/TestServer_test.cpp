// The scripted faults of the test server.
#include "tests/support/TestServer.h"

#include <gmock/gmock.h>

#include <thread>

#include "platform/com/Memory.h"
#include "server/AddressSpaceXml.h"
#include "tests/server/ConformanceHelpers.h"

using ::testing::ElementsAre;

namespace tagwell::testing {
namespace {

class TestServerFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_ = std::make_shared<ManualClock>(TestEpoch());
    space_ = server::MakeDefaultAddressSpace(clock_);
    script_ = std::make_shared<FaultScript>();
  }
  com::ComPtr<com::IOPCServer> Create() {
    com::ComPtr<com::IOPCServer> server;
    EXPECT_EQ(CreateTestServer(space_, script_, com::IID_IOPCServer, server.ReceiveVoid()),
              com::S_OK);
    return server;
  }
  template <class I>
  com::HRESULT Query(com::IOPCServer* server, const com::IID& iid, com::ComPtr<I>* out) {
    return server->QueryInterface(iid, out->ReceiveVoid());
  }

  std::shared_ptr<ManualClock> clock_;
  std::shared_ptr<server::AddressSpace> space_;
  std::shared_ptr<FaultScript> script_;
};

TEST_F(TestServerFaults, WithoutFaultsItBehavesAsTheSimulation) {
  auto server = Create();
  com::ComPtr<com::IOPCBrowseServerAddressSpace> browse;
  ASSERT_EQ(Query(server.Get(), com::IID_IOPCBrowseServerAddressSpace, &browse), com::S_OK);
  EXPECT_THAT(Browse(browse.Get(), com::OPC_BRANCH).names,
              ElementsAre("Boiler", "Line1", "Diagnostics"));
  auto group = AddTestGroup(server.Get());
  Added added = AddItem(group.Get(), "Diagnostics.Values.LargeUnsigned");
  ASSERT_EQ(added.error, com::S_OK);
  EXPECT_EQ(ReadItem(group.Get(), added.result.hServer).value->ulVal, 3000000000u);
  EXPECT_EQ(script_->CallCount(Call::AddItems), 1);
  EXPECT_EQ(script_->CallCount(Call::Read), 1);
}

TEST_F(TestServerFaults, OptionalInterfacesCanBeWithheld) {
  auto server = Create();
  com::ComPtr<com::IUnknown> p;
  script_->Set(Fault::NoBrowse);
  EXPECT_EQ(Query(server.Get(), com::IID_IOPCBrowseServerAddressSpace, &p), com::E_NOINTERFACE);
  EXPECT_EQ(Query(server.Get(), com::IID_IOPCItemProperties, &p), com::S_OK);
  script_->Set(Fault::NoBrowse, false);
  script_->Set(Fault::NoOptionalInterfaces);
  for (const com::IID* iid :
       {&com::IID_IPersistFile, &com::IID_IEnumUnknown, &com::IID_IOPCServerPublicGroups,
        &com::IID_IOPCBrowseServerAddressSpace, &com::IID_IOPCItemProperties})
    EXPECT_EQ(Query(server.Get(), *iid, &p), com::E_NOINTERFACE);
  EXPECT_EQ(Query(server.Get(), com::IID_IOPCServer, &p), com::S_OK);
}

TEST_F(TestServerFaults, ServerCallsFail) {
  auto server = Create();
  script_->Set(Fault::GetStatusFails);
  com::OPCSERVERSTATUS* status = reinterpret_cast<com::OPCSERVERSTATUS*>(1);
  EXPECT_EQ(server->GetStatus(&status), com::E_FAIL);
  EXPECT_EQ(status, nullptr);
  script_->Set(Fault::AddGroupFails);
  EXPECT_FALSE(AddTestGroup(server.Get()));
}

TEST_F(TestServerFaults, ItemFaultsHitTheTargetItemOnly) {
  auto server = Create();
  auto group = AddTestGroup(server.Get());
  script_->SetTargetItem("Boiler.Setpoint");
  script_->Set(Fault::AddItemsRefuses);
  Added refused = AddItem(group.Get(), "Boiler.Setpoint");
  EXPECT_EQ(refused.hr, com::S_FALSE);
  EXPECT_EQ(refused.error, com::OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(refused.result.hServer, 0u);
  Added other = AddItem(group.Get(), "Boiler.Mode");
  EXPECT_EQ(other.hr, com::S_OK);
  script_->Set(Fault::AddItemsRefuses, false);

  Added setpoint = AddItem(group.Get(), "Boiler.Setpoint");
  ASSERT_EQ(setpoint.hr, com::S_OK);
  script_->Set(Fault::ReadFails);
  script_->Set(Fault::WriteFails);
  EXPECT_EQ(ReadItem(group.Get(), setpoint.result.hServer).hr, com::E_FAIL);
  EXPECT_EQ(ReadItem(group.Get(), other.result.hServer).hr, com::S_OK);
  EXPECT_EQ(WriteItem(group.Get(), setpoint.result.hServer, *MakeR8(60).get()).first, com::E_FAIL);
  EXPECT_EQ(WriteItem(group.Get(), other.result.hServer, *MakeI4(1).get()).first, com::S_OK);

  script_->Set(Fault::ReadFails, false);
  script_->Set(Fault::ReadReturnsFalse);
  ReadResult falseRead = ReadItem(group.Get(), setpoint.result.hServer);
  EXPECT_EQ(falseRead.hr, com::S_FALSE);
  EXPECT_EQ(falseRead.error, com::E_FAIL);
  EXPECT_EQ(falseRead.quality, com::OPC_QUALITY_BAD);
  EXPECT_EQ(falseRead.value->dblVal, 55.0);

  script_->Set(Fault::AddItemsFails);
  EXPECT_EQ(AddItem(group.Get(), "Boiler.Setpoint").hr, com::E_FAIL);
  EXPECT_EQ(AddItem(group.Get(), "Boiler.BurnerOn").hr, com::S_OK);
  script_->Set(Fault::CreateEnumeratorFails);
  com::IUnknown* e = nullptr;
  EXPECT_EQ(group->CreateEnumerator(com::IID_IEnumOPCItemAttributes, &e), com::E_FAIL);
  EXPECT_EQ(e, nullptr);
}

TEST_F(TestServerFaults, BrowseFaults) {
  auto server = Create();
  com::ComPtr<com::IOPCBrowseServerAddressSpace> browse;
  ASSERT_EQ(Query(server.Get(), com::IID_IOPCBrowseServerAddressSpace, &browse), com::S_OK);
  script_->Set(Fault::DeviceCannotBeEntered);
  script_->SetTargetDevice("Line1");
  EXPECT_EQ(MoveTo(browse.Get(), com::OPC_BROWSE_TO, "Line1"), com::E_INVALIDARG);
  EXPECT_EQ(MoveTo(browse.Get(), com::OPC_BROWSE_DOWN, "Line1"), com::E_INVALIDARG);
  EXPECT_EQ(MoveTo(browse.Get(), com::OPC_BROWSE_TO, "Boiler"), com::S_OK);
  script_->Set(Fault::GetItemIdFails);
  EXPECT_EQ(ItemId(browse.Get(), "Temperature").first, com::E_FAIL);
}

TEST_F(TestServerFaults, FlatListingsCanNameBranches) {
  script_->Set(Fault::FlatListsBranches);
  auto server = Create();
  com::ComPtr<com::IOPCBrowseServerAddressSpace> browse;
  ASSERT_EQ(Query(server.Get(), com::IID_IOPCBrowseServerAddressSpace, &browse), com::S_OK);
  ASSERT_EQ(MoveTo(browse.Get(), com::OPC_BROWSE_TO, "Line1"), com::S_OK);
  Names names = Browse(browse.Get(), com::OPC_FLAT).names;
  ASSERT_GE(names.size(), 9u);
  EXPECT_EQ(names[7], "Line1.Station1");
  EXPECT_EQ(names[8], "Line1.Station1.Temperature");
  // Such a name can be entered as the client does with names of a flat listing.
  EXPECT_EQ(MoveTo(browse.Get(), com::OPC_BROWSE_TO, names[7]), com::S_OK);
  EXPECT_EQ(ItemId(browse.Get(), "Count").second, "Line1.Station1.Count");
}

TEST_F(TestServerFaults, AHangBlocksUntilReleased) {
  auto server = Create();
  auto group = AddTestGroup(server.Get());
  com::OPCHANDLE handle = AddItem(group.Get(), "Boiler.Setpoint").result.hServer;
  script_->HangOn(Call::Read);
  ReadResult read;
  std::thread caller([&] { read = ReadItem(group.Get(), handle); });
  ASSERT_TRUE(script_->WaitUntilHanging(std::chrono::seconds(10)));
  script_->ReleaseHang();
  caller.join();
  EXPECT_EQ(read.hr, com::S_OK);

  // A bounded hang ends by itself.
  script_->HangOn(Call::GetStatus, std::chrono::milliseconds(1));
  com::OPCSERVERSTATUS* status = nullptr;
  EXPECT_EQ(server->GetStatus(&status), com::S_OK);
  com::CoTaskMemFree(status->szVendorInfo);
  com::CoTaskMemFree(status);
}

TEST_F(TestServerFaults, ADroppedConnectionFailsEveryLaterCall) {
  auto server = Create();
  auto group = AddTestGroup(server.Get());
  com::OPCHANDLE handle = AddItem(group.Get(), "Boiler.Setpoint").result.hServer;
  com::ComPtr<com::IOPCBrowseServerAddressSpace> browse;
  ASSERT_EQ(Query(server.Get(), com::IID_IOPCBrowseServerAddressSpace, &browse), com::S_OK);
  com::IEnumString* names = nullptr;
  ASSERT_EQ(browse->BrowseOPCItemIDs(com::OPC_FLAT, u"", com::VT_EMPTY, 0, &names), com::S_OK);

  int hookRuns = 0;
  script_->SetDropHook([&] { ++hookRuns; });
  script_->DropConnectionAt(Call::Write);
  EXPECT_EQ(ReadItem(group.Get(), handle).hr, com::S_OK);  // before the chosen call
  EXPECT_EQ(WriteItem(group.Get(), handle, *MakeR8(60).get()).first, com::RPC_E_DISCONNECTED);
  EXPECT_EQ(hookRuns, 1);
  EXPECT_TRUE(script_->Dropped());
  EXPECT_EQ(ReadItem(group.Get(), handle).hr, com::RPC_E_DISCONNECTED);
  com::OPCSERVERSTATUS* status = nullptr;
  EXPECT_EQ(server->GetStatus(&status), com::RPC_E_DISCONNECTED);
  com::LPOLESTR name = nullptr;
  EXPECT_EQ(names->Next(1, &name, nullptr), com::RPC_E_DISCONNECTED);
  EXPECT_EQ(name, nullptr);
  names->Release();
  EXPECT_EQ(hookRuns, 1);
}

}  // namespace
}  // namespace tagwell::testing
