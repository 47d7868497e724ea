// ADO-style connection strings: "Provider=SQLite;Data Source=PATH".
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace tagwell {

// How long a statement waits for a lock another connection holds, unless the
// connection string names "Busy Timeout" (milliseconds).
inline constexpr int kDefaultBusyTimeoutMs = 2000;

// The key=value pairs of a connection string. Keys are kept in lower case.
struct ConnectionAttributes {
  std::map<std::string, std::string> values;
  // The value of key (any case), or "" when absent.
  std::string Get(std::string_view key) const;
  bool Has(std::string_view key) const;
};

// Parses "Key=Value;Key=Value". Keys compare without case; blanks around keys
// and values are dropped; a value may be quoted with " or ' (the quote doubled
// inside stands for itself) so that it can hold ';' or edge blanks; empty
// pairs are skipped; a later key replaces an earlier one. False, with a
// reason for the operator, when the text is malformed.
bool ParseConnectionString(std::string_view text, ConnectionAttributes* attributes,
                           std::string* reason);

// value as it must stand after "Key=": unchanged when that parses back to the
// same text, else quoted.
std::string ConnectionStringValue(std::string_view value);

// The SQLite URI that opens the file at path for reading and writing without
// ever creating it ("file:...?mode=rw"), every byte that a URI could read
// otherwise ('?', '#', '%', blanks, non-ASCII...) percent-encoded.
std::string SqliteOpenUri(std::string_view path);

}  // namespace tagwell
