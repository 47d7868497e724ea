// The database writer: one reading, one new row of OPCvalues.
#pragma once

#include "opc/ClientState.h"

namespace tagwell {

// Appends CurrentReading as one row of OPCvalues in the database at
// databasePath. 1 when an empty string value was refused, 0 otherwise.
int WriteDatabase(Client& client);

}  // namespace tagwell
