// The list with its bitmap scroll bar, and the combo box.
#include <gtest/gtest.h>

#include <QScrollBar>
#include <QTest>

#include "tests/skin/SkinFixtures.h"
#include "tests/support/TempDir.h"

namespace {

using reel::test::WriteFile;

const QColor kListBackground(0x10, 0x20, 0x30);
const QColor kTrack(90, 90, 90);
const QColor kUp(200, 0, 0);
const QColor kUpLit(255, 80, 80);
const QColor kDown(0, 200, 0);
const QColor kDownLit(80, 255, 80);
const QColor kThumb(0, 0, 200);
const QColor kThumbLit(80, 80, 255);

class SkinLists : public ::testing::Test {
 protected:
  void SetUp() override {
    skintest::Application();
    skintest::WriteBitmap(folder / "back.bmp", QSize(400, 300), QColor(50, 50, 50));
    skintest::WriteBitmap(folder / "track.bmp", QSize(16, 8), kTrack);
    skintest::WriteBitmap(folder / "up.bmp", QSize(16, 20), kUp);
    skintest::WriteBitmap(folder / "upon.bmp", QSize(16, 20), kUpLit);
    skintest::WriteBitmap(folder / "down.bmp", QSize(16, 20), kDown);
    skintest::WriteBitmap(folder / "downon.bmp", QSize(16, 20), kDownLit);
    skintest::WriteBitmap(folder / "thumb.bmp", QSize(16, 20), kThumb);
    skintest::WriteBitmap(folder / "thumbon.bmp", QSize(16, 20), kThumbLit);
    skintest::WriteStrip(folder / "combo.bmp", QSize(12, 12),
                         {Qt::red, Qt::green, Qt::blue, Qt::yellow});
    const std::string bars = "track.bmp, up.bmp, upon.bmp, down.bmp, downon.bmp, thumb.bmp, thumbon.bmp";
    WriteFile(folder / "Skin.ini",
              "[Main]\nScreen=back.bmp\n"
              "[OPTIONINFO]\n1=OPTION_BATCH, combo.bmp, 300,60,340,80, Batch, T, T\n"
              "[LISTBOXINFO]\n1=LIST_FILES, 20,20,236,220, 0x102030, 0xFFFFFF, 0x0000FF, 0xFFFFFF, " + bars + "\n"
              "[COMBOBOXINFO]\n1=COMBO_PROFILE, 260,10,360,40, combo.bmp, 0xFFFFFF, 0x000000, 0x00FF00, "
              "0x102030, 0xFFFFFF, 0x0000FF, 0xFFFFFF, " + bars + "\n");
    skintest::ApplyLayout(dialog, folder.path(), "Skin.ini");
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    list = dialog.FindList("LIST_FILES");
    ASSERT_NE(list, nullptr);
    bar = list->ScrollBar();
    ASSERT_NE(bar, nullptr);
  }

  // Adds rows until the list can scroll exactly `limit` lines.
  void FillToLimit(int limit) {
    for (int row = 0; row < 500 && list->VerticalScrollLimit() < limit; ++row) {
      list->AddItem("/videos/clip" + std::to_string(row) + ".avi", "0", "0");
      list->doItemsLayout();
    }
    ASSERT_EQ(list->VerticalScrollLimit(), limit);
  }

  static QColor BarPixel(CSkinScrollBar* bar, int y) { return skintest::PixelOf(bar, 8, y); }

