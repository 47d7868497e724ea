// Proxies and stubs over a real socket: values, identity, lifetimes,
// deadlines, broken connections and thread rules.
#include <gtest/gtest.h>

#include <thread>

#include "rpc/Client.h"
#include "rpc/Errors.h"
#include "rpc/ServerThread.h"
#include "tests/rpc/EchoObject.h"
#include "tests/support/TempDir.h"

namespace tagwell::testing {
namespace {

using namespace com;
using namespace std::chrono_literals;

class TransportTest : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = TaskMemOutstanding(); }
  void TearDown() override {
    control_->ReleaseHold();
    // The server objects hold what was written until their release arrives.
    EXPECT_TRUE(WaitUntil([&] { return control_->live == 0; }));
    EXPECT_EQ(TaskMemOutstanding(), baseline_) << "task memory leaked";
  }

  ComPtr<IOPCSyncIO> Connect(std::chrono::milliseconds timeout = 10s) {
    ComPtr<IOPCSyncIO> io;
    rpc::ClientOptions options;
    options.callTimeout = timeout;
    EXPECT_EQ(rpc::CreateObjectOverSocket(server_.ConnectPair(), CLSID_Echo, IID_IOPCSyncIO,
                                          io.ReceiveVoid(), options),
              S_OK);
    return io;
  }

  static HRESULT WriteOne(IOPCSyncIO* io, OPCHANDLE handle, VARIANT* value) {
    HRESULT* errors = nullptr;
    HRESULT hr = io->Write(1, &handle, value, &errors);
    CoTaskMemFree(errors);
    return hr;
  }

  // Reads one value into *value (the caller's to clear).
  static HRESULT ReadOne(IOPCSyncIO* io, OPCHANDLE handle, Variant* value) {
    OPCITEMSTATE* states = nullptr;
    HRESULT* errors = nullptr;
    HRESULT hr = io->Read(OPC_DS_DEVICE, 1, &handle, &states, &errors);
    if (states) *value = Variant::Adopt(&states[0].vDataValue);
    CoTaskMemFree(states);
    CoTaskMemFree(errors);
    return hr;
  }

  std::shared_ptr<EchoControl> control_ = std::make_shared<EchoControl>();
  rpc::ServerThread server_{EchoFactory(control_)};
  std::size_t baseline_ = 0;
};

TEST_F(TransportTest, ValuesComeBackAsTheyWereWritten) {
  auto io = Connect();
  Variant text;
  text->vt = VT_BSTR;
  text->bstrVal = SysAllocStringUtf8("Kessel 3 \xE2\x80\x93 Vorlauf");
  Variant array;
  array->vt = VT_ARRAY | VT_BSTR;
  array->parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
  static_cast<BSTR*>(array->parray->pvData)[1] = SysAllocString(u"closed");
  Variant big;
  big->vt = VT_UI4;
  big->ulVal = 0xFFFFFFF0u;

  OPCHANDLE handles[] = {1, 2, 3};
  VARIANT values[] = {*text.get(), *array.get(), *big.get()};
  HRESULT* errors = nullptr;
  ASSERT_EQ(io->Write(3, handles, values, &errors), S_OK);
  CoTaskMemFree(errors);

  OPCITEMSTATE* states = nullptr;
  OPCHANDLE withUnknown[] = {3, 1, 99, 2};
  ASSERT_EQ(io->Read(OPC_DS_DEVICE, 4, withUnknown, &states, &errors), S_FALSE);
  EXPECT_EQ(states[0].vDataValue.ulVal, 0xFFFFFFF0u);
  EXPECT_EQ(BstrView(states[1].vDataValue.bstrVal), BstrView(text->bstrVal));
  EXPECT_EQ(states[1].ftTimeStamp.dwLowDateTime, 1u);
  EXPECT_EQ(states[1].ftTimeStamp.dwHighDateTime, 0x01CB0000u);
  EXPECT_EQ(states[1].wQuality, OPC_QUALITY_GOOD);
  EXPECT_EQ(errors[2], OPC_E_INVALIDHANDLE);
  EXPECT_EQ(states[2].vDataValue.vt, VT_EMPTY);
  auto* strings = static_cast<BSTR*>(states[3].vDataValue.parray->pvData);
  EXPECT_EQ(strings[0], nullptr);
  EXPECT_EQ(BstrView(strings[1]), u"closed");
  // The client frees what the proxy hands out the COM way.
  for (int i = 0; i < 4; ++i) VariantClear(&states[i].vDataValue);
  CoTaskMemFree(states);
  CoTaskMemFree(errors);
}

TEST_F(TransportTest, AValueThatCannotTravelFailsBeforeAnythingIsSent) {
  auto io = Connect();
  LONG target = 1;
  VARIANT byRef;
  VariantInit(&byRef);
  byRef.vt = VT_BYREF | VT_I4;
  byRef.pvarVal = reinterpret_cast<VARIANT*>(&target);
  EXPECT_EQ(WriteOne(io.Get(), 1, &byRef), DISP_E_BADVARTYPE);
  EXPECT_EQ(control_->writes, 0);
}

