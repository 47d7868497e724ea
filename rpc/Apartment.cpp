#include "rpc/Apartment.h"

namespace tagwell::rpc {

namespace {
// The apartment of this thread while anything uses it (COM's per-thread
// apartment state; owned by the connections, only observed here).
thread_local std::weak_ptr<Apartment> tCurrent;
}  // namespace

std::shared_ptr<Apartment> Apartment::ForThisThread() {
  if (auto current = tCurrent.lock()) return current;
  std::shared_ptr<Apartment> created(new Apartment());
  tCurrent = created;
  return created;
}

Apartment::Apartment()
    : owner_(std::this_thread::get_id()),
      io_(std::make_unique<kj::AsyncIoContext>(kj::setupAsyncIo())) {}

Apartment::~Apartment() {
  if (!IsOwnerThread()) {
    // The loop belongs to its thread and cannot be torn down from here.
    (void)io_.release();
  }
}

void Apartment::Defer(std::function<void()> work) {
  std::lock_guard lock(deferredMutex_);
  deferred_.push_back(std::move(work));
}

void Apartment::RunDeferred() {
  std::vector<std::function<void()>> work;
  {
    std::lock_guard lock(deferredMutex_);
    work.swap(deferred_);
  }
  for (auto& w : work) w();
}

}  // namespace tagwell::rpc
