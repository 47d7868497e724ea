// The connect sequences: the server information list line by line, the
// remote path, and the failure boxes of each creation step.

#include "tests/opc/OpsFixture.h"

namespace tagwell::testing {
namespace {

const Lines kStatus = {"Vendor information = ", "   Tagwell Simulation Server 8.4",
                       "Server start time: 7:8:9, 5.6.2010"};
const Lines kDevices = {
    "", "Devices (or Groups) available on server: ", "", "Boiler", "Line1", "Diagnostics"};
const Lines kInterfaces = {"",
                           "Interfaces implemented on OPC Server:",
                           "",
                           "IUnknown       -- Supported",
                           "IOPCServer     -- Supported",
                           "IPersistFile   --  Not supported",
                           "IEnumUnknown   --  Not supported",
                           "IOPCServerPublicGroups --  Not supported",
                           "IOPCBrowseServerAddressSpace -- Supported",
                           "IOPCItemProperties -- Supported"};
const char* kConnectLog =
    "\nVendor Info: Tagwell Simulation Server 8.4\nOPC Server started: %s\n"
    "Server start time: 7:8:9, 5.6.2010 \n";

Lines Concat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

std::string ConnectLog(const std::string& serverName) {
  FixedText<1024> text;
  text.Format(kConnectLog, serverName.c_str());
  return text.str();
}

// Creates the simulation server in process for the local and remote
// contexts, and records the computer each creation was meant for.
class FakeActivator final : public com::ServerActivator {
 public:
  explicit FakeActivator(std::shared_ptr<server::AddressSpace> space) : space_(std::move(space)) {
    com::SetServerActivator(this);
  }
  ~FakeActivator() override { com::SetServerActivator(nullptr); }
  HRESULT Activate(com::REFCLSID, const std::u16string& host, com::DWORD count,
                   com::MULTI_QI* results) override {
    hosts.push_back(com::Utf16ToUtf8(host));
    if (com::FAILED(result)) return result;
    for (com::DWORD i = 0; i < count; ++i) {
      void* p = nullptr;
      results[i].hr = server::CreateSimulationServer(space_, *results[i].pIID, &p);
      results[i].pItf = static_cast<com::IUnknown*>(p);
    }
    return com::S_OK;
  }
  Lines hosts;
  HRESULT result = com::S_OK;

