// The main window's commands: the menu items, the accelerators, the five
// buttons, the notifications of the Item name column and of the two remote
// name boxes. They work on the Client and reach the window through
// CommandShell, so that they can be driven without Qt widgets.
#pragma once

#include <string>
#include <vector>

#include "opc/ClientState.h"
#include "session/ReadCycle.h"

namespace tagwell {

// Notification codes of WM_COMMAND.
inline constexpr int BN_CLICKED = 0;
inline constexpr int LBN_SELCHANGE = 1;
inline constexpr int LBN_DBLCLK = 2;
inline constexpr int EN_MAXTEXT = 0x501;

enum class FileKind { ItemList, Database };

// What the commands need of the main window besides Client::ui.
class CommandShell {
 public:
  virtual ~CommandShell() = default;
  virtual void EnableMenuItem(int id, bool enabled) = 0;
  virtual void CheckMenuItem(int id, bool checked) = 0;
  virtual void EnableButton(int id, bool enabled) = 0;
  // The first line of edit box id (3 or 4), as typed.
  virtual std::string EditLine(int id) const = 0;
  virtual void FocusControl(int id) = 0;
  // The modal dialogs, owned by the main window. They return when closed.
  virtual void RunAddItemDialog() = 0;
  virtual void RunCycleDialog() = 0;
  virtual void RunWriteDialog() = 0;
  virtual void RunAboutBox() = 0;
  // The open-file dialog for kind, owned by the main window; the full path
  // of the file chosen, or "" when none was. Never changes the current
  // directory.
  virtual std::string ChooseFile(FileKind kind) = 0;
  // Opens the file with the program the desktop associates with it; false
  // when nothing could be started for it.
  virtual bool OpenDocument(const std::string& path) = 0;
  // Destroys the main window; OnDestroy follows.
  virtual void DestroyWindow() = 0;
};

class Commands final {
 public:
  // All three outlive this object.
  Commands(Client& client, ReadCycle& cycle, CommandShell& shell);

  // WM_COMMAND: id is the menu command or control id, code the
  // notification (0 for menus, accelerators and button clicks).
  void OnCommand(int id, int code);

  // WM_DESTROY: the exit update of Config.ini, timer 18 stopped, COM shut
  // down. Runs once; later calls do nothing.
  void OnDestroy();

  // Folders searched for Help.html, in order (by default the current
  // directory, the executable's folder and the installed documentation).
  void SetHelpFolders(std::vector<std::string> folders) { helpFolders_ = std::move(folders); }
  const std::vector<std::string>& helpFolders() const { return helpFolders_; }

 private:
  bool OnMenuCommand(int id);
  void OnControl(int id, int code);

  void Connect();
  void Disconnect();
  void ClearWindowLists();
  void AddItemCommand();
  void RemoveItemCommand();
  void SelectRow();
  void SelectCycle();
  void LoadConfigurationFile();
  void ConnectDatabase();
  void DisconnectDatabase();
  void OpenLogFile();
  void OpenHelp();
  void ConnectionMonitor();
  void CommitComputerName();
  void CommitServerName();
  std::string ComputerNameShown() const;
  void TakeComputerName();
  void EnableRemoveWhenItemsAdded();
  void StartFromEmptyTable();
  void WriteItemCommand();
  // True, after telling the operator, while the server connection is lost.
  bool RefuseWhileLost(const char* caption);
  void Warn(const std::string& text, const char* caption);

  Client& client_;
  ReadCycle& cycle_;
  CommandShell& shell_;
  std::vector<std::string> helpFolders_;
  bool destroyed_ = false;
};

}  // namespace tagwell
