// The picture and text pieces the overlay filter draws with: DIB rows and
// blending, image files through FFmpeg, fonts through fontconfig.
#include <gtest/gtest.h>

#include "platform/gdiplus/DibPicture.h"
#include "platform/gdiplus/DrawingLayer.h"
#include "platform/gdiplus/ImageFile.h"
#include "platform/gdiplus/TextLayout.h"
#include "tests/support/TempDir.h"

namespace {

TEST(DibPicture, RowsFollowTheRowOrderAndStayInsideTheBuffer) {
  EXPECT_EQ(reel::DibStride(5, 24), 16u);  // 15 bytes padded to 4
  EXPECT_EQ(reel::DibStride(5, 32), 20u);
  std::vector<uint8_t> bits(16 * 3);
  reel::DibView view{bits.data(), bits.size(), 5, 3, 3, true};
  EXPECT_EQ(view.Row(0), bits.data() + 32);  // the top row is last in memory
  EXPECT_EQ(view.Row(2), bits.data());
  view.bottomUp = false;
  EXPECT_EQ(view.Row(0), bits.data());
  EXPECT_EQ(view.Row(3), nullptr);
  EXPECT_EQ(view.Row(-1), nullptr);
  view.size = 16 + 14;  // the second row is one byte short
  EXPECT_NE(view.Row(0), nullptr);
  EXPECT_EQ(view.Row(1), nullptr);
}

TEST(DibPicture, BlendingIsSourceOverAndClipped) {
  std::vector<uint8_t> bits(reel::DibStride(4, 32) * 2, 100);
  reel::DibView view{bits.data(), bits.size(), 4, 2, 4, false};
  // Premultiplied: half-transparent red (128, 0, 0, a 128) and opaque blue.
  const uint32_t layer[2] = {0x80800000u, 0xFF0000FFu};
  reel::BlendPremultiplied(view, layer, 8, 2, 1, 3, 1);  // only the first pixel lands
  const uint8_t* pixel = view.Row(1) + 12;
  EXPECT_EQ(pixel[0], 50);       // blue: 100 * 127 / 255
  EXPECT_EQ(pixel[2], 128 + 50);  // red
  EXPECT_EQ(pixel[3], 100);      // the fourth byte is kept
  EXPECT_EQ(view.Row(1)[8], 100);
  // Straight alpha with an opacity: white at 255 x 0.5.
  const uint8_t rgba[8] = {255, 255, 255, 255, 0, 0, 0, 0};
  reel::BlendStraightRgba(view, rgba, 8, 2, 1, -1, 0, 127);  // the first pixel is clipped away
  EXPECT_EQ(view.Row(0)[0], 100);  // the transparent second pixel
  reel::BlendStraightRgba(view, rgba, 8, 2, 1, 0, 0, 127);
  EXPECT_EQ(view.Row(0)[0], (255 * 127 + 100 * 128 + 127) / 255);
  // Far outside, nothing happens and nothing overflows.
  reel::BlendStraightRgba(view, rgba, 8, 2, 1, 2147483600, -2147483600, 255);
  reel::BlendPremultiplied(view, layer, 8, 2, 1, -2147483647, 0);
}

reel::RgbaPicture Gradient(int width, int height) {
  reel::RgbaPicture picture;
  picture.width = width;
  picture.height = height;
  picture.pixels.resize(picture.Stride() * height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = picture.Pixel(x, y);
      p[0] = static_cast<uint8_t>(x * 7);
      p[1] = static_cast<uint8_t>(y * 11);
      p[2] = static_cast<uint8_t>(x + y);
      p[3] = static_cast<uint8_t>(255 - x);
    }
  return picture;
}

TEST(ImageFile, WritesAndReadsBackEveryFormat) {
  reel::test::TempDir folder;
  struct Case {
    const char* name;
    bool keepsAlpha;
    int tolerance;
  } cases[] = {{"p.png", true, 0}, {"p.tif", true, 0}, {"p.bmp", false, 0}, {"p.jpg", false, 12}};
  const reel::RgbaPicture picture = Gradient(33, 17);
  for (const Case& c : cases) {
    std::string path = (folder / c.name).string(), error;
    ASSERT_TRUE(reel::SaveImageFile(path, picture, &error)) << c.name << ": " << error;
    reel::RgbaPicture back;
    ASSERT_TRUE(reel::LoadImageFile(path, &back, &error)) << c.name << ": " << error;
    ASSERT_EQ(back.width, 33);
    ASSERT_EQ(back.height, 17);
    int worst = 0;
    for (int y = 0; y < 17; ++y)
      for (int x = 0; x < 33; ++x)
        for (int channel = 0; channel < 3; ++channel)
          worst = std::max(worst, std::abs(back.Pixel(x, y)[channel] - picture.Pixel(x, y)[channel]));
    EXPECT_LE(worst, c.tolerance) << c.name;
    EXPECT_EQ(back.Pixel(10, 3)[3], c.keepsAlpha ? 245 : 255) << c.name;
  }
  EXPECT_FALSE(reel::SaveImageFile((folder / "p.xyz").string(), picture));
  EXPECT_FALSE(std::filesystem::exists(folder / "p.xyz"));
}

TEST(ImageFile, RefusesWhatIsNotAPicture) {
  reel::test::TempDir folder;
  std::string png;
  ASSERT_TRUE(reel::SaveImageFile((folder / "good.png").string(), Gradient(40, 40)));
  png = reel::test::ReadFile(folder / "good.png");
  reel::test::WriteFile(folder / "truncated.png", png.substr(0, png.size() / 3));
  std::string flipped = png;
  for (std::size_t index = 40; index < flipped.size(); index += 7) flipped[index] = static_cast<char>(~flipped[index]);
  reel::test::WriteFile(folder / "garbled.png", flipped);
  reel::test::WriteFile(folder / "empty.bmp", "");
  reel::test::WriteFile(folder / "text.jpg", "just some text, not a picture at all");
  // A BMP header claiming an enormous picture.
  std::string bmp = "BM";
  bmp.resize(54, '\0');
  bmp[10] = 54;
  bmp[14] = 40;
  bmp[18] = bmp[19] = bmp[20] = '\xFF', bmp[21] = 0x7F;  // width 2^31-1
  bmp[22] = bmp[23] = bmp[24] = '\xFF', bmp[25] = 0x7F;
  bmp[26] = 1;
  bmp[28] = 24;
  reel::test::WriteFile(folder / "huge.bmp", bmp);
  for (const char* name : {"missing.png", "truncated.png", "garbled.png", "empty.bmp", "text.jpg", "huge.bmp", "."}) {
    reel::RgbaPicture picture;
    std::string error;
    bool loaded = reel::LoadImageFile((folder / name).string(), &picture, &error);
    if (std::string(name) == "garbled.png" && loaded) continue;  // damage may leave a decodable picture
    EXPECT_FALSE(loaded) << name;
    EXPECT_FALSE(error.empty()) << name;
  }
}

TEST(Fonts, WindowsNamesResolveAndUnknownNamesDoNot) {
  EXPECT_TRUE(reel::FontFamilyExists("Arial"));
  EXPECT_TRUE(reel::FontFamilyExists("arial"));
  EXPECT_TRUE(reel::FontFamilyExists("Times New Roman"));
  EXPECT_TRUE(reel::FontFamilyExists("DejaVu Sans"));
  EXPECT_FALSE(reel::FontFamilyExists("No Such Font Family 4711"));
  EXPECT_FALSE(reel::FontFamilyExists(""));
  EXPECT_EQ(reel::TextFont::Create("No Such Font Family 4711", 24, 0), nullptr);
  EXPECT_EQ(reel::TextFont::Create("Arial", 0, 0), nullptr);
  EXPECT_NE(reel::TextFont::Create("Arial", 24, reel::kFontBold | reel::kFontUnderline), nullptr);
}

TEST(TextLayout, MeasuresBySizeLengthAndLines) {
  reel::TextLayout layout;
  auto small = reel::TextFont::Create("Arial", 12, 0);
  auto large = reel::TextFont::Create("Arial", 36, 0);
  layout.SetFont(small);
  layout.SetText("Hello");
  reel::TextBox smallBox = layout.LogicalBox();
  layout.SetFont(large);
  reel::TextBox largeBox = layout.LogicalBox();
  EXPECT_NEAR(largeBox.width / smallBox.width, 3.0, 0.3);
  EXPECT_NEAR(largeBox.height / smallBox.height, 3.0, 0.3);
  layout.SetText("H\ne\nl\n");
  reel::TextBox lines = layout.LogicalBox();
  EXPECT_GE(lines.height, 3 * largeBox.height * 0.95);
  EXPECT_LT(lines.width, largeBox.width / 2);

  // Drawn, the glyphs land inside the measured box.
  layout.SetText("Hello");
  std::vector<uint8_t> bits(reel::DibStride(200, 24) * 60, 0);
  reel::DibView view{bits.data(), bits.size(), 200, 60, 3, true};
  reel::DrawingLayer layer;
  ASSERT_TRUE(layer.Begin(0, 0, 200, 60));
  layer.DrawText(layout, 10, 5, 0xFFFFFFFF);
  layer.BlendOnto(view);
  int lit = 0, outside = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 200; ++x)
      if (view.Row(y)[x * 3] > 0) {
        ++lit;
        if (x < 10 || x > 10 + largeBox.width + 1 || y < 5 || y > 5 + largeBox.height + 1) ++outside;
      }
  EXPECT_GT(lit, 100);
  EXPECT_EQ(outside, 0);
}

}  // namespace
