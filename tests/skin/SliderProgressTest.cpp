// The slider's pixel and value mapping, painting, dragging and keys; the
// progress bar's tiles.
#include <gtest/gtest.h>

#include <QTest>

#include "tests/skin/SkinFixtures.h"
#include "tests/support/TempDir.h"

namespace {

using reel::test::WriteFile;

const QColor kBackground(20, 30, 40);
const QColor kChannel(0, 160, 0);
const QColor kThumb(250, 250, 250);
const QColor kActiveThumb(250, 120, 0);

class SkinSliders : public ::testing::Test {
 protected:
  void SetUp() override {
    skintest::Application();
    skintest::WriteBitmap(folder / "back.bmp", QSize(300, 200), kBackground);
    skintest::WriteBitmap(folder / "channel.bmp", QSize(200, 6), kChannel);
    skintest::WriteBitmap(folder / "thumb.bmp", QSize(20, 16), kThumb);
    skintest::WriteBitmap(folder / "active.bmp", QSize(20, 16), kActiveThumb);
    skintest::WriteBitmap(folder / "vchannel.bmp", QSize(6, 120), kChannel);
    WriteFile(folder / "Skin.ini",
              "[Main]\nScreen=back.bmp\n[COLOR]\nTRANSPARENT=0xFF00FF\n"
              "[SLIDERINFO]\n"
              "1=SLIDER_PROGRESS, channel.bmp, thumb.bmp, active.bmp, 10,10,50,12, H, 30, Position\n"
              "2=SLIDER_VOLUME, vchannel.bmp, thumb.bmp, active.bmp, 250,20,251,21, V, 0, Volume\n");
    skintest::ApplyLayout(dialog, folder.path(), "Skin.ini");
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    slider = dialog.FindSlider("SLIDER_PROGRESS");
    ASSERT_NE(slider, nullptr);
    slider->SetRange(0, 100);
    slider->SetPos(50);
  }

  reel::test::TempDir folder{"skinsliders"};
  skintest::RecordingDialog dialog;
  CSkinSlider* slider = nullptr;
};

TEST_F(SkinSliders, ControlTakesTheSizeOfChannelAndThumb) {
  // The layout rectangle is 40 x 2; the bitmaps make it 200 x 16 at the same place.
  EXPECT_EQ(slider->geometry(), QRect(10, 10, 200, 16));
  EXPECT_EQ(dialog.FindSlider("SLIDER_VOLUME")->geometry(), QRect(250, 20, 20, 120));
  EXPECT_FALSE(slider->IsVertical());
  EXPECT_TRUE(dialog.FindSlider("SLIDER_VOLUME")->IsVertical());
  EXPECT_EQ(slider->toolTip().toStdString(), "Position");
}

TEST_F(SkinSliders, PixelAndValueMapping) {
  struct MappingCase {
    int value;
    int pixel;
  };
  // 200 pixels wide with a 20-pixel thumb over 0 to 100.
  const MappingCase cases[] = {{0, 10}, {50, 100}, {100, 190}, {25, 55}, {33, 69}};
  for (const MappingCase& test : cases) EXPECT_EQ(slider->PixelOfValue(test.value), test.pixel) << test.value;
  EXPECT_EQ(slider->ValueOfPixel(100), 50);
  EXPECT_EQ(slider->ValueOfPixel(10), 0);
  EXPECT_EQ(slider->ValueOfPixel(190), 100);
  EXPECT_EQ(slider->ValueOfPixel(150), 77);  // 140 / 180 x 100, truncated

  CSkinSlider* vertical = dialog.FindSlider("SLIDER_VOLUME");
  vertical->SetRange(0, 10);
  // thumb height / 2 + v / 10 x (120 - 16), truncated
  EXPECT_EQ(vertical->PixelOfValue(0), 8);
  EXPECT_EQ(vertical->PixelOfValue(5), 60);
  EXPECT_EQ(vertical->PixelOfValue(3), 39);
  EXPECT_EQ(vertical->ValueOfPixel(60), 5);

  // An empty range never divides by zero.
  vertical->SetRange(4, 4);
  EXPECT_EQ(vertical->PixelOfValue(4), 8);
  EXPECT_EQ(vertical->GetPos(), 4);
}

TEST_F(SkinSliders, ThumbIsCentredOnThePositionAndChannelCoversOnlyThePassedPart) {
  const QImage picture = slider->grab().toImage();
  EXPECT_EQ(picture.pixelColor(90, 8), kThumb);
  EXPECT_EQ(picture.pixelColor(109, 8), kThumb);
  EXPECT_NE(picture.pixelColor(89, 8), kThumb);
  EXPECT_NE(picture.pixelColor(110, 8), kThumb);
  // The channel (6 high, centred on the 16-pixel thumb) up to pixel 100 only.
  EXPECT_EQ(picture.pixelColor(40, 8), kChannel);
  EXPECT_EQ(picture.pixelColor(40, 2), kBackground);
  EXPECT_EQ(picture.pixelColor(150, 8), kBackground);
}

TEST_F(SkinSliders, DraggingReportsClampedPositions) {
  QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, QPoint(150, 8));
  EXPECT_TRUE(slider->IsDragging());
  EXPECT_EQ(slider->GetPos(), 77);
  EXPECT_EQ(skintest::PixelOf(slider, slider->PixelOfValue(77), 8), kActiveThumb);
  QTest::mouseMove(slider, QPoint(2, 8));
  EXPECT_EQ(slider->GetPos(), 0);
  QTest::mouseMove(slider, QPoint(260, 8));
  EXPECT_EQ(slider->GetPos(), 100);
  QTest::mouseMove(slider, QPoint(100, 8));
  QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(100, 8));
  EXPECT_FALSE(slider->IsDragging());
  EXPECT_EQ(slider->GetPos(), 50);
  EXPECT_EQ(skintest::PixelOf(slider, 100, 8), kThumb);
  EXPECT_EQ(dialog.events, (std::vector<std::string>{"slider SLIDER_PROGRESS 77", "slider SLIDER_PROGRESS 0",
                                                      "slider SLIDER_PROGRESS 100", "slider SLIDER_PROGRESS 50"}));
  // Moves without a drag change nothing.
  QTest::mouseMove(slider, QPoint(20, 8));
  EXPECT_EQ(slider->GetPos(), 50);
}

