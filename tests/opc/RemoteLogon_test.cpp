// Connecting to a DCOM computer: the account dialog (asked once, asked again
// once after a refusal, never by a reconnection), where the account is
// kept, the ProgID resolved by that computer, and every refusal as one more
// box in the operator's words and one log line with its HRESULT.
#include "opc/RemoteLogon.h"

#include <sys/stat.h>

#include "opc/Reconnect.h"
#include "tests/opc/OpsFixture.h"

namespace tagwell::testing {
namespace {

const com::CLSID kRemoteClsid = {
    0x6E0C5A1D, 0x3B7F, 0x4C2E, {0x9A, 0x41, 0x2F, 0x8D, 0x7B, 0x1C, 0x9E, 0x53}};

// A DCOM computer in process: answers each activation with the next
// scripted result (S_OK once they run out: the simulation server), and
// records the account the activation would have logged on with.
class ScriptedComputer final : public com::ServerActivator {
 public:
  ScriptedComputer(std::shared_ptr<server::AddressSpace> space,
                   credentials::CredentialBook& accounts)
      : space_(std::move(space)), accounts_(accounts) {
    com::SetServerActivator(this);
  }
  ~ScriptedComputer() override { com::SetServerActivator(nullptr); }

  HRESULT Activate(com::REFCLSID clsid, const std::u16string& host, com::DWORD count,
                   com::MULTI_QI* results) override {
    HRESULT hr = Next();
    auto account = accounts_.InSession(Key(host));
    logons.push_back(account ? account->Describe() + ":" + account->password : "anonymous");
    if (com::SUCCEEDED(hr) && !(clsid == kRemoteClsid)) hr = com::REGDB_E_CLASSNOTREG;
    for (com::DWORD i = 0; i < count; ++i) {
      void* p = nullptr;
      results[i].hr =
          com::FAILED(hr) ? hr : server::CreateSimulationServer(space_, *results[i].pIID, &p);
      results[i].pItf = static_cast<com::IUnknown*>(p);
    }
    return hr;
  }
  HRESULT ClassOnComputer(const std::u16string&, const std::u16string& progId,
                          com::CLSID* clsid) override {
    if (progId != u"Plant.Simulation.1") return com::CO_E_CLASSSTRING;
    *clsid = kRemoteClsid;
    return com::S_OK;
  }
  HRESULT ServersOnComputer(const std::u16string&, std::vector<std::u16string>* progIds) override {
    HRESULT hr = Next();
    if (com::SUCCEEDED(hr)) *progIds = {u"Plant.Simulation.1", u"Plant.Boiler.2"};
    return hr;
  }

  std::vector<HRESULT> script;
  Lines logons;

 private:
  static std::string Key(const std::u16string& host) {
    com::ComputerAddress address;
    com::ParseComputerName(com::Utf16ToUtf8(host), &address, nullptr);
    return com::CredentialKey(address);
  }
  HRESULT Next() {
    if (script.empty()) return com::S_OK;
    HRESULT hr = script.front();
    script.erase(script.begin());
    return hr;
  }
  std::shared_ptr<server::AddressSpace> space_;
  credentials::CredentialBook& accounts_;
};

class RemoteLogonTest : public OpsTest {
 protected:
  RemoteLogonTest() { client.credentials = &accounts; }

  void ConnectTo(const char* computer, const char* serverName) {
    ClientState& s = client.state;
    s.remoteMode = 1;
    s.szRemoteServerName = serverName;
    FreeWide(s.wszRemoteServerName);
    s.wszRemoteServerName = AnsiToWide(serverName);
    LocalInit(client);
    s.szComputerName = computer;
    FreeWide(s.wszComputerName);
    s.wszComputerName = AnsiToWide(computer);
    ConnectRemote(client);
  }
  void Answer(const char* user, const char* password, bool remember) {
    window.credentials.answers.push_back({{user, "PLANT", password}, remember});
  }
  std::string StoreFile() const { return dir.File("config/tagwell/credentials"); }

