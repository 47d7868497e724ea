#include "server/Clock.h"

namespace tagwell::server {

com::FILETIME SystemClock::Now() {
  com::FILETIME now{};
  com::GetSystemTimeAsFileTime(&now);
  return now;
}

std::shared_ptr<Clock> MakeSystemClock() {
  return std::make_shared<SystemClock>();
}

}  // namespace tagwell::server
