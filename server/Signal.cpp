#include "server/Signal.h"

#include <cmath>
#include <numbers>

namespace tagwell::server {
namespace {

// SplitMix64: a small, well-mixed hash, enough for a simulated noise source.
std::uint64_t Mix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

double Fraction(double x) {
  return x - std::floor(x);
}

}  // namespace

double SignalValue(const Signal& signal, double seconds, std::uint64_t seed) {
  const double span = signal.high - signal.low;
  const double cycles = seconds / signal.periodSeconds;
  switch (signal.kind) {
    case SignalKind::Static:
      return signal.low;
    case SignalKind::Random: {
      const auto step = static_cast<std::int64_t>(std::floor(cycles));
      const std::uint64_t bits = Mix(seed ^ Mix(static_cast<std::uint64_t>(step)));
      // 53 random bits give a uniform double in [0, 1].
      const double unit = static_cast<double>(bits >> 11) / static_cast<double>((1ull << 53) - 1);
      return signal.low + span * unit;
    }
    case SignalKind::Ramp:
      return signal.low + span * Fraction(cycles);
    case SignalKind::Sine:
      return signal.low + span / 2.0 * (1.0 + std::sin(2.0 * std::numbers::pi * cycles));
    case SignalKind::Counter: {
      const auto steps = static_cast<std::int64_t>(std::floor(span)) + 1;
      const auto n = static_cast<std::int64_t>(std::floor(cycles));
      return signal.low + static_cast<double>(((n % steps) + steps) % steps);
    }
  }
  return signal.low;
}

const char* SignalKindName(SignalKind kind) {
  switch (kind) {
    case SignalKind::Static:
      return "static";
    case SignalKind::Random:
      return "random";
    case SignalKind::Ramp:
      return "ramp";
    case SignalKind::Sine:
      return "sine";
    case SignalKind::Counter:
      return "counter";
  }
  return "static";
}

std::optional<SignalKind> SignalKindFromName(std::string_view name) {
  for (SignalKind kind : {SignalKind::Static, SignalKind::Random, SignalKind::Ramp,
                          SignalKind::Sine, SignalKind::Counter}) {
    if (name == SignalKindName(kind)) return kind;
  }
  return std::nullopt;
}

}  // namespace tagwell::server
