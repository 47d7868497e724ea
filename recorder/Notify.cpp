#include "recorder/Notify.h"

#include <systemd/sd-daemon.h>

namespace tagwell::recorder {

Notifier::Notifier() {
  uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) > 0) watchdogUsec_ = usec;
}

void Notifier::Send(const std::string& state) {
  sd_notify(0, state.c_str());
}

void Notifier::Tick(const std::string& status) {
  std::string state;
  if (!ready_) state += "READY=1\n";
  ready_ = true;
  state += "WATCHDOG=1\nSTATUS=" + status;
  Send(state);
}

void Notifier::Status(const std::string& status) {
  Send("STATUS=" + status);
}

void Notifier::Stopping(const std::string& status) {
  Send("STOPPING=1\nSTATUS=" + status);
}

// Three cycles and a margin: a tick starts at most one cycle late and
// must be allowed to read for about one more.
void Notifier::CoverCycle(std::chrono::milliseconds cycle) {
  if (watchdogUsec_ == 0) return;
  const unsigned long long needed =
      3ULL * static_cast<unsigned long long>(cycle.count()) * 1000ULL + 10'000'000ULL;
  if (needed <= watchdogUsec_) return;
  watchdogUsec_ = needed;
  Send("WATCHDOG_USEC=" + std::to_string(needed));
}

}  // namespace tagwell::recorder
