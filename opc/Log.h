// The journal Logfile.txt in the client's working folder: opened for
// appending, written and closed for every message; "\n" line ends; no time
// stamps and no levels. Every line the client writes has its own function
// here, so the texts stand in one place.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "opc/ClientState.h"

namespace tagwell {

// How a writer reports a log file that cannot be opened.
enum class LogOpen {
  Unchecked,       // not at all
  Checked,         // message box "Error:can't open logfile" / "Open Logfile", no owner
  CheckedToList,   // the line "***Error:can't open logfile." in the server information list
};

// Appends text (which carries its own line ends) to Logfile.txt. Returns
// false when the file could not be opened; the failure is reported as
// `open` says and the caller goes on.
bool AppendLog(Client& client, LogOpen open, std::string_view text);

// --- The lines ---------------------------------------------------------------
void LogCoInitializeError(Client& client);
void LogCoInitializeSecurityError(Client& client);
void LogCoGetMallocError(Client& client);
// After a successful connect: the vendor text without its three leading
// blanks, the server name, and the start time (local).
void LogConnectBlock(Client& client, std::string_view vendor, std::string_view serverName,
                     const com::SYSTEMTIME& startTime);
void LogRemoteComputer(Client& client);
void LogRemoteServer(Client& client);
void LogAddItemFailed(Client& client);
void LogItemAdded(Client& client, std::string_view itemName, std::string_view euText);
void LogItemCount(Client& client, int count);
void LogRemoveItemFailed(Client& client, int rowFromOne);
// The client's role changed ("ACTIVE", "STAND BY", "NOT MONITORED") and why.
void LogRoleChange(Client& client, std::string_view role, std::string_view reason);
void LogServerLost(Client& client, std::string_view serverName, std::string_view reason);
void LogServerRestored(Client& client, std::string_view serverName, int added, int rows);
void LogItemRemoved(Client& client, std::string_view itemName, int count);
void LogCycleDuration(Client& client, std::string_view seconds);
void LogReadGroupError(Client& client);
void LogReadItemError(Client& client);
void LogWriteNotConnected(Client& client);
// A write of the operator's value that the server refused, with its reason.
void LogWriteRefused(Client& client, std::string_view itemName, std::string_view reason);
// Rows a server database did not take because this client's lease had
// ended (another client records them).
void LogRowsFenced(Client& client, long rows);
// Monitoring switched on without the heartbeat item in the first row.
void LogMonitorItemMissing(Client& client);
void LogMonitorWriteNotConnected(Client& client);
// Both lines of an empty string refused by the database writer.
void LogEmptyStringRefused(Client& client);
// An item the server refused (S_FALSE), with the server's reason.
void LogItemRefused(Client& client, std::string_view itemName, std::string_view reason);
// A database failure after the database was opened.
void LogWriteDatabaseError(Client& client, std::string_view errorText);
// The first row stored after a failed database write.
void LogWriteDatabaseRestored(Client& client);
// An XML item list that could not be loaded, with the parser's reason.
void LogXmlLoadFailed(Client& client, std::string_view path, std::string_view reason);
// An XML item list entry whose ID does not fit szItemName.
void LogXmlItemSkipped(Client& client, std::string_view itemId);
// An XML item list entry whose Name is empty or blank.
void LogXmlBlankNameSkipped(Client& client);

}  // namespace tagwell
