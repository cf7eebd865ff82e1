// The ASF writer in real graphs: a generated clip is decoded into the
// writer's pins, the graph runs to EC_COMPLETE, and the written file is
// opened with libavformat and checked: codecs, the profile's picture size
// and frame rate (with the source's pictures dropped or repeated on the
// profile's frame grid), the sound's length, no decode errors, and mpv plays
// it. Also: configuration by profile id, object and index, the pins each
// profile gives, refusals, and a run stopped half-way.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/TaskMemory.h"
#include "platform/dshow/AsfWriter.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/GraphDescription.h"
#include "platform/dshow/MediaDecoders.h"
#include "platform/wmf/ProfileModel.h"
#include "platform/wmf/WmfInterfaces.h"
#include "platform/win/Strings.h"
#include "tests/fixtures/ClipWriter.h"
#include "tests/fixtures/MediaProbe.h"
#include "tests/support/GraphHarness.h"
#include "tests/support/PlayerCheck.h"
#include "tests/support/TempDir.h"

namespace {

using reel::ComPtr;
namespace fixtures = reel::fixtures;
using reel::test::FirstMajorType;
using reel::test::PinNamed;
using reel::test::PinsOf;

std::u16string Wide(const std::filesystem::path& path) { return reel::Utf8ToUtf16(path.string()); }

std::vector<std::u16string> PinNames(IBaseFilter* filter) {
  std::vector<std::u16string> names;
  for (ComPtr<IPin>& pin : PinsOf(filter, PINDIR_INPUT)) {
    PIN_INFO info{};
    pin->QueryPinInfo(&info);
    if (info.pFilter) info.pFilter->Release();
    names.emplace_back(info.achName);
  }
  return names;
}

const reel::wmf::ProfileDefinition& Catalogue(std::size_t index) { return reel::wmf::SystemProfiles().at(index); }

// A 176x144, 12 frames per second profile with stereo sound, as a file.
const char* const kProfileFile = R"(<profile version="589824" name="Pocket 176x144" description="test">
  <streamconfig majortype="{73647561-0000-0010-8000-00AA00389B71}" streamnumber="1" streamname="Audio Stream" inputname="Audio409" bitrate="64000" bufferwindow="3000">
    <wmmediatype subtype="{00000161-0000-0010-8000-00AA00389B71}" bfixedsizesamples="1" btemporalcompression="0" lsamplesize="2973">
      <waveformatex wFormatTag="353" nChannels="2" nSamplesPerSec="44100" nAvgBytesPerSec="8000" nBlockAlign="2973" wBitsPerSample="16"/>
    </wmmediatype>
  </streamconfig>
  <streamconfig majortype="{73646976-0000-0010-8000-00AA00389B71}" streamnumber="2" streamname="Video Stream" inputname="Video409" bitrate="300000" bufferwindow="5000">
    <wmmediatype subtype="{32564D57-0000-0010-8000-00AA00389B71}" bfixedsizesamples="0" btemporalcompression="1" lsamplesize="0">
      <videoinfoheader dwbitrate="300000" dwbiterrorrate="0" avgtimeperframe="833333">
        <rcsource left="0" top="0" right="176" bottom="144"/>
        <rctarget left="0" top="0" right="176" bottom="144"/>
        <bitmapinfoheader biwidth="176" biheight="144" biplanes="1" bibitcount="24" bicompression="WMV2"/>
      </videoinfoheader>
    </wmmediatype>
  </streamconfig>
</profile>)";

class AsfWriterTest : public ::testing::Test {
 protected:
  std::filesystem::path WriteSource(const std::string& kindName, double seconds, int frameRate = 0) {
    const fixtures::FixtureKind* kind = fixtures::FindKind(kindName);
    EXPECT_NE(kind, nullptr);
    spec = kind->spec;
    spec.durationSeconds = seconds;
    if (frameRate > 0) spec.frameRate = fixtures::Rational{frameRate, 1};
    std::filesystem::path file = folder / ("source-" + std::to_string(++sources) + "." + kind->extension);
    std::string error;
    EXPECT_TRUE(fixtures::WriteClip(spec, file.string(), &error)) << error;
    return file;
  }

