#include "session/Commands.h"

#include <QFileInfo>

#include "browse/AddItemDialog.h"
#include "browse/XmlItemList.h"
#include "db/Database.h"
#include "opc/Connection.h"
#include "opc/Items.h"
#include "opc/LocalServers.h"
#include "opc/Log.h"
#include "opc/Reading.h"
#include "opc/Reconnect.h"
#include "opc/RemoteLogon.h"
#include "opc/TextHelpers.h"
#include "platform/com/Runtime.h"
#include "resources/ResourceIds.h"
#include "session/ConfigIni.h"
#include "session/HelpFile.h"
#include "session/RemoteNames.h"

namespace tagwell {

using namespace res;

namespace {

const char* const kInProgress = "Data writing in database is in progress!";
const char* const kStopped = "Data writing in database is stopped.";

// Replaces an owned wide name.
void SetWideName(com::WCHAR*& name, const char* text) {
  FreeWide(name);
  name = AnsiToWide(text);
}

}  // namespace

Commands::Commands(Client& client, ReadCycle& cycle, CommandShell& shell)
    : client_(client), cycle_(cycle), shell_(shell), helpFolders_(DefaultHelpFolders()) {}

void Commands::OnCommand(int id, int code) {
  if (OnMenuCommand(id)) return;
  OnControl(id, code);
}

bool Commands::OnMenuCommand(int id) {
  switch (id) {
    case IDM_CONNECT:
      Connect();
      break;
    case IDM_DISCONNECT:
      Disconnect();
      break;
    case IDM_ADDITEM:
      AddItemCommand();
      break;
    case IDM_REMOVEITEM:
      RemoveItemCommand();
      break;
    case IDM_READITEM:
      cycle_.ReadItemCommand();
      break;
    case IDM_CYCLE:
      SelectCycle();
      break;
    case IDM_WRITEITEM:
      WriteItemCommand();
      break;
    case IDM_LOADCONFIG:
      LoadConfigurationFile();
      break;
    case IDM_DB_CONNECT:
      ConnectDatabase();
      break;
    case IDM_DB_DISCONNECT:
      DisconnectDatabase();
      break;
    case IDM_LOGFILE:
      OpenLogFile();
      break;
    case IDM_TREND:
      shell_.OpenTrendWindow();
      break;
    case IDM_HELP:
      OpenHelp();
      break;
    case IDM_MONITOR:
      ConnectionMonitor();
      break;
    case IDM_ABOUT:
      shell_.RunAboutBox();
      break;
    case IDM_EXIT:
      shell_.DestroyWindow();
      break;
    default:
      return false;
  }
  return true;
}

void Commands::OnControl(int id, int code) {
  if (id == IDC_ITEM_NAMES) {
    if (code == LBN_DBLCLK) WriteItemCommand();
    if (code == LBN_DBLCLK || code == LBN_SELCHANGE) SelectRow();
    return;
  }
  if (code == BN_CLICKED) {
    switch (id) {
      case IDC_ADD_BUTTON:
        AddItemCommand();
        break;
      case IDC_DISCONNECT_BUTTON:
        Disconnect();
        break;
      case IDC_CONNECT_BUTTON:
        Connect();
        break;
      case IDC_REMOVE_BUTTON:
        RemoveItemCommand();
        break;
      case IDC_READ_BUTTON:
        cycle_.ReadItemCommand();
        break;
      default:
        break;
    }
  } else if (code == EN_MAXTEXT) {
    if (id == IDC_REMOTE_COMPUTER) CommitComputerName();
    if (id == IDC_REMOTE_SERVER) CommitServerName();
  }
}

void Commands::Warn(const std::string& text, const char* caption) {
  client_.ui.messageBox->Show(text, caption, ui::Icon::Warning, ui::Owner::MainWindow);
}

bool Commands::RefuseWhileLost(const char* caption) {
  if (client_.state.serverLost == 0) return false;
  Warn("Error: the connection to OPC server " + LastServerName(client_.state) +
           " is lost.\nTagwell connects again by itself; try again once the items read again.",
       caption);
  return true;
}

void Commands::WriteItemCommand() {
  if (RefuseWhileLost("Write Item")) return;
  shell_.RunWriteDialog();
}

// A connection is made from an empty table: rows of an earlier connection
// would keep server handles that name other items in the new group.
void Commands::StartFromEmptyTable() {
  ClientState& s = client_.state;
  ReleaseInterfaces(s);
  const WindowPorts& ui = client_.ui;
  for (ui::ListBox* box :
       {ui.itemNames, ui.values, ui.timeStamps, ui.qualities, ui.types, ui.itemCount})
    box->ResetContent();
  s.lastRowIndex = s.currentRow = s.currentItem = s.itemsAdded = 0;
  s.displayedItemCount = 0;
  s.selectedRow = -1;
  s.monitorItemPresent = 0;
  s.serverLost = 0;
}

void Commands::Connect() {
  ClientState& s = client_.state;
  if (s.connected == 1) {
    Warn("Error: client is already connected to OPC server " + LastServerName(s) +
             ".\nDisconnect first.",
         s.lastConnect.remote ? "Remote Server connection" : "Local Server connection");
    return;
  }
  StartFromEmptyTable();
  for (int id : {IDM_DISCONNECT, IDM_LOADCONFIG, IDM_DB_CONNECT, IDM_DB_DISCONNECT, IDM_MONITOR})
    shell_.EnableMenuItem(id, true);
  if (s.remoteMode == 0) {
    ConnectLocal(client_);
  } else {
    // Only the server name may have been committed, or COM may have been
    // shut down by a Disconnect since the names were committed.
    if (s.ptrIMalloc == nullptr) LocalInit(client_);
    if (s.wszComputerName == nullptr) s.wszComputerName = AnsiToWide("");
    ConnectRemote(client_);
  }
  if (s.connected == 1) shell_.EnableButton(IDC_DISCONNECT_BUTTON, true);
}

void Commands::ClearWindowLists() {
  const WindowPorts& ui = client_.ui;
  ui.localServers->ResetContent();
  ui.serverInfo->ResetContent();
  ui.serverInfo->AddString("Disconnected from OPC server");
  for (ui::ListBox* box : {ui.itemNames, ui.values, ui.timeStamps, ui.qualities, ui.types,
                           ui.cycleBox, ui.itemCount, ui.roleBox})
    box->ResetContent();
}

void Commands::Disconnect() {
  ClientState& s = client_.state;
  for (int id : {IDM_DISCONNECT, IDM_REMOVEITEM, IDM_LOADCONFIG}) shell_.EnableMenuItem(id, false);
  ClearWindowLists();
  cycle_.roles().Disconnect();
  shell_.CheckMenuItem(IDM_MONITOR, false);
  s.monitorEnabled = s.isActive = s.monitorValueRead = s.monitorValueNext = 0;
  s.clientsNumber = s.monitorError = s.monitorItemPresent = 0;
  if (s.databaseWriting == 1) client_.ui.databaseStatus->SetText(kStopped);
  // Also when `connected` is 0: a Connect given while connected can clear it
  // and leave the server objects held.
  ReleaseServer(client_);
  s.currentValue.Clear();
  ResetClientState(client_);
  cycle_.Stop();
  // Only a COM start-up of this client is shut down, so that the per-thread
  // count stays balanced.
  if (s.ptrIMalloc != nullptr) UninitCom(client_);
  ListLocalServers(*client_.ui.localServers);
  shell_.EnableButton(IDC_REMOVE_BUTTON, false);
  shell_.EnableButton(IDC_DISCONNECT_BUTTON, false);
}

void Commands::EnableRemoveWhenItemsAdded() {
  if (client_.state.itemsAdded < 1) return;
  shell_.EnableMenuItem(IDM_REMOVEITEM, true);
  shell_.EnableButton(IDC_REMOVE_BUTTON, true);
}

void Commands::AddItemCommand() {
  ClientState& s = client_.state;
  if (s.connected == 0) {
    Warn("Error: client is not connected to server", "Add Item error");
    return;
  }
  if (RefuseWhileLost("Add Item error") ||
      RefuseWithoutGroup(client_, s.ptrIOPCItemMgt, "Add Item error") ||
      RefuseWhenTableFull(client_))
    return;
  s.itemChosen = 0;
  shell_.RunAddItemDialog();
  if (s.itemChosen != 1) return;
  AddItem(client_, s.ptrIOPCItemMgt, &s.lastServerHandle);
  WORD quality = 0;
  ReadItem(client_, s.ptrIOPCItemMgt, s.lastServerHandle, s.currentValue.get(), &quality);
  ReadItemAttributes(client_, s.ptrIOPCItemMgt);
  s.itemsAdded += 1;
  LogItemCount(client_, ShowItemCount(client_));
  EnableRemoveWhenItemsAdded();
}

void Commands::RemoveItemCommand() {
  ClientState& s = client_.state;
  if (s.connected == 0) {
    Warn("Error: client is not connected to OPC server.\n", "Remove Item function");
    return;
  }
  int k = client_.ui.itemNames->GetCurSel();
  if (k == ui::LB_ERR) {
    Warn("Error: item is not selected in column \"Item Name\"\nor there are no items to remove.",
         "Remove Item function");
    return;
  }
  if (k > s.lastRowIndex || k >= MAX_ITEMS) return;
  s.currentItem = k;
  RemoveItem(client_, s.ptrIOPCItemMgt, client_.table.serverHandles[k]);  // names row k
  std::string name = s.szReadItemName.str();
  RemoveTableRow(client_, k);
  const WindowPorts& ui = client_.ui;
  for (ui::ListBox* column : {ui.itemNames, ui.values, ui.timeStamps, ui.qualities, ui.types})
    column->DeleteString(k);
  LogItemRemoved(client_, name, ShowItemCount(client_));
  s.selectedRow = -1;
}

void Commands::SelectRow() {
  const WindowPorts& ui = client_.ui;
  int row = ui.itemNames->GetCurSel();
  client_.state.selectedRow = row;
  for (ui::ListBox* column : {ui.values, ui.timeStamps, ui.qualities, ui.types})
    column->SetCurSel(row);
}

// The dialog sets cycleSelected with a valid cycle only, so that Cancel
// keeps the cycle as it was (5 s until one was chosen).
void Commands::SelectCycle() {
  shell_.RunCycleDialog();
}

void Commands::LoadConfigurationFile() {
  if (RefuseWhileLost("Load Configuration File")) return;
  std::string path = shell_.ChooseFile(FileKind::ItemList);
  if (!path.empty()) {
    RecordingBatch batch(client_);
    LoadXMLFile(client_, path.c_str());
  }
  EnableRemoveWhenItemsAdded();
}

void Commands::ConnectDatabase() {
  ClientState& s = client_.state;
  std::string path = shell_.ChooseFile(FileKind::Database);
  if (path.empty()) return;
  if (path.size() >= decltype(s.databasePath)::kCapacity) {
    Warn("Error: the path of the database file is too long (at most 259 characters).",
         "Write Database");
    return;
  }
  // The file is tried at once: a file that can take no rows would leave the
  // status saying that data is written while nothing is.
  std::string reason;
  if (!CheckRecordingDatabase(path, &reason)) {
    Warn("Error: database " + path + " cannot be used for recording:\n" + reason,
         "Connect to Database");
    return;
  }
  s.databasePath = path;
  s.databaseWriting = 1;
  client_.dbWriter.outage = false;
  RunDatabaseWork(client_, [&] { client_.dbWriter.server.reset(); });  // read again
  if (StandsBy(s)) {
    client_.ui.messageBox->Show("Error: only \"active\" client can write in database!",
                                "Write Database", ui::Icon::Warning, ui::Owner::None);
    return;
  }
  if (s.readingStarted == 1) client_.ui.databaseStatus->SetText(kInProgress);
}

void Commands::DisconnectDatabase() {
  ClientState& s = client_.state;
  if (s.databaseWriting == 1 && !StandsBy(s)) client_.ui.databaseStatus->SetText(kStopped);
  s.databaseWriting = 0;
  // Ends a server database's connection, on the thread it was used on.
  RunDatabaseWork(client_, [&] { client_.dbWriter.server.reset(); });
}

void Commands::OpenLogFile() {
  QFileInfo log(QString::fromStdString(client_.FilePath("Logfile.txt")));
  if (!log.isFile()) {
    Warn("The log file Logfile.txt does not exist yet: nothing has been logged.", "Log File");
    return;
  }
  std::string path = log.absoluteFilePath().toStdString();
  if (!shell_.OpenDocument(path))
    Warn("Cannot open " + path + ":\nno program opens it.", "Log File");
}

void Commands::OpenHelp() {
  std::string path = FindHelpFile(helpFolders_);
  if (path.empty()) {
    Warn(
        "The manual Help.html is not installed.\nIt was looked for beside the program and in "
        "the documentation folder.",
        "Help");
    return;
  }
  if (!shell_.OpenDocument(path)) Warn("Cannot open " + path + ":\nno program opens it.", "Help");
}

void Commands::ConnectionMonitor() {
  int enabled = cycle_.roles().MonitorCommand(cycle_.periodMs());
  shell_.CheckMenuItem(IDM_MONITOR, enabled == 1);
  // The role protocol runs without the heartbeat item too (only the ACTIVE
  // client records); the operator learns what the pair needs.
  if (enabled == 1 && client_.state.monitorItemPresent == 0) {
    Warn(
        "Connection Monitor is on, but the first item is not OPC.ConnectionMonitor.\nClients "
        "that share the recording as an active/standby pair each need OPC.ConnectionMonitor as "
        "their first item: the ACTIVE client writes its heartbeat there.\nThis client records "
        "only while it is ACTIVE.",
        "Connection monitor");
    LogMonitorItemMissing(client_);
  }
}

void Commands::CommitComputerName() {
  LocalInit(client_);
  TakeComputerName();
  // A DCOM computer's OPC servers become the server box's choices.
  shell_.OfferServerNames(ListRemoteServers(client_, client_.state.wszComputerName));
  shell_.FocusControl(IDC_REMOTE_SERVER);
}

// The computer box's name as the remote path uses it: an empty box, or its
// prompt left as it is, means this computer ("").
std::string Commands::ComputerNameShown() const {
  std::string name = shell_.EditLine(IDC_REMOTE_COMPUTER);
  if (name.find_first_not_of(" \t") == std::string::npos || name == kRemoteComputerPrompt)
    name.clear();
  return name;
}

void Commands::TakeComputerName() {
  ClientState& s = client_.state;
  s.szComputerName = ComputerNameShown();
  SetWideName(s.wszComputerName, s.szComputerName.c_str());
  LogRemoteComputer(client_);
}

// The remote path takes both names as the boxes show them now: after a
// Disconnect, or an edit of the computer box without Enter, the computer
// name is taken again.
void Commands::CommitServerName() {
  ClientState& s = client_.state;
  s.remoteMode = 1;
  if (s.wszComputerName == nullptr || ComputerNameShown() != s.szComputerName.view())
    TakeComputerName();
  s.szRemoteServerName = shell_.EditLine(IDC_REMOTE_SERVER);
  client_.ui.localServers->ResetContent();
  SetWideName(s.wszRemoteServerName, s.szRemoteServerName.c_str());
  LogRemoteServer(client_);
}

void Commands::OnDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  cycle_.roles().Exit();
  cycle_.Stop();
  client_.state.serverLost = 0;  // no more attempts to connect again
  // A probe may be asking the activation (and its prompt) for a server:
  // both go with the window.
  cycle_.EndReconnection();
  if (client_.state.ptrIMalloc != nullptr) com::CoUninitialize();
}

}  // namespace tagwell
