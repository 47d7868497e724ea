// The database writer: one reading, one new row of OPCvalues.
#pragma once

#include <string>
#include <string_view>

#include "opc/ClientState.h"

namespace tagwell {

// Appends CurrentReading as one row of OPCvalues in the database at
// databasePath, or, while dbWriter.batching, keeps it for FlushDatabase. 1
// when an empty string value was refused, 0 otherwise. A database that
// cannot be opened, or a row that cannot be stored, is one
// "*** WriteDatabase error:" entry in the log per outage (not per row); the
// first rows stored after an outage log that rows are stored again.
int WriteDatabase(Client& client);

// Stores the kept readings (dbWriter.batch) in one transaction, the
// database opened once: the rows, their numbers and contents are those that
// WriteDatabase would have stored one by one. A row that cannot be stored
// is dropped alone; a lock held elsewhere past the busy timeout (one wait)
// drops them all, with one log entry per outage.
void FlushDatabase(Client& client);

// Whether the file at path can take the rows of WriteDatabase: an existing
// SQLite database (opened for reading and writing, never created) whose
// table OPCvalues has the eleven columns. Otherwise false, with the reason
// as a sentence for the operator in *reason. A connection file (see
// ServerDatabase.h) is checked by connecting to its server and finding the
// table there; the reason never holds the password.
bool CheckRecordingDatabase(std::string_view path, std::string* reason);

}  // namespace tagwell