  credentials::FileCredentialStore store{dir.File("config/tagwell/credentials")};
  credentials::CredentialBook accounts{&store};
  ScriptedComputer computer{space, accounts};
};

TEST_F(RemoteLogonTest, AsksOnceRemembersAfterSuccessAndReconnectsWithoutAsking) {
  Answer("op", "wrong", true);
  Answer("op", "s3cret!", true);
  computer.script = {com::E_ACCESSDENIED};
  ConnectTo("\\\\plc01", "Plant.Simulation.1");

  ASSERT_EQ(client.state.connected, 1) << Log();
  ASSERT_EQ(window.credentials.asked.size(), 2u);
  EXPECT_EQ(window.credentials.asked[0].computer, "plc01");
  EXPECT_EQ(window.credentials.asked[1].offered.user, "op") << "the refused user is offered again";
  EXPECT_EQ(window.credentials.asked[1].offered.password, "") << "never the password";
  EXPECT_EQ(computer.logons, (Lines{"PLANT\\op:wrong", "PLANT\\op:s3cret!"}));
  EXPECT_TRUE(window.messages.shown.empty()) << "a refusal that was answered shows no box";
  // Remembered in a file only its owner may read, and nothing secret logged.
  struct stat info {};
  ASSERT_EQ(::stat(StoreFile().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(store.Find("plc01", nullptr)->password, "s3cret!");
  EXPECT_EQ(Log().find("s3cret"), std::string::npos);
  EXPECT_EQ(Log().find("wrong"), std::string::npos);
  EXPECT_NE(Log().find("the account PLANT\\op is remembered in the file"), std::string::npos);

  // The server goes away; the reconnection uses the CLSID the remote
  // computer gave and the account in use, and asks nothing.
  MarkServerLost(client, com::RPC_E_DISCONNECTED);
  window.messages.Clear();
  computer.script = {com::E_ACCESSDENIED};
  EXPECT_TRUE(com::FAILED(ReconnectServer(client)));
  EXPECT_EQ(com::S_OK, ReconnectServer(client));
  EXPECT_EQ(window.credentials.asked.size(), 2u);
  EXPECT_EQ(client.state.serverLost, 0);
  Disconnect();

  // A new session of the client finds the remembered account.
  credentials::CredentialBook later(&store);
  client.credentials = &later;
  ConnectTo("PLC01", "{6E0C5A1D-3B7F-4C2E-9A41-2F8D7B1C9E53}");
  EXPECT_EQ(client.state.connected, 1);
  EXPECT_EQ(window.credentials.asked.size(), 2u);
  Disconnect();
}

// Each refusal: the Part's boxes, then one box in the operator's words,
// and one log line with the HRESULT. A refused account asks once more;
// the second refusal gives the box.
TEST_F(RemoteLogonTest, RefusalsGiveTheirBoxAndLogLine) {
  struct Case {
    std::vector<HRESULT> script;
    const char* server;
    const char* boxStart;
    const char* logLine;
    size_t asked;
  } cases[] = {
      {{com::E_ACCESSDENIED, com::E_ACCESSDENIED},
       "Plant.Simulation.1",
       "Access denied by the computer plc01.",
       "*** Remote computer plc01: access denied (0x80070005)",
       2},
      {{com::MakeHresult(0x8009030C), com::E_ACCESSDENIED},
       "Plant.Simulation.1",
       "Access denied by the computer plc01.",
       "*** Remote computer plc01: access denied (0x80070005)",
       2},
      {{com::RPC_S_SERVER_UNAVAILABLE},
       "Plant.Simulation.1",
       "The RPC server is unavailable on plc01.",
       "*** Remote computer plc01: the RPC server is unavailable (0x800706BA)",
       1},
      {{},
       "{00000000-1111-2222-3333-444444444444}",
       "Class not registered on plc01.",
       "*** Remote computer plc01: class not registered (0x80040154)",
       1},
      {{com::MakeHresult(0x8007071D)},
       "Plant.Simulation.1",
       "The computer plc01 refused the authentication level.",
       "*** Remote computer plc01: the authentication level was refused (0x8007071D)",
       1},
      {{com::RPC_E_TIMEOUT},
       "Plant.Simulation.1",
       "The computer plc01 did not answer a call within its deadline.",
       "*** Remote computer plc01: a call passed its deadline (0x8001011F)",
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logLine);
    accounts.Drop("plc01");
    window.credentials.asked.clear();
    window.messages.Clear();
    Answer("op", "pw", false);
    Answer("op", "pw2", false);
    computer.script = c.script;
    ConnectTo("plc01", c.server);
    EXPECT_EQ(client.state.connected, 0);
    EXPECT_EQ(window.credentials.asked.size(), c.asked);
    window.credentials.answers.clear();
    ASSERT_EQ(window.messages.shown.size(), 3u);
    EXPECT_EQ(window.messages.shown[1].text,
              "Error: couldn't connect to remote OPC server.\nWrong name of Remote computer or "
              "server.");
    EXPECT_EQ(window.messages.shown[2].text.rfind(c.boxStart, 0), 0u)
        << window.messages.shown[2].text;
    EXPECT_EQ(window.messages.shown[2].caption, "Remote Server connection");
    EXPECT_NE(Log().find(std::string(c.logLine) + "\n"), std::string::npos) << Log();
    EXPECT_EQ(Log().find("pw"), std::string::npos);
  }
  EXPECT_FALSE(store.Find("plc01", nullptr)) << "a refused account is not remembered";
}

TEST_F(RemoteLogonTest, CancelledDialogTriesNothingAndServersAreOffered) {
  ConnectTo("plc01", "Plant.Simulation.1");
  EXPECT_EQ(client.state.connected, 0);
  EXPECT_TRUE(computer.logons.empty());
  EXPECT_TRUE(window.messages.shown.empty());
  EXPECT_NE(Log().find("Remote computer plc01: no account given, not connected.\n"),
            std::string::npos);
  // The server box's choices; the TLS form of a tagwell-server has none
  // and asks for no account.
  Answer("op", "pw", false);
  const std::u16string dcomName = u"plc01[1135]";
  EXPECT_EQ(ListRemoteServers(client, dcomName.c_str()),
            (Lines{"Plant.Simulation.1", "Plant.Boiler.2"}));
  EXPECT_EQ(window.credentials.asked.back().computer, "plc01[1135]");
  EXPECT_TRUE(ListRemoteServers(client, u"plc01:4135").empty());
  EXPECT_EQ(window.credentials.asked.size(), 2u);
}

}  // namespace
}  // namespace tagwell::testing
