// The client runtime against the server runtime over the transport on
// loopback: activation with an account, the OPC calls through the proxies,
// the server browser, release, and each refusal as the HRESULT Windows
// gives (what the window's boxes are chosen by).
#include <gtest/gtest.h>
#include <unistd.h>

#include "dcom/ClientActivation.h"
#include "dcom/rpc/Socket.h"
#include "platform/com/CallWait.h"
#include "platform/com/Text.h"
#include "platform/opcda/OpcDa.h"
#include "server/Simulation.h"
#include "tests/dcom/client/DcomPeer.h"

namespace tagwell::dcom {
namespace {

using namespace com;

struct Client {
  explicit Client(const DcomPeer& peer, credentials::Credentials account,
                  AuthLevel level = AuthLevel::PacketPrivacy)
      : book(nullptr),
        activator(ClientOptions{level, std::chrono::seconds(5), std::chrono::minutes(2), &book}) {
    book.Use(peer.Key(), account);
  }
  HRESULT Create(const std::u16string& computer, const CLSID& clsid, IOPCServer** server) {
    MULTI_QI entry{&IID_IOPCServer, nullptr, S_OK};
    HRESULT hr = activator.Activate(clsid, computer, 1, &entry);
    *server = static_cast<IOPCServer*>(static_cast<void*>(entry.pItf));
    return FAILED(hr) ? hr : entry.hr;
  }
  credentials::CredentialBook book;
  DcomActivator activator;
};

const credentials::Credentials kOperator{"op", "PLANT", "Secret-1"};

// A whole session: status, browse, a group, an item added, read, written
// and read back, the enumerator of item attributes, release.
TEST(DcomClient, SessionThroughTheProxies) {
  DcomPeer peer;
  Client client(peer, kOperator);
  IOPCServer* server = nullptr;
  ASSERT_EQ(client.Create(peer.Computer(), server::CLSID_TagwellSimulation, &server), S_OK);
  OPCSERVERSTATUS* status = nullptr;
  ASSERT_EQ(server->GetStatus(&status), S_OK);
  EXPECT_EQ(std::u16string(status->szVendorInfo).find(u"Tagwell"), 0u);
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);

  IOPCBrowseServerAddressSpace* browse = nullptr;
  ASSERT_EQ(
      server->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void**>(&browse)),
      S_OK);
  IEnumString* names = nullptr;
  ASSERT_EQ(browse->BrowseOPCItemIDs(OPC_FLAT, u"", VT_EMPTY, 0, &names), S_OK);
  std::vector<std::u16string> items;
  for (LPOLESTR name = nullptr; names->Next(1, &name, nullptr) == S_OK;) {
    items.emplace_back(name);
    CoTaskMemFree(name);
  }
  names->Release();
  browse->Release();
  ASSERT_FALSE(items.empty());

  OPCHANDLE group = 0;
  DWORD rate = 0;
  IUnknown* unknown = nullptr;
  ASSERT_EQ(server->AddGroup(u"Group", FALSE, 100, 0, nullptr, nullptr, 0, &group, &rate,
                             IID_IOPCItemMgt, &unknown),
            S_OK);
  auto* itemMgt = static_cast<IOPCItemMgt*>(static_cast<void*>(unknown));
  std::u16string id = items.front();
  OPCITEMDEF def{const_cast<WCHAR*>(u""), id.data(), TRUE, 1, 0, nullptr, VT_EMPTY, 0};
  OPCITEMRESULT* added = nullptr;
  HRESULT* errors = nullptr;
  ASSERT_EQ(itemMgt->AddItems(1, &def, &added, &errors), S_OK);
  const OPCHANDLE handle = added[0].hServer;
  CoTaskMemFree(added[0].pBlob);
  CoTaskMemFree(added);
  CoTaskMemFree(errors);

  IOPCSyncIO* io = nullptr;
  ASSERT_EQ(itemMgt->QueryInterface(IID_IOPCSyncIO, reinterpret_cast<void**>(&io)), S_OK);
  OPCHANDLE handles[] = {handle};
  OPCITEMSTATE* states = nullptr;
  ASSERT_EQ(io->Read(OPC_DS_DEVICE, 1, handles, &states, &errors), S_OK);
  ASSERT_NE(errors, nullptr) << "the errors after the values' bodies";
  EXPECT_EQ(errors[0], S_OK);
  const VARTYPE vt = states[0].vDataValue.vt;
  EXPECT_NE(vt, VT_EMPTY);
  // What was read is written back and read again.
  VARIANT value;
  VariantInit(&value);
  VariantCopy(&value, &states[0].vDataValue);
  VariantClear(&states[0].vDataValue);
  CoTaskMemFree(states);
  CoTaskMemFree(errors);
  ASSERT_EQ(io->Write(1, handles, &value, &errors), S_OK);
  EXPECT_EQ(errors[0], S_OK);
  CoTaskMemFree(errors);
  ASSERT_EQ(io->Read(OPC_DS_DEVICE, 1, handles, &states, &errors), S_OK);
  EXPECT_EQ(states[0].vDataValue.vt, vt);
  VariantClear(&states[0].vDataValue);
  VariantClear(&value);
  CoTaskMemFree(states);
  CoTaskMemFree(errors);

