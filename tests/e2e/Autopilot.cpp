// A test-only library preloaded (LD_PRELOAD) into an installed `tagwell`:
// once the application runs, it plays the operator through the window's
// accessible names — select "Tagwell.Simulation.1" under "Local OPC
// servers", press Connect, read "Server information", choose Exit — and
// reports on standard output:
//   servers: NAME,NAME,...
//   info: LINE            (one per line of the server information list)
//   box: TEXT             (any message box, which it then closes)
// It gives up after 60 s (exit status 4).
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QListWidget>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace {

void Say(const QString& line) {
  std::fprintf(stdout, "%s\n", line.toUtf8().constData());
  std::fflush(stdout);
}

template <class T>
T* FindByName(QWidget* window, const QString& accessibleName) {
  for (T* widget : window->findChildren<T*>())
    if (widget->accessibleName() == accessibleName) return widget;
  return nullptr;
}

// Closes (and reports) message boxes as they come up, also inside the
// nested loops of a running command.
void WatchMessageBoxes() {
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
      Say("box: " + box->text());
      box->done(QMessageBox::Ok);
    }
  QTimer::singleShot(50, WatchMessageBoxes);
}

void Operate() {
  QMainWindow* window = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (auto* main = qobject_cast<QMainWindow*>(widget); main && main->isVisible()) window = main;
  if (!window) {
    QTimer::singleShot(50, Operate);
    return;
  }
  auto* servers = FindByName<QListWidget>(window, "Local OPC servers");
  auto* connect = FindByName<QPushButton>(window, "Connect");
  auto* info = FindByName<QListWidget>(window, "Server information");
  if (!servers || !connect || !info) {
    Say("autopilot: controls not found");
    std::exit(3);
  }
  QStringList names;
  for (int i = 0; i < servers->count(); ++i) names << servers->item(i)->text();
  Say("servers: " + names.join(','));
  auto found = servers->findItems("Tagwell.Simulation.1", Qt::MatchExactly);
  if (!found.isEmpty()) servers->setCurrentItem(found.front());
  connect->click();
  for (int i = 0; i < info->count(); ++i) Say("info: " + info->item(i)->text());
  for (QAction* action : window->menuBar()->findChildren<QAction*>())
    if (action->text() == "E&xit") {
      action->trigger();
      return;
    }
  Say("autopilot: no Exit command");
  std::exit(3);
}

void Start() {
  QTimer::singleShot(60000, [] {
    Say("autopilot: timeout");
    std::_Exit(4);
  });
  QTimer::singleShot(0, WatchMessageBoxes);
  QTimer::singleShot(0, Operate);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(Start)
