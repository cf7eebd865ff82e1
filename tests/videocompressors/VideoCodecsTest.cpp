// The codec information functions list the compressors of the category,
// describe them, refuse bad handles, and their configuration dialog changes
// the settings of compressors made afterwards.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QSpinBox>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/dshow/Compressor.h"
#include "platform/dshow/VideoCodecs.h"
#include "platform/ui/Window.h"
#include "platform/win/Strings.h"
#include "tests/fixtures/MediaProbe.h"
#include "tests/support/GraphHarness.h"
#include "tests/videocompressors/CompressorGraph.h"

namespace {

using reel::ComPtr;
using reel::test::CompressorGraph;
using reel::test::FindVideoCompressor;
using reel::test::QueryObject;

std::u16string DescriptionOf(const ICINFO& info) { return std::u16string(info.szDescription); }

// Every codec ICInfo lists, opened for query and described, in its order.
std::vector<ICINFO> ListedCodecs() {
  std::vector<ICINFO> codecs;
  ICINFO listed{};
  for (DWORD index = 0; ICInfo(ICTYPE_VIDEO, index, &listed); ++index) {
    HIC codec = ICOpen(ICTYPE_VIDEO, listed.fccHandler, ICMODE_QUERY);
    EXPECT_NE(codec, nullptr) << index;
    if (!codec) continue;
    ICINFO info{};
    EXPECT_EQ(ICGetInfo(codec, &info, sizeof(info)), static_cast<LRESULT>(sizeof(ICINFO)));
    EXPECT_EQ(ICClose(codec), ICERR_OK);
    codecs.push_back(info);
  }
  return codecs;
}

TEST(VideoCodecs, ListTheCategoryWithItsNamesAndFourccs) {
  std::vector<ICINFO> codecs = ListedCodecs();
  std::vector<std::u16string> descriptions;
  for (const ICINFO& info : codecs) {
    descriptions.push_back(DescriptionOf(info));
    EXPECT_EQ(info.dwSize, sizeof(ICINFO));
    EXPECT_EQ(info.fccType, ICTYPE_VIDEO);
    EXPECT_EQ(info.dwVersionICM, ICVERSION);
  }
  EXPECT_EQ(descriptions, reel::test::VideoCompressorNames());

  struct Expected {
    const char16_t* name;
    DWORD fourcc;
    bool quality;
    bool temporal;
  };
  const Expected expected[] = {
      {u"MJPEG Compressor", MakeCodecFourcc('M', 'J', 'P', 'G'), true, false},
      {u"Xvid MPEG-4 Codec", MakeCodecFourcc('X', 'V', 'I', 'D'), true, true},
      {u"DV Video Encoder", MakeCodecFourcc('d', 'v', 's', 'd'), false, false},
      {u"x264 H.264 Video Codec", MakeCodecFourcc('H', '2', '6', '4'), true, true},
      {u"Huffyuv Lossless Video Codec", MakeCodecFourcc('H', 'F', 'Y', 'U'), false, false},
      {u"Microsoft Video 1", MakeCodecFourcc('C', 'R', 'A', 'M'), false, true},
      {u"Microsoft MPEG-4 Video Codec V3", MakeCodecFourcc('M', 'P', '4', '3'), true, true},
  };
  for (const Expected& entry : expected) {
    auto found = std::find_if(codecs.begin(), codecs.end(), [&](const ICINFO& info) { return DescriptionOf(info) == entry.name; });
    ASSERT_NE(found, codecs.end()) << reel::Utf16ToUtf8(entry.name);
    EXPECT_EQ(found->fccHandler, entry.fourcc);
    EXPECT_EQ((found->dwFlags & VIDCF_QUALITY) != 0, entry.quality) << reel::Utf16ToUtf8(entry.name);
    EXPECT_EQ((found->dwFlags & VIDCF_TEMPORAL) != 0, entry.temporal) << reel::Utf16ToUtf8(entry.name);
  }
  ICINFO past{};
  EXPECT_FALSE(ICInfo(ICTYPE_VIDEO, static_cast<DWORD>(codecs.size()), &past));
  EXPECT_FALSE(ICInfo(MakeCodecFourcc('a', 'u', 'd', 'c'), 0, &past));
  EXPECT_FALSE(ICInfo(ICTYPE_VIDEO, 0, nullptr));
}

TEST(VideoCodecs, OpenByFourccInEveryCompressionMode) {
  // Letter case of the FOURCC does not matter.
  for (UINT mode : {ICMODE_QUERY, ICMODE_COMPRESS, ICMODE_FASTCOMPRESS}) {
    HIC codec = ICOpen(ICTYPE_VIDEO, MakeCodecFourcc('x', 'v', 'i', 'd'), mode);
    ASSERT_NE(codec, nullptr) << mode;
    ICINFO info{};
    EXPECT_GT(ICSendMessage(codec, ICM_GETINFO, reinterpret_cast<DWORD_PTR>(&info), sizeof(info)), 0);
    EXPECT_EQ(DescriptionOf(info), u"Xvid MPEG-4 Codec");
    DWORD keyFrames = 0;
    EXPECT_EQ(ICSendMessage(codec, ICM_GETDEFAULTKEYFRAMERATE, reinterpret_cast<DWORD_PTR>(&keyFrames), 0), ICERR_OK);
    EXPECT_EQ(keyFrames, 12u);
    EXPECT_EQ(ICClose(codec), ICERR_OK);
  }
  EXPECT_EQ(ICOpen(ICTYPE_VIDEO, MakeCodecFourcc('X', 'V', 'I', 'D'), ICMODE_DECOMPRESS), nullptr);
  EXPECT_EQ(ICOpen(ICTYPE_VIDEO, MakeCodecFourcc('N', 'O', 'N', 'E'), ICMODE_QUERY), nullptr);
  EXPECT_EQ(ICOpen(MakeCodecFourcc('a', 'u', 'd', 'c'), MakeCodecFourcc('X', 'V', 'I', 'D'), ICMODE_QUERY), nullptr);
}

TEST(VideoCodecs, BadHandlesAreRefused) {
  HIC codec = ICOpen(ICTYPE_VIDEO, MakeCodecFourcc('M', 'J', 'P', 'G'), ICMODE_QUERY);
  ASSERT_NE(codec, nullptr);
  ASSERT_EQ(ICClose(codec), ICERR_OK);
  int somethingElse = 0;
  for (HIC bad : {static_cast<HIC>(nullptr), codec, reinterpret_cast<HIC>(&somethingElse), reinterpret_cast<HIC>(0x10)}) {
    ICINFO info{};
    EXPECT_EQ(ICGetInfo(bad, &info, sizeof(info)), 0);
    EXPECT_EQ(ICSendMessage(bad, ICM_GETINFO, reinterpret_cast<DWORD_PTR>(&info), sizeof(info)), ICERR_BADHANDLE);
    EXPECT_EQ(ICConfigure(bad, nullptr), ICERR_BADHANDLE);
    EXPECT_FALSE(ICQueryConfigure(bad));
    EXPECT_EQ(ICClose(bad), ICERR_BADHANDLE);
  }
  // A short buffer gets what fits.
  codec = ICOpen(ICTYPE_VIDEO, MakeCodecFourcc('M', 'J', 'P', 'G'), ICMODE_QUERY);
  ICINFO info{};
  EXPECT_EQ(ICGetInfo(codec, &info, 12), 12);
  EXPECT_EQ(info.fccHandler, MakeCodecFourcc('M', 'J', 'P', 'G'));
  EXPECT_EQ(info.dwFlags, 0u);  // past the 12 bytes
  EXPECT_EQ(ICGetInfo(codec, nullptr, sizeof(info)), 0);
  EXPECT_EQ(ICSendMessage(codec, 0x7777, 0, 0), ICERR_UNSUPPORTED);
  EXPECT_EQ(ICClose(codec), ICERR_OK);
}

TEST(VideoCodecs, OnlyCodecsWithSettingsHaveADialog) {
  struct Case {
    DWORD fourcc;
    bool configurable;
  };
  for (const Case& entry : {Case{MakeCodecFourcc('X', 'V', 'I', 'D'), true}, Case{MakeCodecFourcc('M', 'J', 'P', 'G'), true},
                            Case{MakeCodecFourcc('C', 'R', 'A', 'M'), true}, Case{MakeCodecFourcc('H', 'F', 'Y', 'U'), false},
                            Case{MakeCodecFourcc('F', 'F', 'V', '1'), false}, Case{MakeCodecFourcc('d', 'v', 's', 'd'), false}}) {
    HIC codec = ICOpen(ICTYPE_VIDEO, entry.fourcc, ICMODE_FASTCOMPRESS);
    ASSERT_NE(codec, nullptr);
    EXPECT_EQ(ICQueryConfigure(codec) != FALSE, entry.configurable) << std::hex << entry.fourcc;
    // A codec without settings shows nothing (a dialog here would block).
    if (!entry.configurable) {
      EXPECT_EQ(ICConfigure(codec, nullptr), ICERR_UNSUPPORTED);
    }
    ICClose(codec);
  }
}

// Answers the next modal dialog: sets the named fields and accepts it, or
// rejects it. Records the fields the dialog had and its parent.
struct DialogAnswer {
  std::map<std::string, int> values;
  bool accept = true;
  bool seen = false;
  QWidget* parent = nullptr;
  std::vector<std::string> fields;

