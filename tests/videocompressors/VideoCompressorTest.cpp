// Every video compressor of the category writes an AVI file that FFmpeg and
// mpv read back as the codec it names; settings change what is written;
// inputs and settings a codec cannot take are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <vector>

#include "platform/dshow/Compressor.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/MediaType.h"
#include "platform/win/Strings.h"
#include "tests/fixtures/MediaProbe.h"
#include "tests/support/GraphHarness.h"
#include "tests/support/PlayerCheck.h"
#include "tests/videocompressors/CompressorGraph.h"

namespace {

using reel::ComPtr;
using reel::test::CompressorGraph;
using reel::test::FindVideoCompressor;
using reel::test::PinsOf;
using reel::test::QueryObject;
namespace fixtures = reel::fixtures;

// Where a child run of the catalogue test writes the names it listed.
constexpr const char* kCatalogueFileVariable = "REELPRESS_TEST_CATALOGUE_FILE";

struct CompressorCase {
  const char* test;
  const char16_t* friendlyName;
  const char* codecName;  // as libavformat reads the file back
  const char* fourcc;     // as the file stores it
  GUID inputSubtype;      // what the compressor is offered
  bool readableCodes;     // one picture per frame, whose frame number survives the codec's loss
  // The stream's own size and rate when the codec has one (DV), else 0:
  // the clip's.
  int width = 0;
  int height = 0;
  double frameRate = 0;
};

void PrintTo(const CompressorCase& entry, std::ostream* stream) { *stream << entry.test; }

const CompressorCase kCases[] = {
    {"Mjpeg", u"MJPEG Compressor", "mjpeg", "MJPG", MEDIASUBTYPE_RGB24, true},
    {"Xvid", u"Xvid MPEG-4 Codec", "mpeg4", "XVID", MEDIASUBTYPE_I420, true},
    {"H264", u"x264 H.264 Video Codec", "h264", "H264", MEDIASUBTYPE_RGB24, true},
    {"Huffyuv", u"Huffyuv Lossless Video Codec", "huffyuv", "HFYU", MEDIASUBTYPE_YUY2, true},
    {"Ffv1", u"FFV1 Lossless Video Codec", "ffv1", "FFV1", MEDIASUBTYPE_RGB32, true},
    {"Cinepak", u"Cinepak Video Codec", "cinepak", "cvid", MEDIASUBTYPE_RGB24, false},
    {"MsVideo1", u"Microsoft Video 1", "msvideo1", "CRAM", MEDIASUBTYPE_RGB555, false},
    {"MsMpeg4V2", u"Microsoft MPEG-4 Video Codec V2", "msmpeg4v2", "MP42", MEDIASUBTYPE_RGB24, true},
    {"MsMpeg4V3", u"Microsoft MPEG-4 Video Codec V3", "msmpeg4v3", "MP43", MEDIASUBTYPE_RGB565, true},
    // NTSC unless IDVEnc says otherwise.
    {"Dv", u"DV Video Encoder", "dvvideo", "dvsd", MEDIASUBTYPE_RGB24, false, 720, 480, 30000.0 / 1001},
};

std::vector<int> Positions(const fixtures::ClipSpec& spec) {
  std::vector<int> positions;
  for (int index = 0; index < spec.VideoFrameCount(); ++index) positions.push_back(index);
  return positions;
}

// Where the decoded pictures of a clip end, in seconds from the start of the
// stream: its length, plus the B-frame delay of a container that stores no
// presentation times (the first picture then starts one frame late).
double DecodedEnd(const std::filesystem::path& source, const fixtures::ClipSpec& spec) {
  fixtures::MediaReport report = fixtures::Probe(source.string());
  const fixtures::StreamReport* video = report.FirstVideo();
  EXPECT_TRUE(video && !std::isnan(video->firstPts)) << report.error;
  double start = video && !std::isnan(video->firstPts) ? video->firstPts : 0;
  return start + spec.LengthSeconds();
}

class EveryCompressor : public CompressorGraph, public ::testing::WithParamInterface<CompressorCase> {};

TEST_P(EveryCompressor, WritesAnAviThatDecodesAndPlays) {
  const CompressorCase& entry = GetParam();
  ComPtr<IBaseFilter> compressor = FindVideoCompressor(entry.friendlyName);
  ASSERT_TRUE(compressor) << reel::Utf16ToUtf8(entry.friendlyName);
  auto source = WriteSource("avi");
  auto output = folder / "out.avi";
  ASSERT_TRUE(Convert(source, output, compressor.Get(), entry.inputSubtype));

  fixtures::MediaReport report = fixtures::Probe(output.string());
  ASSERT_TRUE(report.ok) << report.error;
  EXPECT_EQ(report.formatName, "avi");
  const fixtures::StreamReport* video = report.FirstVideo();
  ASSERT_NE(video, nullptr) << fixtures::FormatReport(output.string(), report);
  ASSERT_NE(report.FirstAudio(), nullptr);
  EXPECT_EQ(video->codecName, entry.codecName);
  EXPECT_EQ(video->width, entry.width ? entry.width : spec.width);
  EXPECT_EQ(video->height, entry.height ? entry.height : spec.height);
  EXPECT_NEAR(video->frameRate, entry.frameRate ? entry.frameRate : spec.frameRate.value(), 0.01);
  EXPECT_EQ(video->decodeErrors, 0);
  // A frame per picture, or, at a rate of the codec's own, as many frames
  // as the pictures last.
  double frames = entry.frameRate ? DecodedEnd(source, spec) * entry.frameRate : spec.VideoFrameCount();
  EXPECT_NEAR(static_cast<double>(video->decodedFrames), frames, 1.0);
  if (entry.readableCodes) {
    EXPECT_EQ(video->frameNumbers, Positions(spec));
  }
  EXPECT_EQ(report.FirstAudio()->codecName, "pcm_s16le");
  EXPECT_NE(reel::test::ReadFile(output).find(entry.fourcc), std::string::npos);

  reel::test::PlayerVerdict verdict = reel::test::PlayInMpv(output.string());
  EXPECT_TRUE(verdict.played) << verdict.log;
}

INSTANTIATE_TEST_SUITE_P(Compressors, EveryCompressor, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CompressorCase>& info) { return info.param.test; });

