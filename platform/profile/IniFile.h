// The INI text model shared by the profile functions and the server
// registration files: a read-only view of the lines of one file, with the
// sections and keys found in it, and a bounded reader for small text files.
//
// Syntax: "[name]" opens a section; "key=value" is an entry of the section
// above it; lines starting with ';' or '#' are comments. Blanks (space, tab)
// around names and values do not count; names compare without case (ASCII).
// A value loses one pair of surrounding quotes ("..." or '...'). Lines
// before the first section, and lines that are none of the above, belong to
// no entry and are kept untouched by writers. Line ends may be "\n" or
// "\r\n"; a UTF-8 byte-order mark before the first line is ignored.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tagwell::profile {

struct IniLine {
  enum class Kind { Other, Section, Key };
  Kind kind = Kind::Other;
  std::size_t begin = 0;       // offset of the line's first byte in the text
  std::size_t end = 0;         // offset just past its content (before the line end)
  std::size_t next = 0;        // offset of the next line (past the line end)
  std::size_t valueBegin = 0;  // Key: offset just past the '='
  std::string_view name;       // Section or Key name, without blanks
  std::string_view value;      // Key value, without blanks and one pair of quotes
  std::string_view rawValue;   // Key value, without blanks but with its quotes
  bool HasLineEnd() const { return next > end; }
};

// A parsed view of an INI text. The text must outlive the document: names,
// values and offsets refer into it.
class IniDocument final {
 public:
  explicit IniDocument(std::string_view text);

  const std::vector<IniLine>& Lines() const { return lines_; }
  std::string_view Text() const { return text_; }

  // Index of the first section header called name; nullopt when missing.
  std::optional<std::size_t> FindSection(std::string_view name) const;
  // Index of the line after the section that starts at sectionLine: the next
  // section header, or Lines().size().
  std::size_t SectionEnd(std::size_t sectionLine) const;
  // Index of the first entry called key in the section at sectionLine.
  std::optional<std::size_t> FindKey(std::size_t sectionLine, std::string_view key) const;
  // The value of key in section (the first of each when repeated).
  std::optional<std::string_view> Find(std::string_view section, std::string_view key) const;

  // The line end to use for new lines: that of the first line that has one,
  // "\n" for a text without any.
  std::string_view PreferredLineEnd() const;

 private:
  std::string_view text_;
  std::vector<IniLine> lines_;
};

// Case-insensitive (ASCII) equality of names.
bool NamesEqual(std::string_view a, std::string_view b);

enum class ReadStatus { Ok, Missing, NotAFile, TooLarge, Unreadable };

// Reads a whole regular file of at most maxBytes bytes into *contents. Never
// blocks on a FIFO or device: anything but a regular file is NotAFile.
ReadStatus ReadSmallFile(const std::string& path, std::size_t maxBytes, std::string* contents);
// The same for an open descriptor, read from its start; *contents is set
// only on Ok.
ReadStatus ReadSmallFile(int fd, std::size_t maxBytes, std::string* contents);

}  // namespace tagwell::profile
