#include "server/ModbusPoint.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/com/Text.h"

namespace tagwell::server {
namespace {

struct KindName {
  const char* text;
  RegisterKind kind;
};
constexpr KindName kKindNames[] = {
    {"coil", RegisterKind::Coil},
    {"discreteInput", RegisterKind::DiscreteInput},
    {"inputRegister", RegisterKind::InputRegister},
    {"holdingRegister", RegisterKind::HoldingRegister},
};

struct EncodingEntry {
  const char* text;
  Encoding encoding;
  com::VARTYPE vt;
  unsigned words;  // 0: stringLength
};
constexpr EncodingEntry kEncodings[] = {
    {"bool", Encoding::Bool, com::VT_BOOL, 1},     {"int16", Encoding::Int16, com::VT_I2, 1},
    {"uint16", Encoding::UInt16, com::VT_UI2, 1},  {"int32", Encoding::Int32, com::VT_I4, 2},
    {"uint32", Encoding::UInt32, com::VT_UI4, 2},  {"float32", Encoding::Float32, com::VT_R4, 2},
    {"float64", Encoding::Float64, com::VT_R8, 4}, {"string", Encoding::String, com::VT_BSTR, 0},
};

const EncodingEntry& EntryOf(Encoding encoding) {
  for (const EncodingEntry& e : kEncodings)
    if (e.encoding == encoding) return e;
  return kEncodings[0];
}

// The words of a 32- or 64-bit number, most significant first.
std::uint64_t Gather(const ModbusPoint& point, const std::uint16_t* words, unsigned n) {
  std::uint64_t bits = 0;
  for (unsigned i = 0; i < n; ++i) bits = (bits << 16) | words[point.lowWordFirst ? n - 1 - i : i];
  return bits;
}

void Scatter(const ModbusPoint& point, std::uint64_t bits, unsigned n,
             std::vector<std::uint16_t>* words) {
  words->assign(n, 0);
  for (unsigned i = 0; i < n; ++i) {
    const auto word = static_cast<std::uint16_t>(bits >> (16 * (n - 1 - i)));
    (*words)[point.lowWordFirst ? n - 1 - i : i] = word;
  }
}

// The number the registers hold, before scaling.
double RawNumber(const ModbusPoint& point, const std::uint16_t* words) {
  switch (point.encoding) {
    case Encoding::Bool:
      return words[0] != 0 ? 1.0 : 0.0;
    case Encoding::Int16:
      return static_cast<std::int16_t>(words[0]);
    case Encoding::UInt16:
      return words[0];
    case Encoding::Int32:
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(Gather(point, words, 2)));
    case Encoding::UInt32:
      return static_cast<double>(Gather(point, words, 2));
    case Encoding::Float32:
      return std::bit_cast<float>(static_cast<std::uint32_t>(Gather(point, words, 2)));
    case Encoding::Float64:
      return std::bit_cast<double>(Gather(point, words, 4));
    case Encoding::String:
      break;
  }
  return 0.0;
}

// The raw number in the encoding's range (and whole for integers), or
// nullopt.
std::optional<std::uint64_t> RawBits(const ModbusPoint& point, double raw) {
  auto whole = [&](double low, double high) -> std::optional<std::uint64_t> {
    const double r = std::round(raw);
    if (!(r >= low && r <= high)) return std::nullopt;
    return static_cast<std::uint64_t>(static_cast<std::int64_t>(r));
  };
  switch (point.encoding) {
    case Encoding::Bool:
      return whole(0, 1);
    case Encoding::Int16:
      if (auto b = whole(-32768, 32767)) return *b & 0xFFFF;
      return std::nullopt;
    case Encoding::UInt16:
      return whole(0, 65535);
    case Encoding::Int32:
      if (auto b = whole(-2147483648.0, 2147483647.0)) return *b & 0xFFFFFFFFu;
      return std::nullopt;
    case Encoding::UInt32:
      return whole(0, 4294967295.0);
    case Encoding::Float32:
      if (!std::isfinite(raw) || std::fabs(raw) > std::numeric_limits<float>::max())
        return std::nullopt;
      return std::bit_cast<std::uint32_t>(static_cast<float>(raw));
    case Encoding::Float64:
      if (!std::isfinite(raw)) return std::nullopt;
      return std::bit_cast<std::uint64_t>(raw);
    case Encoding::String:
      break;
  }
  return std::nullopt;
}

com::Variant DecodeString(const ModbusPoint& point, const std::uint16_t* words) {
  std::string text;
  for (unsigned i = 0; i < point.stringLength; ++i) {
    const char pair[2] = {static_cast<char>(words[i] >> 8), static_cast<char>(words[i] & 0xFF)};
    for (char c : pair) {
      if (c == '\0') i = point.stringLength;  // the text ends at the first NUL
      if (c == '\0') break;
      text.push_back(c);
    }
  }
  com::Variant value;
  value->vt = com::VT_BSTR;
  value->bstrVal = com::SysAllocStringUtf8(text);
  return value;
}

com::HRESULT EncodeString(const ModbusPoint& point, const com::VARIANT& value,
                          std::vector<std::uint16_t>* words) {
  const std::string text = com::Utf16ToUtf8(std::u16string_view(
      value.bstrVal ? value.bstrVal : u"", value.bstrVal ? com::SysStringLen(value.bstrVal) : 0));
  if (text.size() > 2u * point.stringLength || text.find('\0') != std::string::npos)
    return com::OPC_E_RANGE;
  words->assign(point.stringLength, 0);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<std::uint16_t>(static_cast<unsigned char>(text[i]));
    (*words)[i / 2] |= (i % 2 == 0) ? static_cast<std::uint16_t>(byte << 8) : byte;
  }
  return com::S_OK;
}