// The table above covers the whole category.
TEST(VideoCompressorCategory, EveryEntryIsConverted) {
  std::vector<std::u16string> names = reel::test::VideoCompressorNames();
  ASSERT_FALSE(names.empty());
  std::vector<std::u16string> converted;
  for (const CompressorCase& entry : kCases) converted.push_back(entry.friendlyName);
  std::sort(names.begin(), names.end());
  std::sort(converted.begin(), converted.end());
  EXPECT_EQ(names, converted);
}

// The category lists the codecs in one fixed order, each once, the same as
// the codec descriptions.
TEST(VideoCompressorCategory, ListsEveryCodecOnceInTableOrder) {
  std::vector<std::u16string> names = reel::test::VideoCompressorNames();
  std::vector<std::u16string> described;
  for (const reel::VideoCodecDescription& codec : reel::AvailableVideoCodecs()) described.push_back(codec.name);
  EXPECT_EQ(names, described);
  const std::u16string expected[] = {u"MJPEG Compressor",
                                     u"Xvid MPEG-4 Codec",
                                     u"DV Video Encoder",
                                     u"x264 H.264 Video Codec",
                                     u"Huffyuv Lossless Video Codec",
                                     u"FFV1 Lossless Video Codec",
                                     u"Cinepak Video Codec",
                                     u"Microsoft Video 1",
                                     u"Microsoft MPEG-4 Video Codec V2",
                                     u"Microsoft MPEG-4 Video Codec V3"};
  // Every encoder of the table exists in the FFmpeg this runs on.
  EXPECT_EQ(names, std::vector<std::u16string>(std::begin(expected), std::end(expected)));
  EXPECT_EQ(reel::test::VideoCompressorNames(), names);
  // Run as a child of SameInEveryProcess: hand the list to the parent.
  if (const char* listFile = std::getenv(kCatalogueFileVariable)) {
    std::string lines;
    for (const std::u16string& name : names) lines += reel::Utf16ToUtf8(name) + "\n";
    reel::test::WriteFile(listFile, lines);
  }
}

