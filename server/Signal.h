// How a simulated item's value moves with time.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tagwell::server {

enum class SignalKind {
  Static,   // holds the configured or last written value
  Random,   // a new value in [low, high] every period
  Ramp,     // rises linearly from low to high over one period, then starts again
  Sine,     // a sine between low and high with the given period, at the midpoint at t = 0
  Counter,  // low, low + 1, ... high, low, ...: one step every period
};

struct Signal {
  SignalKind kind = SignalKind::Static;
  double low = 0.0;
  double high = 100.0;
  double periodSeconds = 10.0;  // > 0
};

// The signal's value `seconds` after the server started. `seed` makes random
// signals of different items differ; the same seed and instant always give
// the same value, so readings are repeatable under an injected clock.
double SignalValue(const Signal& signal, double seconds, std::uint64_t seed);

const char* SignalKindName(SignalKind kind);
std::optional<SignalKind> SignalKindFromName(std::string_view name);

}  // namespace tagwell::server