  reel::test::TempDir folder{"skinlists"};
  skintest::RecordingDialog dialog;
  CSkinListCtrl* list = nullptr;
  CSkinScrollBar* bar = nullptr;
};

TEST_F(SkinLists, BarReplacesTheListsOwnScrollBarToItsRight) {
  EXPECT_EQ(bar->BarWidth(), 16);
  EXPECT_EQ(list->geometry(), QRect(20, 20, 216 - 16, 200));
  EXPECT_EQ(bar->geometry(), QRect(20 + 200, 20, 16, 200));
  EXPECT_EQ(list->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(list->columnCount(), 4);
  EXPECT_EQ(list->columnWidth(0), 40);
}

TEST_F(SkinLists, ScaleThumbPositionsAndDragging) {
  FillToLimit(14);
  // 200 high, 20-pixel arrows and thumb: 140 pixels of travel over 14 lines.
  EXPECT_EQ(bar->Travel(), 140);
  EXPECT_DOUBLE_EQ(bar->Scale(), 10.0);
  EXPECT_EQ(bar->ThumbTop(), 20);
  list->ScrollLines(3);
  EXPECT_EQ(list->VerticalScrollPosition(), 3);
  EXPECT_EQ(bar->ThumbTop(), 50);
  EXPECT_EQ(BarPixel(bar, 60), kThumb);
  EXPECT_EQ(BarPixel(bar, 5), kUp);
  EXPECT_EQ(BarPixel(bar, 195), kDown);
  EXPECT_EQ(BarPixel(bar, 100), kTrack);

  QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 60));
  EXPECT_TRUE(bar->IsThumbLit());
  EXPECT_EQ(BarPixel(bar, 60), kThumbLit);
  QTest::mouseMove(bar, QPoint(8, 95));
  EXPECT_EQ(bar->ThumbTop(), 85);
  EXPECT_EQ(list->VerticalScrollPosition(), 6);
  // Dragging past the end stops at the down arrow and the last line.
  QTest::mouseMove(bar, QPoint(8, 400));
  EXPECT_EQ(bar->ThumbTop(), 160);
  EXPECT_EQ(list->VerticalScrollPosition(), 14);
  QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 400));
  EXPECT_FALSE(bar->IsThumbLit());
  EXPECT_EQ(list->VerticalScrollPosition(), 14);
  EXPECT_EQ(bar->ThumbTop(), 160);
}

TEST_F(SkinLists, TrackClickScrollsAPageOnRelease) {
  FillToLimit(14);
  const int page = list->verticalScrollBar()->pageStep();
  ASSERT_GT(page, 1);
  QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 150));
  EXPECT_EQ(list->VerticalScrollPosition(), 0) << "pressing on the track does nothing yet";
  QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 150));
  EXPECT_EQ(list->VerticalScrollPosition(), page);
  EXPECT_EQ(bar->ThumbTop(), 20 + page * 10);
  // Above the thumb: a page up.
  QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 25));
  EXPECT_EQ(list->VerticalScrollPosition(), 0);
}

TEST_F(SkinLists, ArrowClickScrollsOneLineOnRelease) {
  FillToLimit(14);
  QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 190));
  EXPECT_TRUE(bar->IsDownLit());
  EXPECT_EQ(BarPixel(bar, 190), kDownLit);
  EXPECT_EQ(list->VerticalScrollPosition(), 0);
  QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 190));
  EXPECT_EQ(list->VerticalScrollPosition(), 1);
  EXPECT_FALSE(bar->IsDownLit());
  QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 190));
  QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 190));
  QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 5));
  EXPECT_EQ(list->VerticalScrollPosition(), 2);
  // Pressed on an arrow but released on the track below the thumb: no line;
  // the release counts as a track click.
  const int page = list->verticalScrollBar()->pageStep();
  QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 5));
  QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 120));
  EXPECT_EQ(list->VerticalScrollPosition(), std::min(14, 2 + page));
}

TEST_F(SkinLists, HoldingAnArrowRepeatsAfterTheDelay) {
  FillToLimit(14);
  QElapsedTimer clock;
  clock.start();
  QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 190));
  QTest::qWait(150);
  if (clock.elapsed() < CSkinScrollBar::kDelayMilliseconds) {
    EXPECT_EQ(list->VerticalScrollPosition(), 0) << "no line before the 250 ms delay";
  }
  QTest::qWait(550);  // about 700 ms held: 250 ms delay, then a line every 50 ms
  const int held = static_cast<int>(clock.elapsed());
  const int lines = list->VerticalScrollPosition();
  EXPECT_TRUE(bar->IsAutoRepeating());
  EXPECT_GE(lines, 3);
  EXPECT_LE(lines, (held - CSkinScrollBar::kDelayMilliseconds) / CSkinScrollBar::kRepeatMilliseconds + 1);
  QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 190));
  EXPECT_FALSE(bar->IsAutoRepeating());
  EXPECT_EQ(list->VerticalScrollPosition(), std::min(14, lines + 1)) << "one more line at the release";
  const int afterRelease = list->VerticalScrollPosition();
  QTest::qWait(200);
  EXPECT_EQ(list->VerticalScrollPosition(), afterRelease) << "the repeat stops with the release";
}

