// AVI output through the AVI multiplexer and the File Writer: generated
// clips are decoded (or passed on compressed) into the multiplexer, the graph
// runs without a clock to EC_COMPLETE, and the written file is opened with
// libavformat and checked stream by stream and frame by frame.
#include <gtest/gtest.h>

extern "C" {
#include <libavformat/avformat.h>
}

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "platform/com/ClassTable.h"
#include "platform/com/ComPtr.h"
#include "platform/com/TaskMemory.h"
#include "platform/com/Variant.h"
#include "platform/dshow/Compressor.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/DeviceEnumerator.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/GraphDescription.h"
#include "platform/dshow/MediaDecoders.h"
#include "platform/dshow/MediaType.h"
#include "platform/ui/Window.h"
#include "platform/win/Strings.h"
#include "tests/dshow/TestFilters.h"
#include "tests/fixtures/ClipWriter.h"
#include "tests/fixtures/MediaProbe.h"
#include "tests/support/GraphHarness.h"
#include "tests/support/PlayerCheck.h"
#include "tests/support/TempDir.h"

namespace {

using reel::ComPtr;
namespace fixtures = reel::fixtures;

std::u16string Wide(const std::filesystem::path& path) { return reel::Utf8ToUtf16(path.string()); }

template <typename Interface>
ComPtr<Interface> Create(REFCLSID clsid) {
  ComPtr<Interface> object = reel::test::CreateObject<Interface>(clsid);
  EXPECT_TRUE(object);
  return object;
}

using reel::test::FirstMajorType;
using reel::test::FreeInput;
using reel::test::PinsOf;
using reel::test::RunToCompletion;

// How each stream of the source reaches the multiplexer.
struct Routing {
  GUID videoSubtype = MEDIASUBTYPE_RGB24;  // GUID_NULL: the compressed stream as it is
  GUID audioSubtype = MEDIASUBTYPE_PCM;    // GUID_NULL: the compressed stream as it is
  IBaseFilter* videoCompressor = nullptr;  // between the video decoder and the multiplexer
};

class AviOutputTest : public ::testing::Test {
 protected:
  std::filesystem::path WriteSource(const std::string& kindName,
                                    const std::function<void(fixtures::ClipSpec&)>& adjust = nullptr) {
    const fixtures::FixtureKind* kind = fixtures::FindKind(kindName);
    EXPECT_NE(kind, nullptr);
    spec = kind->spec;
    if (adjust) adjust(spec);
    std::filesystem::path file = folder / ("source." + kind->extension);
    std::string error;
    EXPECT_TRUE(fixtures::WriteClip(spec, file.string(), &error)) << error;
    return file;
  }

