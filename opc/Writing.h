// Writes of typed values and of the connection monitor heartbeat.
#pragma once

#include "opc/ClientState.h"

namespace tagwell {

// Writes writeText, converted to the canonical type of row currentItem.
// 0, or 1 after an error.
int WriteItem(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE serverHandle,
              com::VARIANT* value);
// Writes monitorValueNext to row 0. 0, or 1 after an error.
int WriteConnectionMonitor(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE serverHandle,
                           com::VARIANT* value);

}  // namespace tagwell