  void Arm() {
    QTimer::singleShot(0, [this] { Answer(); });
  }
  void Answer() {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog) {
      QTimer::singleShot(10, [this] { Answer(); });  // not shown yet
      return;
    }
    seen = true;
    parent = dialog->parentWidget();
    for (QSpinBox* field : dialog->findChildren<QSpinBox*>()) fields.push_back(field->objectName().toStdString());
    for (const auto& [name, value] : values) {
      auto* field = dialog->findChild<QSpinBox*>(QString::fromStdString(name));
      if (field) field->setValue(value);
    }
    if (accept) dialog->accept();
    else dialog->reject();
  }
};

// The dialog changes settings of the whole process: each test puts back
// what it found, so that no other test sees its changes.
class CodecDialog : public CompressorGraph {
 protected:
  void SetUp() override {
    reel::EnsureApplication();
    for (const reel::VideoCodecDescription& codec : reel::AvailableVideoCodecs())
      saved_.emplace_back(codec.clsid, reel::CurrentVideoCodecSettings(codec.clsid));
  }
  void TearDown() override {
    for (const auto& [clsid, settings] : saved_) EXPECT_EQ(reel::SetVideoCodecSettings(clsid, settings), S_OK);
  }

 private:
  std::vector<std::pair<CLSID, reel::VideoCodecSettings>> saved_;
};

