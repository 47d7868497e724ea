// IUnknown, reference counting and a smart pointer for code that is not
// written in the client's procedural style (rpc/, server/, tests).
#pragma once

#include <atomic>
#include <utility>

#include "platform/com/Types.h"

namespace com {

// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {0x00000000, 0x0000, 0x0000,
                                     {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// {00000001-0000-0000-C000-000000000046}
inline constexpr IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000,
                                          {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Every COM object derives from IUnknown. Objects die at their last Release;
// nobody deletes them through an interface pointer. QueryInterface answers
// exactly the interfaces the object implements and AddRefs what it hands out.
class IUnknown {
 public:
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

// Thread-safe reference count for object implementations. Starts at 1: the
// creator holds the first reference.
class RefCount {
 public:
  ULONG Increment() { return ++count_; }
  ULONG Decrement() { return --count_; }
  ULONG Value() const { return count_; }

 private:
  std::atomic<ULONG> count_{1};
};

// Holds one reference to a COM interface. Adopt() takes over a reference the
// caller already owns (the usual case for out-parameters); the constructor
// from a raw pointer adds one of its own.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ~ComPtr() { Reset(); }
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }

  static ComPtr Adopt(T* p) {
    ComPtr r;
    r.p_ = p;
    return r;
  }

  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Gives up ownership without releasing.
  T* Detach() { return std::exchange(p_, nullptr); }
  // Releases the held pointer and returns the address to receive a new one.
  T** Receive() {
    Reset();
    return &p_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  template <class U>
  HRESULT As(REFIID riid, ComPtr<U>* out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(riid, out->ReceiveVoid());
  }

 private:
  T* p_ = nullptr;
};

// IClassFactory, the way in-process classes are created.
class IClassFactory : public IUnknown {
 public:
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;
};

}  // namespace com