  void CreateWriter() {
    graph = reel::test::CreateObject<IGraphBuilder>(CLSID_FilterGraph);
    ASSERT_TRUE(graph);
    writer = reel::test::CreateObject<IBaseFilter>(CLSID_WMAsfWriter);
    ASSERT_TRUE(writer);
    ASSERT_EQ(graph->AddFilter(writer.Get(), u"WM ASF Writer"), S_OK);
    config = reel::test::QueryObject<IConfigAsfWriter>(writer.Get());
    ASSERT_TRUE(config);
  }

  // Source and decoders into the writer's first video and audio pins; a
  // stream without a pin of its kind stays unconnected.
  void Connect(const std::filesystem::path& source, const std::filesystem::path& output) {
    ComPtr<IFileSinkFilter2> sink = reel::test::QueryObject<IFileSinkFilter2>(writer.Get());
    ASSERT_TRUE(sink);
    ASSERT_EQ(sink->SetFileName(Wide(output).c_str(), nullptr), S_OK);
    ComPtr<IBaseFilter> reader;
    ASSERT_EQ(graph->AddSourceFilter(Wide(source).c_str(), u"Source", &reader), S_OK);
    for (ComPtr<IPin>& pin : PinsOf(reader.Get(), PINDIR_OUTPUT)) {
      bool video = FirstMajorType(pin.Get()) == MEDIATYPE_Video;
      ComPtr<IPin> target = PinNamed(writer.Get(), video ? u"Video Input 01" : u"Audio Input 01");
      if (!target) continue;
      auto decoder = reel::test::CreateObject<IBaseFilter>(video ? CLSID_MediaVideoDecoder : CLSID_MediaAudioDecoder);
      ASSERT_TRUE(decoder);
      ASSERT_EQ(graph->AddFilter(decoder.Get(), video ? u"Video Decoder" : u"Audio Decoder"), S_OK);
      ASSERT_EQ(graph->ConnectDirect(pin.Get(), PinsOf(decoder.Get(), PINDIR_INPUT).at(0).Get(), nullptr), S_OK);
      HRESULT connected = graph->ConnectDirect(PinsOf(decoder.Get(), PINDIR_OUTPUT).at(0).Get(), target.Get(), nullptr);
      ASSERT_EQ(connected, S_OK) << std::hex << connected << " " << reel::DescribeGraph(graph.Get());
    }
  }

  void Transcode(const std::filesystem::path& source, const std::filesystem::path& output) {
    Connect(source, output);
    reel::test::RunWithoutClock(graph.Get());
    ASSERT_TRUE(reel::test::RunToCompletion(graph.Get(), 120000)) << reel::DescribeGraph(graph.Get());
  }

  reel::test::TempDir folder{"asfwriter"};
  int sources = 0;
  fixtures::ClipSpec spec;
  ComPtr<IGraphBuilder> graph;
  ComPtr<IBaseFilter> writer;
  ComPtr<IConfigAsfWriter> config;
};

// What a written video file must show.
struct Expectation {
  int width;
  int height;
  double frameRate;
  int channels;
  int sampleRate;
};

// The whole sound the source's decoder delivers, plus at most the padding
// of the codec's last frame and the frame of silence that closes it.
void ExpectWholeSound(const fixtures::StreamReport& audio, const std::filesystem::path& sourceFile) {
  fixtures::MediaReport source = fixtures::Probe(sourceFile.string());
  ASSERT_TRUE(source.ok) << source.error;
  ASSERT_NE(source.FirstAudio(), nullptr);
  double delivered = source.FirstAudio()->decodedSeconds;
  constexpr double kCodecFrame = 2048.0 / 22050;  // the longest WMA frame of our rates
  EXPECT_GE(audio.decodedSeconds, delivered - 0.005);
  EXPECT_LE(audio.decodedSeconds, delivered + 2 * kCodecFrame);
}

