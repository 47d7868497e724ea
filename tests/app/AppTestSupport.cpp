#include "tests/app/AppTestSupport.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <cstdlib>
#include <ctime>
#include <stdexcept>

#include "app/ItemListDialog.h"
#include "platform/com/Runtime.h"
#include "platform/com/Text.h"
#include "platform/registry/Registry.h"
#include "resources/ResourceIds.h"
#include "server/AddressSpaceXml.h"
#include "server/Simulation.h"

namespace tagwell::testing {

QApplication& EnsureApplication() {
  if (!QApplication::instance()) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "tagwell_app_tests";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
  }
  return *static_cast<QApplication*>(QApplication::instance());
}

std::string FakeDesktop::GetOpenFileName(QWidget* owner, const QString& filter) {
  filters.push_back(filter);
  owners.push_back(owner);
  if (answers.empty()) return {};
  std::string answer = answers.front();
  answers.pop_front();
  return answer;
}

int ActingMessageBox::Show(std::string_view text, std::string_view caption, ui::Icon icon,
                           ui::Owner owner) {
  record.Show(text, caption, icon, owner);
  if (onShow) onShow();
  return ui::IDOK;
}

com::HRESULT InprocActivator::Activate(com::REFCLSID clsid, const std::u16string& host,
                                       com::DWORD count, com::MULTI_QI* results) {
  hosts.push_back(com::Utf16ToUtf8(host));
  return com::CoCreateInstanceEx(clsid, nullptr, com::CLSCTX_INPROC_SERVER, nullptr, count,
                                 results);
}

bool FakeDesktop::OpenFile(const std::string& path) {
  opened.push_back(path);
  return openSucceeds;
}

TestWindow::TestWindow(const std::string& folder, ui::MessageBox* messageBox) {
  EnsureApplication();
  MainWindowOptions options;
  options.folder = folder.empty() ? dir.path() : folder;
  options.messageBox = messageBox ? messageBox : &messages;
  options.desktop = &desktop;
  options.timer = &timer;
  window = std::make_unique<MainWindow>(options);
}

TestWindow::~TestWindow() {
  if (window->isVisible()) window->close();
}

std::vector<std::string> TestWindow::Lines(int listId) const {
  std::vector<std::string> lines;
  QListWidget* list = window->listBox(listId);
  for (int i = 0; i < list->count(); ++i) lines.push_back(list->item(i)->text().toStdString());
  return lines;
}

void TestWindow::ShowActive() {
  window->show();
  window->activateWindow();
  QApplication::setActiveWindow(window.get());
}

void SaveScreenshot(QWidget& widget, const std::string& name) {
  QPixmap picture = widget.grab();
  EXPECT_TRUE(picture.save(QString::fromStdString(name), "PNG")) << name;
}

void MakeRecordingDatabase(const std::string& path) {
  const QString name = QStringLiteral("tagwell.test.recording");
  {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(QString::fromStdString(path));
    EXPECT_TRUE(db.open()) << path;
    EXPECT_TRUE(QSqlQuery(db).exec(
        "CREATE TABLE OPCvalues (Number SMALLINT, Name TEXT, Type TEXT, Hours SMALLINT, "
        "Minutes SMALLINT, Seconds SMALLINT, Day SMALLINT, Month SMALLINT, Year SMALLINT, "
        "Value TEXT, Quality TEXT)"))
        << path;
    db.close();
  }
  QSqlDatabase::removeDatabase(name);
}

}  // namespace tagwell::testing

namespace tagwell::testing {
namespace {

void WriteRegistration(const TempDir& folder, const char* progId, const com::CLSID& clsid) {
  WriteFile(folder.File(std::string(progId) + ".server"),
            std::string("[Server]\nProgID=") + progId + "\nCLSID=" + com::FormatGuid(clsid) +
                "\nOPC=\nDescription=" + progId + " for the window tests\n");
}

}  // namespace

Plant::Plant(bool flatListsBranches, bool builtIn) {
  if (const char* tz = std::getenv("TZ")) {
    hadTimeZone_ = true;
    oldTimeZone_ = tz;
  }
  setenv("TZ", "UTC", 1);
  tzset();
  clock = std::make_shared<ManualClock>(TestEpoch());
  std::string error;
  space = builtIn
              ? server::MakeDefaultAddressSpace(clock)
              : server::LoadAddressSpace(std::string(TAGWELL_TESTDATA) + "/xml/address-space.xml",
                                         clock, {}, &error);
  if (!space) throw std::runtime_error(error);
  server::SimulationServerOptions options;
  options.flatListsBranches = flatListsBranches;
  auto plantSpace = space;
  simulationCookie_ = com::RegisterInprocClass(
      server::CLSID_TagwellSimulation,
      [plantSpace, options](com::REFIID riid, void** ppv) {
        return server::CreateSimulationServer(plantSpace, riid, ppv, options);
      },
      server::kSimulationProgId);
  faults = std::make_shared<FaultScript>();
  testServerCookie_ = RegisterTestServerInproc(space, faults);
  WriteRegistration(registry_, server::kSimulationProgId, server::CLSID_TagwellSimulation);
  WriteRegistration(registry_, kTestServerProgId, CLSID_TagwellTestServer);
  registry::SetInstalledServerFolders({registry_.path()});
}

Plant::~Plant() {
  registry::SetInstalledServerFolders({});
  com::RevokeInprocClass(testServerCookie_);
  com::RevokeInprocClass(simulationCookie_);
  if (hadTimeZone_)
    setenv("TZ", oldTimeZone_.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

std::string PlantValue(const Plant& plant, const std::string& itemId) {
  const server::Item* item = plant.space->FindItem(itemId);
  if (!item) return "<no such item>";
  server::ItemReading reading = plant.space->Read(*item);
  com::Variant text;
  if (com::FAILED(com::VariantChangeType(text.get(), reading.value.get(), 0, com::VT_BSTR)))
    return "<no text>";
  return com::Utf16ToUtf8(com::WideView(text->bstrVal));
}

void ConnectTo(TestWindow& window, const std::string& progId) {
  QListWidget* servers = window->listBox(res::IDC_LOCAL_SERVERS);
  QList<QListWidgetItem*> found =
      servers->findItems(QString::fromStdString(progId), Qt::MatchExactly);
  ASSERT_FALSE(found.isEmpty()) << progId << " is not in the local server list";
  servers->setCurrentItem(found.first());
  QTest::mouseClick(window->button(res::IDC_CONNECT_BUTTON), Qt::LeftButton);
  ASSERT_EQ(window.client().state.connected, 1);
}

void AddTypedItem(TestWindow& window, const std::string& itemId) {
  WhenShown<ItemListDialog>([&](ItemListDialog& dialog) {
    dialog.field()->setText(QString::fromStdString(itemId));
    QTest::keyClick(dialog.field(), Qt::Key_Return);
  });
  window.Command(res::IDC_ADD_BUTTON);
}

}  // namespace tagwell::testing

// Fontconfig keeps a few blocks of its font cache to the end of the process;
// they are not the program's. Read only by LeakSanitizer builds.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