  // Source, decoders (unless a stream goes on compressed), multiplexer and
  // file writer, as an output graph is built.
  void Build(const std::filesystem::path& source, const std::filesystem::path& output, const Routing& routing) {
    graph = Create<IGraphBuilder>(CLSID_FilterGraph);
    ComPtr<IBaseFilter> reader;
    ASSERT_EQ(graph->AddSourceFilter(Wide(source).c_str(), u"Source", &reader), S_OK);
    mux = Create<IBaseFilter>(CLSID_AviDest);
    writer = Create<IBaseFilter>(CLSID_FileWriter);
    ASSERT_EQ(graph->AddFilter(mux.Get(), u"AVI Mux"), S_OK);
    ASSERT_EQ(graph->AddFilter(writer.Get(), u"File writer"), S_OK);
    ComPtr<IFileSinkFilter2> sink;
    ASSERT_EQ(writer->QueryInterface(IID_IFileSinkFilter2, reinterpret_cast<void**>(&sink)), S_OK);
    ASSERT_EQ(sink->SetFileName(Wide(output).c_str(), nullptr), S_OK);
    ASSERT_EQ(graph->ConnectDirect(PinsOf(mux.Get(), PINDIR_OUTPUT).at(0).Get(),
                                   PinsOf(writer.Get(), PINDIR_INPUT).at(0).Get(), nullptr),
              S_OK);

    for (ComPtr<IPin>& pin : PinsOf(reader.Get(), PINDIR_OUTPUT)) {
      GUID major = FirstMajorType(pin.Get());
      bool video = major == MEDIATYPE_Video;
      ASSERT_TRUE(video || major == MEDIATYPE_Audio);
      const GUID& subtype = video ? routing.videoSubtype : routing.audioSubtype;
      if (subtype == GUID_NULL) {
        ASSERT_EQ(graph->ConnectDirect(pin.Get(), FreeInput(mux.Get()).Get(), nullptr), S_OK);
        continue;
      }
      // Video: the whole type, as the decoder does not offer RGB24 by itself
      // but takes a type proposed to it; sound: any PCM.
      CMediaType wanted(video ? &MEDIATYPE_Video : &MEDIATYPE_Audio);
      wanted.SetSubtype(&subtype);
      if (video) {
        ASSERT_TRUE(reel::MakeVideoType(subtype, spec.width, spec.height,
                                        static_cast<REFERENCE_TIME>(UNITS / spec.frameRate.value()), &wanted));
      }
      // Sound that is already PCM needs no decoder.
      if (!video && pin->QueryAccept(&wanted) == S_OK) {
        ComPtr<IPin> input = FreeInput(mux.Get());
        if (graph->ConnectDirect(pin.Get(), input.Get(), &wanted) == S_OK) continue;
      }
      auto decoder = Create<IBaseFilter>(video ? CLSID_MediaVideoDecoder : CLSID_MediaAudioDecoder);
      ASSERT_EQ(graph->AddFilter(decoder.Get(), video ? u"Video Decoder" : u"Audio Decoder"), S_OK);
      ASSERT_EQ(graph->ConnectDirect(pin.Get(), PinsOf(decoder.Get(), PINDIR_INPUT).at(0).Get(), nullptr), S_OK);
      ComPtr<IPin> target = FreeInput(mux.Get());
      if (video && routing.videoCompressor) {
        ASSERT_EQ(graph->AddFilter(routing.videoCompressor, u"Compressor"), S_OK);
        target = PinsOf(routing.videoCompressor, PINDIR_INPUT).at(0);
      }
      HRESULT connected = graph->ConnectDirect(PinsOf(decoder.Get(), PINDIR_OUTPUT).at(0).Get(), target.Get(), &wanted);
      ASSERT_EQ(connected, S_OK) << std::hex << connected << " " << reel::DescribeGraph(graph.Get());
      if (video && routing.videoCompressor) {
        connected = graph->ConnectDirect(PinsOf(routing.videoCompressor, PINDIR_OUTPUT).at(0).Get(),
                                         FreeInput(mux.Get()).Get(), nullptr);
        ASSERT_EQ(connected, S_OK) << std::hex << connected << " " << reel::DescribeGraph(graph.Get());
      }
    }
    ComPtr<IMediaFilter> clockless;
    graph->QueryInterface(IID_IMediaFilter, reinterpret_cast<void**>(&clockless));
    clockless->SetSyncSource(nullptr);
  }

  std::vector<int> Positions() const {
    std::vector<int> positions;
    for (int index = 0; index < spec.VideoFrameCount(); ++index) positions.push_back(index);
    return positions;
  }