// Runs ListsEveryCodecOnceInTableOrder in a new process of this program;
// the names that process enumerated, one a line, or "" when it failed.
// With a registry of its own, the child registers everything afresh;
// otherwise it opens the registry this process already wrote.
std::string CatalogueOfChild(const std::filesystem::path& listFile, bool ownRegistry) {
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  std::string command = std::string("env ") + (ownRegistry ? "-u REELPRESS_REGISTRY " : "") + kCatalogueFileVariable +
                        "='" + listFile.string() + "' '" + self.string() +
                        "' --gtest_filter=VideoCompressorCategory.ListsEveryCodecOnceInTableOrder >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0 || !std::filesystem::exists(listFile)) return {};
  return reel::test::ReadFile(listFile);
}

TEST(VideoCompressorCategory, SameInEveryProcess) {
  std::string here;
  for (const std::u16string& name : reel::test::VideoCompressorNames()) here += reel::Utf16ToUtf8(name) + "\n";
  ASSERT_FALSE(here.empty());
  reel::test::TempDir folder("catalogue");
  std::string fresh = CatalogueOfChild(folder / "fresh.txt", true);
  std::string shared = CatalogueOfChild(folder / "shared.txt", false);
  EXPECT_EQ(fresh, here);
  EXPECT_EQ(shared, here);
}

// ---------------------------------------------------------------------------
// DV: NTSC or PAL DVSD frames as IDVEnc asked.

struct DvCase {
  const char* test;
  int videoFormat;
  int resolution;
  int width;
  int height;
  double frameRate;
  const char* pixelFormat;
};

void PrintTo(const DvCase& entry, std::ostream* stream) { *stream << entry.test; }

class DvOutput : public CompressorGraph, public ::testing::WithParamInterface<DvCase> {};

TEST_P(DvOutput, WritesFullDvFramesOfTheStandard) {
  const DvCase& entry = GetParam();
  ComPtr<IBaseFilter> encoder = FindVideoCompressor(u"DV Video Encoder");
  ASSERT_TRUE(encoder);
  auto dv = QueryObject<IDVEnc>(encoder.Get());
  ASSERT_TRUE(dv);
  ASSERT_EQ(dv->put_IFormatResolution(entry.videoFormat, DVENCODERFORMAT_DVSD, entry.resolution, FALSE, nullptr), S_OK);
  int videoFormat = 0, dvFormat = 0, resolution = 0;
  ASSERT_EQ(dv->get_IFormatResolution(&videoFormat, &dvFormat, &resolution, FALSE, nullptr), S_OK);
  EXPECT_EQ(videoFormat, entry.videoFormat);
  EXPECT_EQ(dvFormat, DVENCODERFORMAT_DVSD);
  EXPECT_EQ(resolution, entry.resolution);

  auto source = WriteSource("avi");
  auto output = folder / "dv.avi";
  ASSERT_TRUE(Convert(source, output, encoder.Get(), MEDIASUBTYPE_RGB24));
  fixtures::MediaReport report = fixtures::Probe(output.string());
  ASSERT_TRUE(report.ok) << report.error;
  const fixtures::StreamReport* video = report.FirstVideo();
  ASSERT_NE(video, nullptr);
  EXPECT_EQ(video->codecName, "dvvideo");
  EXPECT_EQ(video->width, entry.width);
  EXPECT_EQ(video->height, entry.height);
  EXPECT_EQ(video->pixelFormat, entry.pixelFormat);
  EXPECT_NEAR(video->frameRate, entry.frameRate, 0.01);
  EXPECT_EQ(video->decodeErrors, 0);
  // The frame rate is converted: as many frames as the pictures last.
  EXPECT_NEAR(static_cast<double>(video->decodedFrames), DecodedEnd(source, spec) * entry.frameRate, 1.0);
  // Pictures are scaled, not cropped: the frame codes still read, in order.
  std::vector<int> numbers = video->frameNumbers;
  ASSERT_FALSE(numbers.empty());
  EXPECT_EQ(numbers.front(), 0);
  EXPECT_EQ(numbers.back(), spec.VideoFrameCount() - 1);
  EXPECT_TRUE(std::is_sorted(numbers.begin(), numbers.end()));
  EXPECT_NE(reel::test::ReadFile(output).find("dvsd"), std::string::npos);
  reel::test::PlayerVerdict verdict = reel::test::PlayInMpv(output.string());
  EXPECT_TRUE(verdict.played) << verdict.log;
}

