// The cycle-duration and write-value dialogs driven by keyboard, as the
// operator uses them.
#include "app/SmallDialogs.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "resources/ResourceIds.h"
#include "tests/app/AppTestSupport.h"

namespace tagwell {
namespace {

using namespace res;
using testing::TestWindow;
using testing::WhenShown;

void Type(QWidget& dialog, QLineEdit* edit, const QString& text, Qt::Key key) {
  EXPECT_EQ(dialog.focusWidget(), edit) << "the edit box has the focus";
  QTest::keyClicks(edit, text);
  QTest::keyClick(&dialog, key);
}

TEST(CycleDialog, EnterStoresTheTypedCycleEscapeKeepsTheOldOne) {
  TestWindow w;
  w.ShowActive();
  WhenShown<CycleDialog>([](CycleDialog& d) {
    EXPECT_EQ(d.windowTitle(), "Select cycle duration to read data/write to database");
    Type(d, d.edit(), "0.3", Qt::Key_Return);
  });
  w.Command(IDM_CYCLE);
  EXPECT_EQ(w.client().state.cycleText.view(), "0.3");
  EXPECT_EQ(w.client().state.cycleSelected, 1);

  w.client().state.itemsAdded = 1;
  w.Command(IDC_READ_BUTTON);
  EXPECT_EQ(w.timer.periods, std::vector<unsigned>{300});
  EXPECT_EQ(w.Lines(IDC_CYCLE_BOX), std::vector<std::string>{"   0.3"});

  WhenShown<CycleDialog>([](CycleDialog& d) { Type(d, d.edit(), "60", Qt::Key_Escape); });
  w.Command(IDM_CYCLE);
  EXPECT_EQ(w.client().state.cycleText.view(), "0.3");
  w.Command(IDC_READ_BUTTON);
  EXPECT_EQ(w.timer.periods, (std::vector<unsigned>{300, 300})) << "Cancel keeps the cycle";
}

TEST(CycleDialog, RefusesATextThatIsNoCycleAndStaysOpen) {
  TestWindow w;
  w.ShowActive();
  const char* const refused[] = {"", "fast", "0", "0.05", "-1", "86401", "2,5", "1e30", "nan"};
  bool stayedOpen = true;
  WhenShown<CycleDialog>([&](CycleDialog& d) {
    for (const char* text : refused) {
      d.edit()->setText(text);
      QTest::keyClick(&d, Qt::Key_Return);
      stayedOpen = stayedOpen && d.isVisible();
    }
    d.edit()->setText("86400");
    QTest::keyClick(&d, Qt::Key_Return);
  });
  w.Command(IDM_CYCLE);
  EXPECT_TRUE(stayedOpen);
  EXPECT_EQ(w.client().state.cycleText.view(), "86400");
  ASSERT_EQ(w.messages.shown.size(), std::size(refused));
  EXPECT_EQ(w.messages.shown[0].text,
            "Error: the cycle duration must be a number of seconds from 0.1 to 86400,\nwritten "
            "with a decimal point, for example 0.5, 1 or 60.");
  EXPECT_EQ(w.messages.shown[0].caption, "Select cycle duration");

  // Cancel before any cycle was chosen keeps the default of 5 s.
  TestWindow fresh;
  fresh.ShowActive();
  WhenShown<CycleDialog>([](CycleDialog& d) { Type(d, d.edit(), "0", Qt::Key_Escape); });
  fresh.Command(IDM_CYCLE);
  fresh.client().state.itemsAdded = 2;
  fresh.Command(IDC_READ_BUTTON);
  EXPECT_EQ(fresh.timer.periods, std::vector<unsigned>{5000});
  EXPECT_EQ(fresh.Lines(IDC_CYCLE_BOX), std::vector<std::string>{"   5.0"});
}

TEST(CycleDialog, CancelButtonAndCapacity) {
  TestWindow w;
  w.ShowActive();
  WhenShown<CycleDialog>([](CycleDialog& d) {
    d.edit()->setText("5");
    QTest::mouseClick(d.findChildren<QPushButton*>()[1], Qt::LeftButton);  // Cancel
  });
  w.Command(IDM_CYCLE);
  EXPECT_EQ(w.client().state.cycleText.view(), "");

  const std::string longText = "1." + std::string(198, '0');
  WhenShown<CycleDialog>([&](CycleDialog& d) {
    d.edit()->setText(QString::fromStdString(longText));
    QTest::mouseClick(d.findChildren<QPushButton*>()[0], Qt::LeftButton);  // OK
  });
  w.Command(IDM_CYCLE);
  EXPECT_EQ(w.client().state.cycleText.view(), longText.substr(0, 123));
}

TEST(CycleDialog, IsModalToTheWindowAndPlacedFromDialogUnits) {
  TestWindow w;
  w.ShowActive();
  WhenShown<CycleDialog>([&](CycleDialog& d) {
    EXPECT_EQ(d.windowModality(), Qt::WindowModal);
    EXPECT_EQ(d.parentWidget(), w.window.get());
    // 196 x 88 dialog units: about 49 x 11 average characters.
    QFontMetrics metrics(d.font());
    int average = metrics.horizontalAdvance("x");
    EXPECT_GT(d.width(), 30 * average);
    EXPECT_LT(d.width(), 80 * average);
    for (QPushButton* b : d.findChildren<QPushButton*>())
      EXPECT_GT(b->x(), d.edit()->geometry().right()) << "buttons right of the edit box";
    d.reject();
  });
  w.Command(IDM_CYCLE);
}

TEST(WriteValueDialog, OkWritesTheSelectedRowWithTheTypedText) {
  TestWindow w;
  w.ShowActive();
  w.client().state.selectedRow = 3;
  w.client().state.currentItem = 0;
  const std::string longText(300, '1');
  WhenShown<WriteValueDialog>([&](WriteValueDialog& d) {
    EXPECT_EQ(d.windowTitle(), "Write value of the Item ");
    Type(d, d.edit(), QString::fromStdString(longText), Qt::Key_Enter);
  });
  w.Command(IDM_WRITEITEM);
  EXPECT_EQ(w.client().state.writeText.view(), longText.substr(0, 255));
  // Not connected: the write reports it and clears the cursors it used.
  ASSERT_EQ(w.messages.shown.size(), 1u);
  EXPECT_EQ(w.messages.shown[0].text, "Error writing value: check connection with OPC server.");
  EXPECT_EQ(w.messages.shown[0].caption, "ReadGroup function");
}

TEST(WriteValueDialog, EscapeWritesNothing) {
  TestWindow w;
  w.ShowActive();
  w.client().state.writeText = "old";
  WhenShown<WriteValueDialog>([](WriteValueDialog& d) { Type(d, d.edit(), "5", Qt::Key_Escape); });
  w.Command(IDM_WRITEITEM);
  EXPECT_EQ(w.client().state.writeText.view(), "old");
  EXPECT_TRUE(w.messages.shown.empty());
}

}  // namespace
}  // namespace tagwell
