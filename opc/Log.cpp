#include "opc/Log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <sstream>

namespace tagwell {
namespace {

constexpr const char* kLogFileName = "Logfile.txt";

// Writes all of text with one append; a second client in the same folder may
// append between two messages but never inside one.
bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void ReportOpenFailure(Client& client, LogOpen open) {
  switch (open) {
    case LogOpen::Unchecked:
      break;
    case LogOpen::Checked:
      if (client.ui.messageBox)
        client.ui.messageBox->Show("Error:can't open logfile", "Open Logfile", ui::Icon::Warning,
                                   ui::Owner::None);
      break;
    case LogOpen::CheckedToList:
      if (client.ui.serverInfo) client.ui.serverInfo->AddString("***Error:can't open logfile.");
      break;
  }
}

// Stream insertion gives the numbers their default decimal form.
template <class... Pieces>
std::string Join(const Pieces&... pieces) {
  std::ostringstream out;
  (out << ... << pieces);
  return out.str();
}

}  // namespace

bool AppendLog(Client& client, LogOpen open, std::string_view text) {
  std::string path = client.FilePath(kLogFileName);
  int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    ReportOpenFailure(client, open);
    return false;
  }
  WriteAll(fd, text);
  ::close(fd);
  return true;
}

void LogCoInitializeError(Client& client) {
  AppendLog(client, LogOpen::Checked, "*** CoInitialize error: error of COM initialization\n\n");
}

void LogCoInitializeSecurityError(Client& client) {
  AppendLog(client, LogOpen::Checked,
            "*** CoInitializeSecurity error:may be wrong name of OPC server.\n");
}

void LogCoGetMallocError(Client& client) {
  AppendLog(client, LogOpen::Checked, "*** CoGetMalloc error: memory allocation error\n\n");
}

void LogConnectBlock(Client& client, std::string_view vendor, std::string_view serverName,
                     const com::SYSTEMTIME& t) {
  AppendLog(client, LogOpen::Checked,
            Join("\nVendor Info: ", vendor, "\n", "OPC Server started: ", serverName, "\n",
                 "Server start time: ", t.wHour, ":", t.wMinute, ":", t.wSecond, ", ", t.wDay, ".",
                 t.wMonth, ".", t.wYear, " ", "\n"));
}

void LogRemoteComputer(Client& client) {
  const std::string_view name = client.state.szComputerName.view();
  AppendLog(
      client, LogOpen::Checked,
      Join("Remote computer: ",
           name.empty() ? "none given, the server is looked for on this computer" : name, "\n"));
}

void LogRemoteServer(Client& client) {
  AppendLog(client, LogOpen::Checked,
            Join("Remote Server: ", client.state.szRemoteServerName.view(), "\n"));
}

void LogAddItemFailed(Client& client) {
  AppendLog(client, LogOpen::Checked, "*** AddItem function: failed to add item.\n\n");
}

void LogItemAdded(Client& client, std::string_view itemName, std::string_view euText) {
  AppendLog(client, LogOpen::Unchecked,
            Join("Item ", itemName, " is added.\n", "EUType (scaling or engineering units): ",
                 euText, "\n"));
}

void LogItemCount(Client& client, int count) {
  AppendLog(client, LogOpen::Unchecked, Join("Current number of items: ", count, "\n"));
}

void LogRemoveItemFailed(Client& client, int rowFromOne) {
  AppendLog(client, LogOpen::Unchecked,
            Join("*** Error: failed to remove Item: ", rowFromOne,
                 ". Probably doesn't exist or already deleted from Server.\n"));
}

void LogItemRemoved(Client& client, std::string_view itemName, int count) {
  AppendLog(client, LogOpen::Unchecked,
            Join("Item ", itemName, " is removed. Current number of items: ", count, "\n"));
}

void LogCycleDuration(Client& client, std::string_view seconds) {
  AppendLog(client, LogOpen::Unchecked, Join("Cycle duration (in seconds): ", seconds, "\n"));
}

