#include "server/AddressSpace.h"

#include <atomic>
#include <cmath>
#include <future>
#include <map>
#include <unordered_set>

#include "server/ModbusDevice.h"

namespace tagwell::server {
namespace {

bool IsArrayType(com::VARTYPE vt) {
  return (vt & com::VT_ARRAY) != 0;
}

bool IsSupportedCanonicalType(com::VARTYPE vt) {
  switch (vt) {
    case com::VT_I2:
    case com::VT_I4:
    case com::VT_R4:
    case com::VT_R8:
    case com::VT_BSTR:
    case com::VT_BOOL:
    case com::VT_UI1:
    case com::VT_UI2:
    case com::VT_UI4:
    case com::VT_ARRAY | com::VT_R8:
    case com::VT_ARRAY | com::VT_UI1:
      return true;
    default:
      return false;
  }
}

bool IsScalarConversionTarget(com::VARTYPE vt) {
  switch (vt) {
    case com::VT_I1:
    case com::VT_I2:
    case com::VT_I4:
    case com::VT_I8:
    case com::VT_UI1:
    case com::VT_UI2:
    case com::VT_UI4:
    case com::VT_UI8:
    case com::VT_INT:
    case com::VT_UINT:
    case com::VT_R4:
    case com::VT_R8:
    case com::VT_BOOL:
    case com::VT_DATE:
    case com::VT_BSTR:
      return true;
    default:
      return false;
  }
}

bool IsNumericType(com::VARTYPE vt) {
  return !IsArrayType(vt) && vt != com::VT_BSTR && vt != com::VT_BOOL;
}

bool HasControlCharacter(std::string_view text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

// FNV-1a: a hash that is the same in every process, so that a random item
// gives the same readings in-process and through a server process.
std::uint64_t StableHash(std::string_view text) {
  std::uint64_t h = 0xCBF29CE484222325ull;
  for (unsigned char c : text) h = (h ^ c) * 0x100000001B3ull;
  return h;
}

// Whether x survives the conversion to vt (range check of a signal limit).
bool FitsType(double x, com::VARTYPE vt) {
  com::Variant number;
  number->vt = com::VT_R8;
  number->dblVal = x;
  com::Variant converted;
  return com::SUCCEEDED(com::VariantChangeType(converted.get(), number.get(), 0, vt));
}

std::string CheckName(const std::string& name, bool branch) {
  if (name.empty()) return branch ? "a branch has no name" : "an item has no name";
  if (HasControlCharacter(name)) return "the name \"" + name + "\" contains a control character";
  if (branch && name.find('.') != std::string::npos)
    return "the branch name \"" + name + "\" contains a dot";
  if (!branch &&
      (name.front() == '.' || name.back() == '.' || name.find("..") != std::string::npos))
    return "the item name \"" + name + "\" has an empty part between dots";
  return {};
}

std::string CheckSignal(const std::string& id, const ItemDefinition& item) {
  const Signal& s = item.signal;
  if (s.kind == SignalKind::Static) {
    const com::VARTYPE vt = item.initialValue->vt;
    if (vt != com::VT_EMPTY && vt != item.canonicalType)
      return "item " + id + ": the value is not of the item's type";
    return {};
  }
  if (IsArrayType(item.canonicalType))
    return "item " + id + ": an array item can only hold a static value";
  if (item.accessRights & com::OPC_WRITEABLE)
    return "item " + id + ": a " + SignalKindName(s.kind) + " signal cannot be written";
  if (!(s.periodSeconds > 0.0) || !std::isfinite(s.periodSeconds))
    return "item " + id + ": the period must be a positive number of seconds";
  if (!std::isfinite(s.low) || !std::isfinite(s.high) || s.low > s.high)
    return "item " + id + ": the signal needs low <= high";
  if (!FitsType(s.low, item.canonicalType) || !FitsType(s.high, item.canonicalType))
    return "item " + id + ": the signal range does not fit the item's type";
  return {};
}

std::string CheckDeviceItem(const std::string& id, const ItemDefinition& item,
                            std::size_t deviceCount) {
  const ModbusPoint& point = *item.modbus;
  if (point.device >= deviceCount) return "item " + id + ": no such device";
  if (std::string e = CheckPoint(point); !e.empty()) return "item " + id + ": " + e;
  if (item.canonicalType != CanonicalTypeOf(point))
    return "item " + id + ": the type does not fit the encoding";
  const com::DWORD rights =
      com::OPC_READABLE | (IsWritableKind(point.kind) ? com::OPC_WRITEABLE : com::DWORD{0});
  if (item.accessRights != rights) return "item " + id + ": the access does not fit the register";
  if (item.signal.kind != SignalKind::Static) return "item " + id + ": a device item has no signal";
  if ((item.euType == com::OPC_ANALOG) != point.scaling.has_value())
    return "item " + id + ": a scaled item is analog, and only a scaled one";
  return {};
}

std::string CheckItem(const std::string& id, const ItemDefinition& item, std::size_t deviceCount) {
  if (item.modbus)
    if (std::string e = CheckDeviceItem(id, item, deviceCount); !e.empty()) return e;
  if (!IsSupportedCanonicalType(item.canonicalType))
    return "item " + id + ": unsupported type " + std::to_string(item.canonicalType);
  if (!(item.accessRights & com::OPC_READABLE) ||
      (item.accessRights & ~(com::OPC_READABLE | com::OPC_WRITEABLE)))
    return "item " + id + ": access must be read or read and write";
  if (item.euType == com::OPC_ANALOG) {
    if (!IsNumericType(item.canonicalType))
      return "item " + id + ": only a numeric item can be analog";
    if (!std::isfinite(item.euLow) || !std::isfinite(item.euHigh) || item.euLow >= item.euHigh)
      return "item " + id + ": the EU range needs low < high";
  } else if (item.euType == com::OPC_ENUMERATED) {
    if (!IsNumericType(item.canonicalType) && item.canonicalType != com::VT_BOOL)
      return "item " + id + ": only an integer item can be enumerated";
    if (item.euTexts.empty()) return "item " + id + ": an enumerated item needs its state texts";
  } else if (item.euType != com::OPC_NOENUM) {
    return "item " + id + ": unknown EU type";
  }
  return CheckSignal(id, item);
}

std::string JoinId(const std::string& path, const std::string& name) {
  return path.empty() ? name : path + "." + name;
}

struct Validator {
  std::size_t deviceCount = 0;
  std::unordered_set<std::string> itemIds;
  std::unordered_set<std::string> branchPaths;

  std::string Check(const BranchDefinition& branch, const std::string& path) {
    for (const ItemDefinition& item : branch.items) {
      if (std::string e = CheckName(item.name, false); !e.empty()) return e;
      const std::string id = JoinId(path, item.name);
      if (!itemIds.insert(id).second) return "the item ID " + id + " is given twice";
      if (std::string e = CheckItem(id, item, deviceCount); !e.empty()) return e;
    }
    for (const BranchDefinition& sub : branch.branches) {
      if (std::string e = CheckName(sub.name, true); !e.empty()) return e;
      const std::string subPath = JoinId(path, sub.name);
      if (!branchPaths.insert(subPath).second) return "the branch " + subPath + " is given twice";
      if (std::string e = Check(sub, subPath); !e.empty()) return e;
    }
    return {};
  }
};

com::Variant DefaultValue(com::VARTYPE vt) {
  com::Variant value;
  if (IsArrayType(vt)) {
    value->parray = com::SafeArrayCreateVector(vt & com::VT_TYPEMASK, 0, 0);
    value->vt = vt;
    return value;
  }
  com::Variant zero;
  zero->vt = com::VT_I4;
  zero->lVal = 0;
  com::VariantChangeType(value.get(), zero.get(), 0, vt);
  return value;
}

}  // namespace

std::string ValidateAddressSpace(const AddressSpaceDefinition& definition) {
  Validator validator;
  validator.deviceCount = definition.devices.size();
  for (const ModbusDeviceDefinition& device : definition.devices)
    if (device.host.empty() || device.timeout.count() <= 0 || device.period.count() <= 0)
      return "device " + device.path + ": needs a host, a timeout and a period";
  if (std::string e = validator.Check(definition.root, ""); !e.empty()) return e;
  for (const std::string& path : validator.branchPaths)
    if (validator.itemIds.count(path))
      return "the name " + path + " is used for a branch and an item";
  return {};
}

com::HRESULT ConversionError(com::HRESULT changeTypeResult) {
  return changeTypeResult == com::DISP_E_OVERFLOW ? com::OPC_E_RANGE : com::OPC_E_BADTYPE;
}

bool IsConvertibleType(com::VARTYPE canonical, com::VARTYPE requested) {
  if (requested == com::VT_EMPTY || requested == canonical) return true;
  if (IsArrayType(canonical) || IsArrayType(requested)) return false;
  return IsScalarConversionTarget(requested);
}

AddressSpace::AddressSpace(std::shared_ptr<Clock> clock, AddressSpaceOptions options)
    : clock_(std::move(clock)), options_(options), root_(std::make_unique<Branch>()) {
  startTime_ = clock_->Now();
}

std::shared_ptr<AddressSpace> AddressSpace::Create(AddressSpaceDefinition definition,
                                                   std::shared_ptr<Clock> clock,
                                                   AddressSpaceOptions options,
                                                   std::string* error) {
  std::string fault = ValidateAddressSpace(definition);
  if (error) *error = fault;
  if (!fault.empty()) return nullptr;
  if (!clock) clock = MakeSystemClock();
  std::shared_ptr<AddressSpace> space(new AddressSpace(std::move(clock), options));
  space->AddBranch(*space->root_, definition.root);
  if (options.flat) {
    // Every item directly at the root, in the same order.
    space->root_->branches.clear();
    space->root_->items.clear();
    for (const auto& item : space->items_) space->root_->items.push_back(item.get());
    space->branchesByPath_.clear();
  }
  space->branchesByPath_[""] = space->root_.get();
  space->StartDevices(definition);
  return space;
}

AddressSpace::~AddressSpace() = default;

void AddressSpace::StartDevices(const AddressSpaceDefinition& definition) {
  slots_.resize(items_.size());
  std::vector<std::vector<DevicePoint>> points(definition.devices.size());
  for (const auto& item : items_) {
    const ItemDefinition& d = item->definition;
    if (!d.modbus) continue;
    slots_[item->index].point = points[d.modbus->device].size();
    points[d.modbus->device].push_back({*d.modbus, d.euLow, d.euHigh});
  }
  for (std::size_t i = 0; i < definition.devices.size(); ++i)
    devices_.push_back(
        std::make_unique<ModbusDevice>(definition.devices[i], std::move(points[i]), clock_));
  for (const auto& item : items_)
    if (item->definition.modbus)
      slots_[item->index].device = devices_[item->definition.modbus->device].get();
}

void AddressSpace::AddBranch(Branch& into, const BranchDefinition& definition) {
  for (const ItemDefinition& itemDefinition : definition.items) {
    auto item = std::make_unique<Item>();
    item->id = JoinId(into.path, itemDefinition.name);
    item->definition = itemDefinition;
    item->index = items_.size();
    Stored stored;
    stored.value = itemDefinition.initialValue->vt == com::VT_EMPTY
                       ? DefaultValue(itemDefinition.canonicalType)
                       : itemDefinition.initialValue;
    stored.timeStamp = startTime_;
    stored_.push_back(std::move(stored));
    into.items.push_back(item.get());
    itemsById_[item->id] = item.get();
    items_.push_back(std::move(item));
  }
  for (const BranchDefinition& sub : definition.branches) {
    auto branch = std::make_unique<Branch>();
    branch->name = sub.name;
    branch->path = JoinId(into.path, sub.name);
    branch->parent = &into;
    branchesByPath_[branch->path] = branch.get();
    AddBranch(*branch, sub);
    into.branches.push_back(std::move(branch));
  }
}

const Item* AddressSpace::FindItem(std::string_view id) const {
  auto it = itemsById_.find(std::string(id));
  return it == itemsById_.end() ? nullptr : it->second;
}

const Branch* AddressSpace::FindBranch(std::string_view path) const {
  auto it = branchesByPath_.find(std::string(path));
  return it == branchesByPath_.end() ? nullptr : it->second;
}

com::HRESULT AddressSpace::Lookup(std::string_view id, const Item** item) const {
  *item = nullptr;
  if (id.empty() || HasControlCharacter(id) || id.front() == '.' || id.back() == '.' ||
      id.find("..") != std::string_view::npos)
    return com::OPC_E_INVALIDITEMID;
  *item = FindItem(id);
  return *item ? com::S_OK : com::OPC_E_UNKNOWNITEMID;
}

com::HRESULT AddressSpace::CheckRequestedType(const Item& item, com::VARTYPE requested) const {
  const com::VARTYPE canonical = item.definition.canonicalType;
  if (!IsConvertibleType(canonical, requested)) return com::OPC_E_BADTYPE;
  if (requested == com::VT_EMPTY || requested == canonical) return com::S_OK;
  const ItemReading reading = Read(item);
  com::Variant converted;
  const com::HRESULT hr =
      com::VariantChangeType(converted.get(), reading.value.get(), 0, requested);
  return com::SUCCEEDED(hr) || hr == com::DISP_E_OVERFLOW ? com::S_OK : com::OPC_E_BADTYPE;
}

ItemReading AddressSpace::Read(const Item& item) const {
  ItemReading reading;
  const Item* one = &item;
  ReadItems(&one, 1, false, &reading);
  return reading;
}

void AddressSpace::BeginReadItems(std::vector<const Item*> items, bool fromDevice,
                                  ReadDone done) const {
  // What the devices answer lands in `readings`; the last device to answer
  // (or this call, when it was last) hands them on.
  struct Gather {
    std::vector<ItemReading> readings;
    std::atomic<std::size_t> left{1};
    ReadDone done;
    void Release() {
      if (left.fetch_sub(1) == 1) done(std::move(readings));
    }
  };
  auto gather = std::make_shared<Gather>();
  gather->readings.resize(items.size());
  gather->done = std::move(done);
  std::map<ModbusDevice*, std::vector<std::size_t>> byDevice;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (const DeviceSlot& slot = slots_[items[i]->index]; slot.device)
      byDevice[slot.device].push_back(i);
    else
      gather->readings[i] = ReadComputed(*items[i]);
  }
  gather->left += byDevice.size();
  for (auto& [device, positions] : byDevice) {
    std::vector<std::size_t> points;
    for (std::size_t i : positions) points.push_back(slots_[items[i]->index].point);
    device->Begin(
        std::move(points), fromDevice,
        [gather, device = device, positions = positions](const ModbusDevice::PendingRead& read) {
          std::vector<ItemReading> readings(positions.size());
          device->Finish(read, readings.data());
          for (std::size_t k = 0; k < readings.size(); ++k)
            gather->readings[positions[k]] = std::move(readings[k]);
          gather->Release();
        });
  }
  gather->Release();
}

void AddressSpace::ReadItems(const Item* const* items, std::size_t count, bool fromDevice,
                             ItemReading* out) const {
  std::promise<std::vector<ItemReading>> answer;
  BeginReadItems(
      std::vector<const Item*>(items, items + count), fromDevice,
      [&answer](std::vector<ItemReading> readings) { answer.set_value(std::move(readings)); });
  std::vector<ItemReading> readings = answer.get_future().get();
  std::move(readings.begin(), readings.end(), out);
}

ItemReading AddressSpace::ReadComputed(const Item& item) const {
  const ItemDefinition& definition = item.definition;
  ItemReading reading;
  reading.quality = definition.quality;
  if (definition.signal.kind == SignalKind::Static) {
    std::lock_guard lock(mutex_);
    reading.value = stored_[item.index].value;
    reading.timeStamp = stored_[item.index].timeStamp;
    return reading;
  }
  reading.timeStamp = clock_->Now();
  const auto elapsed = static_cast<std::int64_t>(com::FileTimeTicks(reading.timeStamp) -
                                                 com::FileTimeTicks(startTime_));
  com::Variant number;
  number->vt = com::VT_R8;
  number->dblVal =
      SignalValue(definition.signal, static_cast<double>(elapsed) / 1e7, StableHash(item.id));
  // A boolean signal is on from the middle of its range up, not from any non-zero value.
  if (definition.canonicalType == com::VT_BOOL) number->dblVal = std::round(number->dblVal);
  if (com::FAILED(
          com::VariantChangeType(reading.value.get(), number.get(), 0, definition.canonicalType)))
    reading.quality = com::OPC_QUALITY_BAD;
  return reading;
}

com::HRESULT AddressSpace::Write(const Item& item, const com::VARIANT& value) {
  std::promise<com::HRESULT> answer;
  BeginWrite(item, value, [&answer](com::HRESULT hr) { answer.set_value(hr); });
  return answer.get_future().get();
}

void AddressSpace::BeginWrite(const Item& item, const com::VARIANT& value,
                              std::function<void(com::HRESULT)> done) {
  if (const DeviceSlot& slot = slots_[item.index]; slot.device) {
    std::vector<std::uint16_t> words;
    const com::HRESULT hr = Convert(item, value, &words);
    if (com::FAILED(hr)) return done(hr);
    return slot.device->BeginWrite(slot.point, std::move(words), std::move(done));
  }
  done(Convert(item, value, nullptr));
}

// Checks value for the item and stores it (a static item) or encodes it
// into words (a device item).
com::HRESULT AddressSpace::Convert(const Item& item, const com::VARIANT& value,
                                   std::vector<std::uint16_t>* words) {
  const ItemDefinition& definition = item.definition;
  if (!(definition.accessRights & com::OPC_WRITEABLE)) return com::OPC_E_BADRIGHTS;
  if (value.vt == com::VT_EMPTY || value.vt == com::VT_NULL || (value.vt & com::VT_BYREF))
    return com::OPC_E_BADTYPE;
  com::Variant converted;
  const com::HRESULT hr =
      com::VariantChangeType(converted.get(), &value, 0, definition.canonicalType);
  if (com::FAILED(hr)) return ConversionError(hr);
  if (definition.euType == com::OPC_ANALOG) {
    com::Variant number;
    if (com::FAILED(com::VariantChangeType(number.get(), converted.get(), 0, com::VT_R8)) ||
        number->dblVal < definition.euLow || number->dblVal > definition.euHigh)
      return com::OPC_E_RANGE;
  }
  if (words)
    return EncodePoint(*definition.modbus, *converted.get(), definition.euLow, definition.euHigh,
                       words);
  const com::FILETIME now = clock_->Now();
  std::lock_guard lock(mutex_);
  stored_[item.index].value = std::move(converted);
  stored_[item.index].timeStamp = now;
  return com::S_OK;
}

}  // namespace tagwell::server
