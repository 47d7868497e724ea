// The reader of database connection files (plant.tagwell-db).
#include <string>

#include "db/ServerDatabase.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = tagwell::fuzz::WriteInput(data, size, "plant.tagwell-db");
  tagwell::ServerDatabase database;
  std::string reason;
  if (tagwell::IsConnectionFile(path)) tagwell::ReadConnectionFile(path, &database, &reason);
  return 0;
}
