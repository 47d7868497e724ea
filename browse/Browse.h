// The walk through the server's address space at connect.
#pragma once

#include "opc/ClientState.h"

namespace tagwell {

// Fills browseItemNames and browseGroupNames and lists the devices in the
// server information list. Does nothing without a browse interface.
void BrowseAddressSpace(Client& client);

}  // namespace tagwell
