#include "recorder/Recorder.h"

#include <ctime>

#include "browse/Browse.h"
#include "db/Database.h"
#include "opc/Connection.h"
#include "opc/Reconnect.h"
#include "resources/ResourceIds.h"
#include "session/ConfigIni.h"

namespace tagwell::recorder {
namespace {

using namespace res;

// The rows of the process's one recorder: the database writer's hooks are
// plain functions.
long long* rowsOfRecorder = nullptr;

std::string TimeOfDay() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[16];
  std::strftime(text, sizeof text, "%H:%M:%S", &local);
  return text;
}

// How the computer box names this computer when the session names none.
std::string ServerDescription(const SessionSettings& s) {
  return s.server + (s.computer.empty() ? " on this computer" : " on " + s.computer);
}

}  // namespace

Recorder::Recorder(const SessionSettings& settings, Journal& journal, std::string folder)
    : settings_(settings),
      journal_(journal),
      client_(WindowPorts{&localServers_, &serverInfo_, &itemNames_, &values_, &timeStamps_,
                          &qualities_, &types_, &cycleBox_, &itemCount_, &roleBox_, &messageBox_,
                          &status_},
              std::move(folder)) {
  self_ = &client_;
  client_.browseAddressSpace = &BrowseAddressSpace;
  timer_ = MakeQtCycleTimer([this] { OnTick(); });
  cycle_ = std::make_unique<ReadCycle>(client_, *timer_);
  commands_ = std::make_unique<Commands>(client_, *cycle_, static_cast<CommandShell&>(*this));
  commands_->SetHelpFolders({});
  rowsOfRecorder = &rowsStored_;
}

Recorder::~Recorder() {
  Stop();
  ReleaseServer(client_);
  if (rowsOfRecorder == &rowsStored_) rowsOfRecorder = nullptr;
}

std::string Recorder::EditLine(int id) const {
  if (id == IDC_REMOTE_COMPUTER) return settings_.computer;
  if (id == IDC_REMOTE_SERVER) return settings_.server;
  return {};
}

void Recorder::RunCycleDialog() {
  if (!CycleSeconds(settings_.cycleText)) return;  // the session file was checked
  client_.state.cycleText = settings_.cycleText;
  client_.state.cycleSelected = 1;
}

std::string Recorder::ChooseFile(FileKind kind) {
  return kind == FileKind::ItemList ? settings_.itemList : settings_.database;
}

// Both names as typed into the remote name boxes, each committed with
// Enter, then Connect.
bool Recorder::Connect() {
  Command(IDC_REMOTE_COMPUTER, EN_MAXTEXT);
  Command(IDC_REMOTE_SERVER, EN_MAXTEXT);
  Command(IDC_CONNECT_BUTTON, BN_CLICKED);
  if (client_.state.connected == 1) return true;
  journal_.Write(Priority::Error, settings_.path + ":" + std::to_string(settings_.serverLine) +
                                      ": cannot connect to the OPC server " +
                                      ServerDescription(settings_));
  return false;
}

bool Recorder::Start(Notifier* notifier) {
  notifier_ = notifier;
  client_.writeDatabase = &CountingWrite;
  client_.flushDatabase = &CountingFlush;
  if (!Connect()) return false;
  Command(IDM_DB_CONNECT);
  if (client_.state.databaseWriting != 1) {
    journal_.Write(Priority::Error, settings_.path + ":" + std::to_string(settings_.databaseLine) +
                                        ": the database " + settings_.database +
                                        " cannot be used for recording");
    return false;
  }
  Command(IDM_LOADCONFIG);
  if (client_.state.itemsAdded == 0) {
    journal_.Write(Priority::Error, settings_.path + ":" + std::to_string(settings_.itemListLine) +
                                        ": no item of " + settings_.itemList + " was added");
    return false;
  }
  if (!settings_.cycleText.empty()) Command(IDM_CYCLE);
  Command(IDC_READ_BUTTON, BN_CLICKED);
  if (settings_.activeStandby) Command(IDM_MONITOR);
  // A lost server is tried again also between ticks, as in the window.
  reconnectTimer_ = MakeQtCycleTimer([this] { cycle_->PollReconnect(); });
  reconnectTimer_->Start(1000);
  if (notifier_) {
    notifier_->CoverCycle(std::chrono::milliseconds(cycle_->periodMs()));
    notifier_->Status("Started; first tick in " + std::to_string(cycle_->periodMs()) + " ms. " +
                      Status());
  }
  journal_.Write(Priority::Notice, "Recording " + std::to_string(itemNames_.GetCount()) +
                                       " items of " + ServerDescription(settings_) + " every " +
                                       std::to_string(cycle_->periodMs()) + " ms into " +
                                       settings_.database);
  return true;
}

