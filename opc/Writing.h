// Writes of typed values and of the connection monitor heartbeat.
#pragma once

#include <string>

#include "opc/ClientState.h"

namespace tagwell {

// Writes writeText, converted to the canonical type of row currentItem (the
// handle and value arguments are not used). Refused with a message when no
// row is selected, when the text does not fit the item's type (see
// WriteValueFromText), when the type has no conversion from text, and on a
// STAND BY client while the heartbeat item is present. While not connected
// it shuts COM down and clears the connection, reading and recording flags.
// 0, or 1 after an error.
int WriteItem(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE serverHandle,
              com::VARIANT* value);
// Writes monitorValueNext to row 0, which must be the heartbeat item
// "OPC.ConnectionMonitor". 0, or 1 after an error (monitorError is then 1).
int WriteConnectionMonitor(Client& client, com::IOPCItemMgt* itemMgt, OPCHANDLE serverHandle,
                           com::VARIANT* value);

enum class WriteConversion { Converted, Refused, NoConversion };

// The value WriteItem sends for text typed for an item of type vt, read
// with a decimal point whatever the locale. Whole-number types take digits
// with an optional sign (a fraction is cut off: "12.7" sends 12) inside the
// type's range; VT_R4 and VT_R8 take a number inside the type's range;
// VT_BOOL takes "1", "-1" or "true" (VARIANT_TRUE) and "0" or "false"
// (VARIANT_FALSE); VT_BSTR takes the text as typed. Refused for any other
// text (the empty one among them), NoConversion for a type without a
// conversion from text; *value is untouched unless Converted.
WriteConversion WriteValueFromText(const char* text, VARTYPE vt, com::VARIANT* value);

// What an item of type vt takes, for the message that refuses a text
// ("a whole number from -32768 to 32767").
std::string WriteValueRange(VARTYPE vt);

}  // namespace tagwell
