#include "db/ConnectionString.h"

#include <cctype>

namespace tagwell {
namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Reads a value from text[pos] up to the next ';' (or the end); pos ends on
// the ';' or at the end.
bool ReadValue(std::string_view text, std::size_t& pos, std::string* value, std::string* reason) {
  while (pos < text.size() && IsBlank(text[pos])) ++pos;
  if (pos < text.size() && (text[pos] == '"' || text[pos] == '\'')) {
    const char quote = text[pos++];
    value->clear();
    for (;;) {
      if (pos >= text.size()) {
        *reason = "a quoted value has no closing quote";
        return false;
      }
      if (text[pos] == quote) {
        if (pos + 1 < text.size() && text[pos + 1] == quote) {
          *value += quote;
          pos += 2;
          continue;
        }
        ++pos;
        break;
      }
      *value += text[pos++];
    }
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos < text.size() && text[pos] != ';') {
      *reason = "text follows a quoted value";
      return false;
    }
    return true;
  }
  std::size_t end = text.find(';', pos);
  if (end == std::string_view::npos) end = text.size();
  *value = std::string(Trim(text.substr(pos, end - pos)));
  pos = end;
  return true;
}

}  // namespace

std::string ConnectionAttributes::Get(std::string_view key) const {
  auto it = values.find(Lower(key));
  return it == values.end() ? std::string() : it->second;
}

bool ConnectionAttributes::Has(std::string_view key) const {
  return values.count(Lower(key)) != 0;
}

bool ParseConnectionString(std::string_view text, ConnectionAttributes* attributes,
                           std::string* reason) {
  attributes->values.clear();
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == ';' || IsBlank(text[pos])) {
      ++pos;
      continue;
    }
    std::size_t equals = text.find('=', pos);
    std::size_t semicolon = text.find(';', pos);
    if (equals == std::string_view::npos ||
        (semicolon != std::string_view::npos && semicolon < equals)) {
      reason->assign(1, '"')
          .append(Trim(text.substr(pos, semicolon - pos)))
          .append("\" has no value");
      return false;
    }
    std::string key = Lower(Trim(text.substr(pos, equals - pos)));
    pos = equals + 1;
    std::string value;
    if (!ReadValue(text, pos, &value, reason)) return false;
    attributes->values[key] = value;
  }
  return true;
}

std::string ConnectionStringValue(std::string_view value) {
  const bool plain = value.find(';') == std::string_view::npos && Trim(value) == value &&
                     (value.empty() || (value.front() != '"' && value.front() != '\''));
  if (plain) return std::string(value);
  std::string quoted = "\"";
  for (char c : value) {
    quoted += c;
    if (c == '"') quoted += '"';
  }
  quoted += '"';
  return quoted;
}

std::string SqliteOpenUri(std::string_view path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string uri = path.starts_with('/') ? "file://" : "file:";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '-' || c == '.' || c == '_' || c == '~') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 0xF];
    }
  }
  uri += "?mode=rw";
  return uri;
}

}  // namespace tagwell