 private:
  std::shared_ptr<server::AddressSpace> space_;
};

class ConnectTest : public OpsTest {
 protected:
  void EnterRemoteNames(const char* server, const char* computer) {
    ClientState& s = client.state;
    s.remoteMode = 1;
    s.szRemoteServerName = server;
    FreeWide(s.wszRemoteServerName);
    s.wszRemoteServerName = AnsiToWide(server);
    if (computer) {
      LocalInit(client);
      s.szComputerName = computer;
      FreeWide(s.wszComputerName);
      s.wszComputerName = AnsiToWide(computer);
    }
  }
};

TEST_F(ConnectTest, HierarchicalServerShowsStatusDevicesAndInterfaces) {
  Connect();
  EXPECT_EQ(client.state.connected, 1);
  EXPECT_EQ(window.serverInfo.Lines(), Concat({kStatus, kDevices, kInterfaces}));
  EXPECT_EQ(window.localServers.Lines(), Lines{server::kSimulationProgId});
  EXPECT_TRUE(window.messages.shown.empty());
  EXPECT_NE(client.state.ptrIOPCItemMgt, nullptr);
  EXPECT_EQ(Log(), ConnectLog(server::kSimulationProgId));
  // A second connect: security is already set, which is no failure.
  Connect();
  EXPECT_TRUE(window.messages.shown.empty());
  EXPECT_EQ(window.serverInfo.Lines(), Concat({kStatus, kDevices, kInterfaces}));
}

TEST_F(ConnectTest, FlatServerListsItemsWithoutDevices) {
  auto flat = server::MakeDefaultAddressSpace(clock, {.flat = true});
  const com::CLSID clsid = {0x1234, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8}};
  com::DWORD cookie = com::RegisterInprocClass(
      clsid,
      [flat](com::REFIID iid, void** ppv) {
        return server::CreateSimulationServer(flat, iid, ppv);
      },
      "Tagwell.FlatSimulation.1");
  Connect("Tagwell.FlatSimulation.1");
  EXPECT_EQ(window.serverInfo.Lines(), Concat({kStatus, kInterfaces}));
  EXPECT_EQ(client.browse.browseItemCount, static_cast<int>(flat->Items().size()));
  EXPECT_EQ(client.browse.browseGroupCount, 0);
  Disconnect();
  com::RevokeInprocClass(cookie);
}

TEST_F(ConnectTest, ServerWithoutOptionalInterfacesConnects) {
  script->Set(Fault::NoOptionalInterfaces);
  Connect(kTestServerProgId);
  Lines interfaces = kInterfaces;
  interfaces[8] = "IOPCBrowseServerAddressSpace --  Not supported";
  interfaces[9] = "IOPCItemProperties --  Not supported";
  EXPECT_EQ(window.serverInfo.Lines(), Concat({kStatus, interfaces}));
  EXPECT_EQ(client.state.connected, 1);
  EXPECT_EQ(client.browse.browseItemCount, 0);
}

TEST_F(ConnectTest, FailedStatusSkipsVendorLinesAndLogBlock) {
  script->Set(Fault::GetStatusFails);
  Connect(kTestServerProgId);
  EXPECT_EQ(window.serverInfo.Lines(), Concat({kDevices, kInterfaces}));
  EXPECT_EQ(client.state.connected, 1);
  EXPECT_EQ(Log(), "");
}

TEST_F(ConnectTest, RemotePathWithoutComputerCreatesOnThisMachine) {
  FakeActivator activator(space);
  EnterRemoteNames(server::kSimulationProgId, nullptr);
  ConnectRemote(client);
  EXPECT_EQ(activator.hosts, Lines{""});
  EXPECT_EQ(client.state.connected, 1);
  EXPECT_EQ(window.localServers.Lines(), Lines{"OPC server is started on Remote computer"});
  EXPECT_EQ(window.serverInfo.Lines(), Concat({kStatus, kDevices, kInterfaces}));
  EXPECT_EQ(Log(), ConnectLog(server::kSimulationProgId));
}

TEST_F(ConnectTest, RemotePathHandsTheComputerToActivation) {
  FakeActivator activator(space);
  EnterRemoteNames("{6E0C5A1D-3B7F-4C2E-9A41-2F8D7B1C9E53}", "plc7:4135");
  ConnectRemote(client);
  EXPECT_EQ(activator.hosts, Lines{"plc7:4135"});
  EXPECT_EQ(client.state.connected, 1);
}

TEST_F(ConnectTest, RemoteFailuresShowTheStepThenTheConnectionBox) {
  FakeActivator activator(space);
  EnterRemoteNames("No.Such.Server", "plc7");
  ConnectRemote(client);
  EXPECT_TRUE(activator.hosts.empty());
  EXPECT_EQ(window.messages.Texts(),
            (Lines{"Error to get object's CLSID (CLSIDFromString):\nmay be wrong name of Remote "
                   "OPC server.",
                   "Error: couldn't connect to remote OPC server.\nWrong name of Remote computer "
                   "or server.",
                   // Then the cause in the operator's words.
                   "Class not registered on plc7.\nCheck the ProgID or the CLSID in the server "
                   "box: after Enter in the computer box, the server box offers the OPC servers "
                   "of that computer.\n\nError code 0x800401F3."}));
  EXPECT_EQ(window.messages.shown[1].owner, ui::Owner::MainWindow);
  EXPECT_NE(Log().find("*** Remote computer plc7: class not registered (0x800401F3)\n"),
            std::string::npos);

  window.messages.Clear();
  activator.result = com::RPC_S_SERVER_UNAVAILABLE;
  EnterRemoteNames(server::kSimulationProgId, "plc7");
  ConnectRemote(client);
  EXPECT_EQ(Captions(), (Lines{"CreateRemoteOPCServer function", "Remote Server connection",
                               "Remote Server connection"}));
  EXPECT_EQ(window.messages.shown[2].text.rfind("The RPC server is unavailable on plc7.", 0), 0u);
  EXPECT_EQ(window.messages.shown[0].text,
            "Error of object creation (CoCreateInstance):\nmay be wrong name of OPC server or "
            "server is not started.");
  EXPECT_EQ(client.state.connected, 0);
  EXPECT_EQ(client.state.ptrRemoteServer, nullptr);
}

TEST_F(ConnectTest, LocalFailuresShowTheStepThenNotSelected) {
  ConnectLocal(client);  // nothing selected
  ASSERT_EQ(window.messages.shown.size(), 1u);
  EXPECT_EQ(window.messages.shown[0].text, "Connection error: server is not selected.");
  EXPECT_EQ(window.messages.shown[0].caption, "Local Server connection");
  EXPECT_EQ(window.messages.shown[0].owner, ui::Owner::MainWindow);

  window.messages.Clear();
  Connect("No.Such.Server");
  EXPECT_EQ(window.messages.Texts(),
            (Lines{"Error to get object's CLSID (CLSIDFromString):\nmay be wrong name of Local "
                   "OPC server.",
                   "Connection error: server is not selected."}));
  EXPECT_TRUE(window.localServers.Lines().empty());

  window.messages.Clear();
  Connect("{00000000-0000-0000-0000-0000000000AB}");  // well formed, not installed
  EXPECT_EQ(Captions(), (Lines{"InstantiateServer function", "Local Server connection"}));
  EXPECT_EQ(window.messages.shown[0].text,
            "Error of object creation (CoCreateIntstanceEx):\nwrong name of OPC server or server "
            "is not started.");
  EXPECT_EQ(client.state.connected, 0);
}

}  // namespace
}  // namespace tagwell::testing