TEST_F(CodecDialog, AChangeReachesTheNextCompressor) {
  QWidget owner;
  HWND parent = reel::RegisterWindow(&owner, nullptr);
  HIC codec = ICOpen(ICTYPE_VIDEO, MakeCodecFourcc('X', 'V', 'I', 'D'), ICMODE_FASTCOMPRESS);
  ASSERT_NE(codec, nullptr);

  // A compressor made before the change keeps the settings it started with.
  ComPtr<IBaseFilter> before = FindVideoCompressor(u"Xvid MPEG-4 Codec");
  ASSERT_TRUE(before);

  DialogAnswer answer;
  answer.values = {{"quality", 90}, {"keyFrameInterval", 4}};
  answer.Arm();
  EXPECT_EQ(ICConfigure(codec, parent), ICERR_OK);
  EXPECT_TRUE(answer.seen);
  EXPECT_EQ(answer.parent, &owner);
  EXPECT_EQ(answer.fields, (std::vector<std::string>{"quality", "keyFrameInterval", "bitRate"}));
  DWORD quality = 0;
  EXPECT_EQ(ICSendMessage(codec, ICM_GETQUALITY, reinterpret_cast<DWORD_PTR>(&quality), 0), ICERR_OK);
  EXPECT_EQ(quality, 9000u);
  EXPECT_EQ(ICClose(codec), ICERR_OK);

  ComPtr<IBaseFilter> after = FindVideoCompressor(u"Xvid MPEG-4 Codec");
  ASSERT_TRUE(after);
  auto settings = QueryObject<IAMVideoCompression>(after.Get());
  double readQuality = 0;
  long keyFrameRate = 0;
  EXPECT_EQ(settings->get_Quality(&readQuality), S_OK);
  EXPECT_DOUBLE_EQ(readQuality, 0.9);
  EXPECT_EQ(settings->get_KeyFrameRate(&keyFrameRate), S_OK);
  EXPECT_EQ(keyFrameRate, 4);
  auto earlier = QueryObject<IAMVideoCompression>(before.Get());
  EXPECT_EQ(earlier->get_KeyFrameRate(&keyFrameRate), S_OK);
  EXPECT_EQ(keyFrameRate, 12);

  // The file shows it: a key frame every 4 frames.
  auto source = WriteSource("avi-video-only", [](reel::fixtures::ClipSpec& clip) { clip.frameCount = 12; });
  auto output = folder / "configured.avi";
  ASSERT_TRUE(Convert(source, output, after.Get(), MEDIASUBTYPE_RGB24));
  std::vector<bool> keys = reel::test::VideoKeyFrames(output.string());
  ASSERT_EQ(keys.size(), 12u);
  for (std::size_t index = 0; index < keys.size(); ++index) EXPECT_EQ(keys[index], index % 4 == 0) << index;
  DestroyWindow(parent);
}

