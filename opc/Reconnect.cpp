#include "opc/Reconnect.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "opc/Connection.h"
#include "opc/Items.h"
#include "opc/Log.h"
#include "opc/Prefetch.h"
#include "opc/TextHelpers.h"
#include "platform/com/Runtime.h"
#include "platform/com/Text.h"

namespace tagwell {
namespace {

// A probe that has not answered yet.
constexpr HRESULT kPending = static_cast<HRESULT>(0x8000000AL);

constexpr const char* kCommunicationError = "Bad - communication error";
constexpr const char* kConfigurationError = "Bad - configuration error in server";

std::string ReasonText(HRESULT hr) {
  const char* what = "the server is gone";
  if (hr == com::RPC_E_DISCONNECTED) what = "the connection was broken";
  if (hr == com::RPC_E_TIMEOUT) what = "the server did not answer within the call deadline";
  if (hr == com::RPC_S_SERVER_UNAVAILABLE) what = "the server is unavailable";
  char text[128];
  std::snprintf(text, sizeof text, "%s (0x%08X)", what, static_cast<unsigned>(hr));
  return text;
}

// Rows of the table: the lines of the Item name column.
int RowCount(const Client& client) {
  if (client.ui.itemNames) return client.ui.itemNames->GetCount();
  return client.state.itemsAdded > 0 ? client.state.lastRowIndex + 1 : 0;
}

// The server object of target, created as the connect sequences create it:
// IOPCServer on the local path, IUnknown on the remote one.
HRESULT CreateServerObject(const ConnectTarget& target, com::IUnknown** object) {
  *object = nullptr;
  com::CLSID clsid = target.clsid;
  HRESULT hr = target.hasClsid ? com::S_OK : com::CLSIDFromString(target.server.c_str(), &clsid);
  if (com::FAILED(hr)) return hr;
  const bool named = target.remote && !target.computer.empty();
  com::COSERVERINFO serverInfo{0, const_cast<com::WCHAR*>(target.computer.c_str()), nullptr, 0};
  com::MULTI_QI entry{target.remote ? &com::IID_IUnknown : &com::IID_IOPCServer, nullptr,
                      com::S_OK};
  com::DWORD context = com::CLSCTX_SERVER;
  if (target.remote) context = named ? com::CLSCTX_REMOTE_SERVER : com::CLSCTX_LOCAL_SERVER;
  hr = com::CoCreateInstanceEx(clsid, nullptr, context, named ? &serverInfo : nullptr, 1, &entry);
  if (com::SUCCEEDED(hr) && com::FAILED(entry.hr)) hr = entry.hr;
  if (com::SUCCEEDED(hr) && !entry.pItf) hr = com::E_NOINTERFACE;
  if (com::FAILED(hr)) {
    ReleaseInterface(entry.pItf);
    return hr;
  }
  *object = entry.pItf;
  return com::S_OK;
}

HRESULT AddGroupQuietly(ClientState& s) {
  com::DWORD revisedRate = 0;
  com::IUnknown* group = nullptr;
  HRESULT hr =
      s.ptrIOPCServer->AddGroup(u"Group", com::FALSE, 100, 0, nullptr, nullptr, 0, &s.hServerGroup,
                                &revisedRate, com::IID_IOPCItemMgt, &group);
  if (com::SUCCEEDED(hr) && !group) hr = com::E_NOINTERFACE;
  if (com::FAILED(hr)) {
    ReleaseInterface(group);
    return hr;
  }
  s.ptrIOPCItemMgt = InterfaceFrom<com::IOPCItemMgt>(group);
  return com::S_OK;
}

// Row k's outcome of the AddItems call that carried it: hr of the call,
// its arrays (null after a failed call) and k's index i in them.
HRESULT StoreRowAgain(Client& client, int k, HRESULT hr, const com::OPCITEMRESULT* results,
                      const HRESULT* errors, std::size_t i) {
  ItemRecord& row = client.table.rows[k];
  const bool added = com::SUCCEEDED(hr) && results && errors && com::SUCCEEDED(errors[i]);
  row.hServer = added ? results[i].hServer : 0;
  client.table.serverHandles[k] = row.hServer;
  if (added) {
    row.vtCanonical = results[i].vtCanonicalDataType;
    SetColumnRow(client.ui.types, k, CanonicalTypeText(row.vtCanonical));
    return com::S_OK;
  }
  if (!ServerLost(hr)) SetColumnRow(client.ui.qualities, k, kConfigurationError);
  return com::FAILED(hr) ? hr : com::S_FALSE;
}

// Adds the items of rows [first, first + count) to the new group in one
// AddItems call. Returns S_OK, or the failure of the call; *added counts
// the rows that came back.
HRESULT AddRowsAgain(Client& client, int first, int count, int* added) {
  ClientState& s = client.state;
  com::WCHAR accessPath[1] = {0};
  std::vector<com::OPCITEMDEF> defs;
  for (int k = first; k < first + count; ++k)
    defs.push_back(com::OPCITEMDEF{accessPath, client.table.rows[k].itemName.data(), com::FALSE, 1,
                                   0, nullptr, com::VT_EMPTY, 0});
  com::OPCITEMRESULT* results = nullptr;
  HRESULT* errors = nullptr;
  HRESULT hr =
      s.ptrIOPCItemMgt->AddItems(static_cast<com::DWORD>(count), defs.data(), &results, &errors);
  const bool answered = com::SUCCEEDED(hr);
  for (int i = 0; i < count; ++i)
    if (StoreRowAgain(client, first + i, hr, answered ? results : nullptr,
                      answered ? errors : nullptr, static_cast<std::size_t>(i)) == com::S_OK)
      ++*added;
  if (results && answered)
    for (int i = 0; i < count; ++i) FreeServerMemory(client, results[i].pBlob);
  FreeServerMemory(client, results);
  FreeServerMemory(client, errors);
  return com::FAILED(hr) ? hr : com::S_OK;
}

}  // namespace

std::string LastServerName(const ClientState& s) {
  std::string name = com::Utf16ToUtf8(s.lastConnect.server);
  if (s.lastConnect.remote && !s.lastConnect.computer.empty())
    name += " on " + com::Utf16ToUtf8(s.lastConnect.computer);
  return name;
}

bool MarkServerLost(Client& client, HRESULT hr) {
  if (!ServerLost(hr)) return false;
  ClientState& s = client.state;
  if (s.serverLost) return true;
  s.serverLost = 1;
  ReleaseInterfaces(s);
  const int rows = RowCount(client);
  for (int k = 0; k < rows && k < MAX_ITEMS; ++k)
    SetColumnRow(client.ui.qualities, k, kCommunicationError);
  const std::string name = LastServerName(s);
  const std::string reason = ReasonText(hr);
  FixedText<1024> msgBox;
  msgBox.Format(
      "Error: the connection to OPC server %s is lost:\n%s.\nTagwell connects again by itself "
      "every %d seconds.",
      name.c_str(), reason.c_str(), static_cast<int>(Reconnector::kInterval.count()));
  ShowWarning(client, msgBox.view(), "OPC server connection");
  LogServerLost(client, name, reason);
  return true;
}

HRESULT ReconnectServer(Client& client) {
  ClientState& s = client.state;
  com::IUnknown* object = nullptr;
  HRESULT hr = CreateServerObject(s.lastConnect, &object);
  if (com::FAILED(hr)) return hr;
  if (s.lastConnect.remote)
    s.ptrRemoteServer = object;
  else
    s.ptrIOPCServer = InterfaceFrom<com::IOPCServer>(object);
  QueryServerInterfaces(client, object);
  hr = s.ptrIOPCServer ? AddGroupQuietly(s) : com::E_NOINTERFACE;
  const int rows = hr == com::S_OK ? RowCount(client) : 0;
  int added = 0;
  // In chunks of rows, one call each.
  for (int k = 0; k < std::min(rows, MAX_ITEMS) && com::SUCCEEDED(hr); k += kAddChunk) {
    const HRESULT chunk =
        AddRowsAgain(client, k, std::min(kAddChunk, std::min(rows, MAX_ITEMS) - k), &added);
    if (ServerLost(chunk)) hr = chunk;
  }
  if (com::FAILED(hr)) {
    ReleaseInterfaces(s);
    return hr;
  }
  if (rows > 0) s.lastServerHandle = client.table.serverHandles[std::min(rows, MAX_ITEMS) - 1];
  s.serverLost = 0;
  LogServerRestored(client, LastServerName(s), added, rows);
  return com::S_OK;
}

HRESULT ProbeServer(const ConnectTarget& target) {
  const HRESULT init = com::CoInitialize(nullptr);
  com::IUnknown* object = nullptr;
  HRESULT hr = CreateServerObject(target, &object);
  ReleaseInterface(object);
  if (com::SUCCEEDED(init)) com::CoUninitialize();
  return hr;
}

// What a probe running on its own thread leaves for the window's thread.
struct Reconnector::Pending {
  std::mutex mutex;
  bool done = false;
  HRESULT hr = kPending;
};

Reconnector::Reconnector(Client& client, Probe probe, bool probeOnThread)
    : client_(client), probe_(std::move(probe)), probeOnThread_(probeOnThread) {}

Reconnector::~Reconnector() {
  Finish();
}

void Reconnector::Finish() {
  finished_ = true;
  pending_.reset();
  if (thread_.joinable()) thread_.join();
  threadState_.reset();
}

bool Reconnector::ProbeRunning() {
  if (!thread_.joinable()) return false;
  {
    std::lock_guard<std::mutex> lock(threadState_->mutex);
    if (!threadState_->done) return true;
  }
  thread_.join();
  threadState_.reset();
  return false;
}

bool Reconnector::Poll(Clock::time_point now) {
  const ClientState& s = client_.state;
  if (finished_ || s.connected == 0 || s.serverLost == 0) {
    // A probe still running ends on its own; its result is dropped.
    pending_.reset();
    attempted_ = false;
    lastRefusal_.clear();
    return false;
  }
  if (!pending_) {
    if (attempted_ && now - lastAttempt_ < kInterval) return false;
    // The probe of an earlier outage has not answered yet.
    if (probeOnThread_ && ProbeRunning()) return false;
    attempted_ = true;
    lastAttempt_ = now;
    pending_ = std::make_shared<Pending>();
    if (probeOnThread_) {
      threadState_ = pending_;
      thread_ = std::thread([pending = pending_, probe = probe_, target = s.lastConnect] {
        const HRESULT hr = probe(target);
        std::lock_guard<std::mutex> lock(pending->mutex);
        pending->hr = hr;
        pending->done = true;
      });
    } else {
      pending_->hr = probe_(s.lastConnect);
      pending_->done = true;
    }
  }
  HRESULT probed = kPending;
  {
    std::lock_guard<std::mutex> lock(pending_->mutex);
    if (!pending_->done) return false;
    probed = pending_->hr;
  }
  pending_.reset();
  if (probeOnThread_) ProbeRunning();  // ended: joined
  if (com::FAILED(probed)) {
    LogReconnectRefusals(client_, &lastRefusal_);
    return false;
  }
  return com::SUCCEEDED(ReconnectServer(client_));
}

}  // namespace tagwell
