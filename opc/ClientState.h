// The client's run-time state: the connection, the flags the commands and
// the read cycle test, the item table and the record of the last reading.
//
// One Client object holds all of it together with the ports to the window.
// main() creates it and hands it to every operation; a test can build a
// fresh one, or two in one process. It is used only on the thread that owns
// the window, and nothing in it is locked.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "opc/FixedText.h"
#include "opc/Refusals.h"
#include "platform/opcda/OpcDa.h"
#include "platform/ui/Ui.h"

namespace tagwell {

class ServerRecorder;
struct Prefetch;
}  // namespace tagwell

namespace com {
class WorkThread;
}  // namespace com

namespace tagwell {

using com::BSTR;
using com::FILETIME;
using com::HRESULT;
using com::OPCHANDLE;
using com::VARTYPE;
using com::WCHAR;
using com::WORD;

inline constexpr int MAX_ITEMS = 1000;

// One monitored item. Row i of the table is row i of each of the five item
// columns of the main window.
struct ItemRecord {
  std::u16string itemName;  // item ID handed to the server; owned by the row
  VARTYPE vtCanonical = com::VT_EMPTY;
  OPCHANDLE hClient = 0;  // always 1
  OPCHANDLE hServer = 0;
  com::Variant vValue;     // last value read by ReadGroup
  FILETIME ftTimeStamp{};  // UTC, as the server delivered it
  WORD wQuality = 0;
  WORD euType = 0;  // 0 none, 1 analog, 2 enumerated
};

// MAX_ITEMS rows plus the parallel array of server handles that every group
// call is given one element of (count 1). Element i equals rows[i].hServer.
struct ItemTable {
  std::vector<ItemRecord> rows = std::vector<ItemRecord>(MAX_ITEMS);
  std::array<OPCHANDLE, MAX_ITEMS> serverHandles{};
};

// What the last successful Connect created the server object from, so that
// a lost server can be created again the same way.
struct ConnectTarget {
  int remote = 0;         // 1: the remote path (computer may be empty)
  std::u16string server;  // ProgID or CLSID in braces
  std::u16string computer;
  // The CLSID the remote path found for server (a ProgID may have been
  // resolved by the remote computer): a reconnection creates it directly.
  bool hasClsid = false;
  com::CLSID clsid{};
};

struct ClientState {
  // Table cursors.
  int lastRowIndex = 0;
  int currentItem = 0;
  int currentRow = 0;
  int itemsAdded = 0;
  int selectedRow = -1;
  int displayedItemCount = 0;

  // Connection. Interface pointers are owned references (released by
  // Disconnect); null where the server lacks the interface.
  com::IMalloc* ptrIMalloc = nullptr;
  com::IOPCServer* ptrIOPCServer = nullptr;
  com::IUnknown* ptrRemoteServer = nullptr;
  com::IPersistFile* ptrIPersistFile = nullptr;
  com::IEnumUnknown* ptrIEnumUnknown = nullptr;
  com::IOPCServerPublicGroups* ptrIOPCServerPublicGroups = nullptr;
  com::IOPCBrowseServerAddressSpace* ptrIOPCBrowseServerAddressSpace = nullptr;
  com::IOPCItemProperties* ptrIOPCItemProperties = nullptr;
  HRESULT hrIOPCServer = com::E_NOINTERFACE;
  HRESULT hrIPersistFile = com::E_NOINTERFACE;
  HRESULT hrIEnumUnknown = com::E_NOINTERFACE;
  HRESULT hrIOPCServerPublicGroups = com::E_NOINTERFACE;
  HRESULT hrIOPCBrowseServerAddressSpace = com::E_NOINTERFACE;
  HRESULT hrIOPCItemProperties = com::E_NOINTERFACE;
  com::OPCSERVERSTATUS* ptrServerStatus = nullptr;
  com::IOPCItemMgt* ptrIOPCItemMgt = nullptr;
  OPCHANDLE hServerGroup = 0;
  OPCHANDLE lastServerHandle = 0;

  // Names. The wide strings are made by AnsiToWide and owned here: each is
  // freed with FreeWide when it is replaced and by Disconnect.
  FixedText<260> szServerName;
  WCHAR* wszServerName = nullptr;
  FixedText<260> szComputerName;
  FixedText<260> szRemoteServerName;
  WCHAR* wszComputerName = nullptr;
  WCHAR* wszRemoteServerName = nullptr;

