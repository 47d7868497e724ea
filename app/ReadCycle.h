// The read cycle on timer 18 and the active/standby role protocol: the Read
// Item command that starts it, and the tick that reads the rows, restores
// the operator's selection and runs the protocol over Config.ini and the
// heartbeat item in row 0.
#pragma once

#include <optional>
#include <string_view>

#include "app/CycleTimer.h"
#include "opc/ClientState.h"

namespace tagwell {

inline constexpr double kShortestCycleSeconds = 0.1;
inline constexpr double kLongestCycleSeconds = 86400;

// The cycle a text gives: a number of seconds from 0.1 to 86400, written
// with a decimal point whatever the locale; nullopt for any other text.
std::optional<float> CycleSeconds(std::string_view text);

class ReadCycle final {
 public:
  // client and timer outlive this object; the timer's ticks call Tick().
  ReadCycle(Client& client, CycleTimer& timer) : client_(client), timer_(timer) {}

  // Read Item: sets timer 18 (5 s until a valid cycle was chosen, else the
  // chosen seconds) when items were added, shows the cycle in the cycle box
  // and logs it. Returns the timer period set, or 0 when none was set.
  unsigned ReadItemCommand();

  // One tick. Never re-entered: a tick that arrives while an earlier one
  // waits in a message box is dropped, as late timer ticks are. Skipped
  // while not connected (after a write found the connection gone) and,
  // in the one-item mode, when no row is left.
  void Tick();

  // KillTimer.
  void Stop() { timer_.Stop(); }

  // The period handed to the timer for a period in milliseconds computed
  // as a 32-bit float: truncated toward zero, taken as unsigned (so a
  // negative period counts as the largest), and clamped as a Windows timer
  // clamps it to 10 .. 2^31-1 ms. A period out of the range of int, or
  // NaN, gives the maximum.
  static unsigned TimerPeriod(float periodMs);

  static constexpr unsigned kMinPeriodMs = 10;
  static constexpr unsigned kMaxPeriodMs = 0x7FFFFFFF;

 private:
  void ReadAllRows();
  void ReadLastItem();
  void RestoreSelection();
  void RoleProtocol();
  void AfterRoleProtocol();

  Client& client_;
  CycleTimer& timer_;
  bool ticking_ = false;
};

}  // namespace tagwell
