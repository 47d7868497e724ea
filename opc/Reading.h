// Synchronous reads from the device.
#pragma once

#include "opc/ClientState.h"

namespace tagwell {

// Reads row currentItem and rewrites list-box row currentRow. 0, or 1 after
// a failed read.
int ReadGroup(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE serverHandle,
              com::VARIANT* value);
// Reads the most recently added item (handle serverHandle) into row
// currentRow. 0, or 1 after a failed read.
int ReadItem(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE serverHandle,
             com::VARIANT* value, WORD* quality);

// Quality column text of a quality word.
const char* QualityText(WORD quality);

}  // namespace tagwell
