// The operations through the rpc proxies against a real tagwell-server,
// started by activation from its registration in the build tree. The
// server's socket and the user's registrations live in temporary folders.

#include <chrono>

#include "platform/registry/Registry.h"
#include "rpc/Activation.h"
#include "tests/opc/OpsFixture.h"

namespace tagwell::testing {
namespace {

using namespace std::chrono_literals;

class RpcTest : public OpsTest {
 protected:
  RpcTest() {
    // Folders the registry looks at are taken anew from the environment.
    registry::SetInstalledServerFolders({});
  }
  ~RpcTest() override { Disconnect(); }

  // The Connect command on the remote path with no computer: the server
  // process of this machine.
  void ConnectToServerProcess() {
    ClientState& s = client.state;
    s.remoteMode = 1;
    s.szRemoteServerName = server::kSimulationProgId;
    s.wszRemoteServerName = AnsiToWide(server::kSimulationProgId);
    ConnectRemote(client);
  }

  ScopedEnvironment runtime_{"XDG_RUNTIME_DIR", dir.File("run")};
  ScopedEnvironment config_{"XDG_CONFIG_HOME", dir.File("config")};
  rpc::ScopedServerActivator activation_{rpc::ActivationOptions{5s, 20s}};
};

TEST_F(RpcTest, SessionThroughTheServerProcess) {
  ConnectToServerProcess();
  ASSERT_EQ(client.state.connected, 1) << ::testing::PrintToString(window.messages.Texts());
  const Lines info = window.serverInfo.Lines();
  ASSERT_GE(info.size(), 16u);
  EXPECT_EQ(info[1], "   Tagwell Simulation Server 8.4");
  EXPECT_EQ(Lines(info.begin() + 3, info.begin() + 9),
            (Lines{"", "Devices (or Groups) available on server: ", "", "Boiler", "Line1",
                   "Diagnostics"}));
  EXPECT_EQ(info.back(), "IOPCItemProperties -- Supported");

  AddCanonical("Diagnostics.Values.LargeUnsigned");
  AddCanonical("Diagnostics.Values.Text");
  AddCanonical("Line1.Recipe");
  AddCanonical("Diagnostics.Values.Double");
  AddCanonical("Boiler.NoSuchItem");
  EXPECT_EQ(window.values.Lines(), (Lines{"3000000000",
                                          "Gr\xC3\xBC\xC3\x9F"
                                          "e, 10 \xC2\xB0"
                                          "C",
                                          "[4] 1.5000 2.5000 3.7500 10.0000", "2.5000", ""}));
  ASSERT_FALSE(window.messages.shown.empty());
  EXPECT_EQ(window.messages.shown[0].text,
            "Error: OPC server refused item Boiler.NoSuchItem:\nThe item ID is not defined in the "
            "server's address space.");

  EXPECT_EQ(Write(3, "7.25"), 0);
  RemoveRow(1);
  EXPECT_EQ(ReadRow(2), 0);
  EXPECT_EQ(window.values.Line(2), "7.2500");
  EXPECT_EQ(client.table.rows[2].itemName, u"Diagnostics.Values.Double");
}

}  // namespace
}  // namespace tagwell::testing
