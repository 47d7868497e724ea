// A server that went away while the client was connected: the outage is
// shown once, the rows and everything the operator set up are kept, and the
// connection is made again the way the last Connect made it, with every
// row's item added again in row order.
//
// Thread rules: everything here runs on the window's thread, except the
// probe of a Reconnector set up to probe on a thread of its own.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "opc/ClientState.h"

namespace tagwell {

// Called with the result of a server call that failed: when the failure
// says that the server is gone (ServerLost), the first such call of an
// outage releases the server objects, shows "Bad - communication error" in
// every row's Quality column, tells the operator once and logs it once.
// Returns true when hr was such a failure (also within an outage).
bool MarkServerLost(Client& client, HRESULT hr);

// The name of the server of the last Connect, for messages and the log
// ("X" or "X on computer").
std::string LastServerName(const ClientState& s);

// Creates the server object, the group and every row's item again, the way
// the last Connect did, without message boxes. Rows keep their texts; they
// get their new server handles and types; an item the server now refuses
// keeps its row with quality "Bad - configuration error in server". On
// success the outage ends and the log says how many items came back; on
// failure everything created is released again and the outage goes on.
HRESULT ReconnectServer(Client& client);

// Creates the server object of target and releases it again: whether a
// reconnection can go ahead. Any thread (the thread's COM is started and
// shut down around the call).
HRESULT ProbeServer(const ConnectTarget& target);

// Drives the reconnection of a client: at most one attempt every interval,
// each first probed (on a thread of its own in the desktop client, so that
// a server or computer that does not answer never holds the window), then
// finished on the window's thread.
class Reconnector final {
 public:
  using Clock = std::chrono::steady_clock;
  using Probe = std::function<HRESULT(const ConnectTarget&)>;

  static constexpr auto kInterval = std::chrono::seconds(5);

  // probeOnThread false runs the probe inside Poll (tests).
  explicit Reconnector(Client& client, Probe probe = ProbeServer, bool probeOnThread = true);
  // Waits for a probe still running (Finish).
  ~Reconnector();
  Reconnector(const Reconnector&) = delete;
  Reconnector& operator=(const Reconnector&) = delete;

  // Call often (every second or so): starts a probe when the client is in
  // an outage and the interval has passed since the last attempt, and
  // reconnects once a probe found the server. Returns true when this call
  // ended an outage. Nothing happens while the client is not in an outage;
  // a Disconnect in between drops a probe still running.
  bool Poll(Clock::time_point now);

  // Waits until no probe runs any more (at most the activation's time-out,
  // 10 s): the window's end calls it before anything a probe may reach
  // (the activation and its operator prompt) goes. No probe starts later.
  void Finish();

 private:
  struct Pending;
  // Whether the probe thread still runs; joins it once it has ended.
  bool ProbeRunning();

  Client& client_;
  Probe probe_;
  bool probeOnThread_;
  bool finished_ = false;
  std::shared_ptr<Pending> pending_;      // the probe whose result is waited for
  std::shared_ptr<Pending> threadState_;  // the probe thread's, until joined
  std::thread thread_;
  bool attempted_ = false;
  Clock::time_point lastAttempt_{};
};

}  // namespace tagwell