TEST_F(TransportTest, QueryInterfaceAnswersWhatTheObjectAnswersWithOneIdentity) {
  auto io = Connect();
  ComPtr<IOPCServer> server;
  EXPECT_EQ(io.As(IID_IOPCServer, &server), E_NOINTERFACE);
  EXPECT_FALSE(server);
  ComPtr<IOPCBrowseServerAddressSpace> browse;
  EXPECT_EQ(io.As(IID_IOPCBrowseServerAddressSpace, &browse), E_NOINTERFACE);

  ComPtr<IUnknown> identity;
  ASSERT_EQ(io.As(IID_IUnknown, &identity), S_OK);
  ComPtr<IOPCSyncIO> again;
  ASSERT_EQ(identity.As(IID_IOPCSyncIO, &again), S_OK);
  EXPECT_EQ(again.Get(), io.Get());
  ComPtr<IUnknown> identityAgain;
  ASSERT_EQ(again.As(IID_IUnknown, &identityAgain), S_OK);
  EXPECT_EQ(identityAgain.Get(), identity.Get());
}

TEST_F(TransportTest, TheLastReleaseReleasesTheServerObjectAndClosesTheConnection) {
  auto first = Connect();
  auto second = Connect();
  ASSERT_TRUE(WaitUntil([&] { return control_->live == 2; }));
  ComPtr<IUnknown> extra;
  first.As(IID_IUnknown, &extra);
  first.Reset();
  // Still referenced through extra: nothing goes away yet.
  Variant value;
  EXPECT_EQ(ReadOne(second.Get(), 7, &value), S_FALSE);
  EXPECT_EQ(control_->live, 2);
  extra.Reset();
  EXPECT_TRUE(WaitUntil([&] { return control_->live == 1 && server_.ConnectionCount() == 1; }));
  second.Reset();
  EXPECT_TRUE(WaitUntil([&] { return control_->live == 0 && server_.ConnectionCount() == 0; }));
}

TEST_F(TransportTest, ACallPastTheDeadlineTimesOutAndTheConnectionRecovers) {
  auto io = Connect(150ms);
  Variant value;
  value->vt = VT_I4;
  value->lVal = 42;
  ASSERT_EQ(WriteOne(io.Get(), 1, value.get()), S_OK);
  control_->HoldReads();
  Variant read;
  EXPECT_EQ(ReadOne(io.Get(), 1, &read), RPC_E_TIMEOUT);
  EXPECT_EQ(read->vt, VT_EMPTY);
  control_->ReleaseHold();
  EXPECT_EQ(ReadOne(io.Get(), 1, &read), S_OK);
  EXPECT_EQ(read->lVal, 42);
}

TEST_F(TransportTest, ABrokenConnectionFailsThisAndEveryLaterCallAndFreesTheServerSide) {
  auto io = Connect();
  auto other = Connect();
  ASSERT_TRUE(WaitUntil([&] { return control_->live == 2; }));
  server_.DropConnections();
  Variant value;
  EXPECT_EQ(ReadOne(io.Get(), 1, &value), RPC_E_DISCONNECTED);
  EXPECT_EQ(ReadOne(io.Get(), 1, &value), RPC_E_DISCONNECTED);
  EXPECT_EQ(WriteOne(other.Get(), 1, value.get()), RPC_E_DISCONNECTED);
  EXPECT_TRUE(WaitUntil([&] { return control_->live == 0; }));
  // Releasing proxies of a dead connection is harmless.
  io.Reset();
  other.Reset();
  // And the server takes new clients.
  auto fresh = Connect();
  EXPECT_EQ(ReadOne(fresh.Get(), 1, &value), S_FALSE);
}

TEST_F(TransportTest, ProxiesServeOnlyTheThreadThatMadeThem) {
  auto io = Connect();
  auto kept = Connect();
  ASSERT_TRUE(WaitUntil([&] { return control_->live == 2; }));
  HRESULT fromElsewhere = S_OK;
  std::thread([&] {
    Variant value;
    fromElsewhere = ReadOne(io.Get(), 1, &value);
    // The last release on a foreign thread is handed to the owner thread.
    io.Reset();
  }).join();
  EXPECT_EQ(fromElsewhere, rpc::RPC_E_WRONG_THREAD);
  Variant value;
  EXPECT_EQ(ReadOne(kept.Get(), 1, &value), S_FALSE);  // the owner thread's next call
  EXPECT_TRUE(WaitUntil([&] { return control_->live == 1; }));
}

TEST_F(TransportTest, CreationFailuresComeBackAsTheServerGaveThem) {
  ComPtr<IUnknown> object;
  EXPECT_EQ(rpc::CreateObjectOverSocket(server_.ConnectPair(), GUID_NULL, IID_IUnknown,
                                        object.ReceiveVoid()),
            REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(object);
  ComPtr<IOPCServer> server;
  EXPECT_EQ(rpc::CreateObjectOverSocket(server_.ConnectPair(), CLSID_Echo, IID_IOPCServer,
                                        server.ReceiveVoid()),
            E_NOINTERFACE);
  TempDir dir;
  EXPECT_EQ(rpc::CreateObjectAt("unix:" + dir.File("nobody.sock"), CLSID_Echo, IID_IUnknown,
                                object.ReceiveVoid()),
            RPC_S_SERVER_UNAVAILABLE);
  EXPECT_TRUE(WaitUntil([&] { return control_->live == 0; }));
}

TEST_F(TransportTest, ServesAUnixSocket) {
  TempDir dir;
  std::string path = dir.File("echo.sock");
  ASSERT_TRUE(server_.ListenUnix(path));
  ComPtr<IOPCSyncIO> io;
  ASSERT_EQ(rpc::CreateObjectAt("unix:" + path, CLSID_Echo, IID_IOPCSyncIO, io.ReceiveVoid()),
            S_OK);
  Variant value;
  value->vt = VT_R8;
  value->dblVal = 2.5;
  EXPECT_EQ(WriteOne(io.Get(), 4, value.get()), S_OK);
}

}  // namespace
}  // namespace tagwell::testing
