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

#include "app/CycleTimer.h"
#include "app/Desktop.h"
#include "app/MainWindow.h"
#include "tests/support/FakeUi.h"
#include "tests/support/TempDir.h"

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

// A main window with recording ports, working in a temporary folder.
struct TestWindow {
  explicit TestWindow(const std::string& folder = {});
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

// Saves widget's picture as name (a PNG in the test's working folder).
void SaveScreenshot(QWidget& widget, const std::string& name);

}  // namespace tagwell::testing
