#include <cstring>
#include <limits>

#include "platform/com/Memory.h"
#include "platform/com/Text.h"
#include "platform/com/Variant.h"

namespace com {
namespace {

// A BSTR is one task-allocator block: [UINT32 byte count][characters][0 unit].
// The BSTR points at the first character.
constexpr std::size_t kPrefix = sizeof(std::uint32_t);

// The longest text whose byte count fits the 32-bit prefix.
constexpr UINT kMaxLength = std::numeric_limits<std::uint32_t>::max() / sizeof(OLECHAR);

std::uint32_t* PrefixOf(BSTR bstr) {
  return reinterpret_cast<std::uint32_t*>(reinterpret_cast<unsigned char*>(bstr) - kPrefix);
}

}  // namespace

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  if (length > kMaxLength) return nullptr;
  std::size_t bytes = std::size_t{length} * sizeof(OLECHAR);
  auto* block = static_cast<unsigned char*>(CoTaskMemAlloc(kPrefix + bytes + sizeof(OLECHAR)));
  if (!block) return nullptr;
  auto prefix = static_cast<std::uint32_t>(bytes);
  std::memcpy(block, &prefix, kPrefix);
  auto* chars = reinterpret_cast<OLECHAR*>(block + kPrefix);
  if (text)
    std::memcpy(chars, text, bytes);
  else
    std::memset(chars, 0, bytes);
  chars[length] = 0;
  return chars;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  std::size_t length = WideLength(text);
  if (length > kMaxLength) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(length));
}

BSTR SysAllocStringUtf8(std::string_view utf8) {
  std::u16string wide = Utf8ToUtf16(utf8);
  if (wide.size() > kMaxLength) return nullptr;
  return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
}

void SysFreeString(BSTR bstr) {
  if (bstr) CoTaskMemFree(PrefixOf(bstr));
}

UINT SysStringByteLen(BSTR bstr) {
  return bstr ? *PrefixOf(bstr) : 0;
}

UINT SysStringLen(BSTR bstr) {
  return SysStringByteLen(bstr) / sizeof(OLECHAR);
}

}  // namespace com
