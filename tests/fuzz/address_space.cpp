// The server's address-space file: parsed, validated and built into the
// address space the server would serve.
#include <string_view>

#include "server/AddressSpaceXml.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view xml(reinterpret_cast<const char*>(data), size);
  auto file = tagwell::server::ParseAddressSpaceXml(xml, "fuzz.xml");
  return 0;
}