TEST_F(SkinSliders, KeysMoveByOneAndByPageWithoutReporting) {
  struct KeyCase {
    Qt::Key key;
    int expected;
  };
  const KeyCase cases[] = {
      {Qt::Key_PageDown, 70}, {Qt::Key_PageDown, 90}, {Qt::Key_PageDown, 100}, {Qt::Key_Left, 99},
      {Qt::Key_Up, 98},       {Qt::Key_Right, 99},    {Qt::Key_Down, 100},     {Qt::Key_Home, 0},
      {Qt::Key_PageUp, 0},    {Qt::Key_End, 100},     {Qt::Key_PageUp, 80},
  };
  for (const KeyCase& test : cases) {
    QTest::keyClick(slider, test.key);
    EXPECT_EQ(slider->GetPos(), test.expected) << "key " << test.key;
  }
  EXPECT_TRUE(dialog.events.empty());
}

TEST_F(SkinSliders, DisablingEndsADragAndStopsInput) {
  QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, QPoint(100, 8));
  ASSERT_TRUE(slider->IsDragging());
  slider->Enable(false);
  EXPECT_FALSE(slider->IsDragging());
  QTest::keyClick(slider, Qt::Key_End);
  EXPECT_EQ(slider->GetPos(), 50);
  slider->Enable(true);
  QTest::keyClick(slider, Qt::Key_End);
  EXPECT_EQ(slider->GetPos(), 100);
}

TEST_F(SkinSliders, PositionIsClampedIntoTheRange) {
  dialog.SetSliderPos("SLIDER_PROGRESS", 500);
  EXPECT_EQ(dialog.GetSliderPos("SLIDER_PROGRESS"), 100);
  dialog.SetSliderPos("SLIDER_PROGRESS", -3);
  EXPECT_EQ(dialog.GetSliderPos("SLIDER_PROGRESS"), 0);
  slider->SetRange(10, 20);
  EXPECT_EQ(slider->GetPos(), 10);
  EXPECT_EQ(slider->GetRangeMax(), 20);
}

TEST(SkinProgress, ThreeWholeTilesAndOneSqueezedInto15Pixels) {
  skintest::Application();
  reel::test::TempDir folder("skinprogress");
  const QColor background(10, 10, 60);
  const QColor left(255, 0, 0);
  const QColor right(0, 255, 0);
  skintest::WriteBitmap(folder / "back.bmp", QSize(200, 60), background);
  skintest::WriteStrip(folder / "tile.bmp", QSize(10, 12), {left, right});  // one 20 x 12 tile, two halves
  WriteFile(folder / "ConvertSkin.ini",
            "[Main]\nScreen=back.bmp\n[PROGRESSINFO]\n1=PROGRESS_ONE, 10,10,160,22, tile.bmp\n"
            "2=PROGRESS_EMPTY, 10,30,160,42, none.bmp\n");
  CSkinDialog dialog;
  dialog.SetLayoutPath((folder / "ConvertSkin.ini").string());
  dialog.LoadConversionLayout();
  CSkinProgress* progress = dialog.FindProgress("PROGRESS_ONE");
  ASSERT_NE(progress, nullptr);
  ASSERT_EQ(progress->width(), 150);
  progress->SetRange(0, 100);
  progress->SetPos(50);
  EXPECT_EQ(progress->FillWidth(), 75);
  const QImage picture = progress->grab().toImage();
  for (int tile = 0; tile < 3; ++tile) {
    EXPECT_EQ(picture.pixelColor(tile * 20 + 1, 6), left) << "tile " << tile;
    EXPECT_EQ(picture.pixelColor(tile * 20 + 9, 6), left) << "tile " << tile;
    EXPECT_EQ(picture.pixelColor(tile * 20 + 10, 6), right) << "tile " << tile;
    EXPECT_EQ(picture.pixelColor(tile * 20 + 19, 6), right) << "tile " << tile;
  }
  // The fourth tile, squeezed from 20 into 15 pixels: halves of about 7.5.
  EXPECT_EQ(picture.pixelColor(60, 6), left);
  EXPECT_EQ(picture.pixelColor(66, 6), left);
  EXPECT_EQ(picture.pixelColor(69, 6), right);
  EXPECT_EQ(picture.pixelColor(74, 6), right);
  EXPECT_EQ(picture.pixelColor(75, 6), background);
  EXPECT_EQ(picture.pixelColor(149, 6), background);

  progress->SetPos(250);
  EXPECT_EQ(progress->GetPos(), 100);
  EXPECT_EQ(progress->FillWidth(), 150);
  progress->SetRange(0, 0);
  EXPECT_EQ(progress->FillWidth(), 0);

  // A bar without a tile draws only the background.
  CSkinProgress* empty = dialog.FindProgress("PROGRESS_EMPTY");
  ASSERT_NE(empty, nullptr);
  empty->SetPos(100);
  EXPECT_EQ(skintest::PixelOf(empty, 50, 6), background);
}

}  // namespace
