// The main window as the operator finds it: layout, menus, buttons, focus,
// the accelerators and the remote name boxes.
#include "app/MainWindow.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

#include "app/SmallDialogs.h"
#include "resources/ResourceIds.h"
#include "tests/app/AppTestSupport.h"

namespace tagwell {
namespace {

using namespace res;
using testing::ReadFile;
using testing::TestWindow;
using testing::WhenShown;
using Lines = std::vector<std::string>;

struct MenuLine {
  std::string text;  // "-" for a separator
  int id;
  bool enabled;
};

std::vector<MenuLine> MenuOf(QMenu* menu) {
  std::vector<MenuLine> lines;
  for (QAction* a : menu->actions())
    lines.push_back(a->isSeparator()
                        ? MenuLine{"-", 0, true}
                        : MenuLine{a->text().toStdString(), a->data().toInt(), a->isEnabled()});
  return lines;
}

bool operator==(const MenuLine& a, const MenuLine& b) {
  return a.text == b.text && a.id == b.id && a.enabled == b.enabled;
}
void PrintTo(const MenuLine& m, std::ostream* os) {
  *os << m.text << "/" << m.id << (m.enabled ? "" : "/grayed");
}

TEST(MainWindow, MenuHasEveryPopupItemAndInitialState) {
  TestWindow w;
  QList<QAction*> popups = w->menuBar()->actions();
  std::vector<std::string> titles;
  for (QAction* popup : popups) titles.push_back(popup->text().toStdString());
  EXPECT_EQ(titles, (Lines{"&File", "&Server", "&Database", "View", "&Options", "&Help"}));
  const MenuLine sep{"-", 0, true};
  EXPECT_EQ(MenuOf(popups[0]->menu()),
            (std::vector<MenuLine>{
                {"&Load Configuration File...", 32784, false}, sep, {"E&xit", 105, true}}));
  EXPECT_EQ(MenuOf(popups[1]->menu()),
            (std::vector<MenuLine>{{"&Connect...", 32771, true},
                                   sep,
                                   {"&Add Item...", 32775, true},
                                   sep,
                                   {"&Read Item...", 32779, true},
                                   {"&Select cycle duration...", 32780, true},
                                   sep,
                                   {"&Write Item...", 32778, true},
                                   sep,
                                   {"&Remove Item...", 32776, false},
                                   {"&Disconnect...", 32772, false}}));
  EXPECT_EQ(MenuOf(popups[2]->menu()),
            (std::vector<MenuLine>{{"&Connect to Database...", 40001, false},
                                   sep,
                                   {"&Disconnect from Database...", 32782, false}}));
  EXPECT_EQ(MenuOf(popups[3]->menu()),
            (std::vector<MenuLine>{{"&Log File", 32773, true}, {"&Trend", 32785, true}}));
  EXPECT_EQ(MenuOf(popups[4]->menu()),
            (std::vector<MenuLine>{{"&Connection Monitor", 32783, false}}));
  EXPECT_FALSE(w->action(IDM_MONITOR)->isChecked());
  EXPECT_EQ(MenuOf(popups[5]->menu()),
            (std::vector<MenuLine>{{"&Help", 32774, true}, sep, {"&About Tagwell", 104, true}}));
}

TEST(MainWindow, StartsWithEmptyBoxesPromptsAndTheFocusInTheComputerBox) {
  TestWindow w;
  w.ShowActive();
  EXPECT_EQ(w->windowTitle(), "Tagwell");
  EXPECT_EQ(w->editBox(3)->text(), "\\\\Remote computer");
  EXPECT_EQ(w->editBox(4)->text(), "\\Remote server");
  for (int id : {6, 7, 8, 9, 10, 11, 12, 19, 20}) EXPECT_EQ(w->listBox(id)->count(), 0) << id;
  for (int id : {13, 15, 17}) EXPECT_TRUE(w->button(id)->isEnabled()) << id;
  for (int id : {14, 16}) EXPECT_FALSE(w->button(id)->isEnabled()) << id;
  EXPECT_EQ(w->statusLabel(), nullptr);
  EXPECT_EQ(QApplication::focusWidget(), w->editBox(3));
}

TEST(MainWindow, ControlsSitAtTheirPlacesAndStayThereWhenResized) {
  TestWindow w;
  w->show();
  EXPECT_EQ(w->pos(), QPoint(50, 0));
  EXPECT_EQ(w->size(), QSize(860, 710));
  EXPECT_FALSE(w->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(w->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  auto check = [&] {
    EXPECT_EQ(w->editBox(3)->geometry(), QRect(5, 25, 320, 25));
    EXPECT_EQ(w->editBox(4)->geometry(), QRect(5, 47, 320, 25));
    EXPECT_EQ(w->listBox(5)->geometry(), QRect(5, 100, 320, 170));
    EXPECT_EQ(w->listBox(6)->geometry(), QRect(380, 100, 465, 170));
    EXPECT_EQ(w->listBox(7)->geometry(), QRect(5, 295, 270, 335));
    EXPECT_EQ(w->listBox(8)->geometry(), QRect(275, 295, 220, 335));
    EXPECT_EQ(w->listBox(11)->geometry(), QRect(745, 295, 100, 335));
    EXPECT_EQ(w->listBox(12)->geometry(), QRect(5, 630, 102, 25));
    EXPECT_EQ(w->listBox(19)->geometry(), QRect(125, 630, 102, 25));
    EXPECT_EQ(w->listBox(20)->geometry(), QRect(755, 65, 90, 25));
    EXPECT_EQ(w->button(13)->geometry(), QRect(461, 55, 80, 25));
    EXPECT_EQ(w->button(14)->geometry(), QRect(765, 630, 80, 25));
    EXPECT_EQ(w->button(15)->geometry(), QRect(380, 55, 80, 25));
    EXPECT_EQ(w->button(16)->geometry(), QRect(684, 630, 80, 25));
    EXPECT_EQ(w->button(17)->geometry(), QRect(542, 55, 80, 25));
    ASSERT_EQ(w->bitmaps().size(), 2u);
    EXPECT_EQ(w->bitmaps()[0]->geometry(), QRect(775, 0, 60, 60));
    EXPECT_EQ(w->bitmaps()[1]->geometry(), QRect(3, 270, 844, 4));
    ASSERT_EQ(w->labels().size(), 10u);
    EXPECT_EQ(w->labels()[0]->geometry(), QRect(5, 10, 320, 15));
    EXPECT_EQ(w->labels()[9]->text(), "Number of items");
    EXPECT_EQ(w->labels()[9]->geometry(), QRect(125, 614, 102, 15));
  };
  check();
  w->resize(500, 300);
  QApplication::processEvents();
  check();
  w->resize(1400, 1000);
  QApplication::processEvents();
  check();
}

TEST(MainWindow, FontsAndAccessibleNames) {
  TestWindow w;
  // Heights are character cells, as a Windows font height is.
  auto expectFont = [](QWidget* widget, int cell, int weight) {
    std::string name = widget->accessibleName().toStdString();
    int height = QFontMetrics(widget->font()).height();
    EXPECT_LE(height, cell) << name;
    EXPECT_GE(height, cell - 3) << name;
    EXPECT_EQ(widget->font().weight(), weight) << name;
  };
  expectFont(w->labels()[3], 14, 600);
  expectFont(w->button(15), 14, 600);
  expectFont(w->editBox(4), 15, 500);
  expectFont(w->listBox(5), 15, 500);
  expectFont(w->listBox(7), 14, 400);
  expectFont(w->listBox(20), 14, 400);
  for (QWidget* widget : w->centralWidget()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->metaObject()->className();
  }
  EXPECT_EQ(w->listBox(7)->accessibleName(), "Item name");
  EXPECT_EQ(w->button(16)->accessibleName(), "Remove Item");
}

TEST(MainWindow, AltQuestionMarkAndAltSlashOpenTheAboutBox) {
  TestWindow w;
  for (char key : {'?', '/'}) {
    w.ShowActive();
    bool shown = false;
    WhenShown<AboutBox>([&](AboutBox& box) {
      shown = true;
      EXPECT_EQ(box.windowTitle(), "About Tagwell");
      std::vector<std::string> texts;
      for (QLabel* label : box.findChildren<QLabel*>())
        if (!label->text().isEmpty()) texts.push_back(label->text().toStdString());
      ASSERT_EQ(texts.size(), 3u);
      EXPECT_EQ(texts[0], "Tagwell Version 8.4");
      QTest::keyClick(&box, Qt::Key_Escape);
    });
    QTest::keyClick(w->editBox(3), key, Qt::AltModifier);
    EXPECT_TRUE(shown) << key;
  }
}

TEST(MainWindow, EnterCommitsTheRemoteNamesWithoutAddingALine) {
  TestWindow w;
  w.ShowActive();
  QLineEdit* computer = w->editBox(3);
  computer->selectAll();
  QTest::keyClicks(computer, "plant-pc7:4135");
  QTest::keyClick(computer, Qt::Key_Return);
  EXPECT_EQ(computer->text(), "plant-pc7:4135");
  EXPECT_EQ(w.client().state.szComputerName.view(), "plant-pc7:4135");
  EXPECT_EQ(QApplication::focusWidget(), w->editBox(4));
  EXPECT_EQ(w.client().state.remoteMode, 0);

  w.client().ui.localServers->AddString("Some.Server.1");
  QLineEdit* server = w->editBox(4);
  server->selectAll();
  QTest::keyClicks(server, "{6E0C5A1D-3B7F-4C2E-9A41-2F8D7B1C9E53}");
  QTest::keyClick(server, Qt::Key_Enter);
  EXPECT_EQ(w.client().state.remoteMode, 1);
  EXPECT_EQ(w->listBox(5)->count(), 0);
  EXPECT_EQ(ReadFile(w.dir.File("Logfile.txt")),
            "Remote computer: plant-pc7:4135\n"
            "Remote Server: {6E0C5A1D-3B7F-4C2E-9A41-2F8D7B1C9E53}\n");
  EXPECT_TRUE(w.messages.shown.empty());

  // The prompt left unchanged names no computer: the server is looked for
  // on this one, and the log says so.
  TestWindow fresh;
  fresh.ShowActive();
  QTest::keyClick(fresh->editBox(3), Qt::Key_Return);
  EXPECT_EQ(fresh->editBox(3)->text(), "\\\\Remote computer");
  EXPECT_EQ(fresh.client().state.szComputerName.view(), "");
  EXPECT_EQ(ReadFile(fresh.dir.File("Logfile.txt")),
            "Remote computer: none given, the server is looked for on this computer\n");
}

TEST(MainWindow, ItemCommandsRefuseWhileNotConnectedWithTheirOwnTexts) {
  TestWindow w;
  w.Command(IDC_ADD_BUTTON);
  w.Command(IDM_REMOVEITEM);
  ASSERT_EQ(w.messages.shown.size(), 2u);
  EXPECT_EQ(w.messages.shown[0].text, "Error: client is not connected to server");
  EXPECT_EQ(w.messages.shown[0].caption, "Add Item error");
  EXPECT_EQ(w.messages.shown[0].owner, ui::Owner::MainWindow);
  EXPECT_EQ(w.messages.shown[1].text, "Error: client is not connected to OPC server.\n");
  EXPECT_EQ(w.messages.shown[1].caption, "Remove Item function");
}

TEST(MainWindow, ConnectWithoutASelectedServerEnablesTheMenusButNotDisconnect) {
  TestWindow w;
  QTest::mouseClick(w->button(IDC_CONNECT_BUTTON), Qt::LeftButton);
  ASSERT_EQ(w.messages.shown.size(), 1u);
  EXPECT_EQ(w.messages.shown[0].text, "Connection error: server is not selected.");
  EXPECT_EQ(w.messages.shown[0].caption, "Local Server connection");
  EXPECT_EQ(w.messages.shown[0].owner, ui::Owner::MainWindow);
  EXPECT_EQ(w.client().state.connected, 0);
  EXPECT_FALSE(w->button(IDC_DISCONNECT_BUTTON)->isEnabled());
  for (int id : {IDM_DISCONNECT, IDM_LOADCONFIG, IDM_DB_CONNECT, IDM_DB_DISCONNECT, IDM_MONITOR})
    EXPECT_TRUE(w->action(id)->isEnabled()) << id;
  EXPECT_FALSE(w->action(IDM_REMOVEITEM)->isEnabled());
}

TEST(MainWindow, DisconnectEmptiesTheListsAndResetsTheMenus) {
  TestWindow w;
  w.Command(IDM_CONNECT);  // fails: nothing selected; the menus are enabled all the same
  for (int id : {7, 8, 9, 10, 11}) w->listBox(id)->addItem("row");
  w.client().ui.cycleBox->AddString("   5.0");
  w.Command(IDM_MONITOR);
  ASSERT_TRUE(w->action(IDM_MONITOR)->isChecked());
  w.Command(IDC_DISCONNECT_BUTTON);
  EXPECT_EQ(w.Lines(6), Lines{"Disconnected from OPC server"});
  for (int id : {7, 8, 9, 10, 11, 12, 19, 20}) EXPECT_EQ(w->listBox(id)->count(), 0) << id;
  EXPECT_FALSE(w->action(IDM_MONITOR)->isChecked());
  EXPECT_TRUE(w->action(IDM_MONITOR)->isEnabled());
  for (int id : {IDM_DISCONNECT, IDM_REMOVEITEM, IDM_LOADCONFIG})
    EXPECT_FALSE(w->action(id)->isEnabled()) << id;
  EXPECT_TRUE(w->action(IDM_DB_CONNECT)->isEnabled());
  EXPECT_EQ(w.client().state.selectedRow, -1);
  EXPECT_EQ(w.client().state.monitorEnabled, 0);
  EXPECT_GE(w.timer.stops, 1);
}

TEST(MainWindow, ClosingKeepsTheRolesOfOtherClients) {
  TestWindow w;
  testing::WriteFile(w.dir.File("Config.ini"), "[Clients]\nActive=1\nNumber=1\n");
  w->show();
  w->close();
  w->close();
  // A client that never monitored leaves the other clients' roles alone.
  EXPECT_EQ(ReadFile(w.dir.File("Config.ini")), "[Clients]\nActive=1\nNumber=1\n");
  EXPECT_FALSE(w.timer.running);
  EXPECT_GE(w.timer.stops, 1);
}

TEST(MainWindow, ExitCommandClosesTheWindow) {
  TestWindow w;
  w->show();
  w.Command(IDM_EXIT);
  EXPECT_FALSE(w->isVisible());
}

}  // namespace
}  // namespace tagwell
