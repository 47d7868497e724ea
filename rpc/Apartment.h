// The Cap'n Proto event loop of one client thread: what a COM apartment is
// to the proxies.
//
// Thread rules. A thread gets its apartment with its first connection and
// loses it with its last one. Proxies belong to the apartment of the thread
// that created them: their calls must be made on that thread (elsewhere they
// fail with RPC_E_WRONG_THREAD), as COM requires of a single-threaded
// apartment. The loop runs only inside a proxy's blocking call (the last
// Release of an object is one: it returns once the server has let go), so
// nothing runs on the thread behind the caller's back. A thread that
// already runs a KJ event loop of its own cannot have an apartment:
// creating an object there fails. A proxy released on another thread
// is destroyed at the owner thread's next call.
#pragma once

#include <kj/async-io.h>

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tagwell::rpc {

class Apartment final {
 public:
  // The calling thread's apartment, created when the thread has none.
  static std::shared_ptr<Apartment> ForThisThread();
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  // On the owner thread; destroyed elsewhere, the loop is leaked instead.
  ~Apartment();

  bool IsOwnerThread() const { return std::this_thread::get_id() == owner_; }
  kj::AsyncIoProvider& provider() { return *io_->provider; }
  kj::LowLevelAsyncIoProvider& lowLevel() { return *io_->lowLevelProvider; }
  kj::WaitScope& waitScope() { return io_->waitScope; }
  kj::Timer& timer() { return io_->provider->getTimer(); }

  // Queues work for the owner thread, which runs it at the start of its
  // next call; for proxies released on another thread. Any thread may call
  // it.
  void Defer(std::function<void()> work);
  // Runs the deferred work. Owner thread only.
  void RunDeferred();

 private:
  Apartment();

  std::thread::id owner_;
  std::unique_ptr<kj::AsyncIoContext> io_;
  std::mutex deferredMutex_;
  std::vector<std::function<void()>> deferred_;
};

}  // namespace tagwell::rpc
