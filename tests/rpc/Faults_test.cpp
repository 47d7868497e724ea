// The fault-scripted test server through the proxies: hangs trip the
// deadline, a dropped connection fails every later call, and failures and
// refusals arrive exactly as the server gave them.
#include <gtest/gtest.h>

#include <thread>

#include "platform/com/CallWait.h"
#include "rpc/Client.h"
#include "rpc/ServerThread.h"
#include "server/AddressSpaceXml.h"
#include "tests/rpc/RpcTestSupport.h"
#include "tests/support/TestServer.h"

namespace tagwell::testing {
namespace {

using namespace com;
using namespace std::chrono_literals;

class FaultTest : public ::testing::Test {
 protected:
  void TearDown() override { script_->ReleaseHang(); }

  ComPtr<IOPCServer> Connect(std::chrono::milliseconds timeout = 10s) {
    rpc::ClientOptions options;
    options.callTimeout = timeout;
    ComPtr<IOPCServer> server;
    EXPECT_EQ(rpc::CreateObjectOverSocket(thread_.ConnectPair(), CLSID_TagwellTestServer,
                                          IID_IOPCServer, server.ReceiveVoid(), options),
              S_OK);
    return server;
  }

  static ComPtr<IOPCItemMgt> AddGroup(IOPCServer* server) {
    OPCHANDLE handle = 0;
    DWORD rate = 0;
    ComPtr<IOPCItemMgt> group;
    EXPECT_EQ(server->AddGroup(u"Group", FALSE, 100, 0, nullptr, nullptr, 0, &handle, &rate,
                               IID_IOPCItemMgt, reinterpret_cast<IUnknown**>(group.Receive())),
              S_OK);
    return group;
  }

  static HRESULT AddItem(IOPCItemMgt* group, const char16_t* id, OPCHANDLE* handle,
                         HRESULT* itemError = nullptr) {
    std::u16string itemId = id;
    OPCITEMDEF def{nullptr, itemId.data(), FALSE, 1, 0, nullptr, VT_EMPTY, 0};
    OPCITEMRESULT* results = nullptr;
    HRESULT* errors = nullptr;
    HRESULT hr = group->AddItems(1, &def, &results, &errors);
    if (results) *handle = results[0].hServer;
    if (errors && itemError) *itemError = errors[0];
    CoTaskMemFree(results);
    CoTaskMemFree(errors);
    return hr;
  }

