#include "platform/com/CallWait.h"

namespace com {
namespace {

struct ThreadWait {
  CallWaitPump pump = nullptr;
  int waiting = 0;
  bool pumping = false;
};

ThreadWait& This() {
  thread_local ThreadWait wait;
  return wait;
}

}  // namespace

void SetCallWaitPump(CallWaitPump pump) {
  This().pump = pump;
}

CallWaitPump GetCallWaitPump() {
  return This().pump;
}

bool OutgoingCallWaiting() {
  return This().waiting > 0;
}

bool InCallWaitPump() {
  return This().pumping;
}

OutgoingCall::OutgoingCall() {
  ++This().waiting;
}

OutgoingCall::~OutgoingCall() {
  --This().waiting;
}

void RunCallWaitPump() {
  ThreadWait& wait = This();
  if (!wait.pump || wait.pumping) return;
  wait.pumping = true;
  wait.pump();
  wait.pumping = false;
}

WorkThread::WorkThread() : thread_([this] { Loop(); }) {}

WorkThread::~WorkThread() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void WorkThread::Loop() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
    if (queue_.empty()) return;
    std::function<void()> work = std::move(queue_.front());
    queue_.pop_front();
    lock.unlock();
    work();
    lock.lock();
  }
}

void WorkThread::Run(const std::function<void()>& work, std::chrono::milliseconds overdue,
                     const std::function<void()>& onOverdue) {
  if (std::this_thread::get_id() == thread_.get_id()) {
    work();
    return;
  }
  struct Done {
    std::mutex mutex;
    std::condition_variable wake;
    bool done = false;
  };
  auto done = std::make_shared<Done>();
  {
    std::lock_guard lock(mutex_);
    queue_.push_back([&work, done] {
      work();
      std::lock_guard lock(done->mutex);
      done->done = true;
      done->wake.notify_all();
    });
  }
  wake_.notify_all();
  OutgoingCall waiting;
  const auto start = std::chrono::steady_clock::now();
  bool overdueRan = false;
  std::unique_lock lock(done->mutex);
  while (!done->done) {
    done->wake.wait_for(lock, std::chrono::milliseconds(10), [&] { return done->done; });
    if (done->done) break;
    lock.unlock();
    RunCallWaitPump();
    if (!overdueRan && onOverdue &&
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                              start) > overdue) {
      overdueRan = true;
      onOverdue();
    }
    lock.lock();
  }
}

}  // namespace com