void CheckVideoFile(const std::filesystem::path& output, const std::filesystem::path& sourceFile,
                    const fixtures::ClipSpec& source, const Expectation& expected) {
  fixtures::MediaReport report = fixtures::Probe(output.string());
  ASSERT_TRUE(report.ok) << report.error;
  EXPECT_EQ(report.formatName, "asf");
  ASSERT_EQ(report.streams.size(), 2u) << fixtures::FormatReport(output.string(), report);
  const fixtures::StreamReport* video = report.FirstVideo();
  const fixtures::StreamReport* audio = report.FirstAudio();
  ASSERT_NE(video, nullptr);
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(video->codecName, "wmv2");
  EXPECT_EQ(video->width, expected.width);
  EXPECT_EQ(video->height, expected.height);
  EXPECT_EQ(video->decodeErrors, 0);
  double length = source.LengthSeconds();
  EXPECT_NEAR(static_cast<double>(video->decodedFrames), std::round(length * expected.frameRate), 1.0)
      << fixtures::FormatReport(output.string(), report);
  // Output frame n shows the source picture of its time: source frames are
  // dropped or repeated, never shuffled. Times count from the first frame
  // written, which shows the source's first picture or, where that picture
  // starts late (an AVI source's B-frame delay), the next.
  ASSERT_FALSE(video->frameNumbers.empty());
  int first = video->frameNumbers.front();
  EXPECT_GE(first, 0);
  EXPECT_LE(first, 1);
  double sourceRate = source.frameRate.value();
  int readable = 0;
  for (std::size_t n = 0; n < video->frameNumbers.size(); ++n) {
    int shown = video->frameNumbers[n];
    if (shown < 0) continue;
    ++readable;
    EXPECT_NEAR(shown - first, static_cast<double>(n) * sourceRate / expected.frameRate, 1.0) << "frame " << n;
  }
  EXPECT_GE(readable, static_cast<int>(video->frameNumbers.size()) * 9 / 10);
  EXPECT_EQ(audio->codecName, "wmav2");
  EXPECT_EQ(audio->sampleRate, expected.sampleRate);
  EXPECT_EQ(audio->channels, expected.channels);
  EXPECT_EQ(audio->decodeErrors, 0);
  ExpectWholeSound(*audio, sourceFile);
  EXPECT_NEAR(audio->toneFrequency, source.toneFrequency, 30.0);
  reel::test::PlayerVerdict verdict = reel::test::PlayInMpv(output.string());
  EXPECT_TRUE(verdict.played) << verdict.log;
}

TEST_F(AsfWriterTest, SystemProfileScalesAndDropsFrames) {
  // 160x120 at 25 fps into 240x180 at 15 fps.
  auto source = WriteSource("avi", 2.0);
  CreateWriter();
  const reel::wmf::ProfileDefinition& profile = Catalogue(1);
  ASSERT_EQ(config->ConfigureFilterUsingProfileGuid(profile.id), S_OK);
  GUID current = GUID_NULL;
  ASSERT_EQ(config->GetCurrentProfileGuid(&current), S_OK);
  EXPECT_EQ(current, profile.id);
  auto output = folder / "isdn.wmv";
  Transcode(source, output);
  CheckVideoFile(output, source, spec, {240, 180, 15.0, 2, 44100});
}

TEST_F(AsfWriterTest, SystemProfileRepeatsFramesOfASlowerSource) {
  // 10 fps into 320x240 at 25 fps: each picture shows two or three times.
  auto source = WriteSource("avi", 2.0, 10);
  CreateWriter();
  ASSERT_EQ(config->ConfigureFilterUsingProfileGuid(Catalogue(2).id), S_OK);
  auto output = folder / "broadband.wmv";
  Transcode(source, output);
  CheckVideoFile(output, source, spec, {320, 240, 25.0, 2, 44100});
}

