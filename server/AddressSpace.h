// The simulation server's address space: a tree of branches and items, and
// the current values of the items, shared by every server object of a process.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/opcda/OpcDa.h"
#include "server/Clock.h"
#include "server/ModbusPoint.h"
#include "server/Signal.h"

namespace tagwell::server {

// One item (leaf) as configured. Texts are UTF-8.
struct ItemDefinition {
  std::string name;  // the leaf name at its branch; may contain dots
  com::VARTYPE canonicalType = com::VT_I4;
  com::DWORD accessRights = com::OPC_READABLE;
  com::OPCEUTYPE euType = com::OPC_NOENUM;
  double euLow = 0.0;  // analog items: the engineering-units range
  double euHigh = 0.0;
  std::vector<std::string> euTexts;  // enumerated items: the state texts, state 0 first
  com::WORD quality = com::OPC_QUALITY_GOOD;
  Signal signal;
  com::Variant initialValue;  // static items: a value of the canonical type
  std::string units;          // property 100 when not empty
  std::string description;    // property 101 when not empty
  // A device's item: where its value lives. Device items are static, their
  // type and access follow the point (CanonicalTypeOf, IsWritableKind), and
  // a scaled point is analog with the scaled range as its EU range.
  std::optional<ModbusPoint> modbus;
};

struct BranchDefinition {
  std::string name;  // no dots: branch paths are joined with "."
  std::vector<ItemDefinition> items;
  std::vector<BranchDefinition> branches;
};

// The whole space; the root's own name is not used.
struct AddressSpaceDefinition {
  BranchDefinition root;
  std::vector<ModbusDeviceDefinition> devices;
};

struct AddressSpaceOptions {
  // A flat space lists every item at the root and has no branches; the item
  // IDs are the same as in the hierarchical presentation.
  bool flat = false;
};

// Returns the first fault of the definition (empty when it is sound): names
// that are empty, contain control characters or (for branches) dots; item
// IDs or branch paths given twice or used for both; unsupported types;
// signals, values, EU ranges or qualities that do not fit the item.
std::string ValidateAddressSpace(const AddressSpaceDefinition& definition);

class AddressSpace;
class ModbusDevice;

struct Item {
  std::string id;  // fully qualified: branch path and name joined with "."
  ItemDefinition definition;
  std::size_t index = 0;  // position in AddressSpace::Items()
};

struct Branch {
  std::string name;
  std::string path;  // "" for the root
  const Branch* parent = nullptr;
  std::vector<const Item*> items;
  std::vector<std::unique_ptr<Branch>> branches;
};

// What a read of an item gives: the value in the canonical type.
struct ItemReading {
  com::Variant value;
  com::WORD quality = com::OPC_QUALITY_BAD;
  com::FILETIME timeStamp{};
};

// Thread-safe. The tree does not change after creation; the values of static
// items change by Write.
class AddressSpace final {
 public:
  // Null (and *error set) when the definition is not sound.
  static std::shared_ptr<AddressSpace> Create(AddressSpaceDefinition definition,
                                              std::shared_ptr<Clock> clock,
                                              AddressSpaceOptions options, std::string* error);

  const Branch& Root() const { return *root_; }
  bool Flat() const { return options_.flat; }
  // Every item, depth first: a branch's own items before its sub-branches.
  const std::vector<std::unique_ptr<Item>>& Items() const { return items_; }
  const Item* FindItem(std::string_view id) const;
  std::size_t DeviceCount() const { return devices_.size(); }
  // The branch with the given path ("" is the root); null when there is none
  // or the space is flat.
  const Branch* FindBranch(std::string_view path) const;

  Clock& TheClock() const { return *clock_; }
  // The clock's time when the space was created: the server's start time.
  com::FILETIME StartTime() const { return startTime_; }

  // Looks up an item ID a client gave: OPC_E_INVALIDITEMID when it cannot
  // be an item ID (empty, a control character, an empty part between dots),
  // OPC_E_UNKNOWNITEMID when there is no such item.
  com::HRESULT Lookup(std::string_view id, const Item** item) const;
  // S_OK when the item can be served as `requested` (VT_EMPTY: canonical),
  // OPC_E_BADTYPE when not: the types do not convert (IsConvertibleType), or
  // the item's present value does not (a text that is not a number). A value
  // that merely overflows the requested type is accepted here; reads report it.
  com::HRESULT CheckRequestedType(const Item& item, com::VARTYPE requested) const;

  // A device item gives its last polled value (never waits for the device).
  ItemReading Read(const Item& item) const;
  // Reads the items and hands the readings (in their order) to done. A
  // device read (fromDevice) of device items takes values their devices send
  // after the call began, asked of all the devices at once; each device
  // costs at most its response timeout. done is called once: at once when
  // no device is asked, else on the thread of the last device to answer.
  using ReadDone = std::function<void(std::vector<ItemReading>)>;
  void BeginReadItems(std::vector<const Item*> items, bool fromDevice, ReadDone done) const;
  // The same into out, waiting for the devices.
  void ReadItems(const Item* const* items, std::size_t count, bool fromDevice,
                 ItemReading* out) const;
  // Converts value to the item's canonical type and stores it (a device
  // item: writes it to the device and waits for the answer). Results:
  // OPC_E_BADRIGHTS (not writable), OPC_E_BADTYPE (empty or not
  // convertible), OPC_E_RANGE (overflows the type, or outside the EU range
  // of an analog item, or beyond what the device item's encoding holds),
  // and a device's failures (ModbusDevice::Write).
  com::HRESULT Write(const Item& item, const com::VARIANT& value);
  // The same without waiting for a device: done gets the result, at once
  // unless a device is written (then on its thread). value is used before
  // this returns.
  void BeginWrite(const Item& item, const com::VARIANT& value,
                  std::function<void(com::HRESULT)> done);

 private:
  AddressSpace(std::shared_ptr<Clock> clock, AddressSpaceOptions options);
  void AddBranch(Branch& into, const BranchDefinition& definition);
  // A static or signal item's reading.
  ItemReading ReadComputed(const Item& item) const;
  com::HRESULT Convert(const Item& item, const com::VARIANT& value,
                       std::vector<std::uint16_t>* words);

  struct Stored {
    com::Variant value;
    com::FILETIME timeStamp{};
  };

  std::shared_ptr<Clock> clock_;
  AddressSpaceOptions options_;
  com::FILETIME startTime_{};
  std::unique_ptr<Branch> root_;
  std::vector<std::unique_ptr<Item>> items_;
  std::unordered_map<std::string, const Item*> itemsById_;
  std::unordered_map<std::string, const Branch*> branchesByPath_;
  mutable std::mutex mutex_;
  std::vector<Stored> stored_;  // static values by Item::index; guarded by mutex_
  struct DeviceSlot {
    ModbusDevice* device = nullptr;  // null: not a device item
    std::size_t point = 0;
  };
  std::vector<DeviceSlot> slots_;  // by Item::index
  // Declared last: the device threads stop before the rest goes.
  std::vector<std::unique_ptr<ModbusDevice>> devices_;
  void StartDevices(const AddressSpaceDefinition& definition);

 public:
  ~AddressSpace();
};

// Maps a failed VariantChangeType to the OPC code for the item: overflow is
// OPC_E_RANGE, anything else OPC_E_BADTYPE.
com::HRESULT ConversionError(com::HRESULT changeTypeResult);

// Whether an item of canonical type `canonical` can be served as `requested`
// (VT_EMPTY: the canonical type). Scalars convert among each other, arrays
// only to their own type.
bool IsConvertibleType(com::VARTYPE canonical, com::VARTYPE requested);

}  // namespace tagwell::server
