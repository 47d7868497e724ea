// IEnumString over a fixed list of names.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/opcda/OpcDa.h"

namespace tagwell::server {

using NameList = std::vector<std::string>;  // UTF-8

// Creates an enumerator (one reference, owned by the caller) over names,
// positioned at the first.
com::IEnumString* MakeEnumString(std::shared_ptr<const NameList> names);

}  // namespace tagwell::server
