#include "db/ValueText.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "platform/com/Text.h"

namespace tagwell {
namespace {

const char* OrEmpty(const char* text) {
  return text ? text : "";
}

// Whole numbers up to this many digits are written out ("1500", not
// "1.5e+03"); larger and smaller magnitudes keep the exponent.
constexpr int kPlainDigits = 15;

// "%.*g" in the C locale: a decimal point whatever the process's locale.
template <class Real>
std::string GeneralText(Real value, int digits) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, static_cast<double>(value),
                                 std::chars_format::general, digits);
  return ec == std::errc() ? std::string(buf, end) : std::string();
}

template <class Real>
bool ReadsBackAs(const std::string& text, Real value) {
  Real parsed{};
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  return ec == std::errc() && parsed == value;
}

template <class Real>
std::string Shortest(Real value, int maxDigits) {
  std::string text;
  int digits = 1;
  for (; digits <= maxDigits; ++digits) {
    text = GeneralText(value, digits);
    if (ReadsBackAs(text, value)) break;
  }
  if (digits > maxDigits) return text;  // nan, never equal to itself
  if (const std::size_t e = text.find('e'); e != std::string::npos) {
    const int exponent = std::atoi(text.c_str() + e + 1);
    if (exponent >= digits && exponent < kPlainDigits) text = GeneralText(value, exponent + 1);
  }
  return text;
}

std::string Number(long value) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%ld", value);
  return buf;
}

}  // namespace

std::string ShortestText(float value) {
  return Shortest<float>(value, 9);
}
std::string ShortestText(double value) {
  return Shortest<double>(value, 17);
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
      return reading.floatFromDouble ? ShortestText(reading.doubleValue)
                                     : ShortestText(reading.floatValue);
    case 6:
      return com::Utf16ToUtf8(com::WideView(reading.stringValue));
    default:
      return ShortestText(reading.doubleValue);
  }
}

}  // namespace tagwell