  // Flags, 0 or 1.
  int connected = 0;
  int remoteMode = 0;
  int databaseWriting = 0;
  int isActive = 0;
  int monitorEnabled = 0;
  int monitorItemPresent = 0;
  int monitorValueRead = 0;
  int monitorValueNext = 0;
  int monitorError = 0;
  int readingStarted = 0;
  // 1 from the call that found the server gone (Disconnect, time-out,
  // unavailable) until the connection is made again: the server objects
  // are released, the rows and everything the operator set up stay.
  int serverLost = 0;
  ConnectTarget lastConnect;
  // The remote path's last creation: its result (E_ABORT when the operator
  // gave no account) and the CLSID it used.
  HRESULT lastRemoteError = com::S_OK;
  com::CLSID remoteClsid{};

  // The item being added.
  FixedText<128> szItemName;
  WCHAR* wszItemName = nullptr;
  VARTYPE vtLastCanonical = com::VT_EMPTY;  // canonical type of the last addition
  WORD lastEUType = 0;

  // Reading.
  com::Variant currentValue;
  FixedText<256> szReadItemName;
  FixedText<1024> szValueText;
  FixedText<256> szTimeText;
  FixedText<256> szVendorText;

  // Main window fields.
  FixedText<256> writeText;  // write-value dialog, at most 255 characters
  FixedText<124> cycleText;  // cycle-duration dialog, at most 123 characters
  int cycleSelected = 0;
  int clientsNumber = 0;
  FixedText<260> databasePath;
  int itemChosen = 0;
};

// The last reading, filled by ReadGroup and ReadItem and consumed by the
// database writer.
struct CurrentReading {
  const char* qualityText = "";
  com::WORD second = 0, minute = 0, hour = 0, year = 0, month = 0, day = 0;
  int valueType = 0;          // 1 boolean, 2 integer, 3 long, 4 float, 5 double, 6 string
  const char* itemName = "";  // points at ClientState::szReadItemName once a reading was made
  const char* stringTypeName = "";
  const char* longTypeName = "";
  const char* doubleTypeName = "";
  const char* floatTypeName = "";
  const char* integerTypeName = "";
  const char* booleanTypeName = "";
  BSTR stringValue =
      nullptr;  // borrowed from the value being read; valid during WriteDatabase only
  std::int32_t longValue = 0;
  std::int16_t booleanValue = 0;
  float floatValue = 0;
  std::int32_t integerValue = 0;
  double doubleValue = 0;
  // An analog item's reading of a 64-bit value: floatValue is that value
  // narrowed, doubleValue the value itself, which the recording keeps.
  bool floatFromDouble = false;
};

// What the address-space walk found. Capacities are limits: the walk stops
// storing when a list is full. Entries past a count are stale.
struct BrowseLists {
  static constexpr int kItemCapacity = 10240;
  static constexpr int kGroupCapacity = 1024;
  std::vector<std::string> browseItemNames;
  int browseItemCount = 0;
  std::vector<std::string> browseGroupNames;
  int browseGroupCount = 0;
};

// One reading waiting for the end of its tick, as the columns of its row
// (the running number is given when it is stored).
struct PendingRow {
  std::string name, type, value, quality;
  com::WORD hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;
};

// State the database writer keeps between calls.
struct DatabaseWriterState {
  // While a tick (or an item list) is being read, readings wait here and
  // are stored together at its end, in one transaction.
  bool batching = false;
  std::vector<PendingRow> batch;
  int emptyStringWarnings = 0;
  std::string connectionString;
  // A write failed and no row has been stored since: the failure was logged
  // once and the next ones are not.
  bool outage = false;
  // The connection to a server database chosen by a connection file.
  std::shared_ptr<ServerRecorder> server;
  // Set while this client holds the role in a server database: rows are
  // stored there only while its lease is live.
  std::string roleHolder;
  // Rows not stored there because the lease was no longer this client's.
  long fencedRows = 0;
};

// The window's list boxes and boxes, by control id.
struct WindowPorts {
  ui::ListBox* localServers = nullptr;  // 5
  ui::ListBox* serverInfo = nullptr;    // 6
  ui::ListBox* itemNames = nullptr;     // 7
  ui::ListBox* values = nullptr;        // 8
  ui::ListBox* timeStamps = nullptr;    // 9
  ui::ListBox* qualities = nullptr;     // 10
  ui::ListBox* types = nullptr;         // 11
  ui::ListBox* cycleBox = nullptr;      // 12
  ui::ListBox* itemCount = nullptr;     // 19
  ui::ListBox* roleBox = nullptr;       // 20
  ui::MessageBox* messageBox = nullptr;
  ui::StatusText* databaseStatus = nullptr;
  // Asked for an account when a DCOM computer needs one; null: never asked.
  ui::CredentialsPrompt* credentialsPrompt = nullptr;
};

class Client {
 public:
  // folder: where Logfile.txt and Config.ini are; empty means the current
  // directory at the moment of each access.
  explicit Client(WindowPorts ports, std::string folder = {});
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Path of a file of the working folder ("Logfile.txt", "Config.ini").
  std::string FilePath(const char* name) const;