// The two calls the editing control makes, and the other resolutions: the
// stream always holds full frames.
INSTANTIATE_TEST_SUITE_P(
    Standards, DvOutput,
    ::testing::Values(DvCase{"NtscHalf", DVENCODERVIDEOFORMAT_NTSC, DVENCODERRESOLUTION_360x240, 720, 480, 30000.0 / 1001, "yuv411p"},
                      DvCase{"PalFull", DVENCODERVIDEOFORMAT_PAL, DVENCODERRESOLUTION_720x480, 720, 576, 25.0, "yuv420p"},
                      DvCase{"NtscEighth", DVENCODERVIDEOFORMAT_NTSC, DVENCODERRESOLUTION_88x60, 720, 480, 30000.0 / 1001, "yuv411p"},
                      DvCase{"PalQuarter", DVENCODERVIDEOFORMAT_PAL, DVENCODERRESOLUTION_180x120, 720, 576, 25.0, "yuv420p"}),
    [](const ::testing::TestParamInfo<DvCase>& info) { return info.param.test; });

TEST(DvEncoder, RefusesWhatItCannotMake) {
  ComPtr<IBaseFilter> encoder = FindVideoCompressor(u"DV Video Encoder");
  ASSERT_TRUE(encoder);
  auto dv = QueryObject<IDVEnc>(encoder.Get());
  ASSERT_TRUE(dv);
  struct Call {
    int videoFormat, dvFormat, resolution;
    HRESULT expected;
  };
  const Call calls[] = {
      {DVENCODERVIDEOFORMAT_PAL, DVENCODERFORMAT_DVSD, DVENCODERRESOLUTION_720x480, S_OK},
      {1999, DVENCODERFORMAT_DVSD, DVENCODERRESOLUTION_720x480, E_INVALIDARG},
      {DVENCODERVIDEOFORMAT_NTSC, 2006, DVENCODERRESOLUTION_720x480, E_INVALIDARG},
      {DVENCODERVIDEOFORMAT_NTSC, DVENCODERFORMAT_DVSD, 2016, E_INVALIDARG},
      {DVENCODERVIDEOFORMAT_NTSC, DVENCODERFORMAT_DVSD, 2011, E_INVALIDARG},
      {DVENCODERVIDEOFORMAT_NTSC, DVENCODERFORMAT_DVHD, DVENCODERRESOLUTION_720x480, E_NOTIMPL},
      {DVENCODERVIDEOFORMAT_NTSC, DVENCODERFORMAT_DVSL, DVENCODERRESOLUTION_720x480, E_NOTIMPL},
  };
  for (const Call& call : calls)
    EXPECT_EQ(dv->put_IFormatResolution(call.videoFormat, call.dvFormat, call.resolution, FALSE, nullptr), call.expected)
        << call.videoFormat << " " << call.dvFormat << " " << call.resolution;
  // A refused call changes nothing.
  int videoFormat = 0, dvFormat = 0, resolution = 0;
  ASSERT_EQ(dv->get_IFormatResolution(&videoFormat, &dvFormat, &resolution, FALSE, nullptr), S_OK);
  EXPECT_EQ(videoFormat, DVENCODERVIDEOFORMAT_PAL);
  EXPECT_EQ(resolution, DVENCODERRESOLUTION_720x480);
  EXPECT_EQ(dv->get_IFormatResolution(nullptr, &dvFormat, &resolution, FALSE, nullptr), E_POINTER);
  EXPECT_EQ(dv->put_IFormatResolution(DVENCODERVIDEOFORMAT_PAL, DVENCODERFORMAT_DVSD, DVENCODERRESOLUTION_720x480, TRUE,
                                      nullptr),
            E_POINTER);
  // Only the DV encoder answers IDVEnc.
  EXPECT_FALSE(QueryObject<IDVEnc>(FindVideoCompressor(u"MJPEG Compressor").Get()));
}

