// Remote computers: a tagwell-server listening on loopback TCP, reached by
// naming the computer "host:port".
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform/com/Text.h"
#include "platform/opcda/OpcDa.h"
#include "platform/registry/Registry.h"
#include "rpc/Activation.h"
#include "server/Simulation.h"
#include "tests/rpc/RpcTestSupport.h"
#include "tests/rpc/peer/OpcSession.h"

namespace tagwell::testing {
namespace {

using namespace com;
using namespace std::chrono_literals;

class RemoteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Nothing registered on this computer.
    ASSERT_EQ(::mkdir(dir_.File("servers").c_str(), 0700), 0);
    registry::SetInstalledServerFolders({dir_.File("servers")});
    ASSERT_GT(server_.pid(), 0);
    ASSERT_TRUE(WaitUntil([&] { return Port() != 0; })) << server_.Stderr();
  }
  void TearDown() override {
    registry::SetInstalledServerFolders({});
    server_.Signal(SIGTERM);
    EXPECT_EQ(server_.Wait(), 0) << server_.Stderr();
  }

  // The port the server logged it listens on.
  unsigned Port() const {
    std::string log = server_.Stderr();
    const std::string marker = "serving remote clients on 127.0.0.1 port ";
    auto at = log.find(marker);
    return at == std::string::npos ? 0 : std::atoi(log.c_str() + at + marker.size());
  }
  std::u16string Computer(const std::string& host) const {
    return Utf8ToUtf16(host + ":" + std::to_string(Port()));
  }

  TempDir dir_;
  ChildProcess server_{ServerProgram(),
                       {"--endpoint", "unix:" + dir_.File("run/sim.sock"), "--listen", "0"},
                       dir_.path()};
  rpc::ScopedServerActivator activation_{rpc::ActivationOptions{5s, 5s}};
};

TEST_F(RemoteTest, AClientNamingHostAndPortReachesTheServerThere) {
  const std::u16string clsid = Utf8ToUtf16(FormatGuid(server::CLSID_TagwellSimulation));
  for (const char* host : {"localhost", "127.0.0.1", "\\\\localhost"}) {
    OpcSession session;
    ASSERT_EQ(session.Connect(clsid, Computer(host)), S_OK) << host;
    OPCHANDLE monitor = 0;
    ASSERT_EQ(session.AddItem(u"OPC.ConnectionMonitor", &monitor), S_OK);
    Variant value;
    EXPECT_EQ(session.Read(monitor, &value), S_OK);
    EXPECT_EQ(value->vt, VT_I4);
  }
}

TEST_F(RemoteTest, AProgIdUnknownOnThisComputerFailsAtClsidFromString) {
  OpcSession session;
  EXPECT_EQ(session.Connect(u"Tagwell.Simulation.1", Computer("localhost")), CO_E_CLASSSTRING);
}

TEST_F(RemoteTest, UnreachableComputersAndUnservedClassesFail) {
  const std::u16string clsid = Utf8ToUtf16(FormatGuid(server::CLSID_TagwellSimulation));
  for (const char* computer : {"localhost:1", "no-such-host.invalid", "localhost:99999", ":4135"}) {
    OpcSession session;
    EXPECT_EQ(session.Connect(clsid, Utf8ToUtf16(computer)), RPC_S_SERVER_UNAVAILABLE) << computer;
  }
  OpcSession session;
  EXPECT_EQ(session.Connect(u"{5C1A7E90-2B3D-4F6A-8E1B-0D9C8B7A6F54}", Computer("localhost")),
            REGDB_E_CLASSNOTREG);
}

}  // namespace
}  // namespace tagwell::testing
