#include "db/ValueText.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/com/Text.h"

namespace tagwell {
namespace {

const char* OrEmpty(const char* text) {
  return text ? text : "";
}

// Whole numbers up to this many digits are written out ("1500", not
// "1.5e+03"); larger and smaller magnitudes keep the exponent.
constexpr int kPlainDigits = 15;

template <class Real>
std::string Shortest(Real value, Real (*parse)(const char*, char**), int maxDigits) {
  char buf[64];
  int digits = 1;
  for (; digits <= maxDigits; ++digits) {
    std::snprintf(buf, sizeof buf, "%.*g", digits, static_cast<double>(value));
    if (parse(buf, nullptr) == value) break;
  }
  if (digits > maxDigits) return buf;  // nan, never equal to itself
  if (const char* e = std::strchr(buf, 'e')) {
    const int exponent = std::atoi(e + 1);
    if (exponent >= digits && exponent < kPlainDigits)
      std::snprintf(buf, sizeof buf, "%.*g", exponent + 1, static_cast<double>(value));
  }
  return buf;
}

std::string Number(long value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%ld", value);
  return buf;
}

}  // namespace

std::string ShortestText(float value) {
  return Shortest<float>(value, std::strtof, 9);
}
std::string ShortestText(double value) {
  return Shortest<double>(value, std::strtod, 17);
}

const char* ReadingTypeWord(const CurrentReading& reading) {
  switch (reading.valueType) {
    case 1:
      return OrEmpty(reading.booleanTypeName);
    case 2:
      return OrEmpty(reading.integerTypeName);
    case 3:
      return OrEmpty(reading.longTypeName);
    case 4:
      return OrEmpty(reading.floatTypeName);
    case 6:
      return OrEmpty(reading.stringTypeName);
    default:
      return OrEmpty(reading.doubleTypeName);
  }
}

std::string ReadingValueText(const CurrentReading& reading) {
  switch (reading.valueType) {
    case 1:
      return Number(reading.booleanValue);
    case 2:
      return Number(static_cast<std::int16_t>(reading.integerValue));
    case 3:
      return Number(reading.longValue);
    case 4:
      return ShortestText(reading.floatValue);
    case 6:
      return com::Utf16ToUtf8(com::WideView(reading.stringValue));
    default:
      return ShortestText(reading.doubleValue);
  }
}

}  // namespace tagwell
