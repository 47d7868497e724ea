// The walk through the server's address space at connect.
#pragma once

#include "opc/ClientState.h"

namespace tagwell {

// Fills browseItemNames (written from its first entry on; browseItemCount)
// and appends to browseGroupNames (browseGroupCount), and lists the devices
// (root branches) in the server information list. Does nothing without a
// browse interface. Names are cut to 259 bytes; names past a list's capacity
// are not stored; a leaf whose full ID the server cannot give is left out;
// once the server is lost the walk asks nothing more. Shows no message and
// writes no log line.
void BrowseAddressSpace(Client& client);

}  // namespace tagwell