void Recorder::OnTick() {
  if (stopped_) return;
  const auto start = std::chrono::steady_clock::now();
  cycle_->Tick();
  lastTickMs_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                    std::chrono::steady_clock::now() - start)
                    .count();
  lastTickAt_ = TimeOfDay();
  if (notifier_) notifier_->Tick(Status());
}

std::string Recorder::Status() const {
  const ClientState& s = client_.state;
  std::string role = roleBox_.Line(0);
  if (role.empty()) role = settings_.activeStandby ? "no role yet" : "NOT MONITORED";
  if (stopped_) role = settings_.activeStandby ? "role given up" : "stopped";
  if (s.serverLost == 1) role += ", server lost, connecting again";
  int good = 0;
  for (int i = 0; i < qualities_.GetCount(); ++i)
    if (qualities_.Line(i).rfind("Good", 0) == 0) ++good;
  std::string status = role + "; " + std::to_string(itemNames_.GetCount()) + " items, " +
                       std::to_string(good) + " Good; ";
  status += lastTickMs_ < 0
                ? std::string("no tick yet")
                : "last tick " + lastTickAt_ + " took " + std::to_string(lastTickMs_) + " ms";
  status += "; " + std::to_string(rowsStored_) + " rows stored";
  const std::string error = journal_.LastError();
  status += "; last error: " + (error.empty() ? std::string("none") : error);
  return status;
}

void Recorder::Stop() {
  if (stopped_) return;
  stopped_ = true;
  if (reconnectTimer_) reconnectTimer_->Stop();
  commands_->OnDestroy();
}

int Recorder::CountingWrite(Client& client) {
  const bool alone = !client.dbWriter.batching;
  const long fenced = client.dbWriter.fencedRows;
  const int result = WriteDatabase(client);
  if (alone && result == 0 && !client.dbWriter.outage && client.dbWriter.fencedRows == fenced &&
      rowsOfRecorder)
    ++*rowsOfRecorder;
  return result;
}

void Recorder::CountingFlush(Client& client) {
  const auto rows = static_cast<long long>(client.dbWriter.batch.size());
  const long fenced = client.dbWriter.fencedRows;
  FlushDatabase(client);
  if (!client.dbWriter.outage && client.dbWriter.fencedRows == fenced && rowsOfRecorder)
    *rowsOfRecorder += rows;
}

bool Recorder::Check() {
  const long before = journal_.ErrorCount();
  if (Connect()) {
    journal_.Write(Priority::Notice, "Server: connected to " + ServerDescription(settings_));
    Command(IDM_LOADCONFIG);
    int good = 0;
    for (int i = 0; i < qualities_.GetCount(); ++i)
      if (qualities_.Line(i).rfind("Good", 0) == 0) ++good;
    journal_.Write(Priority::Notice, "Items: " + std::to_string(client_.state.itemsAdded) +
                                         " added from " + settings_.itemList + ", " +
                                         std::to_string(good) + " read Good");
  }
  std::string reason;
  if (CheckRecordingDatabase(settings_.database, &reason))
    journal_.Write(Priority::Notice, "Database: " + settings_.database + " can take the rows");
  else
    journal_.Write(Priority::Error, settings_.path + ":" + std::to_string(settings_.databaseLine) +
                                        ": the database " + settings_.database +
                                        " cannot be used for recording: " + OneLine(reason));
  return journal_.ErrorCount() == before;
}

}  // namespace tagwell::recorder
