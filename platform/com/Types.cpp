#include "platform/com/Types.h"

#include <cstdio>

namespace com {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[*pos]; false if any is not a hex digit.
bool ReadHex(std::string_view text, std::size_t* pos, int digits, std::uint64_t* value) {
  std::uint64_t v = 0;
  for (int i = 0; i < digits; ++i) {
    int d = HexValue(text[*pos + i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<std::uint64_t>(d);
  }
  *pos += digits;
  *value = v;
  return true;
}

}  // namespace

bool ParseGuid(std::string_view text, GUID* out) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  GUID g{};
  std::size_t pos = 1;
  std::uint64_t v;
  if (!ReadHex(text, &pos, 8, &v) || text[pos++] != '-') return false;
  g.Data1 = static_cast<std::uint32_t>(v);
  if (!ReadHex(text, &pos, 4, &v) || text[pos++] != '-') return false;
  g.Data2 = static_cast<std::uint16_t>(v);
  if (!ReadHex(text, &pos, 4, &v) || text[pos++] != '-') return false;
  g.Data3 = static_cast<std::uint16_t>(v);
  for (int i = 0; i < 8; ++i) {
    if (i == 2 && text[pos++] != '-') return false;
    if (!ReadHex(text, &pos, 2, &v)) return false;
    g.Data4[i] = static_cast<std::uint8_t>(v);
  }
  *out = g;
  return true;
}

std::string FormatGuid(const GUID& g) {
  char buf[39];
  std::snprintf(buf, sizeof buf, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                g.Data4[5], g.Data4[6], g.Data4[7]);
  return buf;
}

}  // namespace com