// A DV stream holds whole frames of its standard: an output type of another
// size is refused, and so is a change of standard once the output is
// connected.
class DvOutputType : public CompressorGraph {
 protected:
  static CMediaType DvType(int width, int height) {
    CMediaType type(&MEDIATYPE_Video);
    GUID subtype = FourccSubtype(MAKEFOURCC('d', 'v', 's', 'd'));
    type.SetSubtype(&subtype);
    type.SetFormatType(&FORMAT_VideoInfo);
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
    *info = VIDEOINFOHEADER{};
    info->AvgTimePerFrame = UNITS / 25;
    info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info->bmiHeader.biWidth = width;
    info->bmiHeader.biHeight = height;
    info->bmiHeader.biPlanes = 1;
    info->bmiHeader.biBitCount = 24;
    info->bmiHeader.biCompression = MAKEFOURCC('d', 'v', 's', 'd');
    return type;
  }
};

TEST_F(DvOutputType, OnlyTheStandardsFrameConnects) {
  struct Case {
    const char* name;
    int videoFormat;
    int width;
    int height;
    bool accepted;
  };
  const Case cases[] = {
      {"NTSC 720x480", DVENCODERVIDEOFORMAT_NTSC, 720, 480, true},
      {"NTSC 360x240", DVENCODERVIDEOFORMAT_NTSC, 360, 240, false},
      {"NTSC 720x576", DVENCODERVIDEOFORMAT_NTSC, 720, 576, false},
      {"PAL 720x576", DVENCODERVIDEOFORMAT_PAL, 720, 576, true},
      {"PAL 720x480", DVENCODERVIDEOFORMAT_PAL, 720, 480, false},
      {"PAL 160x120", DVENCODERVIDEOFORMAT_PAL, 160, 120, false},
  };
  auto source = WriteSource("avi-video-only");
  for (const Case& entry : cases) {
    SCOPED_TRACE(entry.name);
    ComPtr<IBaseFilter> encoder = FindVideoCompressor(u"DV Video Encoder");
    ASSERT_TRUE(encoder);
    auto dv = QueryObject<IDVEnc>(encoder.Get());
    ASSERT_EQ(dv->put_IFormatResolution(entry.videoFormat, DVENCODERFORMAT_DVSD, DVENCODERRESOLUTION_720x480, FALSE, nullptr),
              S_OK);
    BuildToCompressor(source, folder / "dv-type.avi", encoder.Get(), MEDIASUBTYPE_RGB24);
    ASSERT_FALSE(HasFatalFailure());
    CMediaType proposed = DvType(entry.width, entry.height);
    HRESULT connected = ConnectCompressorOutput(&proposed);
    EXPECT_EQ(SUCCEEDED(connected), entry.accepted) << std::hex << connected;
    if (!entry.accepted) continue;
    int other = entry.videoFormat == DVENCODERVIDEOFORMAT_PAL ? DVENCODERVIDEOFORMAT_NTSC : DVENCODERVIDEOFORMAT_PAL;
    EXPECT_EQ(dv->put_IFormatResolution(other, DVENCODERFORMAT_DVSD, DVENCODERRESOLUTION_720x480, FALSE, nullptr),
              VFW_E_ALREADY_CONNECTED);
    int videoFormat = 0, dvFormat = 0, resolution = 0;
    ASSERT_EQ(dv->get_IFormatResolution(&videoFormat, &dvFormat, &resolution, FALSE, nullptr), S_OK);
    EXPECT_EQ(videoFormat, entry.videoFormat);
  }
}

