// Reading an address space from its XML file (the format is described in
// server/README.md) and the built-in default plant.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "server/AddressSpace.h"

namespace tagwell::server {

struct AddressSpaceFile {
  std::optional<AddressSpaceDefinition> definition;
  // Why there is no definition: "SOURCE:LINE:COLUMN: what is wrong" for a
  // fault at a place in the file, "SOURCE: what is wrong" otherwise.
  std::string error;
};

// Parses and validates (ValidateAddressSpace) the XML text. sourceName names
// the text in error messages.
AddressSpaceFile ParseAddressSpaceXml(std::string_view xml, std::string_view sourceName);
AddressSpaceFile ReadAddressSpaceFile(const std::string& path);

// The XML of the built-in plant (server/DefaultPlant.xml, compiled in).
std::string_view DefaultPlantXml();

// Null with *error set when the file cannot be read or is not sound.
std::shared_ptr<AddressSpace> LoadAddressSpace(const std::string& path,
                                               std::shared_ptr<Clock> clock,
                                               AddressSpaceOptions options, std::string* error);
// The built-in plant; never null.
std::shared_ptr<AddressSpace> MakeDefaultAddressSpace(std::shared_ptr<Clock> clock = nullptr,
                                                      AddressSpaceOptions options = {});

}  // namespace tagwell::server
