// Support for the tests that drive the desktop client's window: a
// QApplication, answerable ports (timer, desktop, message boxes), a way to
// act on a modal dialog once it is open, and screenshots.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "session/CycleTimer.h"
#include "app/Desktop.h"
#include "app/MainWindow.h"
#include "platform/com/Runtime.h"
#include "tests/support/FakeUi.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace tagwell::testing {

// The process's QApplication (offscreen platform), created on first use.
QApplication& EnsureApplication();

// Timer 18 driven by hand: records what the window asked for.
class FakeCycleTimer final : public CycleTimer {
 public:
  void Start(unsigned periodMs) override {
    running = true;
    periods.push_back(periodMs);
  }
  void Stop() override {
    running = false;
    ++stops;
  }
  bool running = false;
  std::vector<unsigned> periods;
  int stops = 0;
};

// Answers the open-file dialogs from a queue ("" = cancelled) and records
// the files opened with the desktop.
class FakeDesktop final : public Desktop {
 public:
  std::string GetOpenFileName(QWidget* owner, const QString& filter) override;
  bool OpenFile(const std::string& path) override;

  std::deque<std::string> answers;
  std::vector<QString> filters;
  std::vector<QWidget*> owners;
  std::vector<std::string> opened;
  bool openSucceeds = true;
};

// Records message boxes like RecordingMessageBox and runs onShow while a
// box is "open", as the operator or the timer could act in its nested loop.
class ActingMessageBox final : public ui::MessageBox {
 public:
  int Show(std::string_view text, std::string_view caption, ui::Icon icon,
           ui::Owner owner) override;
  RecordingMessageBox record;
  std::function<void()> onShow;
};

// A server activator that creates the object in this process and records
// the computer each activation named.
class InprocActivator final : public com::ServerActivator {
 public:
  InprocActivator() { com::SetServerActivator(this); }
  ~InprocActivator() override { com::SetServerActivator(nullptr); }
  com::HRESULT Activate(com::REFCLSID clsid, const std::u16string& host, com::DWORD count,
                        com::MULTI_QI* results) override;
  std::vector<std::string> hosts;
};

// A main window with recording ports, working in a temporary folder.
struct TestWindow {
  // messageBox replaces the recording `messages` when given.
  explicit TestWindow(const std::string& folder = {}, ui::MessageBox* messageBox = nullptr);
  ~TestWindow();
  MainWindow& operator*() { return *window; }
  MainWindow* operator->() { return window.get(); }
  Client& client() { return window->client(); }
  void Command(int id, int code = 0) { window->commands().OnCommand(id, code); }
  std::vector<std::string> Lines(int listId) const;
  // Shows the window and makes it the active one.
  void ShowActive();

  TempDir dir;  // used when no folder is given
  RecordingMessageBox messages;
  FakeCycleTimer timer;
  FakeDesktop desktop;
  std::unique_ptr<MainWindow> window;
};

// Runs action on the first visible top-level widget of type T once one
// appears (polled from the event loop, for at most 5 s), e.g. on a modal
// dialog that the code under test is about to open. Fails the test when
// none appears.
template <class T>
void WhenShown(std::function<void(T&)> action) {
  auto started = std::make_shared<QElapsedTimer>();
  started->start();
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [started, poll, action] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* found = dynamic_cast<T*>(widget); found && found->isVisible()) {
        action(*found);
        *poll = nullptr;
        return;
      }
    }
    if (started->elapsed() > 5000) {
      ADD_FAILURE() << "no such window was shown";
      *poll = nullptr;
      return;
    }
    QTimer::singleShot(5, [poll] {
      if (*poll) (*poll)();
    });
  };
  QTimer::singleShot(0, [poll] { (*poll)(); });
}

// The simulation server "Tagwell.Simulation.1" in this process, over the
// address space of tests/testdata/xml/address-space.xml, on a clock that
// stands at TestEpoch() until moved, and installed (a registration file in
// a temporary registry folder) so that the local server list shows it.
// Time texts are in UTC while it lives. One at a time.
class Plant {
 public:
  // flatListsBranches: the server's OPC_FLAT listings also name branches,
  // so that the address-space walk meets groups.
  explicit Plant(bool flatListsBranches = false);
  ~Plant();
  Plant(const Plant&) = delete;
  Plant& operator=(const Plant&) = delete;

  std::shared_ptr<ManualClock> clock;
  std::shared_ptr<server::AddressSpace> space;
  std::shared_ptr<FaultScript> faults;  // of "Tagwell.TestServer.1", also installed

 private:
  TempDir registry_;
  com::DWORD simulationCookie_ = 0;
  com::DWORD testServerCookie_ = 0;
  std::string oldTimeZone_;
  bool hadTimeZone_ = false;
};

// The value the address space holds for an item, as text ("%g" for
// numbers).
std::string PlantValue(const Plant& plant, const std::string& itemId);

// Selects progId in the local server list and presses Connect.
void ConnectTo(TestWindow& window, const std::string& progId = "Tagwell.Simulation.1");
// Adds itemId through the Add Item dialog, typed into its field.
void AddTypedItem(TestWindow& window, const std::string& itemId);

// Makes a database at path whose table OPCvalues has the eleven columns.
void MakeRecordingDatabase(const std::string& path);

// Saves widget's picture as name (a PNG in the test's working folder).
void SaveScreenshot(QWidget& widget, const std::string& name);

}  // namespace tagwell::testing
