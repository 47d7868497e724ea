// The modal loop of a thread whose outgoing call waits for its answer, as a
// COM single-threaded apartment runs one (CoWaitForMultipleHandles): while
// a call of the thread waits, the thread's pump runs every few
// milliseconds, so that a window on the thread keeps drawing, answering
// assistive technology and running its timers. The pump is the thread's
// message filter too: a call made from inside it is refused with
// RPC_E_CANTCALLOUT_ININPUTSYNCCALL, so the code it runs must look at
// OutgoingCallWaiting() before it calls a server.
//
// Thread rules: everything is per thread (thread-local); the pump is
// called only on its own thread, from inside that thread's waiting call.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/com/Types.h"

namespace com {

inline constexpr HRESULT RPC_E_CANTCALLOUT_ININPUTSYNCCALL = MakeHresult(0x8001010D);

using CallWaitPump = void (*)();

// Installs (or with null removes) the calling thread's pump.
void SetCallWaitPump(CallWaitPump pump);
CallWaitPump GetCallWaitPump();

// True while a call of this thread waits for its answer (its pump may be
// running now).
bool OutgoingCallWaiting();
// True while this thread runs its pump.
bool InCallWaitPump();

// Marks a waiting call for its scope.
class OutgoingCall final {
 public:
  OutgoingCall();
  ~OutgoingCall();
  OutgoingCall(const OutgoingCall&) = delete;
  OutgoingCall& operator=(const OutgoingCall&) = delete;
};

// Runs the pump once (no-op without one, or when already inside it).
void RunCallWaitPump();

// A thread of its own that runs work in the order given: the home of
// objects that must stay on one thread (a database connection), so that the
// thread that hands work over can wait for it as for a call, its pump
// running meanwhile.
class WorkThread final {
 public:
  WorkThread();
  // Waits for the work handed over so far, then ends the thread.
  ~WorkThread();
  WorkThread(const WorkThread&) = delete;
  WorkThread& operator=(const WorkThread&) = delete;

  // Runs work on the thread and returns once it has run. Meanwhile the
  // calling thread counts as waiting for a call (OutgoingCallWaiting) and
  // runs its pump every few milliseconds; once `overdue` has passed,
  // onOverdue runs once on the calling thread (to cut a connection that
  // does not answer, say). From the work thread itself, work runs at once.
  void Run(const std::function<void()>& work,
           std::chrono::milliseconds overdue = std::chrono::milliseconds::max(),
           const std::function<void()>& onOverdue = nullptr);

 private:
  void Loop();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> queue_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace com