TEST_F(SkinLists, WithoutScrollRangeTheBarShowsTheListBackground) {
  list->AddItem("/videos/a.avi", "0", "0");
  list->doItemsLayout();
  ASSERT_EQ(list->VerticalScrollLimit(), 0);
  EXPECT_EQ(bar->ThumbTop(), 20);
  for (int y : {5, 50, 100, 195}) EXPECT_EQ(BarPixel(bar, y), kListBackground) << "y " << y;
  QTest::mousePress(bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 25));
  QTest::mouseMove(bar, QPoint(8, 150));
  EXPECT_EQ(bar->ThumbTop(), 20) << "no dragging without a range";
  QTest::mouseRelease(bar, Qt::LeftButton, Qt::NoModifier, QPoint(8, 150));
  EXPECT_EQ(list->VerticalScrollPosition(), 0);
}

TEST_F(SkinLists, HoverLightsThePartUnderTheMouseAndLeavingClearsIt) {
  FillToLimit(14);
  QTest::mouseMove(bar, QPoint(8, 5));
  EXPECT_TRUE(bar->IsUpLit());
  EXPECT_EQ(BarPixel(bar, 5), kUpLit);
  QTest::mouseMove(bar, QPoint(8, 30));
  EXPECT_FALSE(bar->IsUpLit());
  EXPECT_TRUE(bar->IsThumbLit());
  // A move over the list reaches the bar and, being outside it, clears it.
  QTest::mouseMove(list->viewport(), QPoint(8, 5));
  EXPECT_FALSE(bar->IsThumbLit());
  EXPECT_FALSE(bar->IsUpLit());
}

TEST_F(SkinLists, RowsAreAddedMovedAndDeleted) {
  for (const char* name : {"a", "b", "c", "d"}) list->AddItem(name, "0", "0");
  EXPECT_EQ(list->ItemText(0, 0), "");
  EXPECT_EQ(list->ItemText(2, 1), "c");
  EXPECT_EQ(list->ItemText(2, 2), "0");
  EXPECT_FALSE(list->MoveItem(1, 1));
  EXPECT_FALSE(list->MoveItem(-1, 0));
  EXPECT_FALSE(list->MoveItem(0, -1));
  EXPECT_FALSE(list->MoveItem(9, 0));
  // Up: row 2 to position 1.
  ASSERT_TRUE(list->MoveItem(2, 1));
  std::vector<std::string> order;
  for (int row = 0; row < list->topLevelItemCount(); ++row) order.push_back(list->ItemText(row, 1));
  EXPECT_EQ(order, (std::vector<std::string>{"a", "c", "b", "d"}));
  // A move to a later position inserts before that position.
  ASSERT_TRUE(list->MoveItem(0, 3));
  order.clear();
  for (int row = 0; row < list->topLevelItemCount(); ++row) order.push_back(list->ItemText(row, 1));
  EXPECT_EQ(order, (std::vector<std::string>{"c", "b", "a", "d"}));

  list->topLevelItem(1)->setSelected(true);
  list->topLevelItem(3)->setSelected(true);
  list->DeleteSelectedItems();
  order.clear();
  for (int row = 0; row < list->topLevelItemCount(); ++row) order.push_back(list->ItemText(row, 1));
  EXPECT_EQ(order, (std::vector<std::string>{"c", "a"}));
}

TEST_F(SkinLists, DoubleClickReachesTheWindow) {
  list->AddItem("/videos/a.avi", "0", "0");
  const QRect row = list->visualItemRect(list->topLevelItem(0));
  QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
  EXPECT_EQ(dialog.events, std::vector<std::string>{"doubleclick"});
}

