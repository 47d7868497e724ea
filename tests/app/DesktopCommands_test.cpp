// The commands that go to the desktop: the open-file dialogs, the log file
// and the manual.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAction>
#include <QDir>
#include <QLabel>
#include <QPushButton>

#include "session/HelpFile.h"
#include "resources/ResourceIds.h"
#include "tests/app/AppTestSupport.h"

namespace tagwell {
namespace {

using namespace res;
using testing::TempDir;
using testing::TestWindow;
using testing::WriteFile;

TEST(DatabaseCommands, ChoosingAFileSwitchesRecordingOnAndCancelChangesNothing) {
  TestWindow w;
  ClientState& s = w.client().state;
  std::string db = w.dir.File("plant.db");
  testing::MakeRecordingDatabase(db);
  w.desktop.answers = {"", w.dir.File("missing.db"), db};
  w.Command(IDM_DB_CONNECT);
  w.Command(IDM_DB_CONNECT);
  EXPECT_EQ(s.databaseWriting, 0);
  EXPECT_TRUE(s.databasePath.empty());
  w.Command(IDM_DB_CONNECT);
  EXPECT_EQ(s.databaseWriting, 1);
  EXPECT_EQ(s.databasePath.view(), db);
  EXPECT_EQ(w.desktop.filters.back(), "Database Files (*.db *.sqlite *.sqlite3 *.tagwell-db)");
  EXPECT_EQ(w.desktop.owners.back(), w.window.get());
  EXPECT_EQ(w->statusLabel(), nullptr) << "no status text before Read Item";

  s.readingStarted = 1;
  w.desktop.answers = {db};
  w.Command(IDM_DB_CONNECT);
  ASSERT_NE(w->statusLabel(), nullptr);
  EXPECT_EQ(w->statusLabel()->text(), "Data writing in database is in progress!");
  EXPECT_EQ(w->statusLabel()->geometry(), QRect(250, 614, 270, 17));

  w.Command(IDM_DB_DISCONNECT);
  EXPECT_EQ(s.databaseWriting, 0);
  EXPECT_EQ(w->statusLabel()->text(), "Data writing in database is stopped.");
}

// A screen reader reads the status a control shows, not only its label.
TEST(DatabaseCommands, TheStatusTextIsWhatAScreenReaderAnnounces) {
  TestWindow w;
  w.ShowActive();
  for (const char* text :
       {"Data writing in database is in progress!", "Data writing in database is stopped."}) {
    w.client().ui.databaseStatus->SetText(text);
    QAccessibleInterface* status = QAccessible::queryAccessibleInterface(w->statusLabel());
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(status->text(QAccessible::Name), text);
    EXPECT_EQ(status->text(QAccessible::Description), "Database status");
  }
}

TEST(DatabaseCommands, AStandbyClientIsToldItRecordsOnlyWhenActive) {
  TestWindow w;
  ClientState& s = w.client().state;
  s.monitorItemPresent = 1;
  s.isActive = 0;
  s.readingStarted = 1;
  std::string db = w.dir.File("plant.db");
  testing::MakeRecordingDatabase(db);
  w.desktop.answers = {db};
  w.Command(IDM_DB_CONNECT);
  EXPECT_EQ(s.databaseWriting, 1) << "records once it becomes active";
  ASSERT_EQ(w.messages.shown.size(), 1u);
  EXPECT_EQ(w.messages.shown[0].text, "Error: only \"active\" client can write in database!");
  EXPECT_EQ(w.messages.shown[0].caption, "Write Database");
  EXPECT_EQ(w.messages.shown[0].owner, ui::Owner::None);
  EXPECT_EQ(w->statusLabel(), nullptr);
  w.Command(IDM_DB_DISCONNECT);
  EXPECT_EQ(w->statusLabel(), nullptr) << "a standby client was not recording";
}

// The file is tried when it is chosen, not at the first row: what cannot
// take rows is refused with the reason, and recording stays as it was.
TEST(DatabaseCommands, AFileThatCannotTakeRowsIsRefusedWithTheReason) {
  TestWindow w;
  ClientState& s = w.client().state;
  s.readingStarted = 1;
  const std::string notes = w.dir.File("notes.db");
  WriteFile(notes, "Pump 3 was serviced.\n");
  w.desktop.answers = {notes};
  w.Command(IDM_DB_CONNECT);
  EXPECT_EQ(s.databaseWriting, 0);
  EXPECT_TRUE(s.databasePath.empty());
  EXPECT_EQ(w->statusLabel(), nullptr) << "nothing claims that data is written";
  ASSERT_EQ(w.messages.shown.size(), 1u);
  EXPECT_EQ(w.messages.shown[0].text,
            "Error: database " + notes +
                " cannot be used for recording:\nit cannot be opened as a database for reading "
                "and writing (file is not a database).");
  EXPECT_EQ(w.messages.shown[0].caption, "Connect to Database");
}

TEST(DatabaseCommands, APathLongerThanTheBufferIsRefused) {
  TestWindow w;
  std::string folder = w.dir.path() + "/" + std::string(120, 'd');
  QDir().mkpath(QString::fromStdString(folder + "/" + std::string(120, 'e')));
  std::string db = folder + "/" + std::string(120, 'e') + "/plant.db";
  WriteFile(db, "");
  w.desktop.answers = {db};
  w.Command(IDM_DB_CONNECT);
  EXPECT_EQ(w.client().state.databaseWriting, 0);
  ASSERT_EQ(w.messages.shown.size(), 1u);
  EXPECT_EQ(w.messages.shown[0].caption, "Write Database");
}

TEST(LoadConfigurationFile, CancelStillEnablesRemoveWhenItemsExist) {
  TestWindow w;
  w.Command(IDM_LOADCONFIG);
  EXPECT_EQ(w.desktop.filters.back(), "XML Files (*.xml)");
  EXPECT_FALSE(w->action(IDM_REMOVEITEM)->isEnabled());
  w.client().state.itemsAdded = 2;
  w.Command(IDM_LOADCONFIG);
  EXPECT_TRUE(w->action(IDM_REMOVEITEM)->isEnabled());
  EXPECT_TRUE(w->button(IDC_REMOVE_BUTTON)->isEnabled());
  EXPECT_TRUE(w.messages.shown.empty());
}

TEST(ViewCommands, LogFileOpensTheJournalOfTheWorkingFolder) {
  TestWindow w;
  w.Command(IDM_LOGFILE);
  ASSERT_EQ(w.messages.shown.size(), 1u) << "nothing logged yet";
  EXPECT_TRUE(w.desktop.opened.empty());
  WriteFile(w.dir.File("Logfile.txt"), "Remote computer: x\n");
  w.Command(IDM_LOGFILE);
  EXPECT_EQ(w.desktop.opened, std::vector<std::string>{w.dir.File("Logfile.txt")});
  w.desktop.openSucceeds = false;
  w.Command(IDM_LOGFILE);
  EXPECT_EQ(w.messages.shown.size(), 2u) << "no program could open it";
}

TEST(ViewCommands, HelpLooksInTheFoldersInOrderAndSaysWhenItIsMissing) {
  TestWindow w;
  TempDir first, second;
  w->commands().SetHelpFolders({first.path(), second.path()});
  w.Command(IDM_HELP);
  ASSERT_EQ(w.messages.shown.size(), 1u);
  EXPECT_EQ(w.messages.shown[0].caption, "Help");
  EXPECT_TRUE(w.desktop.opened.empty());

  WriteFile(second.File("Help.html"), "<html></html>");
  w.Command(IDM_HELP);
  WriteFile(first.File("Help.html"), "<html></html>");
  w.Command(IDM_HELP);
  EXPECT_EQ(w.desktop.opened,
            (std::vector<std::string>{second.File("Help.html"), first.File("Help.html")}));
}

TEST(ViewCommands, TheManualIsFoundBesideTheProgramAndInTheInstallTree) {
  testing::EnsureApplication();
  std::vector<std::string> folders = DefaultHelpFolders();
  ASSERT_GE(folders.size(), 4u);
  EXPECT_EQ(folders[0], QDir::currentPath().toStdString());
  QDir bin(QCoreApplication::applicationDirPath());
  EXPECT_EQ(folders[1], bin.absolutePath().toStdString());
  EXPECT_EQ(folders[2], QDir::cleanPath(bin.filePath("../share/doc/tagwell")).toStdString());
  // The build copies the manual beside the executables.
  EXPECT_FALSE(FindHelpFile({folders[1]}).empty());
}

}  // namespace
}  // namespace tagwell
