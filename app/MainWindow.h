// The main window: the controls of the control table, menu 109, the two
// accelerators, timer 18 and the window's life. Commands, the read cycle
// and the dialogs live in their own classes; the window only wires them to
// its widgets.
#pragma once

#include <QMainWindow>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/Desktop.h"
#include "app/QtPorts.h"
#include "app/WindowControls.h"
#include "opc/ClientState.h"
#include "session/Commands.h"
#include "session/ReadCycle.h"

namespace tagwell {

struct MainWindowOptions {
  // Folder of Logfile.txt and Config.ini; empty: the current directory at
  // the moment of each access.
  std::string folder;
  // Ports that replace the window's own (tests answer them); null: Qt
  // message boxes, Qt file dialog and xdg-open, a QTimer of the window.
  // Each outlives the window. With a timer given, ticks are whatever the
  // owner of that timer calls readCycle().Tick() for.
  ui::MessageBox* messageBox = nullptr;
  Desktop* desktop = nullptr;
  CycleTimer* timer = nullptr;
  // The exit sequence ends the application's event loop (exit code 0).
  bool quitOnExit = false;
};

class MainWindow final : public QMainWindow, private CommandShell {
 public:
  explicit MainWindow(MainWindowOptions options = {});
  ~MainWindow() override;

  Client& client() { return *client_; }
  ReadCycle& readCycle() { return *cycle_; }
  Commands& commands() { return *commands_; }

  // The controls by id; null for an unknown id.
  QListWidget* listBox(int id) const;
  QLineEdit* editBox(int id) const;
  QPushButton* button(int id) const;
  QAction* action(int id) const;
  const std::vector<QLabel*>& labels() const { return controls_.labels; }
  const std::vector<QLabel*>& bitmaps() const { return controls_.bitmaps; }
  // The database status text; null until its first text.
  QLabel* statusLabel() const { return status_->label(); }

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void ConnectSignals();
  void InstallAccelerators();
  WindowPorts Ports();

  // CommandShell.
  void EnableMenuItem(int id, bool enabled) override;
  void CheckMenuItem(int id, bool checked) override;
  void EnableButton(int id, bool enabled) override;
  std::string EditLine(int id) const override;
  void FocusControl(int id) override;
  void RunAddItemDialog() override;
  void RunCycleDialog() override;
  void RunWriteDialog() override;
  void RunAboutBox() override;
  std::string ChooseFile(FileKind kind) override;
  bool OpenDocument(const std::string& path) override;
  void DestroyWindow() override;

  MainWindowOptions options_;
  WindowControls controls_;
  std::map<int, QAction*> actions_;
  std::map<int, std::unique_ptr<QtListBox>> listPorts_;
  std::unique_ptr<QtMessageBox> messageBox_;
  std::unique_ptr<QtStatusText> status_;
  std::unique_ptr<Desktop> desktop_;
  std::unique_ptr<Client> client_;
  std::unique_ptr<CycleTimer> timer_;
  std::unique_ptr<CycleTimer> reconnectTimer_;
  std::unique_ptr<ReadCycle> cycle_;
  std::unique_ptr<Commands> commands_;
};

}  // namespace tagwell
