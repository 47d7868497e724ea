// The server's address-space file (--address-space FILE): read, validated
// and built into the address space the server would serve.
#include "server/AddressSpaceXml.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  tagwell::server::LoadAddressSpace(tagwell::fuzz::WriteInput(data, size, "plant.xml"), nullptr, {},
                                    &error);
  return 0;
}