  // Records CurrentReading as one database row when recording is on (the
  // readers call it). The desktop client installs db's WriteDatabase; null
  // records nothing.
  int (*writeDatabase)(Client& client) = nullptr;
  // Stores the readings a tick collected (dbWriter.batch) as one
  // transaction. Installed with writeDatabase; null drops them.
  void (*flushDatabase)(Client& client) = nullptr;
  // Walks the server's address space; the connect sequences call it after
  // the server status and before the group is created. The address-space
  // walk lives above this layer, so the desktop client installs browse's
  // BrowseAddressSpace here; null walks nothing.
  void (*browseAddressSpace)(Client& client) = nullptr;
  // The accounts for DCOM computers, shared with the DCOM activator that
  // logs on with them; null: DCOM computers are reached without one.
  credentials::CredentialBook* credentials = nullptr;

  ClientState state;
  ItemTable table;
  CurrentReading reading;
  BrowseLists browse;
  DatabaseWriterState dbWriter;
  WindowPorts ui;
  std::string folder;
  // Why remote connections were refused (the only part other threads touch).
  Refusals refusals;
  // Answers of batch calls waiting for their rows (opc/Prefetch.h); null
  // while none are kept.
  std::unique_ptr<Prefetch> prefetch;
  // The thread the database work runs on (RunDatabaseWork); null: the
  // caller's thread.
  std::shared_ptr<com::WorkThread> databaseThread;
};

// How long the window waits for database work before it cuts the server
// connections that work waits on.
inline constexpr std::chrono::milliseconds kDatabaseOverdue{3000};

// Runs work on client.databaseThread, the caller waiting for it as for a
// server call (its window keeps drawing; platform/com/CallWait.h), or at
// once without that thread. Once kDatabaseOverdue has passed, onOverdue
// runs on the caller's thread.
void RunDatabaseWork(Client& client, const std::function<void()>& work,
                     const std::function<void()>& onOverdue = nullptr);

// Collects the readings recorded while it lives (a tick, an item list) and
// has flushDatabase store them at its end, in one transaction. A batch
// inside another one (a tick while a box of the item list's load is open)
// stores at its own end everything kept so far; the outer one goes on
// collecting.
class RecordingBatch final {
 public:
  explicit RecordingBatch(Client& client);
  ~RecordingBatch();
  RecordingBatch(const RecordingBatch&) = delete;
  RecordingBatch& operator=(const RecordingBatch&) = delete;

 private:
  Client& client_;
  bool outer_;
};

// Whether the client leaves the recording to another one: while the role
// protocol runs (monitoring on) every client but the ACTIVE one, whatever
// its first row holds; otherwise a client whose first row is the heartbeat
// item and that does not hold the role.
inline bool StandsBy(const ClientState& s) {
  return s.isActive != 1 && (s.monitorEnabled == 1 || s.monitorItemPresent == 1);
}

// Convenience: the one-line box rewrite (insert the text at 0, delete line 1).
void SetOneLineBox(ui::ListBox& box, std::string_view text);
// A column row rewrite: insert at row, delete row + 1.
void ReplaceRow(ui::ListBox& box, int row, std::string_view text);

// --- Table operations --------------------------------------------------------

// Remove row k: moves rows k+1 .. lastRowIndex up one place (all fields, and
// serverHandles in step), then lastRowIndex -= 1, currentRow -= 1 and
// currentItem = lastRowIndex + 1. The caller has removed the item from the
// group and deletes the row from the columns.
void RemoveTableRow(Client& client, int k);

// Reset at Disconnect: the cursors, counters and flags become 0 (selectedRow
// -1: the emptied columns have no selection), the browse lists are emptied
// and emptyStringWarnings becomes 0. The rows themselves
// are kept; a new connection overwrites them from row 0. Interface pointers
// are not touched (Disconnect releases them).
void ResetClientState(Client& client);

// True when the table holds MAX_ITEMS rows (counted in the Item name
// column, whose row n is row n of the table) and another addition must be
// refused.
bool TableIsFull(const Client& client);

}  // namespace tagwell
