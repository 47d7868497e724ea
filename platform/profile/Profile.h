// Profile (INI) files with the semantics of GetPrivateProfileString and
// WritePrivateProfileString: section and key names compared without case,
// other lines kept exactly as they are (comments, blank lines, CRLF line
// ends), a missing section or key created, the default returned for
// anything missing. A write replaces the file atomically (a temporary file in
// the same folder, then rename), so a reader in another process sees the old
// or the new file, never half of one. Writers in any process of this
// machine also lock the file for their read-modify-write, so that two
// writers never lose each other's keys; readers take no lock.
//
// Names are compared and written without their surrounding blanks. Texts are
// UTF-8 (or any other bytes); a file larger than 4 MiB, or anything but a
// regular file, is not taken for a profile file.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tagwell::profile {

// Copies the value of key in section of file into buffer (at most size - 1
// bytes, cut at a character boundary, always terminated) and returns the
// number of bytes copied. A missing file, section or key gives defaultValue.
// Leading and trailing blanks of the value are dropped, and one pair of
// surrounding quotes. A null section or key reads as missing; a null buffer
// or a size of 0 copies nothing.
std::size_t GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                                    char* buffer, std::size_t size, const std::string& file);

// Sets key in section to value, creating the file, section or key as needed.
// A new section is appended at the end of the file; a new key follows the
// last entry of its section. New lines take the line end of the file ("\n"
// for a new file), and the file keeps its permission bits. A null value
// deletes the key, a null key the whole section (nothing is created then).
// Returns false when the file could not be written (the old file is then
// unchanged), and for names or a value that would not read back as written:
// a line break anywhere, a ']' in the section, a '=' in the key, or a key
// starting with '[', ';' or '#'. A symbolic link is kept: its target is
// replaced.
bool WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const std::string& file);

// Several keys of one section read and changed as one step: under the
// writers' lock, update gets a reader of the section's current values (the
// value, or "" for a missing key) and returns the keys to set, which are
// written in one atomic replacement. Another writer in any process waits for
// the whole step, so a decision taken on what was read still holds when it
// is written. Creates the file when needed. Returns false, with the file
// unchanged, when it could not be read or written or a name or value would
// not read back as written; nothing returned writes nothing.
using ProfileReader = std::function<std::string(const char* key)>;
using ProfileChanges = std::vector<std::pair<std::string, std::string>>;
bool UpdatePrivateProfileSection(const char* section,
                                 const std::function<ProfileChanges(const ProfileReader&)>& update,
                                 const std::string& file);

// Creates the file empty when it does not exist (an existing file is left
// untouched). Returns false when it could not be created.
bool EnsureFileExists(const std::string& file);

}  // namespace tagwell::profile
