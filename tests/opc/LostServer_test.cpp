// A server that goes away: every call then fails with RPC_E_DISCONNECTED,
// and each operation reports its own failure without crashing.

#include "tests/opc/OpsFixture.h"

namespace tagwell::testing {
namespace {

class LostServerTest : public OpsTest {};

TEST_F(LostServerTest, ConnectGoesOnWhenTheServerIsLostAtItsStatus) {
  script->DropConnectionAt(Call::GetStatus);
  Connect(kTestServerProgId);
  EXPECT_EQ(client.state.connected, 1);
  EXPECT_EQ(window.messages.Texts(), Lines{"Error: failed to add Group "});
  // The walk gave up at its first call.
  EXPECT_LE(script->CallCount(Call::Browse), 1);
  EXPECT_EQ(window.serverInfo.Line(0), "");
  EXPECT_EQ(window.serverInfo.Line(1), "Interfaces implemented on OPC Server:");
}

TEST_F(LostServerTest, EveryOperationReportsItsOwnFailure) {
  Connect(kTestServerProgId);
  Add("OPC.ConnectionMonitor");
  Add("Diagnostics.Values.Long");
  client.state.isActive = 1;
  script->DropConnectionNow();

  EXPECT_EQ(ReadRow(1), 1);
  EXPECT_EQ(Write(1, "5"), 1);
  EXPECT_EQ(WriteConnectionMonitor(client, client.state.ptrIOPCItemMgt, 0, nullptr), 1);
  EXPECT_EQ(Add("Boiler.Temperature"), 1);
  RemoveRow(1);
  EXPECT_EQ(window.messages.Texts(),
            (Lines{"Error reading item number 2.\nProbably doesn't exist or deleted from Server.",
                   "Error writing data of item Diagnostics.Values.Long!\nProbaly read-only.",
                   "Error writing OPC.ConnectionMonitor value.", "Error: failed to add  Item",
                   "Error reading item's data"}));
  EXPECT_EQ(client.state.monitorError, 1);
  EXPECT_NE(Log().find("*** Error: failed to remove Item: 2."), std::string::npos);
}

}  // namespace
}  // namespace tagwell::testing
