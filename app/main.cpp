// The desktop client: one main window on the GUI thread, which is also the
// COM apartment. No command-line arguments are used.
#include <QApplication>

#include "app/MainWindow.h"
#include "db/Database.h"
#include "resources/StringTable.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(tagwell::res::kAppTitle);
  // TODO(rpc): install the rpc activator for local and remote servers.
  tagwell::MainWindowOptions options;
  options.quitOnExit = true;
  tagwell::MainWindow window(options);
  window.client().writeDatabase = &tagwell::WriteDatabase;
  window.show();
  return QApplication::exec();
}