  std::shared_ptr<ManualClock> clock_ = std::make_shared<ManualClock>(TestEpoch());
  std::shared_ptr<server::AddressSpace> space_ = server::MakeDefaultAddressSpace(clock_);
  std::shared_ptr<FaultScript> script_ = std::make_shared<FaultScript>();
  rpc::ServerThread thread_{[this](const CLSID& clsid, IUnknown** object) -> HRESULT {
    if (clsid != CLSID_TagwellTestServer) return REGDB_E_CLASSNOTREG;
    return CreateTestServer(space_, script_, IID_IUnknown, reinterpret_cast<void**>(object));
  }};
};

TEST_F(FaultTest, AHangingCallFailsWithTimeoutAndTheNextCallWorks) {
  auto server = Connect(200ms);
  script_->HangOn(Call::GetStatus);
  OPCSERVERSTATUS* status = nullptr;
  EXPECT_EQ(server->GetStatus(&status), RPC_E_TIMEOUT);
  EXPECT_EQ(status, nullptr);
  EXPECT_TRUE(script_->WaitUntilHanging(5s));
  script_->ReleaseHang();
  ASSERT_EQ(server->GetStatus(&status), S_OK);
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
}

// While a call waits, its thread's pump runs (a window keeps drawing); a
// call made from inside the pump is refused, not nested into the wait.
struct PumpSeen {
  static inline int runs = 0;
  static inline bool waiting = true;
  static inline HRESULT nested = S_OK;
  static inline IOPCServer* server = nullptr;
  static void Pump() {
    if (++runs == 1) {
      OPCSERVERSTATUS* status = nullptr;
      nested = server->GetStatus(&status);
    }
    waiting = waiting && OutgoingCallWaiting();
  }
};

TEST_F(FaultTest, AWaitingCallRunsItsThreadsPumpAndRefusesCallsFromIt) {
  auto server = Connect(5s);
  PumpSeen::server = server.Get();
  script_->HangOn(Call::GetStatus, 300ms);
  SetCallWaitPump(&PumpSeen::Pump);
  OPCSERVERSTATUS* status = nullptr;
  const HRESULT hr = server->GetStatus(&status);
  SetCallWaitPump(nullptr);
  ASSERT_EQ(hr, S_OK);
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
  EXPECT_GE(PumpSeen::runs, 10) << "about every 10 ms for 300 ms";
  EXPECT_EQ(PumpSeen::nested, RPC_E_CANTCALLOUT_ININPUTSYNCCALL);
  EXPECT_TRUE(PumpSeen::waiting);
  EXPECT_FALSE(OutgoingCallWaiting());
}

// The client's event loop runs only inside a call, so its timer stands
// still between calls: a deadline must count from the real clock, or the
// first call after a quiet spell longer than the deadline fails at once.
TEST_F(FaultTest, ACallAfterAnIdleSpellLongerThanTheDeadlineSucceeds) {
  auto server = Connect(150ms);
  auto group = AddGroup(server.Get());
  std::this_thread::sleep_for(400ms);  // the proxies idle, as between an operator's commands
  OPCHANDLE handle = 0;
  EXPECT_EQ(AddItem(group.Get(), u"OPC.ConnectionMonitor", &handle), S_OK);
  std::this_thread::sleep_for(400ms);
  OPCSERVERSTATUS* status = nullptr;
  ASSERT_EQ(server->GetStatus(&status), S_OK);
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
}

TEST_F(FaultTest, ADroppedConnectionFailsThatCallAndEveryLaterOne) {
  script_->SetDropHook([this] { thread_.DropConnections(); });
  script_->DropConnectionAt(Call::Read);
  auto server = Connect();
  auto group = AddGroup(server.Get());
  OPCHANDLE handle = 0;
  ASSERT_EQ(AddItem(group.Get(), u"OPC.ConnectionMonitor", &handle), S_OK);
  ComPtr<IOPCSyncIO> io;
  ASSERT_EQ(group.As(IID_IOPCSyncIO, &io), S_OK);

  OPCITEMSTATE* states = nullptr;
  HRESULT* errors = nullptr;
  EXPECT_EQ(io->Read(OPC_DS_DEVICE, 1, &handle, &states, &errors), RPC_E_DISCONNECTED);
  EXPECT_EQ(states, nullptr);
  EXPECT_EQ(errors, nullptr);
  OPCSERVERSTATUS* status = nullptr;
  EXPECT_EQ(server->GetStatus(&status), RPC_E_DISCONNECTED);
  EXPECT_EQ(AddItem(group.Get(), u"OPC.ConnectionMonitor", &handle), RPC_E_DISCONNECTED);
  // The server side lets go of the connection and its objects.
  EXPECT_TRUE(WaitUntil([&] { return thread_.ConnectionCount() == 0; }));
}

TEST_F(FaultTest, FailuresAndRefusalsArriveAsTheServerGaveThem) {
  script_->Set(Fault::AddItemsRefuses);
  script_->SetTargetItem("OPC.ConnectionMonitor");
  script_->Set(Fault::ReadFails);
  auto server = Connect();
  auto group = AddGroup(server.Get());

  // A refusal: S_FALSE with arrays, the item's error and a zeroed result.
  OPCHANDLE handle = 99;
  HRESULT itemError = S_OK;
  EXPECT_EQ(AddItem(group.Get(), u"OPC.ConnectionMonitor", &handle, &itemError), S_FALSE);
  EXPECT_EQ(itemError, OPC_E_UNKNOWNITEMID);
  EXPECT_EQ(handle, 0u);

  // A failure: no arrays at all, as from an in-process server.
  script_->Set(Fault::AddItemsRefuses, false);
  ASSERT_EQ(AddItem(group.Get(), u"OPC.ConnectionMonitor", &handle), S_OK);
  ComPtr<IOPCSyncIO> io;
  ASSERT_EQ(group.As(IID_IOPCSyncIO, &io), S_OK);
  auto* states = reinterpret_cast<OPCITEMSTATE*>(1);
  auto* errors = reinterpret_cast<HRESULT*>(1);
  EXPECT_EQ(io->Read(OPC_DS_DEVICE, 1, &handle, &states, &errors), E_FAIL);
  EXPECT_EQ(states, nullptr);
  EXPECT_EQ(errors, nullptr);
}

TEST_F(FaultTest, AServerWithoutOptionalInterfacesIsReportedSo) {
  script_->Set(Fault::NoOptionalInterfaces);
  auto server = Connect();
  for (const IID* iid : {&IID_IPersistFile, &IID_IEnumUnknown, &IID_IOPCServerPublicGroups,
                         &IID_IOPCBrowseServerAddressSpace, &IID_IOPCItemProperties}) {
    ComPtr<IUnknown> p;
    EXPECT_EQ(server->QueryInterface(*iid, p.ReceiveVoid()), E_NOINTERFACE) << FormatGuid(*iid);
  }
}

}  // namespace
}  // namespace tagwell::testing
