// The desktop client: one main window on the GUI thread, which is also the
// COM apartment. No command-line arguments are used.
#include <QApplication>
#include <QIcon>
#include <clocale>

#include "app/KeyringStore.h"
#include "app/MainWindow.h"
#include "app/WindowPrompt.h"
#include "db/Database.h"
#include "dcom/ClientActivation.h"
#include "dcom/TransportChoice.h"
#include "platform/com/CallWait.h"
#include "resources/Resources.h"
#include "resources/StringTable.h"
#include "rpc/Activation.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  // Qt takes the desktop's locale for the C library too. Tagwell's own
  // number texts do not depend on it; this keeps any C conversion (a
  // library's too) on the decimal point the logs and databases use.
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setApplicationName(tagwell::res::kAppTitle);
  tagwell::res::InitResources();
  QApplication::setWindowIcon(QIcon(tagwell::res::kIconPath));
  // Local servers and tagwell-servers are reached through rpc/ (Cap'n
  // Proto, TLS for remote ones), computers named the Windows way through
  // DCOM, with the accounts the operator gives (remembered in the keyring).
  tagwell::rpc::RpcActivator tagwellServers;
  tagwell::KeyringStore keyring;
  tagwell::credentials::CredentialBook accounts(&keyring);
  tagwell::dcom::ClientOptions dcomOptions;
  dcomOptions.credentials = &accounts;
  tagwell::dcom::DcomActivator dcomServers(dcomOptions);
  tagwell::dcom::ScopedTransportChoice activation(tagwellServers, dcomServers);
  tagwell::MainWindowOptions options;
  options.quitOnExit = true;
  options.credentials = &accounts;
  tagwell::MainWindow window(options);
  window.client().writeDatabase = &tagwell::WriteDatabase;
  window.client().flushDatabase = &tagwell::FlushDatabase;
  // The database work (recording, the role's steps in a server database)
  // runs off the window's thread; the window waits for it drawing.
  window.client().databaseThread = std::make_shared<com::WorkThread>();
  // Remote servers are trusted on first use by the operator, in a box.
  tagwell::WindowPrompt prompt(window.client().ui.messageBox, &window.client().refusals);
  tagwellServers.SetPrompt(&prompt);
  window.show();
  int status = QApplication::exec();
  tagwellServers.SetPrompt(nullptr);
  return status;
}
