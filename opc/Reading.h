// Synchronous reads from the device.
#pragma once

#include "opc/ClientState.h"

namespace tagwell {

// Reads row currentItem and rewrites list-box row currentRow. 0, or 1 after
// a failed read (the call failed, or the item's own result is an error).
int ReadGroup(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE serverHandle,
              com::VARIANT* value);
// Reads the most recently added item (handle serverHandle) into row
// currentRow. 0, or 1 after a failed read.
int ReadItem(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE serverHandle, com::VARIANT* value,
             WORD* quality);

// Quality column text of a quality word: its quality and substatus, or
// the text of its major quality when the substatus has none.
const char* QualityText(WORD quality);

// A UTC time stamp as local time (the process's time-zone rules for that
// instant); all fields 0 when it cannot be converted.
com::SYSTEMTIME LocalSystemTime(const FILETIME& utc);

}  // namespace tagwell
