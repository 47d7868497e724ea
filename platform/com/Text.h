// Conversions between the platform's UTF-8 texts and COM's UTF-16 texts.
#pragma once

#include <string>
#include <string_view>

#include "platform/com/Types.h"

namespace com {

// UTF-8 to UTF-16. A byte that is not part of valid UTF-8 is taken as the
// Latin-1 character of the same value, so plain ASCII and Latin-1 bytes
// convert exactly as a byte-wise widening would.
std::u16string Utf8ToUtf16(std::string_view utf8);
// UTF-16 to UTF-8. An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view utf16);
// Length of a zero-terminated wide string (0 for null).
std::size_t WideLength(LPCWSTR text);
std::u16string_view WideView(LPCWSTR text);

// The longest prefix of utf8 of at most maxBytes bytes that does not end in
// the middle of a UTF-8 sequence.
std::string_view TruncateUtf8(std::string_view utf8, std::size_t maxBytes);

}  // namespace com
