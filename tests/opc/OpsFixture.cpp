#include "tests/opc/OpsFixture.h"

#include <cstdlib>
#include <ctime>

namespace tagwell::testing {
namespace {

int g_databaseWrites = 0;

int CountDatabaseWrite(Client&) {
  ++g_databaseWrites;
  return 0;
}

}  // namespace

ScopedEnvironment::ScopedEnvironment(const char* name, const std::string& value) : name_(name) {
  if (const char* old = std::getenv(name)) {
    old_ = old;
    had_ = true;
  }
  setenv(name, value.c_str(), 1);
}

ScopedEnvironment::~ScopedEnvironment() {
  if (had_)
    setenv(name_.c_str(), old_.c_str(), 1);
  else
    unsetenv(name_.c_str());
}

ScopedTimeZone::ScopedTimeZone(const char* tz) {
  tz_.emplace("TZ", tz);
  tzset();
}

ScopedTimeZone::~ScopedTimeZone() {
  tz_.reset();
  tzset();
}

OpsTest::OpsTest() {
  simulationCookie_ = server::RegisterSimulationServerInproc(space);
  testServerCookie_ = RegisterTestServerInproc(space, script);
  client.browseAddressSpace = &BrowseAddressSpace;
  client.writeDatabase = &CountDatabaseWrite;
  g_databaseWrites = 0;
  taskMemoryBaseline_ = com::TaskMemOutstanding();
}

OpsTest::~OpsTest() {
  Disconnect();
  ExpectNoServerMemoryHeld();
  com::RevokeInprocClass(testServerCookie_);
  com::RevokeInprocClass(simulationCookie_);
}

void OpsTest::Connect(const std::string& progId) {
  window.localServers.ResetContent();
  window.localServers.AddString(progId);
  window.localServers.Select(0);
  ConnectLocal(client);
}

int OpsTest::Add(const std::string& itemId) {
  ClientState& s = client.state;
  const int row = window.itemNames.AddString(itemId);
  s.lastRowIndex = s.currentRow = row;
  s.szItemName = itemId;
  int result = AddItem(client, s.ptrIOPCItemMgt, &s.lastServerHandle);
  WORD quality = 0;
  ReadItem(client, s.ptrIOPCItemMgt, s.lastServerHandle, s.currentValue.get(), &quality);
  ReadItemAttributes(client, s.ptrIOPCItemMgt);
  s.itemsAdded += 1;
  ExpectNoServerMemoryHeld();
  return result;
}

int OpsTest::AddCanonical(const std::string& itemId) {
  Add(itemId);
  return client.state.lastRowIndex;
}

int OpsTest::ReadRow(int k) {
  ClientState& s = client.state;
  s.currentItem = s.currentRow = k;
  int result =
      ReadGroup(client, s.ptrIOPCItemMgt, client.table.serverHandles[k], s.currentValue.get());
  ExpectNoServerMemoryHeld();
  return result;
}

int OpsTest::Write(int k, const std::string& text) {
  ClientState& s = client.state;
  s.currentItem = s.currentRow = k;
  s.writeText = text;
  int result = WriteItem(client, s.ptrIOPCItemMgt, s.lastServerHandle, s.currentValue.get());
  ExpectNoServerMemoryHeld();
  return result;
}

void OpsTest::RemoveRow(int k) {
  client.state.currentItem = k;
  RemoveItem(client, client.state.ptrIOPCItemMgt, client.table.serverHandles[k]);
  RemoveTableRow(client, k);
  for (FakeListBox* column :
       {&window.itemNames, &window.values, &window.timeStamps, &window.qualities, &window.types})
    column->DeleteString(k);
  ExpectNoServerMemoryHeld();
}

Lines OpsTest::Captions() const {
  Lines out;
  for (const auto& m : window.messages.shown) out.push_back(m.caption);
  return out;
}

void OpsTest::Disconnect() {
  for (FakeListBox* box :
       {&window.itemNames, &window.values, &window.timeStamps, &window.qualities, &window.types})
    box->ResetContent();
  ReleaseServer(client);
  client.state.currentValue.Clear();
  ResetClientState(client);
  UninitCom(client);
}

com::Variant OpsTest::ServerValue(const std::string& itemId) {
  com::ComPtr<com::IOPCServer> server;
  EXPECT_EQ(server::CreateSimulationServer(space, com::IID_IOPCServer, server.ReceiveVoid()),
            com::S_OK);
  com::OPCHANDLE group = 0;
  com::DWORD rate = 0;
  com::IUnknown* unknown = nullptr;
  server->AddGroup(u"Probe", com::FALSE, 100, 0, nullptr, nullptr, 0, &group, &rate,
                   com::IID_IOPCItemMgt, &unknown);
  auto items = com::ComPtr<com::IOPCItemMgt>::Adopt(InterfaceFrom<com::IOPCItemMgt>(unknown));
  com::ComPtr<com::IOPCSyncIO> sync;
  items.As(com::IID_IOPCSyncIO, &sync);
  std::u16string id = com::Utf8ToUtf16(itemId);
  com::OPCITEMDEF def{nullptr, id.data(), com::FALSE, 1, 0, nullptr, com::VT_EMPTY, 0};
  com::OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  items->AddItems(1, &def, &results, &errors);
  com::OPCHANDLE handle = results[0].hServer;
  com::CoTaskMemFree(results);
  com::CoTaskMemFree(errors);
  com::OPCITEMSTATE* state = nullptr;
  sync->Read(com::OPC_DS_DEVICE, 1, &handle, &state, &errors);
  com::Variant value = com::Variant::Adopt(&state->vDataValue);
  com::CoTaskMemFree(state);
  com::CoTaskMemFree(errors);
  return value;
}

int OpsTest::DatabaseWrites() const {
  return g_databaseWrites;
}

std::string OpsTest::Log() const {
  return ReadFile(dir.File("Logfile.txt"));
}

void OpsTest::ExpectNoServerMemoryHeld() {
  // Each row keeps a copy of its last value; a string or an array in it is
  // one block of its own.
  std::size_t rowBlocks = 0;
  for (const ItemRecord& row : client.table.rows) {
    const com::VARIANT& v = *row.vValue.get();
    if ((v.vt == com::VT_BSTR && v.bstrVal) || ((v.vt & com::VT_ARRAY) && v.parray)) ++rowBlocks;
  }
  EXPECT_EQ(com::TaskMemOutstanding(), taskMemoryBaseline_ + rowBlocks)
      << "a block the server handed out was not freed";
}

}  // namespace tagwell::testing
