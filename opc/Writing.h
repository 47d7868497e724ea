// Writes of typed values and of the connection monitor heartbeat.
#pragma once

#include "opc/ClientState.h"

namespace tagwell {

// Writes writeText, converted to the canonical type of row currentItem (the
// handle and value arguments are not used). Refused with a message when no
// row is selected, when the type has no conversion from text, and on a
// STAND BY client while the heartbeat item is present. While not connected
// it shuts COM down and clears the connection, reading and recording flags.
// 0, or 1 after an error.
int WriteItem(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE serverHandle,
              com::VARIANT* value);
// Writes monitorValueNext to row 0, which must be the heartbeat item
// "OPC.ConnectionMonitor". 0, or 1 after an error (monitorError is then 1).
int WriteConnectionMonitor(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE serverHandle,
                           com::VARIANT* value);

// The value WriteItem sends for text typed for an item of type vt: the
// leading number of the text (0 without one; a decimal point whatever the
// locale) in the type's own member, or the text as a BSTR for VT_BSTR. False,
// with *value untouched, for a type without a conversion from text.
bool WriteValueFromText(const char* text, VARTYPE vt, com::VARIANT* value);

}  // namespace tagwell
