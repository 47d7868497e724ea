// Small helpers for the server's COM objects: reference counting, interface
// hand-out and task-allocator blocks.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "platform/com/Memory.h"
#include "platform/com/Text.h"
#include "platform/com/Unknown.h"

namespace tagwell::server {

// Ends a COM object at its last Release.
template <class T>
com::ULONG ReleaseObject(T* self, com::RefCount& refs) {
  const com::ULONG left = refs.Decrement();
  if (left == 0) delete self;
  return left;
}

// Hands out interface I of object, with the reference the caller receives.
template <class I, class T>
com::HRESULT HandOut(T* object, void** ppv) {
  I* itf = static_cast<I*>(object);
  itf->AddRef();
  *ppv = itf;
  return com::S_OK;
}

// A zero-filled task-allocator block of n elements (n may be 0: one byte is
// allocated so that the caller always gets a block to free). Null when out
// of memory.
template <class T>
T* TaskArray(std::size_t n) {
  const std::size_t bytes = n == 0 ? 1 : n * sizeof(T);
  void* block = com::CoTaskMemAlloc(bytes);
  if (block) std::memset(block, 0, bytes);
  return static_cast<T*>(block);
}

// A task-allocator copy of UTF-8 text as a wide string.
inline com::LPWSTR TaskString(std::string_view utf8) {
  const std::u16string wide = com::Utf8ToUtf16(utf8);
  return com::CoTaskMemStrDup(wide.c_str());
}

inline std::string FromWide(com::LPCWSTR text) {
  return com::Utf16ToUtf8(com::WideView(text));
}

}  // namespace tagwell::server