// Rates this small clip can reach: with its simple pictures the finest
// quantiser gives about 220 kbit/s, the coarsest about 50.
TEST_F(CodecDialog, BitRateChosenInTheDialogSetsTheStreamSize) {
  std::vector<std::uintmax_t> sizes;
  auto source = WriteSource("avi-video-only");
  const int rates[] = {80, 180};
  for (int kilobits : rates) {
    HIC codec = ICOpen(ICTYPE_VIDEO, MakeCodecFourcc('M', 'P', '4', '2'), ICMODE_FASTCOMPRESS);
    ASSERT_NE(codec, nullptr);
    DialogAnswer answer;
    answer.values = {{"quality", -1}, {"bitRate", kilobits}};
    answer.Arm();
    EXPECT_EQ(ICConfigure(codec, nullptr), ICERR_OK);
    EXPECT_TRUE(answer.seen);
    ICClose(codec);
    EXPECT_EQ(reel::CurrentVideoCodecSettings(CLSID_MsMpeg4V2Compressor).bitRate, kilobits * 1000L);
    ComPtr<IBaseFilter> compressor = FindVideoCompressor(u"Microsoft MPEG-4 Video Codec V2");
    auto output = folder / ("rate" + std::to_string(kilobits) + ".avi");
    ASSERT_TRUE(Convert(source, output, compressor.Get(), MEDIASUBTYPE_RGB24));
    reel::fixtures::MediaReport report = reel::fixtures::Probe(output.string());
    ASSERT_TRUE(report.ok && report.FirstVideo()) << report.error;
    EXPECT_EQ(report.FirstVideo()->decodeErrors, 0);
    sizes.push_back(reel::test::VideoBytes(output.string()));
    // Near the rate: a one-second clip leaves the rate control little room
    // to settle.
    double kilobitsWritten = sizes.back() * 8.0 / 1000 / spec.LengthSeconds();
    EXPECT_NEAR(kilobitsWritten, kilobits, kilobits * 0.35) << kilobits;
  }
  EXPECT_GT(sizes[1], sizes[0] * 3 / 2);
}

TEST_F(CodecDialog, CancellingChangesNothing) {
  reel::VideoCodecSettings before = reel::CurrentVideoCodecSettings(CLSID_CinepakCompressor);
  HIC codec = ICOpen(ICTYPE_VIDEO, MakeCodecFourcc('c', 'v', 'i', 'd'), ICMODE_FASTCOMPRESS);
  ASSERT_NE(codec, nullptr);
  DialogAnswer answer;
  answer.values = {{"quality", 10}, {"keyFrameInterval", 3}};
  answer.accept = false;
  answer.Arm();
  EXPECT_EQ(ICConfigure(codec, nullptr), ICERR_OK);
  EXPECT_TRUE(answer.seen);
  // Cinepak has no bit rate control: no field for it.
  EXPECT_EQ(answer.fields, (std::vector<std::string>{"quality", "keyFrameInterval"}));
  ICClose(codec);
  reel::VideoCodecSettings after = reel::CurrentVideoCodecSettings(CLSID_CinepakCompressor);
  EXPECT_EQ(after.quality, before.quality);
  EXPECT_EQ(after.keyFrameRate, before.keyFrameRate);
}

TEST(VideoCodecSettings, ImpossibleSettingsAreRefused) {
  const reel::VideoCodecSettings before = reel::CurrentVideoCodecSettings(CLSID_Mpeg4Compressor);
  reel::VideoCodecSettings settings;
  settings.quality = 2.0;
  EXPECT_EQ(reel::SetVideoCodecSettings(CLSID_Mpeg4Compressor, settings), E_INVALIDARG);
  settings.quality = 0.5;
  settings.keyFrameRate = -1;
  EXPECT_EQ(reel::SetVideoCodecSettings(CLSID_Mpeg4Compressor, settings), E_INVALIDARG);
  settings.keyFrameRate = reel::kLongestKeyFrameInterval + 1;
  EXPECT_EQ(reel::SetVideoCodecSettings(CLSID_Mpeg4Compressor, settings), E_INVALIDARG);
  settings.keyFrameRate = 0;
  settings.bitRate = -5;
  EXPECT_EQ(reel::SetVideoCodecSettings(CLSID_Mpeg4Compressor, settings), E_INVALIDARG);
  settings.bitRate = 1L << 40;
  EXPECT_EQ(reel::SetVideoCodecSettings(CLSID_Mpeg4Compressor, settings), E_INVALIDARG);
  // Settings a codec does not have.
  settings.bitRate = 0;
  EXPECT_EQ(reel::SetVideoCodecSettings(CLSID_HuffyuvCompressor, settings), E_INVALIDARG);
  settings.quality = -1;
  settings.keyFrameRate = 10;
  EXPECT_EQ(reel::SetVideoCodecSettings(CLSID_Ffv1Compressor, settings), E_INVALIDARG);
  EXPECT_EQ(reel::SetVideoCodecSettings(CLSID_FileWriter, settings), E_FAIL);
  // Nothing was stored.
  EXPECT_EQ(reel::CurrentVideoCodecSettings(CLSID_Mpeg4Compressor).quality, before.quality);
  EXPECT_EQ(reel::CurrentVideoCodecSettings(CLSID_Mpeg4Compressor).keyFrameRate, before.keyFrameRate);
  EXPECT_EQ(reel::CurrentVideoCodecSettings(CLSID_Mpeg4Compressor).bitRate, before.bitRate);
}

}  // namespace