double NumberOf(const com::VARIANT& value) {
  com::Variant number;
  if (com::FAILED(com::VariantChangeType(number.get(), &value, 0, com::VT_R8))) return NAN;
  return number->dblVal;
}

}  // namespace

bool IsBitKind(RegisterKind kind) {
  return kind == RegisterKind::Coil || kind == RegisterKind::DiscreteInput;
}

bool IsWritableKind(RegisterKind kind) {
  return kind == RegisterKind::Coil || kind == RegisterKind::HoldingRegister;
}

unsigned PointWidth(const ModbusPoint& point) {
  const unsigned words = EntryOf(point.encoding).words;
  return words == 0 ? point.stringLength : words;
}

com::VARTYPE CanonicalTypeOf(const ModbusPoint& point) {
  return point.scaling ? static_cast<com::VARTYPE>(com::VT_R8) : EntryOf(point.encoding).vt;
}

std::optional<RegisterKind> RegisterKindFromName(const std::string& name) {
  for (const KindName& k : kKindNames)
    if (name == k.text) return k.kind;
  return std::nullopt;
}

std::optional<Encoding> EncodingFromName(const std::string& name) {
  for (const EncodingEntry& e : kEncodings)
    if (name == e.text) return e.encoding;
  return std::nullopt;
}

const char* RegisterKindName(RegisterKind kind) {
  for (const KindName& k : kKindNames)
    if (k.kind == kind) return k.text;
  return "";
}

const char* EncodingName(Encoding encoding) {
  return EntryOf(encoding).text;
}

std::string CheckPoint(const ModbusPoint& point) {
  const bool bits = IsBitKind(point.kind);
  if (bits != (point.encoding == Encoding::Bool))
    return bits ? std::string("a ") + RegisterKindName(point.kind) + " holds only bool"
                : std::string("bool is only for a coil or a discreteInput");
  if (point.encoding == Encoding::String && (point.stringLength < 1 || point.stringLength > 125))
    return "a string needs a length of 1 to 125 registers";
  if (point.encoding != Encoding::String && point.stringLength != 0)
    return "only a string has a length";
  if (point.address + PointWidth(point) - 1 > 65535u)
    return "the registers " + std::to_string(point.address) + " to " +
           std::to_string(point.address + PointWidth(point) - 1) + " go beyond 65535";
  if (point.lowWordFirst && PointWidth(point) < 2 && point.encoding != Encoding::String)
    return std::string("word order means nothing for ") + EncodingName(point.encoding);
  if (point.lowWordFirst && point.encoding == Encoding::String)
    return "word order means nothing for string";
  if (point.scaling) {
    if (point.encoding == Encoding::Bool || point.encoding == Encoding::String)
      return std::string("a ") + EncodingName(point.encoding) + " cannot be scaled";
    if (!std::isfinite(point.scaling->rawLow) || !std::isfinite(point.scaling->rawHigh) ||
        point.scaling->rawLow >= point.scaling->rawHigh)
      return "the raw range needs rawLow < rawHigh";
  }
  return {};
}

com::Variant DecodePoint(const ModbusPoint& point, const std::uint16_t* words, double euLow,
                         double euHigh) {
  if (point.encoding == Encoding::String) return DecodeString(point, words);
  const double number = RawNumber(point, words);
  // Set member by member: every raw number of the encoding fits its
  // canonical type exactly, and this runs for every point of every poll.
  com::Variant value;
  com::VARIANT& v = *value.get();
  v.vt = CanonicalTypeOf(point);
  if (point.scaling) {
    const Scaling& s = *point.scaling;
    v.dblVal = euLow + (number - s.rawLow) * (euHigh - euLow) / (s.rawHigh - s.rawLow);
    return value;
  }
  switch (point.encoding) {
    case Encoding::Bool:
      v.boolVal = number != 0.0 ? com::VARIANT_TRUE : com::VARIANT_FALSE;
      break;
    case Encoding::Int16:
      v.iVal = static_cast<com::SHORT>(number);
      break;
    case Encoding::UInt16:
      v.uiVal = static_cast<com::USHORT>(number);
      break;
    case Encoding::Int32:
      v.lVal = static_cast<com::LONG>(number);
      break;
    case Encoding::UInt32:
      v.ulVal = static_cast<com::ULONG>(number);
      break;
    case Encoding::Float32:
      v.fltVal = static_cast<float>(number);
      break;
    case Encoding::Float64:
    case Encoding::String:
      v.dblVal = number;
      break;
  }
  return value;
}

com::HRESULT EncodePoint(const ModbusPoint& point, const com::VARIANT& value, double euLow,
                         double euHigh, std::vector<std::uint16_t>* words) {
  if (point.encoding == Encoding::String) {
    if (value.vt != com::VT_BSTR) return com::OPC_E_BADTYPE;
    return EncodeString(point, value, words);
  }
  double raw = NumberOf(value);
  if (point.scaling) {
    const Scaling& s = *point.scaling;
    raw = s.rawLow + (raw - euLow) * (s.rawHigh - s.rawLow) / (euHigh - euLow);
  }
  if (point.encoding == Encoding::Bool) raw = raw != 0.0 ? 1.0 : 0.0;
  const std::optional<std::uint64_t> bits = RawBits(point, raw);
  if (!bits) return com::OPC_E_RANGE;
  Scatter(point, *bits, PointWidth(point), words);
  return com::S_OK;
}

}  // namespace tagwell::server
