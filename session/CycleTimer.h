// Timer 18 of the main window, behind a port so that tests drive the read
// cycle's ticks by hand.
#pragma once

#include <functional>
#include <memory>

namespace tagwell {

class CycleTimer {
 public:
  virtual ~CycleTimer() = default;
  // SetTimer: (re)starts the timer with a period in milliseconds, counted
  // from now; a running timer is replaced. The period has been clamped by
  // the caller (ReadCycle::TimerPeriod).
  virtual void Start(unsigned periodMs) = 0;
  // KillTimer: no tick follows. Harmless when not running.
  virtual void Stop() = 0;
};

// A QTimer calling tick on the GUI thread. Ticks do not queue up: a tick
// that is late is delivered once.
std::unique_ptr<CycleTimer> MakeQtCycleTimer(std::function<void()> tick);

}  // namespace tagwell