// ---------------------------------------------------------------------------
// Settings.

class CompressorSettings : public CompressorGraph {
 protected:
  // Converts the video-only fixture (length `frames`) with the compressor.
  std::filesystem::path ConvertWith(IBaseFilter* compressor, const std::string& name, int frames = 0) {
    if (source_.empty())
      source_ = WriteSource("avi-video-only", [frames](fixtures::ClipSpec& clip) { clip.frameCount = frames; });
    auto output = folder / (name + ".avi");
    EXPECT_TRUE(Convert(source_, output, compressor, MEDIASUBTYPE_RGB24));
    return output;
  }

  std::filesystem::path source_;
};

struct NamedCodec {
  const char* test;
  const char16_t* friendlyName;
};
void PrintTo(const NamedCodec& entry, std::ostream* stream) { *stream << entry.test; }

class QualitySetting : public CompressorSettings, public ::testing::WithParamInterface<NamedCodec> {};

TEST_P(QualitySetting, HigherQualityWritesMoreBytes) {
  std::vector<std::uintmax_t> sizes;
  for (double quality : {0.0, 1.0}) {
    ComPtr<IBaseFilter> compressor = FindVideoCompressor(GetParam().friendlyName);
    ASSERT_TRUE(compressor);
    auto settings = QueryObject<IAMVideoCompression>(compressor.Get());
    ASSERT_TRUE(settings);
    long capabilities = 0;
    ASSERT_EQ(settings->GetInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &capabilities), S_OK);
    EXPECT_TRUE(capabilities & CompressionCaps_CanQuality);
    ASSERT_EQ(settings->put_Quality(quality), S_OK);
    auto output = ConvertWith(compressor.Get(), "quality" + std::to_string(sizes.size()), 12);
    fixtures::MediaReport report = fixtures::Probe(output.string());
    ASSERT_TRUE(report.ok && report.FirstVideo()) << report.error;
    EXPECT_EQ(report.FirstVideo()->decodeErrors, 0);
    sizes.push_back(reel::test::VideoBytes(output.string()));
  }
  EXPECT_GT(sizes[0], 0u);
  EXPECT_GT(sizes[1], sizes[0] * 3 / 2);
}

INSTANTIATE_TEST_SUITE_P(Codecs, QualitySetting,
                         ::testing::Values(NamedCodec{"Mjpeg", u"MJPEG Compressor"}, NamedCodec{"Xvid", u"Xvid MPEG-4 Codec"},
                                           NamedCodec{"H264", u"x264 H.264 Video Codec"},
                                           NamedCodec{"Cinepak", u"Cinepak Video Codec"},
                                           NamedCodec{"MsMpeg4V2", u"Microsoft MPEG-4 Video Codec V2"},
                                           NamedCodec{"MsMpeg4V3", u"Microsoft MPEG-4 Video Codec V3"}),
                         [](const ::testing::TestParamInfo<NamedCodec>& info) { return info.param.test; });

class KeyFrameSetting : public CompressorSettings, public ::testing::WithParamInterface<NamedCodec> {};

