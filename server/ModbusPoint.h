// Modbus TCP devices of an address space: how a device is reached and how
// an item maps onto its registers. Pure data and conversions; the talking
// is in ModbusDevice.h.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/Variant.h"
#include "platform/opcda/OpcDa.h"

namespace tagwell::server {

struct ModbusDeviceDefinition {
  std::string path;  // the device's branch path: its name in messages
  std::string host;
  std::uint16_t port = 502;
  int unit = 1;  // 1..247, or 255
  std::chrono::milliseconds timeout{1000};
  std::chrono::milliseconds period{1000};
};

// The longest response timeout a device may have: a client's call gives up
// after 10 s, and a device read may wait for the request in flight and then
// for its own.
inline constexpr std::chrono::milliseconds kMaxDeviceTimeout{5000};

enum class RegisterKind { Coil, DiscreteInput, InputRegister, HoldingRegister };

enum class Encoding { Bool, Int16, UInt16, Int32, UInt32, Float32, Float64, String };

// Linear scaling of the raw number to engineering units; the EU range is
// the item's analog EU range.
struct Scaling {
  double rawLow = 0.0;
  double rawHigh = 0.0;
};

struct ModbusPoint {
  std::size_t device = 0;  // index into AddressSpaceDefinition::devices
  RegisterKind kind = RegisterKind::HoldingRegister;
  std::uint16_t address = 0;  // protocol address, counted from 0
  Encoding encoding = Encoding::UInt16;
  bool lowWordFirst = false;       // 32- and 64-bit numbers: the low word at `address`
  std::uint16_t stringLength = 0;  // Encoding::String: registers, two characters each
  std::optional<Scaling> scaling;
};

bool IsBitKind(RegisterKind kind);
bool IsWritableKind(RegisterKind kind);
// Registers (or bits) the point occupies.
unsigned PointWidth(const ModbusPoint& point);
// The item's canonical type: VT_R8 when scaled.
com::VARTYPE CanonicalTypeOf(const ModbusPoint& point);

// Names as the address-space file writes them; nullopt for an unknown name.
std::optional<RegisterKind> RegisterKindFromName(const std::string& name);
std::optional<Encoding> EncodingFromName(const std::string& name);
const char* RegisterKindName(RegisterKind kind);
const char* EncodingName(Encoding encoding);

// The point's first fault as a definition (empty when sound): an encoding
// that does not fit the register kind, a string without length, registers
// beyond 65535, word order on a 16-bit number, an empty raw range.
std::string CheckPoint(const ModbusPoint& point);

// The value of the point from its words (registers, or bits as 0/1, at
// least PointWidth of them), in the canonical type.
com::Variant DecodePoint(const ModbusPoint& point, const std::uint16_t* words, double euLow,
                         double euHigh);
// The words to write for value (of the canonical type): S_OK, or
// OPC_E_RANGE when it does not fit the encoding (a text longer than the
// registers hold, a scaled value beyond the raw type).
com::HRESULT EncodePoint(const ModbusPoint& point, const com::VARIANT& value, double euLow,
                         double euHigh, std::vector<std::uint16_t>* words);

}  // namespace tagwell::server