  IUnknown* enumUnknown = nullptr;
  ASSERT_EQ(itemMgt->CreateEnumerator(IID_IEnumOPCItemAttributes, &enumUnknown), S_OK);
  auto* attributes = static_cast<IEnumOPCItemAttributes*>(static_cast<void*>(enumUnknown));
  OPCITEMATTRIBUTES* records = nullptr;
  ULONG fetched = 0;
  EXPECT_EQ(attributes->Next(1, &records, &fetched), S_OK);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(std::u16string(records[0].szItemID), id);
  CoTaskMemFree(records[0].szItemID);
  CoTaskMemFree(records[0].szAccessPath);
  CoTaskMemFree(records[0].pBlob);
  VariantClear(&records[0].vEUInfo);
  CoTaskMemFree(records);
  attributes->Release();

  io->Release();
  itemMgt->Release();
  server->Release();

  // The server browser of that computer.
  std::vector<std::u16string> progIds;
  EXPECT_EQ(client.activator.ServersOnComputer(peer.Computer(), &progIds), S_OK);
  EXPECT_EQ(progIds, std::vector<std::u16string>{u"Tagwell.Simulation.1"});
  CLSID clsid{};
  EXPECT_EQ(client.activator.ClassOnComputer(peer.Computer(), u"Tagwell.Simulation.1", &clsid),
            S_OK);
  EXPECT_EQ(clsid, server::CLSID_TagwellSimulation);
  EXPECT_EQ(client.activator.ClassOnComputer(peer.Computer(), u"No.Such.1", &clsid),
            CO_E_CLASSSTRING);
}

// Each refusal as the HRESULT the boxes are chosen by; a server that goes
// away is RPC_E_DISCONNECTED (a lost server) on the next call.
TEST(DcomClient, RefusalsAndALostServer) {
  DcomPeer peer;
  DcomPeer hardened(AuthLevel::PacketPrivacy);
  struct Case {
    const char* what;
    const DcomPeer* at;
    credentials::Credentials account;
    AuthLevel level;
    CLSID clsid;
    HRESULT expected;
  } cases[] = {
      {"wrong password",
       &peer,
       {"op", "PLANT", "wrong"},
       AuthLevel::PacketPrivacy,
       server::CLSID_TagwellSimulation,
       E_ACCESSDENIED},
      {"unknown account",
       &peer,
       {"nobody", "PLANT", "x"},
       AuthLevel::PacketPrivacy,
       server::CLSID_TagwellSimulation,
       E_ACCESSDENIED},
      {"level refused", &hardened, kOperator, AuthLevel::PacketIntegrity,
       server::CLSID_TagwellSimulation, E_ACCESSDENIED},
      {"class not registered", &peer, kOperator, AuthLevel::PacketPrivacy, IID_IUnknown,
       REGDB_E_CLASSNOTREG},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Client client(*c.at, c.account, c.level);
    IOPCServer* server = nullptr;
    EXPECT_EQ(client.Create(c.at->Computer(), c.clsid, &server), c.expected);
    EXPECT_EQ(server, nullptr);
  }
  Client client(peer, kOperator);
  IOPCServer* server = nullptr;
  EXPECT_EQ(client.Create(u"127.0.0.1[1]", server::CLSID_TagwellSimulation, &server),
            RPC_S_SERVER_UNAVAILABLE);
  ASSERT_EQ(client.Create(peer.Computer(), server::CLSID_TagwellSimulation, &server), S_OK);
  peer.Stop();
  OPCSERVERSTATUS* status = nullptr;
  EXPECT_EQ(server->GetStatus(&status), RPC_E_DISCONNECTED);
  EXPECT_EQ(server->GetStatus(&status), RPC_E_DISCONNECTED) << "broken for good";
  server->Release();
}

// A computer that takes the connection and never answers: while the
// activation waits, the thread's pump keeps running (the window draws), a
// call made from inside it is refused, and the wait ends at the deadline.
TEST(DcomClient, AWaitRunsTheWindowsPumpAndRefusesCallsFromIt) {
  std::string error;
  const int silent = ListenTcp("127.0.0.1", 0, &error);  // never accepts
  ASSERT_GE(silent, 0) << error;
  const std::u16string computer =
      u"127.0.0.1[" + Utf8ToUtf16(std::to_string(LocalPort(silent))) + u"]";
  credentials::CredentialBook book(nullptr);
  static DcomActivator* activator = nullptr;
  static int pumped = 0;
  static HRESULT fromThePump = S_OK;
  DcomActivator waiting(ClientOptions{AuthLevel::PacketPrivacy, std::chrono::milliseconds(300),
                                      std::chrono::minutes(2), &book});
  activator = &waiting;
  SetCallWaitPump([] {
    if (++pumped > 1) return;
    MULTI_QI entry{&IID_IOPCServer, nullptr, S_OK};
    fromThePump = activator->Activate(server::CLSID_TagwellSimulation, u"127.0.0.1", 1, &entry);
  });
  MULTI_QI entry{&IID_IOPCServer, nullptr, S_OK};
  EXPECT_EQ(waiting.Activate(server::CLSID_TagwellSimulation, computer, 1, &entry),
            RPC_E_TIMEOUT);
  SetCallWaitPump(nullptr);
  ::close(silent);
  EXPECT_GT(pumped, 5);
  EXPECT_EQ(fromThePump, RPC_E_CANTCALLOUT_ININPUTSYNCCALL);
}

}  // namespace
}  // namespace tagwell::dcom