void LogReadGroupError(Client& client) {
  AppendLog(client, LogOpen::Checked,
            Join("***ReadGroup: error reading current data of item: ",
                 client.state.szReadItemName.view(), "\n"));
}

void LogReadItemError(Client& client) {
  AppendLog(client, LogOpen::CheckedToList,
            Join("***ReadItem: error reading current data of item: ",
                 client.state.szReadItemName.view(), "\n"));
}

void LogWriteNotConnected(Client& client) {
  AppendLog(client, LogOpen::Unchecked,
            "*** Error writing value: check connection with OPC server.\n");
}

void LogWriteRefused(Client& client, std::string_view itemName, std::string_view reason) {
  AppendLog(
      client, LogOpen::Unchecked,
      Join("*** WriteItem: the server refused the value for item ", itemName, ": ", reason, "\n"));
}

void LogRowsFenced(Client& client, long rows) {
  AppendLog(client, LogOpen::Unchecked,
            Join("WriteDatabase: ", rows, rows == 1 ? " row" : " rows",
                 " not stored: this client no longer holds the active role (the active client "
                 "records the readings)\n"));
}

void LogMonitorItemMissing(Client& client) {
  AppendLog(client, LogOpen::Unchecked,
            "*** Connection monitor: the first item is not OPC.ConnectionMonitor; clients that "
            "share the recording as an active/standby pair each need it as their first item. "
            "This client records only while it is ACTIVE.\n");
}

void LogMonitorWriteNotConnected(Client& client) {
  AppendLog(client, LogOpen::Unchecked, "*** Error writing connection monitor value. ***\n");
}

void LogEmptyStringRefused(Client& client) {
  AppendLog(client, LogOpen::Checked,
            Join("*** WriteDatabase error:empty string can not be written in database.\n",
                 "*** Item name: ", client.reading.itemName, "\n"));
}

void LogItemRefused(Client& client, std::string_view itemName, std::string_view reason) {
  AppendLog(client, LogOpen::Checked,
            Join("*** AddItem function: item ", itemName, " is refused by server: ", reason, "\n"));
}

void LogRoleChange(Client& client, std::string_view role, std::string_view reason) {
  AppendLog(client, LogOpen::Unchecked, Join("Client role changed to ", role, ": ", reason, "\n"));
}

void LogServerLost(Client& client, std::string_view serverName, std::string_view reason) {
  AppendLog(client, LogOpen::Unchecked,
            Join("*** Connection to OPC server ", serverName, " lost: ", reason, "\n"));
}

void LogServerRestored(Client& client, std::string_view serverName, int added, int rows) {
  AppendLog(client, LogOpen::Unchecked,
            Join("Connection to OPC server ", serverName, " restored: ", std::to_string(added),
                 " of ", std::to_string(rows), " items added again.\n"));
}

void LogWriteDatabaseError(Client& client, std::string_view errorText) {
  AppendLog(client, LogOpen::Unchecked, Join("*** WriteDatabase error:", errorText, "\n"));
}

void LogXmlLoadFailed(Client& client, std::string_view path, std::string_view reason) {
  AppendLog(client, LogOpen::Unchecked,
            Join("*** Load XML file: failed to load ", path, ": ", reason, "\n"));
}

void LogXmlItemSkipped(Client& client, std::string_view itemId) {
  AppendLog(
      client, LogOpen::Unchecked,
      Join("*** Load XML file: item ID longer than 127 characters is not added: ", itemId, "\n"));
}

void LogWriteDatabaseRestored(Client& client) {
  AppendLog(
      client, LogOpen::Unchecked,
      Join("WriteDatabase: rows are stored again in ", client.state.databasePath.view(), "\n"));
}

void LogXmlBlankNameSkipped(Client& client) {
  AppendLog(client, LogOpen::Unchecked,
            "*** Load XML file: item with an empty name is not added.\n");
}

}  // namespace tagwell
