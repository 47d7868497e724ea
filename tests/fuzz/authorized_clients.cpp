// The reader of the server's authorized-clients file.
#include <string>
#include <vector>

#include "rpc/Trust.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> problems;
  tagwell::rpc::ReadAuthorizedClients(
      tagwell::fuzz::WriteInput(data, size, "authorized-clients"), &problems);
  return 0;
}
