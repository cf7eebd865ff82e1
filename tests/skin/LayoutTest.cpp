// Layout file reading: tokens, colours, flags, numbered sections, and what a
// layout gives the window (region, back buffer, icon, time label).
#include <gtest/gtest.h>

#include <QBitmap>
#include <QTest>

#include "app/skin/SkinLayout.h"
#include "tests/skin/SkinFixtures.h"
#include "tests/support/TempDir.h"

namespace {

using skintest::WriteBitmap;
using reel::test::WriteFile;

struct TokenCase {
  const char* value;
  std::size_t count;
  std::vector<std::string> expected;
};

TEST(SkinLayoutTokens, SplitsAsTheLayoutRulesSay) {
  const TokenCase cases[] = {
      // Blanks before a comma stay in the token, blanks after it are skipped.
      {"BUTTON_PLAY , play.bmp", 2, {"BUTTON_PLAY ", "play.bmp"}},
      {"a,   b,\tc", 3, {"a", "b", "c"}},
      // The last token is the whole rest of the value.
      {"a,b,c,d", 3, {"a", "b", "c,d"}},
      {"text, with, commas", 1, {"text, with, commas"}},
      // Missing tokens repeat the last one present.
      {"BUTTON_X, strip.bmp", 5, {"BUTTON_X", "strip.bmp", "strip.bmp", "strip.bmp", "strip.bmp"}},
      {"only", 3, {"only", "only", "only"}},
      // A trailing blank belongs to the last token; an empty tail is a token.
      {"a, b ", 2, {"a", "b "}},
      {"a,", 3, {"a", "", ""}},
  };
  for (const TokenCase& test : cases) {
    EXPECT_EQ(skin::SplitTokens(test.value, test.count), test.expected) << "value \"" << test.value << "\"";
  }
}

TEST(SkinLayoutTokens, ColoursAreHexWithPrefixDecimalWithout) {
  struct ColourCase {
    const char* token;
    std::uint32_t rgb;
  };
  const ColourCase cases[] = {
      {"0xFF0000", 0xFF0000}, {"0xff8000", 0xFF8000}, {"255", 0x0000FF},
      {"16711680", 0xFF0000}, {"", skin::kNoColour},  {"0x0", 0},
  };
  for (const ColourCase& test : cases) {
    EXPECT_EQ(skin::ColourToken(test.token), test.rgb) << "token \"" << test.token << "\"";
  }
  // 0xRRGGBB turned into a COLORREF: red is in the low byte there.
  EXPECT_EQ(skin::ColourRefFromLayout(0xFF0000), RGB(255, 0, 0));
  EXPECT_EQ(skin::ColourRefFromLayout(0x0000FF), RGB(0, 0, 255));
  EXPECT_EQ(skin::ColourRefFromLayout(0xFF8000), RGB(255, 128, 0));
}

TEST(SkinLayoutTokens, FlagsLookAtTheFirstCharacterOnly) {
  EXPECT_TRUE(skin::FlagToken("T"));
  EXPECT_TRUE(skin::FlagToken("TRUE"));
  EXPECT_TRUE(skin::FlagToken("Tx"));
  EXPECT_FALSE(skin::FlagToken("t"));
  EXPECT_FALSE(skin::FlagToken("F"));
  EXPECT_FALSE(skin::FlagToken(" T"));
  EXPECT_FALSE(skin::FlagToken(""));
  EXPECT_TRUE(skin::VerticalToken("V"));
  EXPECT_TRUE(skin::VerticalToken("Vertical"));
  EXPECT_FALSE(skin::VerticalToken("H"));
  EXPECT_FALSE(skin::VerticalToken("v"));
  EXPECT_EQ(skin::IntegerToken(" 42abc"), 42);
  EXPECT_EQ(skin::IntegerToken("-7"), -7);
  EXPECT_EQ(skin::IntegerToken("strip.bmp"), 0);
}

class SkinLayoutFile : public ::testing::Test {
 protected:
  void SetUp() override { skintest::Application(); }
  reel::test::TempDir folder{"skinlayout"};
};

TEST_F(SkinLayoutFile, NumberedSectionReadsKeysOneToCount) {
  WriteFile(folder / "Skin.ini",
            "[LABELINFO]\n1=LABEL_A, 0,0,10,10, A\n2=LABEL_B, 0,10,10,20, B\n5=LABEL_E, 0,20,10,30, E\n"
            "[OTHER]\nfirst=x\nsecond=y\n1=ignored?\n");
  const skin::LayoutFile layout((folder / "Skin.ini").string());
  // Three keys: "1", "2" and "3" are read; "3" is missing and skipped, "5" never read.
  const std::vector<std::string> values = layout.NumberedValues("LABELINFO");
  ASSERT_EQ(values.size(), 2u);
  EXPECT_EQ(values[0].substr(0, 7), "LABEL_A");
  EXPECT_EQ(values[1].substr(0, 7), "LABEL_B");
  // Keys with other names still count: three keys, and only "1" exists.
  EXPECT_EQ(layout.NumberedValues("OTHER"), std::vector<std::string>{"ignored?"});
  EXPECT_TRUE(layout.NumberedValues("MISSING").empty());

  CSkinDialog dialog;
  skintest::ApplyLayout(dialog, folder.path(), "Skin.ini");
  ASSERT_EQ(dialog.Labels().size(), 2u);
  EXPECT_NE(dialog.FindLabel("LABEL_A"), nullptr);
  EXPECT_NE(dialog.FindLabel("LABEL_B"), nullptr);
  EXPECT_EQ(dialog.FindLabel("LABEL_E"), nullptr);
  EXPECT_EQ(dialog.FindLabel("LABEL_B")->Index(), 1);
  EXPECT_EQ(dialog.FindLabel("LABEL_B")->GetText(), "B");
}

TEST_F(SkinLayoutFile, BlankBeforeCommaStaysInTheName) {
  WriteBitmap(folder / "play.bmp", QSize(40, 10), Qt::green);
  WriteFile(folder / "Skin.ini",
            "[BUTTONINFO]\n1=BUTTON_PLAY , play.bmp, 1,2,11,12, Play, F\n2=BUTTON_STOP, play.bmp\n"
            "3=  BUTTON_UP,   play.bmp,   5,6,25,16\n");
  CSkinDialog dialog;
  skintest::ApplyLayout(dialog, folder.path(), "Skin.ini");
  EXPECT_EQ(dialog.FindButton("BUTTON_PLAY"), nullptr);
  ASSERT_NE(dialog.FindButton("BUTTON_PLAY "), nullptr);
  EXPECT_EQ(dialog.FindButton("BUTTON_PLAY ")->geometry(), QRect(1, 2, 10, 10));
  EXPECT_EQ(dialog.FindButton("BUTTON_PLAY ")->Tip(), "Play");
  // Only a name and a bitmap: the bitmap name is read for every other token.
  CSkinButton* stop = dialog.FindButton("BUTTON_STOP");
  ASSERT_NE(stop, nullptr);
  EXPECT_EQ(stop->geometry(), QRect(0, 0, 0, 0));
  EXPECT_EQ(stop->Tip(), "play.bmp");
  EXPECT_FALSE(stop->IsLatched());
  // Leading blanks of the value and after commas are dropped.
  ASSERT_NE(dialog.FindButton("BUTTON_UP"), nullptr);
  EXPECT_EQ(dialog.FindButton("BUTTON_UP")->geometry(), QRect(5, 6, 20, 10));
  EXPECT_EQ(dialog.FindButton("BUTTON_UP")->Tip(), "16");
}

TEST_F(SkinLayoutFile, RegionLeavesOutExactlyTheTransparentColour) {
  struct RegionCase {
    const char* token;
    QColor keyed;
    QColor nearMiss;
  };
  const RegionCase cases[] = {
      {"0xFF00FF", QColor(255, 0, 255), QColor(254, 0, 255)},
      {"16711935", QColor(255, 0, 255), QColor(255, 1, 255)},
      {"255", QColor(0, 0, 255), QColor(0, 0, 254)},
  };
  for (const RegionCase& test : cases) {
    QImage background(60, 40, QImage::Format_RGB32);
    background.fill(QColor(30, 60, 90));
    for (int y = 0; y < 10; ++y) {
      for (int x = 0; x < 10; ++x) background.setPixelColor(x, y, test.keyed);
    }
    background.setPixelColor(30, 30, test.nearMiss);
    skintest::WriteImage(folder / "back.bmp", background);
    WriteFile(folder / "Skin.ini", std::string("[Main]\nScreen=back.bmp\n[COLOR]\nTRANSPARENT=") + test.token + "\n");
    CSkinDialog dialog;
    skintest::ApplyLayout(dialog, folder.path(), "Skin.ini");
    EXPECT_EQ(dialog.size(), QSize(60, 40)) << test.token;
    EXPECT_FALSE(dialog.mask().contains(QPoint(5, 5))) << test.token;
    EXPECT_FALSE(dialog.mask().contains(QPoint(9, 9))) << test.token;
    EXPECT_TRUE(dialog.mask().contains(QPoint(10, 5))) << test.token;
    EXPECT_TRUE(dialog.mask().contains(QPoint(30, 30))) << test.token << ": a near miss stays in the window";
    EXPECT_EQ(dialog.BackBuffer().pixelColor(20, 20), QColor(30, 60, 90));
    EXPECT_EQ(dialog.TransparentColour(), skin::ColourToken(test.token));
  }
}

TEST_F(SkinLayoutFile, EmptyTransparentValueKeepsTheColourAndMissingBitmapsStayEmpty) {
  WriteBitmap(folder / "back.bmp", QSize(20, 20), QColor(255, 0, 255));
  WriteFile(folder / "first.ini", "[Main]\nScreen=back.bmp\n[COLOR]\nTRANSPARENT=0xFF00FF\n");
  WriteFile(folder / "second.ini",
            "[Main]\nScreen=back.bmp\n[COLOR]\nTRANSPARENT=\n[BUTTONINFO]\n1=BUTTON_X, missing.bmp, 0,0,5,5, tip, F\n");
  CSkinDialog dialog;
  skintest::ApplyLayout(dialog, folder.path(), "first.ini");
  skintest::ApplyLayout(dialog, folder.path(), "second.ini");
  EXPECT_EQ(dialog.TransparentColour(), 0xFF00FFu);
  ASSERT_NE(dialog.FindButton("BUTTON_X"), nullptr);
  EXPECT_TRUE(dialog.FindButton("BUTTON_X")->FrameImage(0).isNull());
  EXPECT_TRUE(dialog.FindButton("BUTTON_X")->FrameSize().isEmpty());
}

TEST_F(SkinLayoutFile, BitmapNamesMatchWithoutRegardToCase) {
  WriteBitmap(folder / "Back.BMP", QSize(30, 20), QColor(10, 20, 30));
  WriteFile(folder / "Skin.ini", "[Main]\nScreen=back.bmp\n");
  CSkinDialog dialog;
  skintest::ApplyLayout(dialog, folder.path(), "Skin.ini");
  ASSERT_FALSE(dialog.Background().isNull());
  EXPECT_EQ(dialog.Background().size(), QSize(30, 20));
}

TEST_F(SkinLayoutFile, PaintShowsBackgroundAndIconWithoutItsTransparentPixels) {
  QImage background(50, 40, QImage::Format_RGB32);
  background.fill(QColor(0, 0, 200));
  skintest::WriteImage(folder / "back.bmp", background);
  QImage icon(10, 10, QImage::Format_RGB32);
  icon.fill(QColor(255, 255, 0));
  for (int x = 0; x < 10; ++x) icon.setPixelColor(x, 0, QColor(255, 0, 255));
  skintest::WriteImage(folder / "icon.bmp", icon);
  WriteFile(folder / "Skin.ini",
            "[Main]\nScreen=back.bmp\n[COLOR]\nTRANSPARENT=0xFF00FF\n[ICON]\nICON=icon.bmp, 5,5,13,13\n"
            "[CONTROL]\nCONTROL=1,2,31,22\n");
  CSkinDialog dialog;
  skintest::ApplyLayout(dialog, folder.path(), "Skin.ini");
  const QImage picture = dialog.grab().toImage();
  EXPECT_EQ(picture.pixelColor(30, 30), QColor(0, 0, 200));
  EXPECT_EQ(picture.pixelColor(5, 5), QColor(0, 0, 200)) << "the icon's transparent row is left out";
  EXPECT_EQ(picture.pixelColor(6, 7), QColor(255, 255, 0));
  // Width and height come from the icon rectangle (8 x 8), not from the bitmap.
  EXPECT_EQ(picture.pixelColor(12, 12), QColor(255, 255, 0));
  EXPECT_EQ(picture.pixelColor(14, 12), QColor(0, 0, 200));
  const RECT area = dialog.ControlArea();
  EXPECT_EQ(area.left, 1);
  EXPECT_EQ(area.top, 2);
  EXPECT_EQ(area.right, 31);
  EXPECT_EQ(area.bottom, 22);
}

TEST_F(SkinLayoutFile, TimeLabelShowsSliderPositionAndMaximum) {
  EXPECT_EQ(SkinTimeText(0), "00:00:00");
  EXPECT_EQ(SkinTimeText(3725), "01:02:05");
  EXPECT_EQ(SkinTimeText(359999), "99:59:59");
  EXPECT_EQ(SkinTimeText(360000), "99:59:59");
  EXPECT_EQ(SkinTimeText(-5), "00:00:00");

  WriteBitmap(folder / "channel.bmp", QSize(100, 4), Qt::gray);
  WriteBitmap(folder / "thumb.bmp", QSize(10, 12), Qt::white);
  WriteFile(folder / "Skin.ini",
            "[SLIDERINFO]\n1=SLIDER_PROGRESS, channel.bmp, thumb.bmp, thumb.bmp, 0,0,100,12, H, 40, tip\n"
            "[LABELINFO]\n1=LABEL_TIME, 0,20,100,40, --:--, Liberation Sans, 9, 0xFFFFFF\n");
  CSkinDialog dialog;
  skintest::ApplyLayout(dialog, folder.path(), "Skin.ini");
  ASSERT_NE(dialog.FindLabel("LABEL_TIME"), nullptr);
  // The range starts empty, so the initial position 40 is clamped to 0.
  EXPECT_EQ(dialog.GetSliderPos("SLIDER_PROGRESS"), 0);
  EXPECT_EQ(dialog.FindLabel("LABEL_TIME")->GetText(), "00:00:00/00:00:00");
  EXPECT_EQ(dialog.GetSliderPos("NO_SUCH_SLIDER"), 0);
}

TEST_F(SkinLayoutFile, EscapeAndReturnDoNotEndTheWindow) {
  WriteBitmap(folder / "back.bmp", QSize(40, 30), Qt::darkGreen);
  WriteFile(folder / "Skin.ini",
            "[Main]\nScreen=back.bmp\n[EDITBOXINFO]\n1=EDIT, 2,2,38,20, 0xFFFFFF, 0x000000, 0x000000\n");
  CSkinDialog dialog;
  skintest::ApplyLayout(dialog, folder.path(), "Skin.ini");
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  QTest::keyClick(&dialog, Qt::Key_Escape);
  QTest::keyClick(&dialog, Qt::Key_Return);
  QTest::keyClick(dialog.Edits().front(), Qt::Key_Escape);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 0);
  // Other keys still reach the window.
  QTest::keyClick(&dialog, Qt::Key_A);
  EXPECT_TRUE(dialog.isVisible());
}

}  // namespace
