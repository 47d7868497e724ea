// Pictures of the window, the Add Item dialog and a message box, saved into
// the test's build folder (mainwindow.png, additem.png, messagebox.png) for
// a look by eye against the layout.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStyle>
#include <QTest>

#include "app/ItemListDialog.h"
#include "app/QtPorts.h"
#include "resources/ResourceIds.h"
#include "tests/app/AppTestSupport.h"

namespace tagwell {
namespace {

using namespace res;
using namespace std::chrono_literals;
using testing::SaveScreenshot;
using testing::WhenShown;

TEST(Screenshots, WindowAfterAFewCyclesDialogAndMessageBox) {
  testing::Plant plant;
  testing::TestWindow w;
  w.ShowActive();
  testing::ConnectTo(w);
  for (const char* id : {"OPC.ConnectionMonitor", "Line1.Count", "Boiler.Burner.Starts"})
    testing::AddTypedItem(w, id);
  w.Command(IDC_READ_BUTTON);
  for (int tick = 0; tick < 3; ++tick) {
    plant.clock->Advance(1s);
    w->readCycle().Tick();
  }
  w->listBox(IDC_ITEM_NAMES)->setCurrentRow(1);
  w.client().ui.databaseStatus->SetText("Data writing in database is in progress!");
  SaveScreenshot(*w, "mainwindow.png");

  WhenShown<ItemListDialog>([](ItemListDialog& d) {
    d.list()->setCurrentRow(3);
    SaveScreenshot(d, "additem.png");
    d.reject();
  });
  w.Command(IDM_ADDITEM);

  QtMessageBox boxes(w.window.get());
  WhenShown<QMessageBox>([](QMessageBox& box) {
    SaveScreenshot(box, "messagebox.png");
    box.accept();
  });
  boxes.Show(
      "Error: item is not selected in column \"Item Name\"\nor there are no items to remove.",
      "Remove Item function", ui::Icon::Warning, ui::Owner::MainWindow);
}

// The role box keeps its place and size, and every role fits it whole; the
// picture (roles.png) shows "NOT MONITORED" for a look by eye.
TEST(Screenshots, EveryRoleFitsTheRoleBox) {
  testing::TestWindow w;
  w.ShowActive();
  QListWidget* box = w->listBox(IDC_ROLE_BOX);
  EXPECT_EQ(box->geometry(), QRect(755, 65, 90, 25));
  for (const char* role : {"ACTIVE", "STAND BY", "ERROR", "NOT MONITORED"}) {
    SetOneLineBox(*w.client().ui.roleBox, role);
    QApplication::processEvents();
    ASSERT_EQ(box->count(), 1);
    // The text needs its advance plus the item's margins inside the frame.
    const int margin = box->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, box) + 1;
    const int needed = box->fontMetrics().horizontalAdvance(QString(role)) + 2 * margin;
    EXPECT_LE(needed, box->visualItemRect(box->item(0)).width()) << role;
    EXPECT_LE(box->visualItemRect(box->item(0)).right(), box->viewport()->width()) << role;
  }
  QWidget* window = w.window.get();
  SaveScreenshot(*window, "roles.png");
}

TEST(Screenshots, AMessageBoxWithoutOwnerLeavesTheWindowUsable) {
  testing::TestWindow w;
  w.ShowActive();
  QtMessageBox boxes(w.window.get());
  bool windowEnabled = false;
  WhenShown<QMessageBox>([&](QMessageBox& box) {
    EXPECT_EQ(box.windowModality(), Qt::NonModal);
    EXPECT_EQ(box.parentWidget(), nullptr);
    EXPECT_EQ(box.text(), "Error reading item's data");
    windowEnabled = !QApplication::activeModalWidget() && w->isEnabled();
    QTest::mouseClick(w->button(IDC_READ_BUTTON), Qt::LeftButton);  // still answers
    box.accept();
  });
  EXPECT_EQ(boxes.Show("Error reading item's data", "ReadItem function", ui::Icon::Warning,
                       ui::Owner::None),
            ui::IDOK);
  EXPECT_TRUE(windowEnabled);
  EXPECT_EQ(w.client().state.readingStarted, 1) << "Read Item ran while the box was open";
}

}  // namespace
}  // namespace tagwell
