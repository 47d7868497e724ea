// What the service manager is told (sd_notify): READY=1 once the first tick
// ran, WATCHDOG=1 from every tick, STATUS= with what `systemctl status`
// shows, STOPPING=1 when the recorder ends. Outside a service (no
// NOTIFY_SOCKET) nothing is sent.
#pragma once

#include <chrono>
#include <string>

namespace tagwell::recorder {

class Notifier {
 public:
  Notifier();
  // After a tick: READY=1 the first time, WATCHDOG=1 and the status.
  void Tick(const std::string& status);
  void Status(const std::string& status);
  void Stopping(const std::string& status);
  // Tells the manager that a tick may take this long without counting as
  // hung, when the watchdog of the unit is shorter than that (a long
  // cycle). No-op without a watchdog.
  void CoverCycle(std::chrono::milliseconds cycle);

 private:
  void Send(const std::string& state);
  bool ready_ = false;
  unsigned long long watchdogUsec_ = 0;  // 0: no watchdog
};

}  // namespace tagwell::recorder