TEST_F(SkinLists, ComboLayoutOpensA50PixelListBelowASmallBox) {
  CSkinComboBox* combo = dialog.FindComboBox("COMBO_PROFILE");
  ASSERT_NE(combo, nullptr);
  // Container 260,10,360,40 (30 high) with a 12 x 12 button frame.
  EXPECT_EQ(combo->EditRect(), QRect(260, 10, 88, 12));
  EXPECT_EQ(combo->ButtonRect(), QRect(348, 9, 12, 14));
  EXPECT_EQ(combo->ListRect(), QRect(260, 24, 99, 50));
  EXPECT_EQ(combo->WholeArea(), QRect(260, 10, 100, 64));
  EXPECT_EQ(combo->Button()->Name(), "COMBO_BTN");
  EXPECT_EQ(combo->Edit()->Name(), "COMBO_EDIT");
  EXPECT_EQ(combo->List()->Name(), "COMBO_LIST");
  EXPECT_TRUE(combo->Edit()->isEnabled());
  EXPECT_FALSE(combo->List()->isVisible());
  EXPECT_EQ(combo->List()->geometry().height(), 50);
}

TEST_F(SkinLists, ComboButtonOpensTheListAndAChoiceFillsTheEdit) {
  CSkinComboBox* combo = dialog.FindComboBox("COMBO_PROFILE");
  for (const char* profile : {"First", "Second", "Third"}) combo->AddString(profile);
  QTest::mouseClick(combo->Button(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  ASSERT_TRUE(combo->IsListShown());
  EXPECT_TRUE(combo->List()->isVisible());
  EXPECT_TRUE(combo->List()->ScrollBar()->isVisible());
  const QRect second = combo->List()->visualItemRect(combo->List()->topLevelItem(1));
  QTest::mouseClick(combo->List()->viewport(), Qt::LeftButton, Qt::NoModifier, second.center());
  EXPECT_EQ(combo->Edit()->GetWindowText(), "Second");
  EXPECT_FALSE(combo->IsListShown());
  EXPECT_FALSE(combo->List()->isVisible());
  EXPECT_FALSE(combo->List()->ScrollBar()->isVisible());
  EXPECT_TRUE(dialog.events.empty()) << "a choice calls no hook";

  // Reopened, it closes when the mouse moves over the window outside the box.
  QTest::mouseClick(combo->Button(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  ASSERT_TRUE(combo->IsListShown());
  QTest::mouseMove(&dialog, QPoint(300, 50));  // inside the whole area: stays open
  EXPECT_TRUE(combo->IsListShown());
  QTest::mouseMove(&dialog, QPoint(390, 250));
  EXPECT_FALSE(combo->IsListShown());
  // The option the list covered is painted again.
  EXPECT_EQ(skintest::PixelOf(&dialog, 320, 70), QColor(Qt::blue));
}

TEST_F(SkinLists, EachComboButtonServesItsOwnComboBox) {
  const std::string bars = "track.bmp, up.bmp, upon.bmp, down.bmp, downon.bmp, thumb.bmp, thumbon.bmp";
  WriteFile(folder / "two.ini",
            "[Main]\nScreen=back.bmp\n[COMBOBOXINFO]\n"
            "1=COMBO_ONE, 10,10,110,40, combo.bmp, 0xFFFFFF, 0, 0, 0xFFFFFF, 0, 0xFF, 0xFFFFFF, " + bars + "\n"
            "2=COMBO_TWO, 200,10,300,40, combo.bmp, 0xFFFFFF, 0, 0, 0xFFFFFF, 0, 0xFF, 0xFFFFFF, " + bars + "\n");
  skintest::ApplyLayout(dialog, folder.path(), "two.ini");
  CSkinComboBox* one = dialog.FindComboBox("COMBO_ONE");
  CSkinComboBox* two = dialog.FindComboBox("COMBO_TWO");
  ASSERT_TRUE(one && two);
  QTest::mouseClick(two->Button(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_TRUE(two->IsListShown());
  EXPECT_FALSE(one->IsListShown());
  // Leaving the second box closes its list, whichever box comes first.
  QTest::mouseMove(&dialog, QPoint(150, 200));
  EXPECT_FALSE(two->IsListShown());
}

}  // namespace
