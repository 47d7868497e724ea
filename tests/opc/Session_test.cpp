// One scripted session against the fault-scripted server, its Logfile.txt
// compared byte for byte with the golden file.

#include "opc/Log.h"
#include "tests/opc/OpsFixture.h"

namespace tagwell::testing {
namespace {

class SessionTest : public OpsTest {
 protected:
  // The Add Item command's own line after each addition.
  void AddAndCount(const std::string& itemId) {
    Add(itemId);
    LogItemCount(client, window.itemNames.GetCount());
  }
  // The Remove Item command's own line after each removal.
  void RemoveAndCount(int k) {
    RemoveRow(k);
    LogItemRemoved(client, client.state.szReadItemName.view(), window.itemNames.GetCount());
  }
};

TEST_F(SessionTest, LogfileOfAScriptedSession) {
  Connect(kTestServerProgId);
  AddAndCount("OPC.ConnectionMonitor");
  AddAndCount("Boiler.Setpoint");
  AddAndCount("Boiler.NoSuchItem");
  script->SetTargetItem("Boiler.Setpoint");
  script->Set(Fault::ReadFails);
  ReadRow(1);
  RemoveAndCount(1);
  script->DropConnectionAt(Call::RemoveItems);
  RemoveAndCount(0);
  client.state.connected = 0;
  Write(0, "1");
  EXPECT_EQ(Log(), ReadFile(std::string(TAGWELL_TESTDATA) + "/log/session.txt"));
}

}  // namespace
}  // namespace tagwell::testing
