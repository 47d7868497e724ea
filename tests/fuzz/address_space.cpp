// The server's address-space file (--address-space FILE): read, parsed and
// validated. Building it is left out: device entries would connect to the
// hosts the input names.
#include "server/AddressSpaceXml.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tagwell::server::ReadAddressSpaceFile(tagwell::fuzz::WriteInput(data, size, "plant.xml"));
  return 0;
}