TEST_P(KeyFrameSetting, KeyFramesComeAtTheInterval) {
  ComPtr<IBaseFilter> compressor = FindVideoCompressor(GetParam().friendlyName);
  ASSERT_TRUE(compressor);
  auto settings = QueryObject<IAMVideoCompression>(compressor.Get());
  ASSERT_TRUE(settings);
  ASSERT_EQ(settings->put_KeyFrameRate(5), S_OK);
  long readBack = 0;
  EXPECT_EQ(settings->get_KeyFrameRate(&readBack), S_OK);
  EXPECT_EQ(readBack, 5);
  auto output = ConvertWith(compressor.Get(), "keys", 20);
  std::vector<bool> keys = reel::test::VideoKeyFrames(output.string());
  ASSERT_EQ(keys.size(), 20u);
  for (std::size_t index = 0; index < keys.size(); ++index) EXPECT_EQ(keys[index], index % 5 == 0) << index;
}

INSTANTIATE_TEST_SUITE_P(Codecs, KeyFrameSetting,
                         ::testing::Values(NamedCodec{"Xvid", u"Xvid MPEG-4 Codec"},
                                           NamedCodec{"H264", u"x264 H.264 Video Codec"},
                                           NamedCodec{"Cinepak", u"Cinepak Video Codec"},
                                           NamedCodec{"MsVideo1", u"Microsoft Video 1"},
                                           NamedCodec{"MsMpeg4V2", u"Microsoft MPEG-4 Video Codec V2"},
                                           NamedCodec{"MsMpeg4V3", u"Microsoft MPEG-4 Video Codec V3"}),
                         [](const ::testing::TestParamInfo<NamedCodec>& info) { return info.param.test; });

// Codecs without a setting say so, and every frame of an intra-only codec
// is a key frame.
TEST_F(CompressorSettings, IntraOnlyCodecsHaveNoIntervalAndLosslessNoQuality) {
  struct Case {
    const char16_t* name;
    bool quality;
  };
  for (const Case& entry : {Case{u"Huffyuv Lossless Video Codec", false}, Case{u"FFV1 Lossless Video Codec", false},
                            Case{u"DV Video Encoder", false}, Case{u"MJPEG Compressor", true}}) {
    SCOPED_TRACE(reel::Utf16ToUtf8(entry.name));
    ComPtr<IBaseFilter> compressor = FindVideoCompressor(entry.name);
    ASSERT_TRUE(compressor);
    auto settings = QueryObject<IAMVideoCompression>(compressor.Get());
    long capabilities = -1;
    ASSERT_EQ(settings->GetInfo(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &capabilities), S_OK);
    EXPECT_EQ((capabilities & CompressionCaps_CanQuality) != 0, entry.quality);
    EXPECT_EQ(capabilities & CompressionCaps_CanKeyFrame, 0);
    EXPECT_EQ(settings->put_KeyFrameRate(5), E_NOTIMPL);
    EXPECT_EQ(settings->put_Quality(0.5), entry.quality ? S_OK : E_NOTIMPL);
    auto output = ConvertWith(compressor.Get(), "intra" + std::to_string(entry.name[0]), 10);
    std::vector<bool> keys = reel::test::VideoKeyFrames(output.string());
    EXPECT_FALSE(keys.empty());
    EXPECT_TRUE(std::all_of(keys.begin(), keys.end(), [](bool key) { return key; }));
  }
}