TEST_F(AsfWriterTest, ProfileFileConfiguresTheWriter) {
  auto source = WriteSource("avi", 2.0);
  ComPtr<IWMProfileManager> manager;
  ASSERT_EQ(WMCreateProfileManager(&manager), S_OK);
  // Saved as UTF-16 with a byte-order mark, as profile editors save .prx
  // files, and read back whole into a zero-filled buffer two bytes longer.
  std::u16string saved = u"\uFEFF" + reel::Utf8ToUtf16(kProfileFile);
  auto prx = folder / "pocket.prx";
  reel::test::WriteFile(prx, std::string(reinterpret_cast<const char*>(saved.data()), saved.size() * 2));
  std::string bytes = reel::test::ReadFile(prx);
  std::vector<char16_t> text(bytes.size() / 2 + 1, u'\0');
  std::memcpy(text.data(), bytes.data(), bytes.size());
  ComPtr<IWMProfile> profile;
  ASSERT_EQ(manager->LoadProfileByData(text.data(), &profile), S_OK);
  CreateWriter();
  ASSERT_EQ(config->ConfigureFilterUsingProfile(profile.Get()), S_OK);
  GUID current{1, 2, 3, {4}};
  ASSERT_EQ(config->GetCurrentProfileGuid(&current), S_OK);
  EXPECT_EQ(current, GUID_NULL);
  auto output = folder / "custom.wmv";
  Transcode(source, output);
  CheckVideoFile(output, source, spec, {176, 144, 12.0, 2, 44100});
}

TEST_F(AsfWriterTest, DefaultProfileWritesWhenNoneIsConfigured) {
  auto source = WriteSource("avi", 1.0);
  CreateWriter();
  GUID current = GUID_NULL;
  ASSERT_EQ(config->GetCurrentProfileGuid(&current), S_OK);
  EXPECT_EQ(current, Catalogue(2).id);
  auto output = folder / "default.wmv";
  Transcode(source, output);
  CheckVideoFile(output, source, spec, {320, 240, 25.0, 2, 44100});
}

TEST_F(AsfWriterTest, AudioOnlyProfileWritesSound) {
  auto source = WriteSource("avi", 1.5);
  CreateWriter();
  ASSERT_EQ(config->ConfigureFilterUsingProfileGuid(Catalogue(9).id), S_OK);
  EXPECT_EQ(PinNames(writer.Get()), std::vector<std::u16string>{u"Audio Input 01"});
  auto output = folder / "voice.wma";
  Transcode(source, output);
  fixtures::MediaReport report = fixtures::Probe(output.string());
  ASSERT_TRUE(report.ok) << report.error;
  EXPECT_EQ(report.formatName, "asf");
  ASSERT_EQ(report.streams.size(), 1u);
  const fixtures::StreamReport* audio = report.FirstAudio();
  ASSERT_NE(audio, nullptr);
  EXPECT_EQ(audio->codecName, "wmav2");
  EXPECT_EQ(audio->sampleRate, 22050);
  EXPECT_EQ(audio->channels, 1);
  EXPECT_EQ(audio->decodeErrors, 0);
  ExpectWholeSound(*audio, source);
  EXPECT_NEAR(audio->toneFrequency, spec.toneFrequency, 30.0);
  reel::test::PlayerVerdict verdict = reel::test::PlayInMpv(output.string());
  EXPECT_TRUE(verdict.played) << verdict.log;
}

