#include "opc/Numbers.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace tagwell {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Removes a leading sign; true when it was a minus.
bool TakeSign(std::string_view& text) {
  if (text.empty() || (text.front() != '+' && text.front() != '-')) return false;
  const bool negative = text.front() == '-';
  text.remove_prefix(1);
  return negative;
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
  text = Trimmed(text);
  const bool negative = TakeSign(text);
  // from_chars would also take "inf", "nan" and a second sign.
  if (text.empty() || !(IsDigit(text.front()) || text.front() == '.')) return std::nullopt;
  double value = 0;
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(text.data(), end, value, std::chars_format::general);
  if (ec != std::errc() || stop != end || !std::isfinite(value)) return std::nullopt;
  return negative ? -value : value;
}

WholeNumberParse ParseWholeNumber(std::string_view text, long long* value) {
  text = Trimmed(text);
  const bool negative = TakeSign(text);
  std::size_t digits = 0;
  while (digits < text.size() && IsDigit(text[digits])) ++digits;
  std::string_view whole = text.substr(0, digits);
  std::string_view rest = text.substr(digits);
  std::size_t fraction = 0;
  if (!rest.empty() && rest.front() == '.') {
    rest.remove_prefix(1);
    while (fraction < rest.size() && IsDigit(rest[fraction])) ++fraction;
    rest.remove_prefix(fraction);
  }
  if ((whole.empty() && fraction == 0) || !rest.empty()) return WholeNumberParse::NotANumber;
  unsigned long long magnitude = 0;
  if (!whole.empty()) {
    auto [stop, ec] = std::from_chars(whole.data(), whole.data() + whole.size(), magnitude);
    if (ec != std::errc()) return WholeNumberParse::OutOfRange;
  }
  constexpr auto kMax = static_cast<unsigned long long>(std::numeric_limits<long long>::max());
  if (magnitude > kMax + (negative ? 1 : 0)) return WholeNumberParse::OutOfRange;
  *value = negative ? static_cast<long long>(0ULL - magnitude) : static_cast<long long>(magnitude);
  return WholeNumberParse::Ok;
}

std::string FixedPointText(double value, int decimals, int width) {
  char buf[400];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  std::string text = ec == std::errc() ? std::string(buf, end) : std::string();
  if (static_cast<int>(text.size()) < width)
    text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
  return text;
}

}  // namespace tagwell
