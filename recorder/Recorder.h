// The recorder: one client without a window, run from a session file. It
// gives the commands an operator would give in the window, in this order:
// the computer and server names committed in the remote name boxes and
// Connect; Connect to Database; Load Configuration File; Select cycle
// duration; Read Item; Connection Monitor when the session takes part in
// the active/standby protocol. From then on the read cycle's ticks read,
// record, reconnect a lost server and hold or wait for the role, as the
// window's do. The database is chosen before the items are loaded, so the
// role store (Config.ini, or the server database of a connection file) is
// the one the role is first taken in, and a standby records nothing while
// its items are added.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "opc/ClientState.h"
#include "recorder/Journal.h"
#include "recorder/Notify.h"
#include "recorder/SessionFile.h"
#include "session/Commands.h"
#include "session/CycleTimer.h"
#include "session/ReadCycle.h"

namespace tagwell::recorder {

class Recorder final : private CommandShell {
 public:
  // settings and journal outlive this object. folder: where Logfile.txt and
  // Config.ini are ("" the current directory).
  Recorder(const SessionSettings& settings, Journal& journal, std::string folder = {});
  ~Recorder() override;

  // The commands up to Read Item and Connection Monitor. False, with the
  // reason in the journal, when the recorder cannot record: the server
  // cannot be reached, the database cannot be used or no item was added.
  bool Start(Notifier* notifier);

  // --check: connects, adds the items once, tries the database (nothing is
  // recorded, the role is not touched). Every problem is an error line of
  // the journal; true when there was none.
  bool Check();

  // SIGTERM: stops the cycle (a tick in flight has ended, its rows stored),
  // gives the role up or withdraws the standby's announcement, and lets
  // the server objects go.
  void Stop();

  // The one-line status of the service.
  std::string Status() const;

  Client& client() { return client_; }

 private:
  bool Connect();
  void OnTick();
  void Command(int id, int code = 0) { commands_->OnCommand(id, code); }
  static void CountingFlush(Client& client);
  static int CountingWrite(Client& client);

  // CommandShell: the answers an operator would give in the window.
  void EnableMenuItem(int, bool) override {}
  void CheckMenuItem(int, bool) override {}
  void EnableButton(int, bool) override {}
  std::string EditLine(int id) const override;
  void FocusControl(int) override {}
  void RunAddItemDialog() override {}
  void RunCycleDialog() override;
  void RunWriteDialog() override {}
  void RunAboutBox() override {}
  std::string ChooseFile(FileKind kind) override;
  bool OpenDocument(const std::string&) override { return false; }
  void DestroyWindow() override {}

  const SessionSettings& settings_;
  Journal& journal_;
  Notifier* notifier_ = nullptr;
  MemoryListBox localServers_, serverInfo_, itemNames_, values_, timeStamps_, qualities_, types_,
      cycleBox_, itemCount_, roleBox_;
  Client* self_ = nullptr;  // for the message box port, set once client_ exists
  JournalMessageBox messageBox_{self_};
  MemoryStatusText status_;
  Client client_;
  std::unique_ptr<CycleTimer> timer_;
  std::unique_ptr<CycleTimer> reconnectTimer_;
  std::unique_ptr<ReadCycle> cycle_;
  std::unique_ptr<Commands> commands_;

  long long rowsStored_ = 0;
  std::string lastTickAt_;
  long long lastTickMs_ = -1;
  bool stopped_ = false;
};

}  // namespace tagwell::recorder
