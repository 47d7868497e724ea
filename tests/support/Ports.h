// Loopback ports for the servers and peers tests and benchmarks start.
#pragma once

#include <cstdint>

namespace tagwell::testing {

// A TCP port on 127.0.0.1 that was free a moment ago (0 if none).
std::uint16_t FreeLoopbackPort();
// Whether something accepts connections on 127.0.0.1:port.
bool LoopbackPortListens(std::uint16_t port);

}  // namespace tagwell::testing