TEST(VideoCompressor, RefusesImpossibleSettings) {
  for (const reel::VideoCodecDescription& codec : reel::AvailableVideoCodecs()) {
    SCOPED_TRACE(reel::Utf16ToUtf8(codec.name));
    ComPtr<IBaseFilter> compressor = FindVideoCompressor(codec.name);
    ASSERT_TRUE(compressor);
    auto settings = QueryObject<IAMVideoCompression>(compressor.Get());
    ASSERT_TRUE(settings);
    EXPECT_EQ(settings->put_Quality(2.0), E_INVALIDARG);
    EXPECT_EQ(settings->put_Quality(std::numeric_limits<double>::quiet_NaN()), E_INVALIDARG);
    EXPECT_EQ(settings->put_KeyFrameRate(-1), E_INVALIDARG);
    EXPECT_EQ(settings->put_KeyFrameRate(reel::kLongestKeyFrameInterval + 1), E_INVALIDARG);
    EXPECT_EQ(settings->get_Quality(nullptr), E_POINTER);
    double quality = 0;
    EXPECT_EQ(settings->get_Quality(&quality), S_OK);
    EXPECT_EQ(quality, -1.0);  // unchanged by the refused calls
  }
}

// ---------------------------------------------------------------------------
// Inputs a codec cannot take are refused at connection.

struct InputCase {
  const char16_t* friendlyName;
  GUID subtype;
  int width;
  int height;
  bool accepted;
};

TEST(VideoCompressor, RefusesInputTheCodecCannotTake) {
  const InputCase cases[] = {
      {u"Xvid MPEG-4 Codec", MEDIASUBTYPE_RGB24, 64, 48, true},
      {u"Xvid MPEG-4 Codec", MEDIASUBTYPE_RGB24, 63, 48, false},
      {u"Xvid MPEG-4 Codec", MEDIASUBTYPE_RGB24, 64, 47, false},
      {u"x264 H.264 Video Codec", MEDIASUBTYPE_I420, 66, 50, true},
      {u"x264 H.264 Video Codec", MEDIASUBTYPE_RGB32, 65, 50, false},
      {u"Huffyuv Lossless Video Codec", MEDIASUBTYPE_RGB24, 63, 48, false},
      {u"Huffyuv Lossless Video Codec", MEDIASUBTYPE_RGB24, 64, 47, true},  // 4:2:2 halves only the width
      {u"Cinepak Video Codec", MEDIASUBTYPE_RGB24, 64, 48, true},
      {u"Cinepak Video Codec", MEDIASUBTYPE_RGB24, 66, 48, false},  // multiples of four
      {u"Microsoft Video 1", MEDIASUBTYPE_RGB555, 64, 50, false},
      {u"Microsoft Video 1", MEDIASUBTYPE_RGB565, 64, 48, true},
      {u"DV Video Encoder", MEDIASUBTYPE_RGB24, 63, 47, true},  // scaled to the DV frame
      {u"MJPEG Compressor", MEDIASUBTYPE_RGB24, 0, 48, false},
      {u"MJPEG Compressor", MEDIASUBTYPE_RGB24, 10000, 48, false},
  };
  for (const InputCase& entry : cases) {
    ComPtr<IBaseFilter> compressor = FindVideoCompressor(entry.friendlyName);
    ASSERT_TRUE(compressor);
    ComPtr<IPin> input = PinsOf(compressor.Get(), PINDIR_INPUT).at(0);
    CMediaType type;
    bool made = reel::MakeVideoType(entry.subtype, entry.width, entry.height, UNITS / 25, &type);
    if (!made) {
      EXPECT_FALSE(entry.accepted);
      continue;
    }
    EXPECT_EQ(input->QueryAccept(&type) == S_OK, entry.accepted)
        << reel::Utf16ToUtf8(entry.friendlyName) << " " << entry.width << "x" << entry.height;
  }
  // Compressed or non-video input is refused.
  ComPtr<IBaseFilter> compressor = FindVideoCompressor(u"MJPEG Compressor");
  ComPtr<IPin> input = PinsOf(compressor.Get(), PINDIR_INPUT).at(0);
  CMediaType sound;
  ASSERT_TRUE(reel::MakePcmType(44100, 2, 16, &sound));
  EXPECT_NE(input->QueryAccept(&sound), S_OK);
}

}  // namespace
