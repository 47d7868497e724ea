// Conversions between the client's narrow texts (UTF-8) and COM's wide
// texts. Plain ASCII converts exactly as a byte-wise widening would; a byte
// that is not part of valid UTF-8 is taken as the Latin-1 character of the
// same value.
#pragma once

#include "platform/com/Memory.h"

namespace tagwell {

// A new zero-terminated wide string; null for null text or when memory runs
// out. Taken from allocator when one is given, else from the program's heap.
com::WCHAR* AnsiToWide(const char* text, com::IMalloc* allocator = nullptr);
// A new narrow string (UTF-8) from wide text; free it with FreeAnsi.
char* WideToAnsi(const com::WCHAR* text, com::IMalloc* allocator = nullptr);
void FreeAnsi(char* text, com::IMalloc* allocator = nullptr);
// A string in BSTR layout (32-bit byte length before the first character)
// built on the program's heap. The platform's BSTRs live on the same heap in
// the same layout, so it is freed with SysFreeString (and by VariantClear).
// Null for null text.
com::BSTR WideToBstr(const com::WCHAR* text);
// Frees a string made by AnsiToWide with the same allocator. Null is fine.
void FreeWide(com::WCHAR* text, com::IMalloc* allocator = nullptr);

// The "%ls" conversion of a wide text for display and logging ("" for null).
std::string WideText(const com::WCHAR* text);

}  // namespace tagwell
