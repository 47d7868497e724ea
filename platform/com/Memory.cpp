#include "platform/com/Memory.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/com/Text.h"

namespace com {
namespace {

// The live blocks of the task allocator and their sizes. Knowing every live
// block makes GetSize and DidAlloc exact, and lets a free of a pointer that
// did not come from here (a plain malloc block, a double free) be reported
// and ignored instead of corrupting the heap.
class BlockTable final {
 public:
  void* Allocate(std::size_t cb) {
    // malloc(0) may give null; a zero-sized task block must still be a block.
    void* p = std::malloc(cb == 0 ? 1 : cb);
    if (!p) return nullptr;
    std::lock_guard lock(mutex_);
    blocks_.emplace(p, cb);
    return p;
  }

  void* Reallocate(void* pv, std::size_t cb) {
    std::lock_guard lock(mutex_);
    auto it = blocks_.find(pv);
    if (it == blocks_.end()) {
      Report("CoTaskMemRealloc", pv);
      return nullptr;
    }
    // On failure realloc leaves the old block alone, and so does the table.
    void* p = std::realloc(pv, cb);
    if (!p) return nullptr;
    blocks_.erase(it);
    blocks_.emplace(p, cb);
    return p;
  }

  void Free(void* pv) {
    {
      std::lock_guard lock(mutex_);
      if (blocks_.erase(pv) == 0) {
        Report("CoTaskMemFree", pv);
        return;
      }
    }
    std::free(pv);
  }

  // Size of a live block, or (size_t)-1 when pv is not one.
  std::size_t Size(void* pv) {
    std::lock_guard lock(mutex_);
    auto it = blocks_.find(pv);
    return it == blocks_.end() ? static_cast<std::size_t>(-1) : it->second;
  }

  std::size_t Count() {
    std::lock_guard lock(mutex_);
    return blocks_.size();
  }

 private:
  static void Report(const char* function, void* pv) {
    std::fprintf(stderr, "%s: %p is not a block of the task allocator; ignored\n", function, pv);
  }

  std::mutex mutex_;
  std::unordered_map<void*, std::size_t> blocks_;
};

// Lives as long as the process: blocks may be freed from static destructors.
BlockTable& Blocks() {
  static BlockTable* table = new BlockTable;
  return *table;
}

// The process's IMalloc. COM keeps one per process; it is never destroyed,
// so its reference count only tells how many holders there are.
class TaskAllocator final : public IMalloc {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IMalloc) {
      AddRef();
      *ppv = static_cast<IMalloc*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return refs_.Increment(); }
  ULONG Release() override { return refs_.Decrement(); }

  void* Alloc(std::size_t cb) override { return CoTaskMemAlloc(cb); }
  void* Realloc(void* pv, std::size_t cb) override { return CoTaskMemRealloc(pv, cb); }
  void Free(void* pv) override { CoTaskMemFree(pv); }
  std::size_t GetSize(void* pv) override {
    return pv ? Blocks().Size(pv) : static_cast<std::size_t>(-1);
  }
  int DidAlloc(void* pv) override {
    return pv && Blocks().Size(pv) != static_cast<std::size_t>(-1) ? 1 : 0;
  }
  void HeapMinimize() override {}

 private:
  RefCount refs_;
};

}  // namespace

void* CoTaskMemAlloc(std::size_t cb) {
  return Blocks().Allocate(cb);
}

void* CoTaskMemRealloc(void* pv, std::size_t cb) {
  if (!pv) return CoTaskMemAlloc(cb);
  if (cb == 0) {
    CoTaskMemFree(pv);
    return nullptr;
  }
  return Blocks().Reallocate(pv, cb);
}

void CoTaskMemFree(void* pv) {
  if (pv) Blocks().Free(pv);
}

HRESULT CoGetMalloc(DWORD memContext, IMalloc** ppMalloc) {
  if (!ppMalloc) return E_INVALIDARG;
  *ppMalloc = nullptr;
  if (memContext != MEMCTX_TASK) return E_INVALIDARG;
  static TaskAllocator* allocator = new TaskAllocator;
  allocator->AddRef();
  *ppMalloc = allocator;
  return S_OK;
}

std::size_t TaskMemOutstanding() {
  return Blocks().Count();
}

LPWSTR CoTaskMemStrDup(LPCWSTR text) {
  if (!text) return nullptr;
  std::size_t bytes = (WideLength(text) + 1) * sizeof(WCHAR);
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (copy) std::memcpy(copy, text, bytes);
  return copy;
}

}  // namespace com
