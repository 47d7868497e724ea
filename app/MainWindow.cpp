#include "app/MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QCompleter>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QStringListModel>
#include <QTimer>

#include "app/CredentialsDialog.h"
#include "app/ItemListDialog.h"
#include "app/SmallDialogs.h"
#include "app/TemplateDialog.h"
#include "app/TrendWindow.h"
#include "browse/Browse.h"
#include "opc/Connection.h"
#include "opc/LocalServers.h"
#include "platform/com/CallWait.h"
#include "resources/MenuResource.h"
#include "resources/Resources.h"
#include "resources/StringTable.h"

namespace tagwell {

using namespace res;

MainWindow::MainWindow(MainWindowOptions options) : options_(std::move(options)) {
  InitResources();
  setObjectName(kClassName);
  setWindowTitle(kAppTitle);
  setWindowIcon(QIcon(kIconPath));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  move(50, 0);
  resize(860, 710);

  auto* central = new QWidget(this);
  central->setAutoFillBackground(true);
  QPalette white = central->palette();
  white.setColor(QPalette::Window, Qt::white);
  central->setPalette(white);
  setCentralWidget(central);
  menuBar()->setNativeMenuBar(false);

  controls_ = CreateControls(central);
  actions_ = CreateMenu(menuBar());
  for (const auto& [id, list] : controls_.lists) listPorts_[id] = std::make_unique<QtListBox>(list);
  messageBox_ = std::make_unique<QtMessageBox>(this);
  credentialsPrompt_ = std::make_unique<QtCredentialsPrompt>(this);
  status_ = std::make_unique<QtStatusText>(central);
  desktop_ = options_.desktop ? nullptr : MakeQtDesktop();
  // While a server call of this thread waits, the window keeps drawing,
  // answering assistive technology and running its timers; the operator's
  // input waits for the call's end.
  com::SetCallWaitPump([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
  client_ = std::make_unique<Client>(Ports(), options_.folder);
  client_->browseAddressSpace = &BrowseAddressSpace;
  client_->credentials = options_.credentials;
  if (!options_.timer) {
    timer_ = MakeQtCycleTimer([this] { cycle_->Tick(); });
    // A lost server is tried again also while the cycle is not running.
    reconnectTimer_ = MakeQtCycleTimer([this] { cycle_->PollReconnect(); });
    reconnectTimer_->Start(1000);
  }
  // With the test's own timer, probes run inside the tick (no threads).
  cycle_ = std::make_unique<ReadCycle>(*client_, options_.timer ? *options_.timer : *timer_,
                                       ProbeServer, options_.timer == nullptr);
  CommandShell& shell = *this;
  commands_ = std::make_unique<Commands>(*client_, *cycle_, shell);
  trendBuffer_ = std::make_unique<TrendBuffer>();
  cycle_->SetObserver(trendBuffer_.get());

  ConnectSignals();
  InstallAccelerators();
  for (int id : kGrayedAtCreate) EnableMenuItem(id, false);
  ListLocalServers(*client_->ui.localServers);
  controls_.edits.at(IDC_REMOTE_COMPUTER)->setFocus();
}

MainWindow::~MainWindow() {
  // The exit sequence leaves the server objects held, as the connection
  // ends with the process; a window destroyed within a running process (a
  // test, say) gives them back here.
  if (reconnectTimer_) reconnectTimer_->Stop();
  cycle_->Stop();
  cycle_->SetObserver(nullptr);
  trend_.reset();
  ReleaseServer(*client_);
}

WindowPorts MainWindow::Ports() {
  WindowPorts p;
  p.localServers = listPorts_.at(IDC_LOCAL_SERVERS).get();
  p.serverInfo = listPorts_.at(IDC_SERVER_INFO).get();
  p.itemNames = listPorts_.at(IDC_ITEM_NAMES).get();
  p.values = listPorts_.at(IDC_VALUES).get();
  p.timeStamps = listPorts_.at(IDC_TIME_STAMPS).get();
  p.qualities = listPorts_.at(IDC_QUALITIES).get();
  p.types = listPorts_.at(IDC_TYPES).get();
  p.cycleBox = listPorts_.at(IDC_CYCLE_BOX).get();
  p.itemCount = listPorts_.at(IDC_ITEM_COUNT).get();
  p.roleBox = listPorts_.at(IDC_ROLE_BOX).get();
  p.messageBox = options_.messageBox ? options_.messageBox : messageBox_.get();
  p.databaseStatus = status_.get();
  p.credentialsPrompt =
      options_.credentialsPrompt ? options_.credentialsPrompt : credentialsPrompt_.get();
  return p;
}

void MainWindow::ConnectSignals() {
  for (const auto& [id, action] : actions_)
    connect(action, &QAction::triggered, this, [this, id = id] { commands_->OnCommand(id, 0); });
  for (const auto& [id, button] : controls_.buttons)
    connect(button, &QPushButton::clicked, this,
            [this, id = id] { commands_->OnCommand(id, BN_CLICKED); });
  for (const auto& [id, edit] : controls_.edits)
    connect(edit, &QLineEdit::returnPressed, this,
            [this, id = id] { commands_->OnCommand(id, EN_MAXTEXT); });
  QListWidget* names = controls_.lists.at(IDC_ITEM_NAMES);
  connect(names, &QListWidget::itemSelectionChanged, this,
          [this] { commands_->OnCommand(IDC_ITEM_NAMES, LBN_SELCHANGE); });
  connect(names, &QListWidget::doubleClicked, this,
          [this] { commands_->OnCommand(IDC_ITEM_NAMES, LBN_DBLCLK); });
}

// Alt with a character: Qt's key for a printable key is its character, so
// the shortcut follows the character whatever key of the layout types it.
void MainWindow::InstallAccelerators() {
  for (const AcceleratorResource& accelerator : kAccelerators) {
    auto* shortcut = new QShortcut(
        QKeySequence(QKeyCombination(Qt::AltModifier, Qt::Key(accelerator.character))), this);
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this,
            [this, id = accelerator.id] { commands_->OnCommand(id, 0); });
  }
  if (QAction* trend = action(kTrendShortcut.id)) {
    trend->setShortcut(
        QKeySequence(QKeyCombination(Qt::AltModifier, Qt::Key(kTrendShortcut.character))));
    trend->setShortcutContext(Qt::WindowShortcut);
  }
}

QListWidget* MainWindow::listBox(int id) const {
  auto it = controls_.lists.find(id);
  return it == controls_.lists.end() ? nullptr : it->second;
}

QLineEdit* MainWindow::editBox(int id) const {
  auto it = controls_.edits.find(id);
  return it == controls_.edits.end() ? nullptr : it->second;
}

QPushButton* MainWindow::button(int id) const {
  auto it = controls_.buttons.find(id);
  return it == controls_.buttons.end() ? nullptr : it->second;
}

QAction* MainWindow::action(int id) const {
  auto it = actions_.find(id);
  return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // Closed while a server call waits (the window manager's close is no
  // input that waits): the exit runs once the call has ended.
  if (com::OutgoingCallWaiting()) {
    event->ignore();
    QTimer::singleShot(20, this, &QWidget::close);
    return;
  }
  commands_->OnDestroy();
  event->accept();
  if (options_.quitOnExit) QCoreApplication::exit(0);
}

void MainWindow::EnableMenuItem(int id, bool enabled) {
  if (QAction* a = action(id)) a->setEnabled(enabled);
}

void MainWindow::CheckMenuItem(int id, bool checked) {
  if (QAction* a = action(id)) {
    a->setCheckable(true);
    a->setChecked(checked);
  }
}

void MainWindow::EnableButton(int id, bool enabled) {
  if (QPushButton* b = button(id)) b->setEnabled(enabled);
}

std::string MainWindow::EditLine(int id) const {
  QLineEdit* edit = editBox(id);
  return edit ? edit->text().toStdString() : std::string();
}

void MainWindow::FocusControl(int id) {
  if (QLineEdit* edit = editBox(id)) edit->setFocus();
}

void MainWindow::RunAddItemDialog() {
  ItemListDialog dialog(*client_, this);
  RunModal(dialog);
}

void MainWindow::RunCycleDialog() {
  CycleDialog dialog(*client_, this);
  RunModal(dialog);
}

void MainWindow::RunWriteDialog() {
  WriteValueDialog dialog(*client_, this);
  RunModal(dialog);
}

void MainWindow::RunAboutBox() {
  AboutBox dialog(this);
  RunModal(dialog);
}

std::string MainWindow::ChooseFile(FileKind kind) {
  QString filter = kind == FileKind::ItemList
                       ? QStringLiteral("XML Files (*.xml)")
                       // A connection file names a server database.
                       : QStringLiteral("Database Files (*.db *.sqlite *.sqlite3 *.tagwell-db)");
  Desktop& desktop = options_.desktop ? *options_.desktop : *desktop_;
  std::string path = desktop.GetOpenFileName(this, filter);
  if (path.empty() || !QFileInfo(QString::fromStdString(path)).isFile()) return {};
  return path;
}

bool MainWindow::OpenDocument(const std::string& path) {
  Desktop& desktop = options_.desktop ? *options_.desktop : *desktop_;
  return desktop.OpenFile(path);
}

void MainWindow::DestroyWindow() {
  close();
}

// A window still open is brought to the front; a closed one is made anew
// with the rows and the selection of now.
void MainWindow::OpenTrendWindow() {
  if (trend_ && trend_->isVisible()) {
    trend_->raise();
    trend_->activateWindow();
    return;
  }
  trend_.reset();
  TrendWindowOptions options;
  options.items = TrendItemsOf(*client_);
  options.live = trendBuffer_.get();
  options.databasePath = client_->state.databasePath.c_str();
  options.now = options_.trendClock;
  trend_ = std::make_unique<TrendWindow>(std::move(options), this);
  trend_->show();
}

void MainWindow::OfferServerNames(const std::vector<std::string>& names) {
  QLineEdit* box = controls_.edits.at(IDC_REMOTE_SERVER);
  if (names.empty()) {
    if (QCompleter* old = box->completer()) old->deleteLater();
    box->setCompleter(nullptr);
    return;
  }
  if (QCompleter* old = box->completer()) old->deleteLater();
  QStringList choices;
  for (const std::string& name : names) choices << QString::fromStdString(name);
  auto* completer = new QCompleter(choices, box);
  completer->setCaseSensitivity(Qt::CaseInsensitive);
  completer->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
  box->setCompleter(completer);
  // The prompt text would filter the choices away: offer all of them.
  completer->setCompletionPrefix(QString());
  completer->complete();
}

}  // namespace tagwell
