// The database connection string, and the quoting that writes values back.
#include <string_view>

#include "db/ConnectionString.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  tagwell::ConnectionAttributes attributes;
  std::string reason;
  tagwell::ParseConnectionString(text, &attributes, &reason);
  tagwell::ConnectionStringValue(text);
  tagwell::SqliteOpenUri(text);
  return 0;
}
