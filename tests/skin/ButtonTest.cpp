// Buttons and options: frames cut from the strip, the frame each state
// shows, clicks reaching the window's hooks, options unchecking each other.
#include <gtest/gtest.h>

#include <QTest>

#include "tests/skin/SkinFixtures.h"
#include "tests/support/TempDir.h"

namespace {

using reel::test::WriteFile;

const QColor kNormal(200, 0, 0);
const QColor kHover(0, 200, 0);
const QColor kPressed(0, 0, 200);
const QColor kDisabled(200, 200, 0);

class SkinButtons : public ::testing::Test {
 protected:
  void SetUp() override {
    skintest::Application();
    skintest::WriteBitmap(folder / "back.bmp", QSize(300, 120), QColor(40, 40, 40));
    skintest::WriteStrip(folder / "strip.bmp", QSize(100, 30), {kNormal, kHover, kPressed, kDisabled});
    WriteFile(folder / "Skin.ini",
              "[Main]\nScreen=back.bmp\n"
              "[BUTTONINFO]\n"
              "1=BUTTON_ONE, strip.bmp, 10,10,60,25, First, F\n"
              "2=BUTTON_TWO, strip.bmp, 70,10,120,25, Second, F\n"
              "3=BUTTON_LATCH, strip.bmp, 130,10,180,25, Latched, T\n"
              "[OPTIONINFO]\n"
              "1=OPTION_A, strip.bmp, 10,50,60,65, A, T, T\n"
              "2=OPTION_B, strip.bmp, 70,50,120,65, B, T, F\n"
              "3=OPTION_C, strip.bmp, 130,50,180,65, C, F, F\n");
    skintest::ApplyLayout(dialog, folder.path(), "Skin.ini");
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  }

  static QColor Shown(CSkinButton* button) { return skintest::PixelOf(button, button->width() / 2, button->height() / 2); }

  reel::test::TempDir folder{"skinbuttons"};
  skintest::RecordingDialog dialog;
};

TEST_F(SkinButtons, StripOf400By30GivesFourFramesStretchedToTheButton) {
  CSkinButton* button = dialog.FindButton("BUTTON_ONE");
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->FrameSize(), QSize(100, 30));
  const QColor colours[] = {kNormal, kHover, kPressed, kDisabled};
  for (int frame = 0; frame < 4; ++frame) {
    const QImage& image = button->FrameImage(frame);
    EXPECT_EQ(image.size(), QSize(50, 15)) << "frame " << frame;
    EXPECT_EQ(image.pixelColor(0, 0), colours[frame]) << "frame " << frame;
    EXPECT_EQ(image.pixelColor(49, 14), colours[frame]) << "frame " << frame;
  }
  EXPECT_EQ(Shown(button), kNormal);
}

TEST_F(SkinButtons, HoverPressAndDisabledFramesAndClickReachesHook) {
  CSkinButton* button = dialog.FindButton("BUTTON_TWO");
  ASSERT_NE(button, nullptr);
  const QPoint centre(25, 7);
  QTest::mouseMove(button, centre);
  EXPECT_TRUE(button->IsHovered());
  EXPECT_EQ(button->CurrentFrame(), CSkinButton::kHover);
  EXPECT_EQ(Shown(button), kHover);

  QTest::mousePress(button, Qt::LeftButton, Qt::NoModifier, centre);
  EXPECT_EQ(button->CurrentFrame(), CSkinButton::kPressed);
  EXPECT_EQ(Shown(button), kPressed);
  EXPECT_TRUE(dialog.events.empty()) << "nothing is reported before the release";
  QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, centre);
  EXPECT_EQ(dialog.events, std::vector<std::string>{"button BUTTON_TWO"});
  EXPECT_FALSE(button->IsHovered()) << "a click clears the hover";

  // Released outside: no click.
  dialog.events.clear();
  QTest::mousePress(button, Qt::LeftButton, Qt::NoModifier, centre);
  QTest::mouseRelease(button, Qt::LeftButton, Qt::NoModifier, QPoint(200, 7));
  EXPECT_TRUE(dialog.events.empty());

  dialog.EnableButton("BUTTON_TWO", false);
  EXPECT_EQ(button->CurrentFrame(), CSkinButton::kDisabled);
  EXPECT_EQ(Shown(button), kDisabled);
  dialog.EnableButton("BUTTON_TWO", true);
  EXPECT_EQ(button->CurrentFrame(), CSkinButton::kNormal);
}

