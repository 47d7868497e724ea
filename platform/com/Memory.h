// The COM task allocator. Everything a server hands to a client (arrays,
// strings, item states, attribute records, status) comes from here, in
// process or through the rpc proxies, and the client frees it with
// IMalloc::Free or CoTaskMemFree.
#pragma once

#include <cstddef>

#include "platform/com/Unknown.h"

namespace com {

// {00000002-0000-0000-C000-000000000046}
inline constexpr IID IID_IMalloc = {
    0x00000002, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

inline constexpr DWORD MEMCTX_TASK = 1;

class IMalloc : public IUnknown {
 public:
  virtual void* Alloc(std::size_t cb) = 0;
  virtual void* Realloc(void* pv, std::size_t cb) = 0;
  virtual void Free(void* pv) = 0;
  // Size of a block from this allocator, or (size_t)-1 for null.
  virtual std::size_t GetSize(void* pv) = 0;
  // 1 if pv came from this allocator, 0 if not, -1 when it cannot tell.
  virtual int DidAlloc(void* pv) = 0;
  virtual void HeapMinimize() = 0;
};

// Thread-safe. CoTaskMemFree(nullptr) does nothing. CoTaskMemRealloc(nullptr,
// cb) allocates; CoTaskMemRealloc(pv, 0) frees pv and gives null; on failure
// the old block stays valid. Freeing or reallocating a pointer that is not a
// live block of this allocator (a malloc block, a second free) is reported on
// stderr and otherwise ignored, so it cannot corrupt the heap.
void* CoTaskMemAlloc(std::size_t cb);
void* CoTaskMemRealloc(void* pv, std::size_t cb);
void CoTaskMemFree(void* pv);

// Hands out the process's task allocator (one AddRef per call). Any other
// context than MEMCTX_TASK gives E_INVALIDARG.
HRESULT CoGetMalloc(DWORD memContext, IMalloc** ppMalloc);

// Number of task-allocator blocks not yet freed, for tests that check that
// every block a server hands out is freed by its receiver.
std::size_t TaskMemOutstanding();

// Allocates a copy of a zero-terminated wide string from the task allocator.
LPWSTR CoTaskMemStrDup(LPCWSTR text);

}  // namespace com
