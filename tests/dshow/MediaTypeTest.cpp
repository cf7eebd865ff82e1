#include <gtest/gtest.h>

#include "platform/com/TaskMemory.h"
#include "platform/dshow/MediaType.h"
#include "tests/dshow/TestFilters.h"

namespace {

TEST(MediaType, LayoutsMatchWindows) {
  EXPECT_EQ(offsetof(VIDEOINFOHEADER, AvgTimePerFrame), 40u);
  EXPECT_EQ(offsetof(VIDEOINFOHEADER, bmiHeader), 48u);
  EXPECT_EQ(offsetof(WAVEFORMATEX, cbSize), 16u);
  EXPECT_EQ(offsetof(AM_MEDIA_TYPE, formattype), 44u);
  EXPECT_EQ(sizeof(VIDEOINFO), 1128u);
}

TEST(MediaType, CopyOwnsItsFormatBlock) {
  CMediaType original = reel::test::MakeRgbType(MEDIASUBTYPE_RGB24, 320, 240, 400000);
  CMediaType copy(original);
  ASSERT_NE(copy.Format(), original.Format());
  EXPECT_TRUE(copy == original);
  reinterpret_cast<VIDEOINFOHEADER*>(copy.Format())->bmiHeader.biWidth = 321;
  EXPECT_FALSE(copy == original);
  EXPECT_EQ(original.GetSampleSize(), 320u * 240u * 3u);

  AM_MEDIA_TYPE* handedOut = CreateMediaType(&original);
  ASSERT_NE(handedOut, nullptr);
  EXPECT_TRUE(CMediaType(*handedOut) == original);
  DeleteMediaType(handedOut);
}

TEST(MediaType, PartialMatchTreatsNullAsAny) {
  CMediaType full = reel::test::MakeRgbType(MEDIASUBTYPE_RGB32, 8, 8, 1);
  CMediaType anyVideo(&MEDIATYPE_Video);
  CMediaType audio(&MEDIATYPE_Audio);
  CMediaType otherSubtype(&MEDIATYPE_Video);
  otherSubtype.SetSubtype(&MEDIASUBTYPE_RGB24);
  EXPECT_TRUE(full.MatchesPartial(&anyVideo));
  EXPECT_TRUE(full.MatchesPartial(&full));
  EXPECT_FALSE(full.MatchesPartial(&audio));
  EXPECT_FALSE(full.MatchesPartial(&otherSubtype));
  EXPECT_TRUE(anyVideo.IsPartiallySpecified());
  EXPECT_FALSE(full.IsPartiallySpecified());
}

TEST(MediaType, BitmapSubtypes) {
  struct Case {
    WORD bits;
    DWORD compression;
    DWORD greenMask;
    GUID expected;
  };
  const Case cases[] = {
      {8, BI_RGB, 0, MEDIASUBTYPE_RGB8},          {16, BI_RGB, 0, MEDIASUBTYPE_RGB555},
      {16, BI_BITFIELDS, 0x07E0, MEDIASUBTYPE_RGB565}, {16, BI_BITFIELDS, 0x03E0, MEDIASUBTYPE_RGB555},
      {24, BI_RGB, 0, MEDIASUBTYPE_RGB24},        {32, BI_RGB, 0, MEDIASUBTYPE_RGB32},
      {12, MAKEFOURCC('I', '4', '2', '0'), 0, MEDIASUBTYPE_I420},
      {4, BI_RGB, 0, GUID_NULL},
  };
  for (const Case& test : cases) {
    struct {
      BITMAPINFOHEADER header;
      DWORD masks[3];
    } bitmap{};
    bitmap.header.biBitCount = test.bits;
    bitmap.header.biCompression = test.compression;
    bitmap.masks[1] = test.greenMask;
    EXPECT_EQ(GetBitmapSubtype(&bitmap.header), test.expected) << test.bits << " bits";
  }
}

TEST(MediaType, FormatAccessorsRejectShortBlocks) {
  CMediaType type(&MEDIATYPE_Video);
  type.SetFormatType(&FORMAT_VideoInfo);
  type.AllocFormatBuffer(20);  // shorter than a VIDEOINFOHEADER
  EXPECT_EQ(reel::VideoInfoOf(type), nullptr);
  EXPECT_EQ(reel::BitmapHeaderOf(type), nullptr);
  CMediaType wave(&MEDIATYPE_Audio);
  wave.SetFormatType(&FORMAT_WaveFormatEx);
  wave.AllocFormatBuffer(sizeof(WAVEFORMATEX));
  EXPECT_NE(reel::WaveFormatOf(wave), nullptr);
  EXPECT_EQ(reel::WaveFormatOf(type), nullptr);
}

TEST(MediaType, Describe) {
  EXPECT_EQ(reel::DescribeMediaType(reel::test::MakeRgbType(MEDIASUBTYPE_RGB24, 640, 480, 1)), "Video RGB24 640x480");
  CMediaType h264(&MEDIATYPE_Video);
  h264.SetSubtype(&MEDIASUBTYPE_H264);
  EXPECT_EQ(reel::DescribeMediaType(h264), "Video H264");
}

}  // namespace
