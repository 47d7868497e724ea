// Remote computers: a tagwell-server listening on loopback TCP, reached by
// naming the computer "host:port", over TLS with the server trusted on
// first use and the client authorized on the server.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform/com/Text.h"
#include "platform/opcda/OpcDa.h"
#include "platform/registry/Registry.h"
#include "rpc/Activation.h"
#include "rpc/Tls.h"
#include "rpc/Trust.h"
#include "server/Simulation.h"
#include "tests/rpc/RemoteFixture.h"
#include "tests/rpc/peer/OpcSession.h"

namespace tagwell::testing {
namespace {

using namespace com;
using namespace std::chrono_literals;

const std::u16string kClsid = Utf8ToUtf16(FormatGuid(server::CLSID_TagwellSimulation));

class RemoteTest : public RemoteFixture {
 protected:
  void SetUp() override {
    RemoteFixture::SetUp();
    Authorize({});
    prompt_.answers = {true};
  }
};

TEST_F(RemoteTest, AClientNamingHostAndPortReachesTheServerThere) {
  prompt_.answers = {true, true};
  for (const char* host : {"localhost", "127.0.0.1", "\\\\localhost"}) {
    OpcSession session;
    ASSERT_EQ(session.Connect(kClsid, Computer(host)), S_OK) << host << Log();
    OPCHANDLE monitor = 0;
    ASSERT_EQ(session.AddItem(u"OPC.ConnectionMonitor", &monitor), S_OK);
    Variant value;
    EXPECT_EQ(session.Read(monitor, &value), S_OK);
    EXPECT_EQ(value->vt, VT_I4);
  }
  // "127.0.0.1" is another name than "localhost"; "\\\\localhost" is not.
  EXPECT_EQ(prompt_.asked.size(), 2u);
}

TEST_F(RemoteTest, AProgIdUnknownOnThisComputerFailsAtClsidFromString) {
  OpcSession session;
  EXPECT_EQ(session.Connect(u"Tagwell.Simulation.1", Computer("localhost")), CO_E_CLASSSTRING);
}

TEST_F(RemoteTest, UnreachableComputersAndUnservedClassesFail) {
  for (const char* computer : {"localhost:1", "no-such-host.invalid", "localhost:99999", ":4135"}) {
    OpcSession session;
    EXPECT_EQ(session.Connect(kClsid, Utf8ToUtf16(computer)), RPC_S_SERVER_UNAVAILABLE) << computer;
  }
  OpcSession session;
  EXPECT_EQ(session.Connect(u"{5C1A7E90-2B3D-4F6A-8E1B-0D9C8B7A6F54}", Computer("localhost")),
            REGDB_E_CLASSNOTREG);
}

TEST_F(RemoteTest, TheFirstConnectionAsksYesIsRememberedNoCancels) {
  prompt_.answers = {false};
  OpcSession refused;
  EXPECT_EQ(refused.Connect(kClsid, Computer("localhost")), E_ACCESSDENIED);
  ASSERT_EQ(prompt_.asked.size(), 1u);
  const std::string fingerprint = ServerFingerprint();
  ASSERT_FALSE(fingerprint.empty());
  EXPECT_NE(prompt_.asked[0].find(fingerprint), std::string::npos) << prompt_.asked[0];
  EXPECT_FALSE(FileExists(rpc::KnownServersPath()));

  prompt_.answers = {true};
  OpcSession first;
  ASSERT_EQ(first.Connect(kClsid, Computer("localhost")), S_OK) << Log();
  EXPECT_EQ(prompt_.asked.size(), 2u);
  EXPECT_EQ(rpc::KnownServerFingerprint(rpc::KnownServersPath(), "localhost:" + Port()),
            fingerprint);

  OpcSession second;
  ASSERT_EQ(second.Connect(kClsid, Computer("localhost")), S_OK) << Log();
  EXPECT_EQ(prompt_.asked.size(), 2u) << "a known server is not asked about again";
  EXPECT_TRUE(prompt_.told.empty());
}

TEST_F(RemoteTest, AServerWhoseKeyChangedIsRefusedWithoutAQuestion) {
  {
    OpcSession session;
    ASSERT_EQ(session.Connect(kClsid, Computer("localhost")), S_OK) << Log();
  }
  const std::string old = ServerFingerprint();
  const std::string port = Port();
  StopServer();
  ASSERT_EQ(::unlink(rpc::ServerIdentityPath().c_str()), 0);
  StartServer({"--listen", port});
  ASSERT_EQ(Port(), port) << Log();
  const std::string now = ServerFingerprint();
  ASSERT_NE(now, old);

  OpcSession session;
  EXPECT_EQ(session.Connect(kClsid, Computer("localhost")), E_ACCESSDENIED);
  EXPECT_EQ(prompt_.asked.size(), 1u) << "nothing is asked";
  ASSERT_EQ(prompt_.told.size(), 1u);
  for (const std::string& part : {old, now, rpc::KnownServersPath(), "localhost:" + port})
    EXPECT_NE(prompt_.told[0].find(part), std::string::npos) << part << "\n" << prompt_.told[0];
}

// What a reconnection does after the server came back: create the object
// again the way the last Connect did.
TEST_F(RemoteTest, AServerBackWithItsKeyIsConnectedAgainWithoutAQuestion) {
  OpcSession session;
  ASSERT_EQ(session.Connect(kClsid, Computer("localhost")), S_OK) << Log();
  const std::string port = Port();
  StopServer();
  OPCHANDLE monitor = 0;
  EXPECT_TRUE(FAILED(session.AddItem(u"OPC.ConnectionMonitor", &monitor)));
  StartServer({"--listen", port});
  ASSERT_EQ(Port(), port) << Log();
  OpcSession again;
  ASSERT_EQ(again.Connect(kClsid, Computer("localhost")), S_OK) << Log();
  EXPECT_EQ(again.AddItem(u"OPC.ConnectionMonitor", &monitor), S_OK);
  EXPECT_EQ(prompt_.asked.size(), 1u);
  EXPECT_TRUE(prompt_.told.empty());
}

TEST_F(RemoteTest, AnUnauthorizedClientIsRefusedAndTheServerLogsItsFingerprint) {
  ASSERT_EQ(::unlink(rpc::AuthorizedClientsPath().c_str()), 0);
  OpcSession session;
  EXPECT_EQ(session.Connect(kClsid, Computer("localhost")), E_ACCESSDENIED);
  const std::string client = ClientFingerprint();
  ASSERT_EQ(prompt_.told.size(), 1u);
  EXPECT_NE(prompt_.told[0].find("tagwell-server --authorize " + client), std::string::npos)
      << prompt_.told[0];
  EXPECT_TRUE(WaitUntil([&] { return Log().find("refused the client") != std::string::npos; }));
  EXPECT_NE(Log().find("tagwell-server --authorize " + client), std::string::npos) << Log();

  // What the server logged is all it takes to let the client in.
  Authorize({});
  OpcSession again;
  EXPECT_EQ(again.Connect(kClsid, Computer("localhost")), S_OK) << Log();
}

// Who refuses counts first: on first contact the operator is asked about
// the server's fingerprint before being told that it does not let this
// computer in, and a server not trusted is not listened to. A line of
// known-servers that cannot be read refuses the connection, naming it,
// instead of asking again as at first contact. Every refusal is a line for
// the client's log.
TEST_F(RemoteTest, TheServerIsJudgedBeforeItsRefusalIsShown) {
  ASSERT_EQ(::unlink(rpc::AuthorizedClientsPath().c_str()), 0);
  const std::string key = "localhost:" + Port();
  prompt_.answers = {false};
  OpcSession untrusted;
  EXPECT_EQ(untrusted.Connect(kClsid, Computer("localhost")), E_ACCESSDENIED);
  ASSERT_EQ(prompt_.asked.size(), 1u);
  EXPECT_NE(prompt_.asked[0].find(ServerFingerprint()), std::string::npos) << prompt_.asked[0];
  EXPECT_TRUE(prompt_.told.empty()) << prompt_.told[0];

  prompt_.answers = {true};
  OpcSession trusted;
  EXPECT_EQ(trusted.Connect(kClsid, Computer("localhost")), E_ACCESSDENIED);
  EXPECT_EQ(prompt_.asked.size(), 2u);
  ASSERT_EQ(prompt_.told.size(), 1u);
  EXPECT_NE(prompt_.told[0].find("does not let this computer in"), std::string::npos);
  EXPECT_EQ(rpc::KnownServerFingerprint(rpc::KnownServersPath(), key), ServerFingerprint());
  ASSERT_EQ(prompt_.refused.size(), 2u);
  EXPECT_NE(prompt_.refused[0].find("the operator said No"), std::string::npos);
  EXPECT_NE(prompt_.refused[1].find(ClientFingerprint() + " is not authorized"), std::string::npos);

  WriteFile(rpc::KnownServersPath(),
            "# pinned\n" + key + " " + ServerFingerprint().substr(0, 20) + "\n");
  OpcSession broken;
  EXPECT_EQ(broken.Connect(kClsid, Computer("localhost")), E_ACCESSDENIED);
  EXPECT_EQ(prompt_.asked.size(), 2u) << "a pinned server is not asked about again";
  ASSERT_EQ(prompt_.told.size(), 2u);
  EXPECT_NE(prompt_.told[1].find(rpc::KnownServersPath() + ":2:"), std::string::npos)
      << prompt_.told[1];
  EXPECT_EQ(prompt_.refused.size(), 3u);
}

TEST_F(RemoteTest, AReadOnlyClientReadsButEveryWriteIsRefused) {
  Authorize({"--read-only"});
  OpcSession session;
  ASSERT_EQ(session.Connect(kClsid, Computer("localhost")), S_OK) << Log();
  OPCHANDLE setpoint = 0;
  ASSERT_EQ(session.AddItem(u"Boiler.Setpoint", &setpoint), S_OK);
  Variant before;
  ASSERT_EQ(session.Read(setpoint, &before), S_OK);
  Variant value;
  value->vt = VT_R8;
  value->dblVal = before->dblVal + 1;
  EXPECT_EQ(session.Write(setpoint, *value.get()), OPC_E_BADRIGHTS);
  Variant after;
  ASSERT_EQ(session.Read(setpoint, &after), S_OK);
  EXPECT_EQ(after->dblVal, before->dblVal);
  EXPECT_NE(Log().find(", read only"), std::string::npos) << Log();
}

TEST_F(RemoteTest, AllowAnyClientLetsAnUnlistedClientInAndWarns) {
  ASSERT_EQ(::unlink(rpc::AuthorizedClientsPath().c_str()), 0);
  StopServer();
  StartServer({"--listen", "0", "--allow-any-client"});
  EXPECT_NE(Log().find("warning: --allow-any-client"), std::string::npos) << Log();
  OpcSession session;
  ASSERT_EQ(session.Connect(kClsid, Computer("localhost")), S_OK) << Log();
  OPCHANDLE setpoint = 0;
  ASSERT_EQ(session.AddItem(u"Boiler.Setpoint", &setpoint), S_OK);
  Variant value;
  value->vt = VT_R8;
  value->dblVal = 60;
  EXPECT_EQ(session.Write(setpoint, *value.get()), S_OK);
}

}  // namespace
}  // namespace tagwell::testing
