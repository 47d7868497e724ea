// The read cycle on timer 18 and the active/standby role protocol: the Read
// Item command that starts it, and the tick that reads the rows, restores
// the operator's selection and runs the protocol over the role record
// (Config.ini, or the server database recorded into) and the heartbeat item
// in row 0.
#pragma once

#include <optional>
#include <string_view>

#include "opc/ClientState.h"
#include "opc/Reconnect.h"
#include "session/CycleTimer.h"
#include "session/Roles.h"
#include "session/ServerRoleStore.h"

namespace tagwell {

inline constexpr double kShortestCycleSeconds = 0.1;
inline constexpr double kLongestCycleSeconds = 86400;

// The cycle a text gives: a number of seconds from 0.1 to 86400, written
// with a decimal point whatever the locale; nullopt for any other text.
std::optional<float> CycleSeconds(std::string_view text);

class ReadCycle final {
 public:
  // client and timer outlive this object; the timer's ticks call Tick().
  // probe and probeOnThread: how a lost server is tried before it is
  // connected again (see Reconnector).
  ReadCycle(Client& client, CycleTimer& timer, Reconnector::Probe probe = ProbeServer,
            bool probeOnThread = true)
      : client_(client),
        timer_(timer),
        reconnector_(client, std::move(probe), probeOnThread),
        roleStore_(client),
        roles_(client, roleStore_) {}

  // Read Item: sets timer 18 (5 s until a valid cycle was chosen, else the
  // chosen seconds) when items were added, shows the cycle in the cycle box
  // and logs it. Returns the timer period set, or 0 when none was set.
  unsigned ReadItemCommand();

  // One tick. Its message boxes are posted (ui::MessageBox::Post): the
  // tick never waits for the operator, and a box like one still open is not
  // opened again. Never re-entered (a port that can only wait for a box may
  // run a nested loop): such a late tick is dropped. Skipped while not
  // connected (after a write found the connection gone) and, in the one-item
  // mode, when no row is left. While the server is lost, the tick only tries
  // to connect again (PollReconnect) and reads once that succeeded.
  void Tick();

  // The reconnection of a lost server: call every second or so, also while
  // the cycle is not running. True when the connection was made again.
  bool PollReconnect(Reconnector::Clock::time_point now = Reconnector::Clock::now());

  // KillTimer.
  void Stop() { timer_.Stop(); }
  // The window's end: waits for a reconnection probe still running, and
  // starts no other.
  void EndReconnection() { reconnector_.Finish(); }

  // The active/standby protocol of this client (Connection Monitor,
  // Disconnect and exit use it too).
  ActiveStandby& roles() { return roles_; }
  // The period of the running cycle in ms (5000 before Read Item set one).
  unsigned periodMs() const { return periodMs_; }

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

  Client& client_;
  CycleTimer& timer_;
  Reconnector reconnector_;
  ChosenRoleStore roleStore_;
  ActiveStandby roles_;
  unsigned periodMs_ = 5000;
  bool ticking_ = false;
};

}  // namespace tagwell
