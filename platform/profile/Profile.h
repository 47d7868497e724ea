// Profile (INI) files with the semantics of GetPrivateProfileString and
// WritePrivateProfileString: section and key names compared without case,
// other lines kept exactly as they are (comments, blank lines, CRLF line
// ends), a missing section or key created, the default returned for
// anything missing. A write replaces the file atomically (a temporary file in
// the same folder, then rename), so a reader in another process sees the old
// or the new file, never half of one.
#pragma once

#include <cstddef>
#include <string>

namespace tagwell::profile {

// Copies the value of key in section of file into buffer (at most size - 1
// bytes, cut at a character boundary, always terminated) and returns the
// number of bytes copied. A missing file, section or key gives defaultValue.
// Leading and trailing blanks of the value are dropped, and one pair of
// surrounding quotes.
std::size_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                    char* buffer, std::size_t size, const std::string& file);

// Sets key in section to value, creating the file, section or key as needed.
// Returns false when the file could not be written (the old file is then
// unchanged).
bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const std::string& file);

// Creates the file empty when it does not exist (an existing file is left
// untouched). Returns false when it could not be created.
bool EnsureFileExists(const std::string& file);

}  // namespace tagwell::profile