TEST_F(AsfWriterTest, EachProfileGivesItsPinsAndReconfiguringReplacesThem) {
  CreateWriter();
  EXPECT_EQ(PinNames(writer.Get()), (std::vector<std::u16string>{u"Audio Input 01", u"Video Input 01"}));
  ASSERT_EQ(config->ConfigureFilterUsingProfileGuid(Catalogue(13).id), S_OK);
  EXPECT_EQ(PinNames(writer.Get()), (std::vector<std::u16string>{u"Audio Input 01", u"Audio Input 02"}));
  ASSERT_EQ(config->ConfigureFilterUsingProfileGuid(Catalogue(8).id), S_OK);
  EXPECT_EQ(PinNames(writer.Get()), std::vector<std::u16string>{u"Video Input 01"});
  // By catalogue position.
  ASSERT_EQ(config->ConfigureFilterUsingProfileId(10), S_OK);
  DWORD position = 0;
  ASSERT_EQ(config->GetCurrentProfileId(&position), S_OK);
  EXPECT_EQ(position, 10u);
  GUID current = GUID_NULL;
  ASSERT_EQ(config->GetCurrentProfileGuid(&current), S_OK);
  EXPECT_EQ(current, Catalogue(10).id);
  // The current profile comes back as a profile object.
  ComPtr<IWMProfile> profile;
  ASSERT_EQ(config->GetCurrentProfile(&profile), S_OK);
  DWORD streams = 0;
  ASSERT_EQ(profile->GetStreamCount(&streams), S_OK);
  EXPECT_EQ(streams, 1u);

  // Refusals leave the configuration alone.
  GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(config->ConfigureFilterUsingProfileGuid(unknown), E_INVALIDARG);
  EXPECT_EQ(config->ConfigureFilterUsingProfileId(999), E_INVALIDARG);
  EXPECT_EQ(config->ConfigureFilterUsingProfile(nullptr), E_POINTER);
  reel::wmf::ProfileDefinition unencodable = Catalogue(3);
  reel::wmf::MakeVideoStream(&unencodable.streams[1], kFourccWmv3, 320, 240, UNITS / 30, 600000);
  unencodable.streams[1].number = 2;
  ComPtr<IWMProfile> wmv3 = reel::wmf::CreateProfileObject(unencodable);
  EXPECT_EQ(config->ConfigureFilterUsingProfile(wmv3.Get()), NS_E_INVALID_PROFILE);
  ComPtr<IWMProfile> empty;
  ComPtr<IWMProfileManager> manager;
  ASSERT_EQ(WMCreateProfileManager(&manager), S_OK);
  ASSERT_EQ(manager->CreateEmptyProfile(WMT_VER_8_0, &empty), S_OK);
  EXPECT_EQ(config->ConfigureFilterUsingProfile(empty.Get()), NS_E_INVALID_PROFILE);
  ASSERT_EQ(config->GetCurrentProfileGuid(&current), S_OK);
  EXPECT_EQ(current, Catalogue(10).id);

  BOOL index = FALSE;
  ASSERT_EQ(config->GetIndexMode(&index), S_OK);
  EXPECT_TRUE(index);
  ASSERT_EQ(config->SetIndexMode(FALSE), S_OK);
  ASSERT_EQ(config->GetIndexMode(&index), S_OK);
  EXPECT_FALSE(index);
}

