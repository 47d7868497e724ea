#include "opc/TextHelpers.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/com/Text.h"
#include "platform/com/Variant.h"

namespace tagwell {
namespace {

void* Allocate(std::size_t bytes, com::IMalloc* allocator) {
  return allocator ? allocator->Alloc(bytes) : std::malloc(bytes);
}

void Release(void* p, com::IMalloc* allocator) {
  if (allocator)
    allocator->Free(p);
  else
    std::free(p);
}

}  // namespace

com::WCHAR* AnsiToWide(const char* text, com::IMalloc* allocator) {
  if (!text) return nullptr;
  std::u16string wide = com::Utf8ToUtf16(text);
  auto* out = static_cast<com::WCHAR*>(Allocate((wide.size() + 1) * sizeof(com::WCHAR), allocator));
  if (!out) return nullptr;
  std::memcpy(out, wide.c_str(), (wide.size() + 1) * sizeof(com::WCHAR));
  return out;
}

char* WideToAnsi(const com::WCHAR* text, com::IMalloc* allocator) {
  if (!text) return nullptr;
  std::string narrow = com::Utf16ToUtf8(com::WideView(text));
  auto* out = static_cast<char*>(Allocate(narrow.size() + 1, allocator));
  if (!out) return nullptr;
  std::memcpy(out, narrow.c_str(), narrow.size() + 1);
  return out;
}

void FreeAnsi(char* text, com::IMalloc* allocator) {
  if (text) Release(text, allocator);
}

com::BSTR WideToBstr(const com::WCHAR* text) {
  if (!text) return nullptr;
  return com::SysAllocStringLen(text, static_cast<com::UINT>(com::WideLength(text)));
}

void FreeWide(com::WCHAR* text, com::IMalloc* allocator) {
  if (text) Release(text, allocator);
}

std::string WideText(const com::WCHAR* text) { return com::Utf16ToUtf8(com::WideView(text)); }

}  // namespace tagwell
