// The OPC server browser (OPCEnum, "OPC.ServerList.1"): lists the classes
// this process serves in the category of OPC Data Access 2.0 servers.
#pragma once

#include <vector>

#include "dcom/Runtime.h"

namespace tagwell::dcom {

// A new browser over classes (the caller receives one reference).
com::HRESULT CreateServerList(std::vector<ServedClass> classes, com::IUnknown** object);

}  // namespace tagwell::dcom
