#include "tests/support/TestServer.h"

namespace tagwell::testing {

void FaultScript::Set(Fault fault, bool on) {
  std::lock_guard lock(mutex_);
  if (on)
    faults_.insert(fault);
  else
    faults_.erase(fault);
}

bool FaultScript::Has(Fault fault) const {
  std::lock_guard lock(mutex_);
  return faults_.count(fault) != 0;
}

void FaultScript::ClearAll() {
  std::lock_guard lock(mutex_);
  faults_.clear();
  targetItem_.clear();
  targetDevice_.clear();
}

void FaultScript::SetTargetItem(std::string itemId) {
  std::lock_guard lock(mutex_);
  targetItem_ = std::move(itemId);
}

bool FaultScript::Targets(const std::string& itemId) const {
  std::lock_guard lock(mutex_);
  return targetItem_.empty() || targetItem_ == itemId;
}

void FaultScript::SetTargetDevice(std::string name) {
  std::lock_guard lock(mutex_);
  targetDevice_ = std::move(name);
}

bool FaultScript::DeviceBlocked(const std::string& name) const {
  std::lock_guard lock(mutex_);
  return faults_.count(Fault::DeviceCannotBeEntered) && !name.empty() &&
         (targetDevice_.empty() || targetDevice_ == name);
}

void FaultScript::HangOn(Call call, std::chrono::milliseconds maxWait) {
  std::lock_guard lock(mutex_);
  hangOn_ = call;
  hangMax_ = maxWait;
}

void FaultScript::ReleaseHang() {
  std::lock_guard lock(mutex_);
  hangOn_.reset();
  ++hangGeneration_;
  wake_.notify_all();
}

bool FaultScript::WaitUntilHanging(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return wake_.wait_for(lock, timeout, [&] { return hanging_ > 0; });
}

void FaultScript::DropConnectionAt(Call call) {
  std::lock_guard lock(mutex_);
  dropAt_ = call;
}

void FaultScript::DropConnectionNow() {
  std::unique_lock lock(mutex_);
  DropLocked(lock);
}

void FaultScript::DropLocked(std::unique_lock<std::mutex>& lock) {
  if (dropped_) return;
  dropped_ = true;
  dropAt_.reset();
  std::function<void()> hook = dropHook_;
  wake_.notify_all();
  lock.unlock();
  if (hook) hook();
  lock.lock();
}

void FaultScript::ComeBack() {
  std::lock_guard lock(mutex_);
  dropped_ = false;
  dropAt_.reset();
}

bool FaultScript::Dropped() const {
  std::lock_guard lock(mutex_);
  return dropped_;
}

void FaultScript::SetDropHook(std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  dropHook_ = std::move(hook);
}

int FaultScript::CallCount(Call call) const {
  std::lock_guard lock(mutex_);
  if (call == Call::Any) return allCalls_;
  auto it = calls_.find(call);
  return it == calls_.end() ? 0 : it->second;
}

com::HRESULT FaultScript::Enter(Call call) {
  std::unique_lock lock(mutex_);
  ++calls_[call];
  ++allCalls_;
  if (dropAt_ && (*dropAt_ == Call::Any || *dropAt_ == call)) DropLocked(lock);
  if (dropped_) return com::RPC_E_DISCONNECTED;
  if (hangOn_ && (*hangOn_ == Call::Any || *hangOn_ == call)) {
    const std::uint64_t generation = hangGeneration_;
    ++hanging_;
    wake_.notify_all();
    wake_.wait_for(lock, hangMax_, [&] { return hangGeneration_ != generation || dropped_; });
    --hanging_;
    if (dropped_) return com::RPC_E_DISCONNECTED;
  }
  return com::S_OK;
}

com::FILETIME ManualClock::Now() {
  std::lock_guard lock(mutex_);
  return com::FileTimeFromTicks(ticks_);
}

void ManualClock::Set(com::FILETIME now) {
  std::lock_guard lock(mutex_);
  ticks_ = com::FileTimeTicks(now);
}

void ManualClock::Advance(std::chrono::nanoseconds by) {
  std::lock_guard lock(mutex_);
  ticks_ += static_cast<std::uint64_t>(by.count() / 100);
}

com::FILETIME TestEpoch() {
  // 2010-06-05 07:08:09 UTC in 100-ns ticks since 1601-01-01.
  return com::FileTimeFromTicks(129201952890000000ull);
}

}  // namespace tagwell::testing
