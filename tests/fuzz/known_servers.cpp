// The reader of the client's known-servers file and of typed fingerprints.
#include <string>

#include "rpc/Trust.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = tagwell::fuzz::WriteInput(data, size, "known-servers");
  tagwell::rpc::KnownServerFingerprint(path, "plant-pc:4135");
  tagwell::rpc::NormalizeFingerprint(std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
