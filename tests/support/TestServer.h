// A test OPC DA server with scripted faults: the simulation server behind a
// decorator that fails, refuses, hangs or drops the connection on request.
// Every test that needs a misbehaving server uses this one header.
//
// Usage:
//   auto space = server::MakeDefaultAddressSpace(clock);
//   auto script = std::make_shared<FaultScript>();
//   script->Set(Fault::ReadFails);
//   script->SetTargetItem("Boiler.Temperature");   // only this item's reads fail
//   com::DWORD cookie = RegisterTestServerInproc(space, script);  // "Tagwell.TestServer.1"
//   ... connect, use ...
//   com::RevokeInprocClass(cookie);
// The script may be changed at any time, also while calls run on another
// thread (an rpc server thread); every object created by the registration
// reads the same script.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/opcda/OpcDa.h"
#include "server/AddressSpace.h"
#include "server/Clock.h"

namespace tagwell::testing {

// {B1E3F0A2-6C4D-4E8B-9F7A-3D2C1B0A9E86}
inline constexpr com::CLSID CLSID_TagwellTestServer = {
    0xB1E3F0A2, 0x6C4D, 0x4E8B, {0x9F, 0x7A, 0x3D, 0x2C, 0x1B, 0x0A, 0x9E, 0x86}};
inline constexpr const char* kTestServerProgId = "Tagwell.TestServer.1";

enum class Fault {
  NoBrowse,               // QueryInterface refuses IOPCBrowseServerAddressSpace
  NoOptionalInterfaces,   // ... and IOPCItemProperties (IPersistFile, IEnumUnknown and
                          // IOPCServerPublicGroups are never offered)
  GetStatusFails,         // GetStatus: E_FAIL
  AddGroupFails,          // AddGroup: E_FAIL, no group
  AddItemsFails,          // AddItems: E_FAIL, no arrays (target item: when it is among the items)
  AddItemsRefuses,        // AddItems: S_FALSE, OPC_E_UNKNOWNITEMID and a zeroed result for
                          // the target item (every item without a target)
  CreateEnumeratorFails,  // IOPCItemMgt::CreateEnumerator: E_FAIL
  ReadFails,              // IOPCSyncIO::Read: E_FAIL, no arrays (target item: when it is read)
  ReadReturnsFalse,       // Read: S_FALSE; the target item's error is E_FAIL and its state
                          // has quality OPC_QUALITY_BAD (the value as read)
  WriteFails,             // IOPCSyncIO::Write: E_FAIL, no arrays (target item: when written)
  DeviceCannotBeEntered,  // ChangeBrowsePosition TO or DOWN into the target device (a root
                          // branch; without a target every branch): E_INVALIDARG
  GetItemIdFails,         // GetItemID: E_FAIL
  FlatListsBranches,      // not a fault: OPC_FLAT listings also name the branches below
                          // (read when a server object is created)
  ReadsCommFailure,       // Read succeeds, but the target item's quality is
                          // OPC_QUALITY_COMM_FAILURE (a device that stopped answering)
};

// The calls a hang or a connection drop can be tied to.
enum class Call {
  Any,
  QueryInterface,
  GetStatus,
  AddGroup,
  RemoveGroup,
  GetGroupByName,
  GetErrorString,
  Browse,  // every IOPCBrowseServerAddressSpace method
  EnumNext,
  Properties,  // every IOPCItemProperties method
  AddItems,
  RemoveItems,
  ItemMgt,  // the other IOPCItemMgt methods
  CreateEnumerator,
  Read,
  Write,
};

// Thread-safe.
class FaultScript final {
 public:
  void Set(Fault fault, bool on = true);
  bool Has(Fault fault) const;
  void ClearAll();

  // Item faults (AddItems*, Read*, WriteFails) hit only this item ID; ""
  // (the default) means every item.
  void SetTargetItem(std::string itemId);
  bool Targets(const std::string& itemId) const;
  // DeviceCannotBeEntered hits only this root branch; "" means every branch.
  void SetTargetDevice(std::string name);
  bool DeviceBlocked(const std::string& name) const;

  // Every call of kind `call` (Call::Any: every call) blocks until
  // ReleaseHang() or until maxWait has passed, and then goes on normally.
  // Through the rpc layer this trips the caller's deadline.
  void HangOn(Call call, std::chrono::milliseconds maxWait = std::chrono::minutes(5));
  // Disarms the hang and wakes every blocked call.
  void ReleaseHang();
  // Waits (at most timeout) until a call is blocked in a hang.
  bool WaitUntilHanging(std::chrono::milliseconds timeout);

  // From the first call of kind `call` on (that call included), every call
  // of every object fails with RPC_E_DISCONNECTED. The hook runs once, when
  // the drop happens, on the calling thread: the rpc layer uses it to close
  // the real connection.
  void DropConnectionAt(Call call);
  void DropConnectionNow();
  bool Dropped() const;
  // The server is back after a drop: calls answer again, and creating a
  // server object works again (while dropped it fails with
  // RPC_S_SERVER_UNAVAILABLE, as for a server that is away).
  void ComeBack();
  void SetDropHook(std::function<void()> hook);

  // How many calls of the kind were made (Call::Any: all).
  int CallCount(Call call) const;

  // Called by the test server at the start of every call: counts it, hangs
  // or drops as scripted. A failure result is what the call must return.
  com::HRESULT Enter(Call call);

 private:
  void DropLocked(std::unique_lock<std::mutex>& lock);

  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::set<Fault> faults_;
  std::string targetItem_;
  std::string targetDevice_;
  std::optional<Call> hangOn_;
  std::chrono::milliseconds hangMax_{0};
  std::uint64_t hangGeneration_ = 0;
  int hanging_ = 0;
  std::optional<Call> dropAt_;
  bool dropped_ = false;
  std::function<void()> dropHook_;
  std::map<Call, int> calls_;
  int allCalls_ = 0;
};

// Creates a test server object over space (see CreateSimulationServer) with
// the faults of script.
com::HRESULT CreateTestServer(std::shared_ptr<server::AddressSpace> space,
                              std::shared_ptr<FaultScript> script, com::REFIID riid, void** ppv);
// Makes "Tagwell.TestServer.1" creatable in this process until
// com::RevokeInprocClass(cookie).
com::DWORD RegisterTestServerInproc(std::shared_ptr<server::AddressSpace> space,
                                    std::shared_ptr<FaultScript> script);

// A clock that stands still until the test moves it. Thread-safe.
class ManualClock final : public server::Clock {
 public:
  explicit ManualClock(com::FILETIME start) : ticks_(com::FileTimeTicks(start)) {}
  com::FILETIME Now() override;
  void Set(com::FILETIME now);
  void Advance(std::chrono::nanoseconds by);

 private:
  std::mutex mutex_;
  std::uint64_t ticks_;
};

// 2010-06-05 07:08:09 UTC: a fixed start for tests.
com::FILETIME TestEpoch();

}  // namespace tagwell::testing