  reel::test::TempDir folder{"avioutput"};
  fixtures::ClipSpec spec;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> mux;
  ComPtr<IBaseFilter> writer;
};

struct UncompressedCase {
  const char* name;
  GUID subtype;
  const char* pixelFormat;  // as libavformat reads the file back
};

void PrintTo(const UncompressedCase& entry, std::ostream* stream) { *stream << entry.name; }

class UncompressedVideo : public AviOutputTest, public ::testing::WithParamInterface<UncompressedCase> {};

TEST_P(UncompressedVideo, TranscodesToDibFramesAndPcm) {
  auto source = WriteSource("avi");
  auto output = folder / "out.avi";
  Routing routing;
  routing.videoSubtype = GetParam().subtype;
  Build(source, output, routing);
  ASSERT_TRUE(RunToCompletion(graph.Get(), 60000)) << reel::DescribeGraph(graph.Get());

  fixtures::MediaReport expected = fixtures::Probe(source.string());
  fixtures::MediaReport report = fixtures::Probe(output.string());
  ASSERT_TRUE(report.ok) << report.error;
  EXPECT_EQ(report.formatName, "avi");
  ASSERT_EQ(report.streams.size(), 2u) << fixtures::FormatReport(output.string(), report);
  const fixtures::StreamReport* video = report.FirstVideo();
  const fixtures::StreamReport* audio = report.FirstAudio();
  ASSERT_NE(video, nullptr);
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(video->codecName, "rawvideo");
  EXPECT_EQ(video->pixelFormat, GetParam().pixelFormat);
  EXPECT_EQ(video->width, spec.width);
  EXPECT_EQ(video->height, spec.height);
  EXPECT_NEAR(video->frameRate, spec.frameRate.value(), 0.01);
  EXPECT_EQ(video->decodeErrors, 0);
  EXPECT_NEAR(static_cast<double>(video->decodedFrames), spec.VideoFrameCount(), 1.0);
  // Every picture is upright (its code reads) and in order.
  std::vector<int> numbers = video->frameNumbers;
  std::vector<int> positions = Positions();
  numbers.resize(std::min(numbers.size(), positions.size()));
  positions.resize(numbers.size());
  EXPECT_EQ(numbers, positions);

  EXPECT_EQ(audio->codecName, "pcm_s16le");
  EXPECT_EQ(audio->sampleRate, spec.sampleRate);
  EXPECT_EQ(audio->channels, spec.channels);
  EXPECT_NEAR(audio->decodedSeconds, expected.FirstAudio()->decodedSeconds, 0.03);
  EXPECT_NEAR(audio->toneFrequency, spec.toneFrequency, 20.0);

  reel::test::PlayerVerdict verdict = reel::test::PlayInMpv(output.string());
  EXPECT_TRUE(verdict.played) << verdict.log;
}

// The player check itself: a file cut short is not a file that plays.
TEST_F(AviOutputTest, PlayerCheckRejectsATruncatedFile) {
  auto source = WriteSource("avi");
  std::string bytes = reel::test::ReadFile(source);
  auto truncated = folder / "truncated.avi";
  reel::test::WriteFile(truncated, bytes.substr(0, bytes.size() / 2));
  EXPECT_TRUE(reel::test::PlayInMpv(source.string()).played);
  EXPECT_FALSE(reel::test::PlayInMpv(truncated.string()).played);
}

INSTANTIATE_TEST_SUITE_P(Subtypes, UncompressedVideo,
                         ::testing::Values(UncompressedCase{"RGB24", MEDIASUBTYPE_RGB24, "bgr24"},
                                           UncompressedCase{"RGB555", MEDIASUBTYPE_RGB555, "rgb555le"},
                                           UncompressedCase{"RGB32", MEDIASUBTYPE_RGB32, "bgra"}),
                         [](const ::testing::TestParamInfo<UncompressedCase>& info) { return info.param.name; });

TEST_F(AviOutputTest, CarriesCompressedStreamsAsTheyAre) {
  auto source = WriteSource("avi");
  auto output = folder / "copy.avi";
  Build(source, output, Routing{GUID_NULL, GUID_NULL});
  ASSERT_TRUE(RunToCompletion(graph.Get(), 60000)) << reel::DescribeGraph(graph.Get());
  fixtures::MediaReport report = fixtures::Probe(output.string());
  ASSERT_TRUE(report.ok) << report.error;
  ASSERT_NE(report.FirstVideo(), nullptr);
  ASSERT_NE(report.FirstAudio(), nullptr);
  EXPECT_EQ(report.FirstVideo()->codecName, "mpeg4");
  EXPECT_EQ(report.FirstVideo()->decodeErrors, 0);
  EXPECT_EQ(report.FirstVideo()->frameNumbers, Positions());
  EXPECT_EQ(report.FirstAudio()->codecName, "mp3");
  EXPECT_NEAR(report.FirstAudio()->decodedSeconds, spec.LengthSeconds(), 0.1);
}

TEST_F(AviOutputTest, VideoOnlySourceWritesOneStream) {
  auto source = WriteSource("avi-video-only");
  auto output = folder / "video.avi";
  Build(source, output, Routing{});
  ASSERT_TRUE(RunToCompletion(graph.Get(), 60000));
  fixtures::MediaReport report = fixtures::Probe(output.string());
  ASSERT_TRUE(report.ok) << report.error;
  ASSERT_EQ(report.streams.size(), 1u);
  EXPECT_EQ(report.FirstVideo()->frameNumbers, Positions());
}

// Each interleaving mode writes a complete file; the settings read back.
TEST_F(AviOutputTest, InterleavingSettingsAreKeptAndEveryModeWrites) {
  auto source = WriteSource("avi");
  fixtures::MediaReport expected = fixtures::Probe(source.string());
  ASSERT_TRUE(expected.ok && expected.FirstAudio());
  for (InterleavingMode mode : {INTERLEAVE_NONE, INTERLEAVE_CAPTURE, INTERLEAVE_FULL, INTERLEAVE_NONE_BUFFERED}) {
    SCOPED_TRACE(static_cast<int>(mode));
    auto output = folder / ("mode" + std::to_string(static_cast<int>(mode)) + ".avi");
    Build(source, output, Routing{});
    ComPtr<IConfigInterleaving> interleaving;
    ASSERT_EQ(mux->QueryInterface(IID_IConfigInterleaving, reinterpret_cast<void**>(&interleaving)), S_OK);
    ASSERT_EQ(interleaving->put_Mode(mode), S_OK);
    REFERENCE_TIME leave = UNITS, preroll = UNITS / 2;
    ASSERT_EQ(interleaving->put_Interleaving(&leave, &preroll), S_OK);
    InterleavingMode readMode = INTERLEAVE_CAPTURE;
    REFERENCE_TIME readLeave = 0, readPreroll = 0;
    EXPECT_EQ(interleaving->get_Mode(&readMode), S_OK);
    EXPECT_EQ(readMode, mode);
    EXPECT_EQ(interleaving->get_Interleaving(&readLeave, &readPreroll), S_OK);
    EXPECT_EQ(readLeave, UNITS);
    EXPECT_EQ(readPreroll, UNITS / 2);
    ASSERT_TRUE(RunToCompletion(graph.Get(), 60000));
    fixtures::MediaReport report = fixtures::Probe(output.string());
    ASSERT_TRUE(report.ok) << report.error;
    ASSERT_EQ(report.streams.size(), 2u);
    EXPECT_EQ(report.FirstVideo()->frameNumbers, Positions());
    EXPECT_NEAR(report.FirstAudio()->decodedSeconds, expected.FirstAudio()->decodedSeconds, 0.03);
  }
}

TEST(AviMux, RejectsBadInterleavingValues) {
  auto mux = Create<IConfigInterleaving>(CLSID_AviDest);
  EXPECT_EQ(mux->put_Mode(static_cast<InterleavingMode>(7)), E_INVALIDARG);
  REFERENCE_TIME negative = -1, zero = 0;
  EXPECT_EQ(mux->put_Interleaving(&negative, &zero), E_INVALIDARG);
  EXPECT_EQ(mux->put_Interleaving(nullptr, &zero), E_POINTER);
  EXPECT_EQ(mux->get_Mode(nullptr), E_POINTER);
}

CMediaType VideoType(const GUID& subtype, WORD bits, LONG height, DWORD compression = BI_RGB) {
  CMediaType type(&MEDIATYPE_Video);
  type.SetSubtype(&subtype);
  type.SetFormatType(&FORMAT_VideoInfo);
  auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  info->AvgTimePerFrame = UNITS / 25;
  info->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info->bmiHeader.biWidth = 64;
  info->bmiHeader.biHeight = height;
  info->bmiHeader.biPlanes = 1;
  info->bmiHeader.biBitCount = bits;
  info->bmiHeader.biCompression = compression;
  info->bmiHeader.biSizeImage = DibSize(info->bmiHeader);
  return type;
}

CMediaType WaveType(WORD tag, WORD bits, WORD channels, DWORD rate, WORD blockAlign) {
  CMediaType type(&MEDIATYPE_Audio);
  type.SetSubtype(tag == WAVE_FORMAT_PCM ? &MEDIASUBTYPE_PCM : &MEDIASUBTYPE_IEEE_FLOAT);
  type.SetFormatType(&FORMAT_WaveFormatEx);
  auto* wave = reinterpret_cast<WAVEFORMATEX*>(type.AllocFormatBuffer(sizeof(WAVEFORMATEX)));
  wave->wFormatTag = tag;
  wave->nChannels = channels;
  wave->nSamplesPerSec = rate;
  wave->wBitsPerSample = bits;
  wave->nBlockAlign = blockAlign;
  wave->nAvgBytesPerSec = rate * blockAlign;
  return type;
}

TEST(AviMux, AcceptsWhatAnAviFileCarries) {
  struct Case {
    const char* what;
    CMediaType type;
    bool accepted;
  };
  const Case cases[] = {
      {"RGB24", VideoType(MEDIASUBTYPE_RGB24, 24, 48), true},
      {"RGB555", VideoType(MEDIASUBTYPE_RGB555, 16, 48), true},
      {"RGB32", VideoType(MEDIASUBTYPE_RGB32, 32, 48), true},
      {"top-down RGB24", VideoType(MEDIASUBTYPE_RGB24, 24, -48), false},
      {"RGB24 with a 32-bit header", VideoType(MEDIASUBTYPE_RGB24, 32, 48), false},
      {"RGB565", VideoType(MEDIASUBTYPE_RGB565, 16, 48, BI_BITFIELDS), false},
      {"PCM 16-bit stereo", WaveType(WAVE_FORMAT_PCM, 16, 2, 44100, 4), true},
      {"PCM 8-bit mono", WaveType(WAVE_FORMAT_PCM, 8, 1, 8000, 1), true},
      {"PCM with a wrong block size", WaveType(WAVE_FORMAT_PCM, 16, 2, 44100, 3), false},
      {"PCM without channels", WaveType(WAVE_FORMAT_PCM, 16, 0, 44100, 0), false},
      {"a stream of bytes", CMediaType(&MEDIATYPE_Stream), false},
  };
  auto mux = Create<IBaseFilter>(CLSID_AviDest);
  ComPtr<IPin> input = FreeInput(mux.Get());
  ASSERT_NE(input.Get(), nullptr);
  for (const Case& entry : cases)
    EXPECT_EQ(input->QueryAccept(&entry.type) == S_OK, entry.accepted) << entry.what;
}

TEST_F(AviOutputTest, UnwritableOutputFailsToRun) {
  auto source = WriteSource("avi");
  Build(source, folder / "missing-folder" / "out.avi", Routing{});
  reel::test::RunOutcome outcome = reel::test::RunGraph(graph.Get(), 10000);
  EXPECT_FALSE(outcome.complete);
  EXPECT_TRUE(FAILED(outcome.runResult)) << std::hex << outcome.runResult;
  EXPECT_FALSE(std::filesystem::exists(folder / "missing-folder"));
}

TEST(FileWriter, KeepsItsFileNameAndMode) {
  auto writer = Create<IFileSinkFilter2>(CLSID_FileWriter);
  LPOLESTR name = nullptr;
  EXPECT_EQ(writer->GetCurFile(&name, nullptr), E_FAIL);
  EXPECT_EQ(name, nullptr);
  EXPECT_EQ(writer->SetFileName(nullptr, nullptr), E_POINTER);
  EXPECT_EQ(writer->SetFileName(u"", nullptr), E_INVALIDARG);

  CMediaType avi(&MEDIATYPE_Stream);
  avi.SetSubtype(&MEDIASUBTYPE_Avi);
  ASSERT_EQ(writer->SetFileName(u"/tmp/name with spaces.avi", &avi), S_OK);
  AM_MEDIA_TYPE type{};
  ASSERT_EQ(writer->GetCurFile(&name, &type), S_OK);
  EXPECT_EQ(std::u16string(name), u"/tmp/name with spaces.avi");
  EXPECT_EQ(type.majortype, MEDIATYPE_Stream);
  EXPECT_EQ(type.subtype, MEDIASUBTYPE_Avi);
  CoTaskMemFree(name);
  FreeMediaType(type);

  DWORD mode = 7;
  EXPECT_EQ(writer->GetMode(&mode), S_OK);
  EXPECT_EQ(mode, 0u);
  EXPECT_EQ(writer->SetMode(AM_FILE_OVERWRITE), S_OK);
  EXPECT_EQ(writer->GetMode(&mode), S_OK);
  EXPECT_EQ(mode, AM_FILE_OVERWRITE);
  EXPECT_EQ(writer->SetMode(0x10), E_INVALIDARG);
}

// A second run into the same file replaces it: no bytes of a longer earlier
// file remain behind the new one.
TEST_F(AviOutputTest, RewritingAFileLeavesNothingOfTheOldOne) {
  auto source = WriteSource("avi");
  auto output = folder / "out.avi";
  reel::test::WriteFile(output, std::string(4 * 1024 * 1024, 'x'));
  Build(source, output, Routing{});
  ASSERT_TRUE(RunToCompletion(graph.Get(), 60000));
  std::string bytes = reel::test::ReadFile(output);
  ASSERT_GT(bytes.size(), 12u);
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  // The RIFF size covers the whole file (one RIFF chunk below 1 GiB).
  uint32_t riffSize = static_cast<uint8_t>(bytes[4]) | static_cast<uint8_t>(bytes[5]) << 8 |
                      static_cast<uint8_t>(bytes[6]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(bytes[7])) << 24;
  EXPECT_EQ(riffSize + 8u, bytes.size());
  EXPECT_EQ(bytes.find("xxxxxxxx"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Video compressors, found by name in the video compressor category.

ComPtr<IBaseFilter> FindVideoCompressor(const std::string& wantedName) {
  auto enumerator = Create<ICreateDevEnum>(CLSID_SystemDeviceEnum);
  ComPtr<IEnumMoniker> monikers;
  if (enumerator->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0) != S_OK) return nullptr;
  IMoniker* moniker = nullptr;
  while (monikers->Next(1, &moniker, nullptr) == S_OK) {
    ComPtr<IMoniker> held;
    held.Attach(moniker);
    ComPtr<IPropertyBag> bag;
    if (FAILED(held->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) continue;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    std::string name;
    if (SUCCEEDED(bag->Read(u"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR)
      name = reel::Utf8FromBstr(value.bstrVal);
    VariantClear(&value);
    if (name != wantedName) continue;
    ComPtr<IBaseFilter> filter;
    held->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    return filter;
  }
  return nullptr;
}

// The key-frame flags of a file's first video stream, packet by packet.
std::vector<bool> VideoKeyFrames(const std::string& path) {
  std::vector<bool> keys;
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) return keys;
  int stream = av_find_best_stream(input, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  AVPacket* packet = av_packet_alloc();
  while (stream >= 0 && av_read_frame(input, packet) >= 0) {
    if (packet->stream_index == stream && packet->size > 0) keys.push_back(packet->flags & AV_PKT_FLAG_KEY);
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&input);
  return keys;
}

struct CompressorCase {
  const char* name;
  const char* friendlyName;
  const char* codecName;  // as libavformat reads the file back
  const char* fourcc;     // as the file stores it
};

void PrintTo(const CompressorCase& entry, std::ostream* stream) { *stream << entry.name; }

class CompressedVideo : public AviOutputTest, public ::testing::WithParamInterface<CompressorCase> {};

TEST_P(CompressedVideo, WritesAviThroughTheNamedCompressor) {
  auto compressor = FindVideoCompressor(GetParam().friendlyName);
  ASSERT_NE(compressor.Get(), nullptr);
  auto source = WriteSource("avi");
  auto output = folder / "compressed.avi";
  Routing routing;
  routing.videoCompressor = compressor.Get();
  Build(source, output, routing);
  ASSERT_TRUE(RunToCompletion(graph.Get(), 60000)) << reel::DescribeGraph(graph.Get());
  fixtures::MediaReport report = fixtures::Probe(output.string());
  ASSERT_TRUE(report.ok) << report.error;
  ASSERT_NE(report.FirstVideo(), nullptr);
  ASSERT_NE(report.FirstAudio(), nullptr);
  EXPECT_EQ(report.FirstVideo()->codecName, GetParam().codecName);
  EXPECT_EQ(report.FirstVideo()->width, spec.width);
  EXPECT_EQ(report.FirstVideo()->height, spec.height);
  EXPECT_EQ(report.FirstVideo()->decodeErrors, 0);
  EXPECT_EQ(report.FirstVideo()->frameNumbers, Positions());
  EXPECT_EQ(report.FirstAudio()->codecName, "pcm_s16le");
  EXPECT_NE(reel::test::ReadFile(output).find(GetParam().fourcc), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Compressors, CompressedVideo,
                         ::testing::Values(CompressorCase{"Mjpeg", "MJPEG Compressor", "mjpeg", "MJPG"},
                                           CompressorCase{"Mpeg4", "Xvid MPEG-4 Codec", "mpeg4", "XVID"}),
                         [](const ::testing::TestParamInfo<CompressorCase>& info) { return info.param.name; });

TEST_F(AviOutputTest, KeyFrameIntervalIsHonoured) {
  auto compressor = FindVideoCompressor("Xvid MPEG-4 Codec");
  ASSERT_NE(compressor.Get(), nullptr);
  ComPtr<IAMVideoCompression> settings;
  ASSERT_EQ(compressor->QueryInterface(IID_IAMVideoCompression, reinterpret_cast<void**>(&settings)), S_OK);
  ASSERT_EQ(settings->put_KeyFrameRate(5), S_OK);
  auto source = WriteSource("avi", [](fixtures::ClipSpec& clip) { clip.frameCount = 20; });
  auto output = folder / "keys.avi";
  Routing routing;
  routing.videoCompressor = compressor.Get();
  Build(source, output, routing);
  ASSERT_TRUE(RunToCompletion(graph.Get(), 60000));
  std::vector<bool> keys = VideoKeyFrames(output.string());
  ASSERT_EQ(keys.size(), 20u);
  for (std::size_t index = 0; index < keys.size(); ++index) EXPECT_EQ(keys[index], index % 5 == 0) << index;
}

TEST_F(AviOutputTest, HigherQualityWritesMoreBytes) {
  auto source = WriteSource("avi-video-only");
  std::vector<std::uintmax_t> sizes;
  for (double quality : {0.0, 1.0}) {
    auto compressor = FindVideoCompressor("MJPEG Compressor");
    ASSERT_NE(compressor.Get(), nullptr);
    ComPtr<IAMVideoCompression> settings;
    ASSERT_EQ(compressor->QueryInterface(IID_IAMVideoCompression, reinterpret_cast<void**>(&settings)), S_OK);
    ASSERT_EQ(settings->put_Quality(quality), S_OK);
    double readBack = -5;
    EXPECT_EQ(settings->get_Quality(&readBack), S_OK);
    EXPECT_EQ(readBack, quality);
    auto output = folder / ("quality" + std::to_string(sizes.size()) + ".avi");
    Routing routing;
    routing.videoCompressor = compressor.Get();
    Build(source, output, routing);
    ASSERT_TRUE(RunToCompletion(graph.Get(), 60000));
    fixtures::MediaReport report = fixtures::Probe(output.string());
    ASSERT_TRUE(report.ok) << report.error;
    EXPECT_EQ(report.FirstVideo()->frameNumbers, Positions());
    sizes.push_back(std::filesystem::file_size(output));
  }
  EXPECT_GT(sizes[1], sizes[0] * 2);
}

TEST(VideoCompressor, RejectsBadSettingsAndOddSizes) {
  auto compressor = FindVideoCompressor("MJPEG Compressor");
  ASSERT_NE(compressor.Get(), nullptr);
  ComPtr<IAMVideoCompression> settings;
  ASSERT_EQ(compressor->QueryInterface(IID_IAMVideoCompression, reinterpret_cast<void**>(&settings)), S_OK);
  EXPECT_EQ(settings->put_Quality(1.5), E_INVALIDARG);
  EXPECT_EQ(settings->put_KeyFrameRate(-1), E_INVALIDARG);
  ComPtr<IPin> input = PinsOf(compressor.Get(), PINDIR_INPUT).at(0);
  CMediaType even, odd;
  ASSERT_TRUE(reel::MakeVideoType(MEDIASUBTYPE_RGB24, 64, 48, UNITS / 25, &even));
  ASSERT_TRUE(reel::MakeVideoType(MEDIASUBTYPE_RGB24, 63, 48, UNITS / 25, &odd));
  EXPECT_EQ(input->QueryAccept(&even), S_OK);
  EXPECT_NE(input->QueryAccept(&odd), S_OK);
}

}  // namespace

// ---------------------------------------------------------------------------
// Files past 1 GiB: the multiplexer goes on in further RIFF chunks with the
// extended index, and every frame can still be found and read back.

TEST(AviMuxLargeFile, StaysReadablePastOneGibibyte) {
  // RGB32 1920x1080 frames: 8.3 MB each, so 135 of them make 1.12 GB.
  constexpr int kWidth = 1920;
  constexpr int kHeight = 1080;
  constexpr int kFrames = 135;
  reel::test::TempDir folder("avilarge");
  const std::filesystem::path output = folder / "large.avi";

  auto graph = Create<IGraphBuilder>(CLSID_FilterGraph);
  ComPtr<reel::test::FrameSourceFilter> source(
      new reel::test::FrameSourceFilter(kFrames, kWidth, kHeight, UNITS / 25, /*offerRgb32First=*/true));
  auto mux = Create<IBaseFilter>(CLSID_AviDest);
  auto writer = Create<IBaseFilter>(CLSID_FileWriter);
  ASSERT_EQ(graph->AddFilter(source.Get(), u"Frames"), S_OK);
  ASSERT_EQ(graph->AddFilter(mux.Get(), u"AVI Mux"), S_OK);
  ASSERT_EQ(graph->AddFilter(writer.Get(), u"File writer"), S_OK);
  auto sink = reel::test::QueryObject<IFileSinkFilter>(writer.Get());
  ASSERT_TRUE(sink);
  ASSERT_EQ(sink->SetFileName(Wide(output).c_str(), nullptr), S_OK);
  ASSERT_EQ(graph->ConnectDirect(PinsOf(mux.Get(), PINDIR_OUTPUT).at(0).Get(),
                                 PinsOf(writer.Get(), PINDIR_INPUT).at(0).Get(), nullptr),
            S_OK);
  ASSERT_EQ(graph->ConnectDirect(source->Pin(), FreeInput(mux.Get()).Get(), nullptr), S_OK);
  reel::test::RunWithoutClock(graph.Get());
  ASSERT_TRUE(RunToCompletion(graph.Get(), 120000));
  graph.Reset();

  ASSERT_GT(std::filesystem::file_size(output), 1ull << 30);
  AVFormatContext* raw = nullptr;
  ASSERT_EQ(avformat_open_input(&raw, output.string().c_str(), nullptr, nullptr), 0);
  std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> input(raw, [](AVFormatContext* context) {
    avformat_close_input(&context);
  });
  ASSERT_EQ(avformat_find_stream_info(input.get(), nullptr), 0);
  ASSERT_EQ(input->nb_streams, 1u);
  EXPECT_EQ(input->streams[0]->codecpar->width, kWidth);
  EXPECT_EQ(input->streams[0]->codecpar->height, kHeight);
  // The index reaches every frame, the ones in the second RIFF chunk too.
  EXPECT_EQ(input->streams[0]->nb_frames, kFrames);
  // Each frame's first bytes carry its number (the source writes it there),
  // so frames read back in order and whole.
  AVPacket* packet = av_packet_alloc();
  std::vector<int> numbers;
  while (av_read_frame(input.get(), packet) >= 0) {
    EXPECT_EQ(packet->size, kWidth * kHeight * 4);
    int32_t number = -1;
    if (packet->size >= 4) std::memcpy(&number, packet->data, sizeof number);
    numbers.push_back(number);
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  std::vector<int> expected(kFrames);
  std::iota(expected.begin(), expected.end(), 0);
  EXPECT_EQ(numbers, expected);
  // The last frame is found through the index, not only by reading on.
  ASSERT_GE(av_seek_frame(input.get(), 0, kFrames - 1, AVSEEK_FLAG_ANY), 0);
}
