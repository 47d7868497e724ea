#include "opc/ClientState.h"

#include <utility>

#include "opc/Prefetch.h"
#include "opc/TextHelpers.h"
#include "platform/com/CallWait.h"

namespace tagwell {

Client::Client(WindowPorts ports, std::string folderPath)
    : ui(ports), folder(std::move(folderPath)) {}

Client::~Client() {
  FreeWide(state.wszServerName);
  FreeWide(state.wszComputerName);
  FreeWide(state.wszRemoteServerName);
  FreeWide(state.wszItemName);
}

void RunDatabaseWork(Client& client, const std::function<void()>& work,
                     const std::function<void()>& onOverdue) {
  if (!client.databaseThread) {
    work();
    return;
  }
  client.databaseThread->Run(work, kDatabaseOverdue, onOverdue);
}

std::string Client::FilePath(const char* name) const {
  if (folder.empty()) return name;
  return folder + "/" + name;
}

RecordingBatch::RecordingBatch(Client& client)
    : client_(client), outer_(!client.dbWriter.batching) {
  client_.dbWriter.batching = true;
}

// An inner batch (a tick that runs in the nested loop of a box that an
// item list's load shows) stores what has been kept so far as well: no
// reading waits for the operator.
RecordingBatch::~RecordingBatch() {
  if (outer_) client_.dbWriter.batching = false;
  if (client_.flushDatabase)
    client_.flushDatabase(client_);
  else
    client_.dbWriter.batch.clear();
}

void SetOneLineBox(ui::ListBox& box, std::string_view text) {
  box.InsertString(0, text);
  box.DeleteString(1);
}

void ReplaceRow(ui::ListBox& box, int row, std::string_view text) {
  box.ReplaceString(row, text);
}

void RemoveTableRow(Client& client, int k) {
  ClientState& s = client.state;
  ItemTable& t = client.table;
  if (k >= 0 && k < MAX_ITEMS) {
    for (int i = k; i < s.lastRowIndex && i + 1 < MAX_ITEMS; ++i) {
      t.rows[i] = std::move(t.rows[i + 1]);
      t.serverHandles[i] = t.serverHandles[i + 1];
    }
  }
  s.lastRowIndex -= 1;
  s.currentRow -= 1;
  s.currentItem = s.lastRowIndex + 1;
}

void ResetClientState(Client& client) {
  ClientState& s = client.state;
  s.itemsAdded = 0;
  s.currentRow = 0;
  s.lastRowIndex = 0;
  s.currentItem = 0;
  s.selectedRow = -1;  // no row is selected in the emptied columns
  s.displayedItemCount = 0;
  s.connected = 0;
  s.serverLost = 0;
  s.remoteMode = 0;
  s.readingStarted = 0;
  s.databaseWriting = 0;
  s.monitorEnabled = 0;
  s.isActive = 0;
  s.monitorValueRead = 0;
  s.monitorValueNext = 0;
  s.monitorError = 0;
  s.monitorItemPresent = 0;
  s.cycleSelected = 0;
  s.clientsNumber = 0;
  client.browse.browseItemNames.clear();
  client.browse.browseItemCount = 0;
  client.browse.browseGroupNames.clear();
  client.browse.browseGroupCount = 0;
  client.dbWriter.emptyStringWarnings = 0;
  client.dbWriter.outage = false;
}

bool TableIsFull(const Client& client) {
  return client.ui.itemNames && client.ui.itemNames->GetCount() >= MAX_ITEMS;
}

}  // namespace tagwell
