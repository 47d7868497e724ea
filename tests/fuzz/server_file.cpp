// The reader of .server registration files.
#include "platform/registry/Registry.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string problem;
  tagwell::registry::ReadServerFile(tagwell::fuzz::WriteInput(data, size, "Fuzz.server"), &problem);
  return 0;
}
