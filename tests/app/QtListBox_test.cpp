// The list box port over QListWidget behaves as the Win32 list box the
// operations were written for: index results, LB_ERR, a selection that
// follows its line, and no notifications for what the program does.
#include <gtest/gtest.h>

#include <QListWidget>
#include <QSignalSpy>

#include "app/QtPorts.h"
#include "tests/app/AppTestSupport.h"

namespace tagwell {
namespace {

class QtListBoxTest : public ::testing::Test {
 protected:
  QtListBoxTest() { widget_.setSelectionMode(QAbstractItemView::SingleSelection); }
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    for (int i = 0; i < box_.GetCount(); ++i) {
      std::string text;
      box_.GetText(i, &text);
      lines.push_back(text);
    }
    return lines;
  }

  QApplication& application_ = testing::EnsureApplication();
  QListWidget widget_;
  QtListBox box_{&widget_};
};

TEST_F(QtListBoxTest, IndexesAndErrorsAreThoseOfTheListBoxMessages) {
  EXPECT_EQ(box_.AddString("b"), 0);
  EXPECT_EQ(box_.InsertString(0, "a"), 0);
  EXPECT_EQ(box_.InsertString(-1, "d"), 2);
  EXPECT_EQ(box_.InsertString(2, "c"), 2);
  EXPECT_EQ(box_.InsertString(5, "x"), ui::LB_ERR);
  EXPECT_EQ(box_.InsertString(-2, "x"), ui::LB_ERR);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(box_.DeleteString(4), ui::LB_ERR);
  EXPECT_EQ(box_.DeleteString(0), 3);
  std::string text = "untouched";
  EXPECT_EQ(box_.GetText(3, &text), ui::LB_ERR);
  EXPECT_EQ(text, "untouched");
  EXPECT_EQ(box_.GetText(2, &text), 1);
  EXPECT_EQ(text, "d");
  EXPECT_EQ(box_.SetItemData(1, 42), 0);
  EXPECT_EQ(box_.GetItemData(1), 42);
  EXPECT_EQ(box_.SetItemData(7, 1), ui::LB_ERR);
  EXPECT_EQ(box_.GetItemData(7), ui::LB_ERR);
}

TEST_F(QtListBoxTest, TheSelectionFollowsItsLineAndGoesWithIt) {
  for (const char* t : {"r0", "r1", "r2", "r3"}) box_.AddString(t);
  EXPECT_EQ(box_.SetCurSel(2), 2);
  box_.InsertString(0, "new");
  EXPECT_EQ(box_.GetCurSel(), 3);
  box_.InsertString(4, "after");
  EXPECT_EQ(box_.GetCurSel(), 3);
  box_.DeleteString(0);
  EXPECT_EQ(box_.GetCurSel(), 2);
  // A row rewrite (insert at the row, delete the row after it) loses the
  // selection, as on Windows: the read cycle restores it afterwards.
  ReplaceRow(box_, 2, "r2'");
  EXPECT_EQ(box_.GetCurSel(), ui::LB_ERR);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"r0", "r1", "r2'", "after", "r3"}));
  EXPECT_EQ(box_.SetCurSel(9), ui::LB_ERR);
  EXPECT_EQ(box_.GetCurSel(), ui::LB_ERR);
  box_.SetCurSel(1);
  EXPECT_EQ(box_.SetCurSel(-1), ui::LB_ERR);
  EXPECT_EQ(box_.GetCurSel(), ui::LB_ERR);
  EXPECT_TRUE(widget_.selectedItems().isEmpty());
}

TEST_F(QtListBoxTest, NothingTheProgramDoesNotifies) {
  QSignalSpy changed(&widget_, &QListWidget::itemSelectionChanged);
  QSignalSpy current(&widget_, &QListWidget::currentRowChanged);
  box_.AddString("a");
  box_.AddString("b");
  box_.SetCurSel(1);
  box_.InsertString(0, "c");
  box_.DeleteString(2);
  box_.SetCurSel(0);
  box_.ResetContent();
  EXPECT_EQ(changed.count(), 0);
  EXPECT_EQ(current.count(), 0);
  // The operator's click does notify.
  box_.AddString("a");
  widget_.setCurrentRow(0);
  EXPECT_EQ(changed.count(), 1);
}

TEST_F(QtListBoxTest, AListWithoutSelectionHasNone) {
  widget_.setSelectionMode(QAbstractItemView::NoSelection);
  box_.AddString("Vendor information = ");
  EXPECT_EQ(box_.SetCurSel(0), ui::LB_ERR);
  EXPECT_EQ(box_.GetCurSel(), ui::LB_ERR);
}

TEST_F(QtListBoxTest, OneLineBoxesKeepOneLineAndTextsSurviveAsUtf8) {
  for (const char* text : {"   1", "   2",
                           "K\xc3\xbchlung 10 \xc2\xb0"
                           "C"}) {
    SetOneLineBox(box_, text);
    ASSERT_EQ(box_.GetCount(), 1);
  }
  EXPECT_EQ(Lines(), std::vector<std::string>{"K\xc3\xbchlung 10 \xc2\xb0"
                                              "C"});
  EXPECT_EQ(widget_.item(0)->text(), QString::fromUtf8("Kühlung 10 °C"));
}

}  // namespace
}  // namespace tagwell
