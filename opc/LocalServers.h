// The local server list: the ProgIDs of the OPC servers installed on this
// machine, one line each, in the stable order of the registry.
#pragma once

#include "platform/ui/Ui.h"

namespace tagwell {

// Appends the ProgIDs to list (which it does not empty first); returns 0.
int ListLocalServers(ui::ListBox& list);

}  // namespace tagwell