TEST_F(SkinButtons, DownFlagShowsPressedFrameUnlessHovered) {
  CSkinButton* button = dialog.FindButton("BUTTON_ONE");
  dialog.SetButtonDown("BUTTON_ONE", true);
  EXPECT_TRUE(dialog.IsButtonDown("BUTTON_ONE"));
  EXPECT_EQ(button->CurrentFrame(), CSkinButton::kPressed);
  QTest::mouseMove(button, QPoint(10, 5));
  EXPECT_EQ(button->CurrentFrame(), CSkinButton::kHover);
  dialog.SetButtonDown("BUTTON_ONE", false);
  EXPECT_FALSE(dialog.IsButtonDown("BUTTON_ONE"));
  EXPECT_FALSE(dialog.IsButtonDown("NO_SUCH_BUTTON"));
}

TEST_F(SkinButtons, LatchedButtonShowsFrameTwoWhileDownAndNeverTheHoverFrame) {
  CSkinButton* button = dialog.FindButton("BUTTON_LATCH");
  ASSERT_TRUE(button->IsLatched());
  QTest::mouseMove(button, QPoint(20, 5));
  EXPECT_TRUE(button->IsHovered());
  EXPECT_EQ(button->CurrentFrame(), CSkinButton::kNormal);
  EXPECT_EQ(Shown(button), kNormal);
  dialog.SetButtonDown("BUTTON_LATCH", true);
  EXPECT_EQ(button->CurrentFrame(), CSkinButton::kPressed);
  EXPECT_EQ(Shown(button), kPressed);
  QTest::mouseMove(button, QPoint(300, 300));
  EXPECT_FALSE(button->IsHovered());
  EXPECT_EQ(button->CurrentFrame(), CSkinButton::kPressed);
}

TEST_F(SkinButtons, IndexOfTheClickedButtonNamesIt) {
  for (const char* name : {"BUTTON_LATCH", "BUTTON_ONE", "BUTTON_TWO"}) {
    CSkinButton* button = dialog.FindButton(name);
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  }
  EXPECT_EQ(dialog.events,
            (std::vector<std::string>{"button BUTTON_LATCH", "button BUTTON_ONE", "button BUTTON_TWO"}));
  dialog.events.clear();
  dialog.OnButtonIndex(7);  // no such button: nothing
  dialog.OnButtonIndex(-1);
  EXPECT_TRUE(dialog.events.empty());
}

TEST_F(SkinButtons, ChoosingAnOptionUnchecksTheOthers) {
  CSkinOption* a = dialog.FindOption("OPTION_A");
  CSkinOption* b = dialog.FindOption("OPTION_B");
  CSkinOption* c = dialog.FindOption("OPTION_C");
  ASSERT_TRUE(a && b && c);
  EXPECT_TRUE(a->GetCheck());
  EXPECT_FALSE(b->GetCheck());
  EXPECT_EQ(skintest::PixelOf(a, 5, 5), kPressed);

  QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_FALSE(a->GetCheck());
  EXPECT_TRUE(b->GetCheck());
  EXPECT_FALSE(c->GetCheck());
  EXPECT_EQ(skintest::PixelOf(a, 5, 5), kNormal);
  EXPECT_EQ(skintest::PixelOf(b, 5, 5), kPressed);

  // Clicking the checked option leaves it checked.
  QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_TRUE(b->GetCheck());

  QTest::mouseClick(c, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
  EXPECT_FALSE(a->GetCheck());
  EXPECT_FALSE(b->GetCheck());
  EXPECT_TRUE(c->GetCheck());
  EXPECT_EQ(dialog.events, (std::vector<std::string>{"option OPTION_B", "option OPTION_B", "option OPTION_C"}));
}

TEST_F(SkinButtons, TransparentColourIsLeftOutOfFrames) {
  skintest::WriteStrip(folder / "keyed.bmp", QSize(10, 10),
                       {QColor(255, 0, 255), QColor(1, 2, 3), QColor(1, 2, 3), QColor(1, 2, 3)});
  WriteFile(folder / "keyed.ini",
            "[Main]\nScreen=back.bmp\n[COLOR]\nTRANSPARENT=0xFF00FF\n"
            "[BUTTONINFO]\n1=BUTTON_K, keyed.bmp, 10,10,30,30, K, F\n");
  skintest::ApplyLayout(dialog, folder.path(), "keyed.ini");
  CSkinButton* button = dialog.FindButton("BUTTON_K");
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(qAlpha(button->FrameImage(0).pixel(3, 3)), 0);
  EXPECT_EQ(qAlpha(button->FrameImage(1).pixel(3, 3)), 255);
  // The window's background shows through the transparent frame.
  EXPECT_EQ(dialog.grab().toImage().pixelColor(15, 15), QColor(40, 40, 40));
}

}  // namespace