TEST_F(AsfWriterTest, ReconfiguringDisconnectsAndIsRefusedWhileRunning) {
  auto source = WriteSource("avi", 4.0);
  CreateWriter();
  auto output = folder / "stopped.wmv";
  Connect(source, output);
  ComPtr<IPin> oldVideo = PinNamed(writer.Get(), u"Video Input 01");
  ASSERT_TRUE(oldVideo);
  ComPtr<IPin> peer;
  ASSERT_EQ(oldVideo->ConnectedTo(&peer), S_OK);

  // Running against the graph's clock, in real time, then stopped well
  // before the end: about 1.5 s of the 4 s were written.
  ComPtr<IMediaControl> control = reel::test::QueryObject<IMediaControl>(graph.Get());
  ASSERT_TRUE(control);
  ASSERT_TRUE(SUCCEEDED(control->Run()));
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(config->ConfigureFilterUsingProfileGuid(Catalogue(0).id), VFW_E_WRONG_STATE);
  ASSERT_EQ(control->Stop(), S_OK);

  // The file is whole: it opens, decodes without errors and plays.
  fixtures::MediaReport report = fixtures::Probe(output.string());
  ASSERT_TRUE(report.ok) << report.error;
  ASSERT_NE(report.FirstVideo(), nullptr);
  ASSERT_NE(report.FirstAudio(), nullptr);
  EXPECT_EQ(report.FirstVideo()->decodeErrors, 0);
  EXPECT_EQ(report.FirstAudio()->decodeErrors, 0);
  EXPECT_GT(report.FirstVideo()->decodedFrames, 5);
  EXPECT_LT(report.FirstVideo()->decodedFrames, 3 * 25);
  reel::test::PlayerVerdict verdict = reel::test::PlayInMpv(output.string());
  EXPECT_TRUE(verdict.played) << verdict.log;

  // Stopped, a new profile replaces the pins and frees their peers; the
  // old pin stays a valid, unconnected object.
  ASSERT_EQ(config->ConfigureFilterUsingProfileGuid(Catalogue(9).id), S_OK);
  ComPtr<IPin> none;
  EXPECT_EQ(oldVideo->ConnectedTo(&none), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(peer->ConnectedTo(&none), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(PinNames(writer.Get()), std::vector<std::u16string>{u"Audio Input 01"});
}

TEST_F(AsfWriterTest, RefusesCompressedInputAndMissingFileName) {
  CreateWriter();
  ComPtr<IPin> video = PinNamed(writer.Get(), u"Video Input 01");
  ASSERT_TRUE(video);
  CMediaType compressed(&MEDIATYPE_Video);
  GUID mp4v = FourccSubtype(MAKEFOURCC('X', 'V', 'I', 'D'));
  compressed.SetSubtype(&mp4v);
  compressed.SetFormatType(&FORMAT_VideoInfo);
  auto* info = reinterpret_cast<VIDEOINFOHEADER*>(compressed.AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
  info->bmiHeader.biWidth = 160;
  info->bmiHeader.biHeight = 120;
  info->bmiHeader.biCompression = mp4v.Data1;
  EXPECT_NE(video->QueryAccept(&compressed), S_OK);
  CMediaType picture;
  ASSERT_TRUE(reel::MakeVideoType(MEDIASUBTYPE_RGB24, 160, 120, UNITS / 25, &picture));
  EXPECT_EQ(video->QueryAccept(&picture), S_OK);
  ComPtr<IPin> audio = PinNamed(writer.Get(), u"Audio Input 01");
  CMediaType pcm;
  ASSERT_TRUE(reel::MakePcmType(44100, 2, 16, &pcm));
  EXPECT_EQ(audio->QueryAccept(&pcm), S_OK);
  EXPECT_NE(audio->QueryAccept(&picture), S_OK);
  EXPECT_NE(video->QueryAccept(&pcm), S_OK);

  // Without a file name, or with no input connected, the graph does not start.
  auto source = WriteSource("avi", 1.0);
  ComPtr<IBaseFilter> reader;
  ASSERT_EQ(graph->AddSourceFilter(Wide(source).c_str(), u"Source", &reader), S_OK);
  ComPtr<IMediaControl> control = reel::test::QueryObject<IMediaControl>(graph.Get());
  EXPECT_TRUE(FAILED(writer->Pause()));
  ComPtr<IFileSinkFilter> sink = reel::test::QueryObject<IFileSinkFilter>(writer.Get());
  ASSERT_EQ(sink->SetFileName(Wide(folder / "none.wmv").c_str(), nullptr), S_OK);
  EXPECT_EQ(writer->Pause(), VFW_E_NOT_CONNECTED);
  EXPECT_EQ(sink->SetFileName(u"", nullptr), E_INVALIDARG);
  // A folder that does not exist.
  auto missing = folder / "missing" / "x.wmv";
  Connect(source, missing);
  LPOLESTR name = nullptr;
  ASSERT_EQ(sink->GetCurFile(&name, nullptr), S_OK);
  EXPECT_EQ(std::u16string(name), Wide(missing));
  CoTaskMemFree(name);
  EXPECT_TRUE(FAILED(control->Pause()));
  control->Stop();
  EXPECT_FALSE(std::filesystem::exists(missing));
}

}  // namespace
