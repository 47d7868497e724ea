// CoInitialize..CoUninitialize and CoInitializeSecurity.
#include <mutex>
#include <optional>

#include "platform/com/Runtime.h"

namespace com {
namespace {

// What the process knows about COM across threads. Security settings last
// while any thread has COM initialised; when the last one shuts COM down
// they go, as on Windows, so a client that connects, disconnects and
// connects again may set them again.
struct ProcessState {
  std::mutex mutex;
  int initializedThreads = 0;
  std::optional<SecuritySettings> security;
};

ProcessState& Process() {
  static ProcessState* state = new ProcessState;  // threads may exit after main
  return *state;
}

void ThreadEntered() {
  std::lock_guard lock(Process().mutex);
  ++Process().initializedThreads;
}

void ThreadLeft() {
  ProcessState& p = Process();
  std::lock_guard lock(p.mutex);
  if (--p.initializedThreads == 0) p.security.reset();
}

// This thread's apartment: how often COM was initialised and in which mode.
// A thread that ends with COM still initialised leaves it then.
struct Apartment {
  ULONG count = 0;
  DWORD mode = 0;
  ~Apartment() {
    if (count > 0) ThreadLeft();
  }
};

Apartment& ThisApartment() {
  thread_local Apartment apartment;
  return apartment;
}

}  // namespace

HRESULT CoInitialize(void* reserved) {
  return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(void* reserved, DWORD coInit) {
  if (reserved) return E_INVALIDARG;
  Apartment& a = ThisApartment();
  DWORD mode = coInit & COINIT_APARTMENTTHREADED;
  if (a.count > 0) {
    if (mode != a.mode) return RPC_E_CHANGED_MODE;
    ++a.count;
    return S_FALSE;
  }
  ThreadEntered();
  a.count = 1;
  a.mode = mode;
  return S_OK;
}

void CoUninitialize() {
  Apartment& a = ThisApartment();
  if (a.count == 0) return;  // unbalanced: nothing to undo
  if (--a.count == 0) {
    CoFreeUnusedLibraries();
    ThreadLeft();
  }
}

ULONG CoInitializeCount() {
  return ThisApartment().count;
}

HRESULT CoInitializeSecurity(void* securityDescriptor, LONG authServiceCount, void* authServices,
                             void* /*reserved1*/, DWORD authnLevel, DWORD impLevel, void* authList,
                             DWORD capabilities, void* /*reserved3*/) {
  if (ThisApartment().count == 0) return CO_E_NOTINITIALIZED;
  ProcessState& p = Process();
  std::lock_guard lock(p.mutex);
  if (p.security) return RPC_E_TOO_LATE;
  p.security = SecuritySettings{securityDescriptor != nullptr,
                                authServiceCount,
                                authServices != nullptr,
                                authnLevel,
                                impLevel,
                                authList != nullptr,
                                capabilities};
  return S_OK;
}

bool GetSecuritySettings(SecuritySettings* settings) {
  ProcessState& p = Process();
  std::lock_guard lock(p.mutex);
  if (!p.security) return false;
  if (settings) *settings = *p.security;
  return true;
}

// In-process classes live as long as their registration; there are no
// libraries to unload.
void CoFreeUnusedLibraries() {}

}  // namespace com
