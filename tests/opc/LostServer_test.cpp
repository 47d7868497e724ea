// A server that goes away: every call then fails with RPC_E_DISCONNECTED,
// and each operation reports its own failure without crashing.

#include <atomic>
#include <functional>
#include <future>
#include <thread>

#include "opc/Reconnect.h"
#include "tests/opc/OpsFixture.h"

namespace tagwell::testing {
namespace {

class LostServerTest : public OpsTest {};

// Polls check for at most 5 s.
bool WaitFor(const std::function<bool()>& check) {
  for (int i = 0; i < 1000; ++i) {
    if (check()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

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

// An outage in the middle of a cycle: told once, every row Bad, nothing
// recorded, the writes refused quietly; then the server comes back and
// every row's item is added again with new handles.
TEST_F(LostServerTest, OutageIsToldOnceAndTheConnectionComesBackWithNewHandles) {
  Connect(kTestServerProgId);
  Add("OPC.ConnectionMonitor");
  Add("Diagnostics.Values.Long");
  RemoveRow(1);  // the old handles of the rows below now differ from a new group's
  Add("Boiler.Setpoint");
  Add("Line1.Speed");
  ClientState& s = client.state;
  s.isActive = 1;
  s.databaseWriting = 1;
  window.messages.Clear();
  const int writes = DatabaseWrites();

  ReadRow(0);
  script->DropConnectionNow();
  for (int k : {1, 2, 0, 1}) EXPECT_EQ(ReadRow(k), 1);
  EXPECT_EQ(Write(1, "5"), 1);
  EXPECT_EQ(WriteConnectionMonitor(client, s.ptrIOPCItemMgt, 0, nullptr), 1);
  EXPECT_EQ(window.messages.Texts(),
            Lines{"Error: the connection to OPC server Tagwell.TestServer.1 is lost:\nthe "
                  "connection was broken (0x80010108).\nTagwell connects again by itself every "
                  "5 seconds."});
  EXPECT_EQ(window.qualities.Lines(), Lines(3, "Bad - communication error"));
  EXPECT_EQ(DatabaseWrites(), writes + 1) << "only the reading before the outage";
  EXPECT_EQ(s.monitorError, 0);
  EXPECT_EQ(s.ptrIOPCItemMgt, nullptr);
  const std::string lost = "*** Connection to OPC server Tagwell.TestServer.1 lost:";
  EXPECT_EQ(Log().find(lost), Log().rfind(lost));

  Reconnector reconnector(client, ProbeServer, false);
  const auto t0 = Reconnector::Clock::now();
  EXPECT_FALSE(reconnector.Poll(t0)) << "the server is still away";
  script->ComeBack();
  EXPECT_FALSE(reconnector.Poll(t0 + std::chrono::seconds(4))) << "at most every 5 seconds";
  script->Set(Fault::AddItemsRefuses);
  script->SetTargetItem("Line1.Speed");
  EXPECT_TRUE(reconnector.Poll(t0 + std::chrono::seconds(5)));
  script->ClearAll();
  EXPECT_EQ(s.serverLost, 0);
  EXPECT_EQ(window.qualities.Line(2), "Bad - configuration error in server");
  EXPECT_NE(Log().find("Connection to OPC server Tagwell.TestServer.1 restored: 2 of 3 items "
                       "added again.\n"),
            std::string::npos);
  EXPECT_EQ(window.messages.shown.size(), 1u);

  // A write reaches the item of its row, and readings are recorded again.
  EXPECT_EQ(Write(1, "77.5"), 0);
  EXPECT_DOUBLE_EQ(ServerValue("Boiler.Setpoint")->dblVal, 77.5);
  EXPECT_EQ(ReadRow(1), 0);
  EXPECT_EQ(window.values.Line(1), "77.5000");
  EXPECT_EQ(window.qualities.Line(1), "Good");
  EXPECT_EQ(DatabaseWrites(), writes + 2);
}

// A server that does not answer within the deadline counts as lost too; a
// Disconnect in the outage ends the attempts.
TEST_F(LostServerTest, ATimeOutIsAnOutageAndDisconnectEndsTheAttempts) {
  Connect(kTestServerProgId);
  Add("Boiler.Temperature");
  EXPECT_TRUE(MarkServerLost(client, com::RPC_E_TIMEOUT));
  EXPECT_FALSE(MarkServerLost(client, com::E_FAIL));
  EXPECT_NE(window.messages.Texts().back().find("did not answer within the call deadline"),
            std::string::npos);
  int probes = 0;
  Reconnector reconnector(
      client, [&](const ConnectTarget&) { return ++probes, com::RPC_S_SERVER_UNAVAILABLE; },
      false);
  EXPECT_FALSE(reconnector.Poll(Reconnector::Clock::now()));
  Disconnect();
  EXPECT_FALSE(reconnector.Poll(Reconnector::Clock::now() + std::chrono::minutes(1)));
  EXPECT_EQ(probes, 1);
}

// A server or computer that does not answer holds the probe's own thread,
// never the window's: Poll returns while the probe hangs and starts no
// second one meanwhile.
TEST_F(LostServerTest, AProbeThatDoesNotAnswerNeverHoldsTheWindow) {
  Connect(kTestServerProgId);
  Add("Boiler.Setpoint");
  MarkServerLost(client, com::RPC_E_TIMEOUT);
  std::promise<void> answer;
  std::shared_future<void> answered = answer.get_future().share();
  std::atomic<int> probes = 0;
  std::atomic<bool> done = false;
  Reconnector reconnector(
      client,
      [&, answered](const ConnectTarget& target) {
        ++probes;
        answered.wait();
        const HRESULT hr = ProbeServer(target);
        done = true;
        return hr;
      },
      true);
  const auto t0 = Reconnector::Clock::now();
  EXPECT_FALSE(reconnector.Poll(t0));
  EXPECT_FALSE(reconnector.Poll(t0 + std::chrono::seconds(30)));
  EXPECT_TRUE(WaitFor([&] { return probes == 1; }));
  script->ComeBack();
  answer.set_value();
  ASSERT_TRUE(WaitFor([&] { return done.load(); }));
  EXPECT_TRUE(WaitFor([&] { return reconnector.Poll(t0 + std::chrono::seconds(31)); }));
  EXPECT_EQ(client.state.serverLost, 0);
  EXPECT_EQ(probes, 1);
}

// The window's end waits for a probe still running: afterwards nothing of
// the probe runs on (it may reach the activation and its operator prompt,
// which go with the window).
TEST_F(LostServerTest, AReconnectorEndsOnlyAfterItsProbe) {
  Connect(kTestServerProgId);
  Add("Boiler.Setpoint");
  MarkServerLost(client, com::RPC_E_TIMEOUT);
  std::atomic<bool> go = false, ended = false;
  auto reconnector = std::make_unique<Reconnector>(
      client,
      [&](const ConnectTarget&) {
        WaitFor([&] { return go.load(); });
        ended = true;
        return com::RPC_S_SERVER_UNAVAILABLE;
      },
      true);
  EXPECT_FALSE(reconnector->Poll(Reconnector::Clock::now()));
  go = true;
  reconnector.reset();
  EXPECT_TRUE(ended);
}

}  // namespace
}  // namespace tagwell::testing
