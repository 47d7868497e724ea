// The simulation server's source of time.
#pragma once

#include <memory>

#include "platform/com/Time.h"

namespace tagwell::server {

// Gives the current time as a UTC FILETIME. Time stamps, signals and the
// server status all come from one clock, so a test that injects its own gets
// exact, repeatable readings. Implementations are called from whatever
// thread serves the server object and must be thread-safe.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual com::FILETIME Now() = 0;
};

// The wall clock (GetSystemTimeAsFileTime).
class SystemClock final : public Clock {
 public:
  com::FILETIME Now() override;
};

std::shared_ptr<Clock> MakeSystemClock();

}  // namespace tagwell::server
