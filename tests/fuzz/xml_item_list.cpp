// The XML item-list loader of the Load XML command.
#include "browse/XmlItemList.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string error;
  tagwell::ReadXmlItemList(tagwell::fuzz::WriteInput(data, size, "items.xml"), &error);
  return 0;
}
