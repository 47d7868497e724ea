// Activation of real tagwell-server processes: the first client starts the
// server, further clients (also in other processes) share it, a server that
// dies fails the next call and can be started again, and a server started
// by activation goes away after its last client.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include "platform/registry/Registry.h"
#include "rpc/Activation.h"
#include "rpc/Launch.h"
#include "server/Simulation.h"
#include "tests/rpc/RpcTestSupport.h"
#include "tests/rpc/peer/OpcSession.h"

namespace tagwell::testing {
namespace {

using namespace com;
using namespace std::chrono_literals;

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::mkdir(registryFolder_.c_str(), 0700), 0);
    registry::SetInstalledServerFolders({registryFolder_});
    WriteSimulationRegistration(
        registryFolder_, ServerProgram() + " --embedding --idle-exit 1 --endpoint unix:" + socket_,
        "unix:" + socket_);
  }
  void TearDown() override {
    registry::SetInstalledServerFolders({});
    // Whatever this test started goes with its last client (and takes its
    // socket with it; probing the socket would keep it busy).
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(socket_); }));
  }

  // The peer program against the same registration.
  std::string Peer(const std::vector<std::string>& arguments, int* status) {
    std::vector<std::string> all = {registryFolder_};
    all.insert(all.end(), arguments.begin(), arguments.end());
    ChildProcess peer(PeerProgram(), all, dir_.path());
    *status = peer.Wait(30s);
    EXPECT_EQ(*status, 0) << peer.Stderr();
    return peer.Stdout();
  }

  TempDir dir_;
  std::string registryFolder_ = dir_.File("servers");
  std::string socket_ = dir_.File("run/sim.sock");  // run/ does not exist: activation makes it
  rpc::ScopedServerActivator activation_{rpc::ActivationOptions{30s, 20s}};
};

TEST_F(ProcessTest, TheFirstClientStartsTheServerAndOtherProcessesShareItsValues) {
  ASSERT_LT(EndpointPid(socket_), 0);
  OpcSession first;
  ASSERT_EQ(first.Connect(u"Tagwell.Simulation.1"), S_OK);
  pid_t server = EndpointPid(socket_);
  ASSERT_GT(server, 0);
  EXPECT_NE(server, ::getpid());

  OPCHANDLE monitor = 0;
  ASSERT_EQ(first.AddItem(u"OPC.ConnectionMonitor", &monitor), S_OK);
  Variant value;
  value->vt = VT_I4;
  value->lVal = 4711;
  ASSERT_EQ(first.Write(monitor, *value.get()), S_OK);

  int status = 0;
  EXPECT_EQ(Peer({"read", "OPC.ConnectionMonitor"}, &status), "4711\n");
  Peer({"write", "OPC.ConnectionMonitor", "815"}, &status);
  Variant read;
  ASSERT_EQ(first.Read(monitor, &read), S_OK);
  EXPECT_EQ(read->vt, VT_I4);
  EXPECT_EQ(read->lVal, 815);
  EXPECT_EQ(EndpointPid(socket_), server) << "one server process for every client";

  // Each creation is a server object of its own, with its own groups.
  OpcSession second;
  ASSERT_EQ(second.Connect(u"Tagwell.Simulation.1"), S_OK);
  for (OpcSession* session : {&first, &second}) {
    OPCHANDLE group = 0;
    DWORD rate = 0;
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(session->server()->AddGroup(u"Shared name", FALSE, 1000, 0, nullptr, nullptr, 0,
                                          &group, &rate, IID_IOPCItemMgt, unknown.Receive()),
              S_OK);
  }
}

TEST_F(ProcessTest, ActivationAnswersEachInterfaceAskedFor) {
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromString(u"Tagwell.Simulation.1", &clsid), S_OK);
  MULTI_QI queries[] = {{&IID_IOPCServer, nullptr, E_FAIL},
                        {&IID_IOPCSyncIO, nullptr, E_FAIL},
                        {&IID_IOPCBrowseServerAddressSpace, nullptr, E_FAIL}};
  // The client's own context: in-process, local and remote together.
  ASSERT_EQ(CoCreateInstanceEx(clsid, nullptr, CLSCTX_SERVER, nullptr, 3, queries),
            CO_S_NOTALLINTERFACES);
  EXPECT_EQ(queries[0].hr, S_OK);
  EXPECT_EQ(queries[1].hr, E_NOINTERFACE);
  EXPECT_EQ(queries[1].pItf, nullptr);
  EXPECT_EQ(queries[2].hr, S_OK);
  queries[0].pItf->Release();
  queries[2].pItf->Release();
}

TEST_F(ProcessTest, AKilledServerFailsTheNextCallAndActivationStartsANewOne) {
  OpcSession session;
  ASSERT_EQ(session.Connect(u"Tagwell.Simulation.1"), S_OK);
  OPCHANDLE monitor = 0;
  ASSERT_EQ(session.AddItem(u"OPC.ConnectionMonitor", &monitor), S_OK);
  pid_t server = EndpointPid(socket_);
  ASSERT_GT(server, 0);
  ASSERT_EQ(::kill(server, SIGKILL), 0);
  ASSERT_TRUE(WaitUntil([&] { return !rpc::ProcessRuns(server); }));

  Variant value;
  // At once, not after the 30 s deadline: the connection is known broken.
  EXPECT_EQ(session.Read(monitor, &value), RPC_E_DISCONNECTED);
  OPCSERVERSTATUS* status = nullptr;
  EXPECT_EQ(session.server()->GetStatus(&status), RPC_E_DISCONNECTED);
  EXPECT_EQ(status, nullptr);
  session.Release();

  // The killed server left its socket file behind; the next one replaces it.
  OpcSession again;
  ASSERT_EQ(again.Connect(u"Tagwell.Simulation.1"), S_OK);
  pid_t restarted = EndpointPid(socket_);
  EXPECT_GT(restarted, 0);
  EXPECT_NE(restarted, server);
}

TEST_F(ProcessTest, AServerStartedByActivationExitsAfterItsLastClient) {
  OpcSession session;
  ASSERT_EQ(session.Connect(u"Tagwell.Simulation.1"), S_OK);
  pid_t server = EndpointPid(socket_);
  ASSERT_GT(server, 0);
  OpcSession other;
  ASSERT_EQ(other.Connect(u"Tagwell.Simulation.1"), S_OK);
  session.Release();
  // One client is left: the server stays (its idle time is 1 s).
  OPCSERVERSTATUS* status = nullptr;
  ASSERT_EQ(other.server()->GetStatus(&status), S_OK);
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
  other.Release();
  EXPECT_TRUE(WaitUntil([&] { return !rpc::ProcessRuns(server); }));
  EXPECT_FALSE(FileExists(socket_));
}

TEST_F(ProcessTest, TheSocketFolderIsMadePrivate) {
  OpcSession session;
  ASSERT_EQ(session.Connect(u"Tagwell.Simulation.1"), S_OK);
  struct stat info {};
  ASSERT_EQ(::stat(dir_.File("run").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace tagwell::testing
