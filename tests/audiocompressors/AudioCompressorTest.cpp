// Every audio compressor of the category turns the sound of a generated clip
// into an AVI stream that FFmpeg and mpv read back as the codec it names, as
// long as the clip and at the tone it had; IAMStreamConfig chooses the
// output format and refuses formats the codec cannot make.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

extern "C" {
#include <libavformat/avformat.h>
}

#include "platform/com/Bstr.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Variant.h"
#include "platform/dshow/AudioCompressor.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/DeviceEnumerator.h"
#include "platform/dshow/GraphDescription.h"
#include "platform/dshow/MediaDecoders.h"
#include "platform/dshow/MediaType.h"
#include "platform/win/Strings.h"
#include "tests/fixtures/ClipWriter.h"
#include "tests/fixtures/MediaProbe.h"
#include "tests/support/GraphHarness.h"
#include "tests/support/PlayerCheck.h"
#include "tests/support/TempDir.h"

namespace {

using reel::ComPtr;
using reel::test::CreateObject;
using reel::test::PinsOf;
using reel::test::QueryObject;
namespace fixtures = reel::fixtures;

constexpr double kToneFrequency = 1000.0;

// Calls visit(name, moniker) for each moniker of the audio compressor
// category until it returns true.
void ForEachAudioCompressor(const std::function<bool(const std::u16string&, IMoniker*)>& visit) {
  auto enumerator = CreateObject<ICreateDevEnum>(CLSID_SystemDeviceEnum);
  ASSERT_TRUE(enumerator);
  ComPtr<IEnumMoniker> monikers;
  if (enumerator->CreateClassEnumerator(CLSID_AudioCompressorCategory, &monikers, 0) != S_OK) return;
  IMoniker* moniker = nullptr;
  while (monikers->Next(1, &moniker, nullptr) == S_OK) {
    ComPtr<IMoniker> held;
    held.Attach(moniker);
    ComPtr<IPropertyBag> bag;
    if (FAILED(held->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) continue;
    VARIANT value;
    VariantInit(&value);
    value.vt = VT_BSTR;
    std::u16string name;
    if (SUCCEEDED(bag->Read(u"FriendlyName", &value, nullptr)) && value.vt == VT_BSTR)
      name = reel::Utf8ToUtf16(reel::Utf8FromBstr(value.bstrVal));
    VariantClear(&value);
    if (visit(name, held.Get())) return;
  }
}

ComPtr<IBaseFilter> FindAudioCompressor(const std::u16string& wanted) {
  ComPtr<IBaseFilter> filter;
  ForEachAudioCompressor([&](const std::u16string& name, IMoniker* moniker) {
    if (name != wanted) return false;
    moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    return true;
  });
  return filter;
}

std::vector<std::u16string> AudioCompressorNames() {
  std::vector<std::u16string> names;
  ForEachAudioCompressor([&](const std::u16string& name, IMoniker*) {
    names.push_back(name);
    return false;
  });
  return names;
}

// The audio stream header of a file as libavformat reads it.
struct StoredAudio {
  bool found = false;
  unsigned tag = 0;
  int64_t bitRate = 0;
  int blockAlign = 0;
};

StoredAudio StoredAudioOf(const std::string& path) {
  StoredAudio stored;
  AVFormatContext* input = nullptr;
  if (avformat_open_input(&input, path.c_str(), nullptr, nullptr) < 0) return stored;
  for (unsigned index = 0; index < input->nb_streams; ++index) {
    const AVCodecParameters* parameters = input->streams[index]->codecpar;
    if (parameters->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    stored = {true, parameters->codec_tag, parameters->bit_rate, parameters->block_align};
    break;
  }
  avformat_close_input(&input);
  return stored;
}

// The media type IAMStreamConfig::GetFormat answers, as a CMediaType.
CMediaType FormatOf(IAMStreamConfig* config) {
  AM_MEDIA_TYPE* type = nullptr;
  EXPECT_EQ(config->GetFormat(&type), S_OK);
  CMediaType result;
  if (type) {
    result = *type;
    DeleteMediaType(type);
  }
  return result;
}

WAVEFORMATEX* WaveOf(CMediaType& type) { return reinterpret_cast<WAVEFORMATEX*>(type.Format()); }

// The first 16-bit field behind a WAVEFORMATEX; -1 when there is none.
int FirstExtraWord(const AM_MEDIA_TYPE& type) {
  const WAVEFORMATEX* wave = reel::WaveFormatOf(type);
  if (!wave || wave->cbSize < 2 || type.cbFormat < sizeof(WAVEFORMATEX) + 2) return -1;
  const BYTE* extra = type.pbFormat + sizeof(WAVEFORMATEX);
  return extra[0] | extra[1] << 8;
}

// Source, audio decoder, compressor, AVI multiplexer and File Writer; the
// clip has sound only, a 1 kHz tone.
class AudioCompressorGraph : public ::testing::Test {
 protected:
  std::filesystem::path WriteSource(int rate, int channels) {
    fixtures::ClipSpec spec;
    spec.container = "avi";
    spec.video = false;
    spec.audioCodec = "libmp3lame";
    spec.sampleRate = rate;
    spec.channels = channels;
    spec.toneFrequency = kToneFrequency;
    spec.durationSeconds = 1.0;
    std::filesystem::path file = folder / "source.avi";
    std::string error;
    EXPECT_TRUE(fixtures::WriteClip(spec, file.string(), &error)) << error;
    return file;
  }

  // Up to the compressor's input; the compressor's output goes to the
  // multiplexer with ConnectOutput.
  void ConnectInput(const std::filesystem::path& source, IBaseFilter* compressor) {
    graph = CreateObject<IGraphBuilder>(CLSID_FilterGraph);
    ASSERT_TRUE(graph);
    ComPtr<IBaseFilter> reader;
    ASSERT_EQ(graph->AddSourceFilter(reel::Utf8ToUtf16(source.string()).c_str(), u"Source", &reader), S_OK);
    auto decoder = CreateObject<IBaseFilter>(CLSID_MediaAudioDecoder);
    ASSERT_TRUE(decoder);
    ASSERT_EQ(graph->AddFilter(decoder.Get(), u"Audio Decoder"), S_OK);
    ASSERT_EQ(graph->AddFilter(compressor, u"Audio Compressor"), S_OK);
    ASSERT_EQ(graph->ConnectDirect(PinsOf(reader.Get(), PINDIR_OUTPUT).at(0).Get(),
                                   PinsOf(decoder.Get(), PINDIR_INPUT).at(0).Get(), nullptr),
              S_OK);
    HRESULT connected = graph->ConnectDirect(PinsOf(decoder.Get(), PINDIR_OUTPUT).at(0).Get(),
                                             PinsOf(compressor, PINDIR_INPUT).at(0).Get(), nullptr);
    ASSERT_EQ(connected, S_OK) << std::hex << connected << " " << reel::DescribeGraph(graph.Get());
  }

  void ConnectOutput(IBaseFilter* compressor, const std::filesystem::path& output) {
    auto mux = CreateObject<IBaseFilter>(CLSID_AviDest);
    auto writer = CreateObject<IBaseFilter>(CLSID_FileWriter);
    ASSERT_TRUE(mux && writer);
    ASSERT_EQ(graph->AddFilter(mux.Get(), u"AVI Mux"), S_OK);
    ASSERT_EQ(graph->AddFilter(writer.Get(), u"File Writer"), S_OK);
    auto sink = QueryObject<IFileSinkFilter2>(writer.Get());
    ASSERT_TRUE(sink);
    ASSERT_EQ(sink->SetFileName(reel::Utf8ToUtf16(output.string()).c_str(), nullptr), S_OK);
    ASSERT_EQ(graph->ConnectDirect(PinsOf(mux.Get(), PINDIR_OUTPUT).at(0).Get(),
                                   PinsOf(writer.Get(), PINDIR_INPUT).at(0).Get(), nullptr),
              S_OK);
    HRESULT connected = graph->ConnectDirect(PinsOf(compressor, PINDIR_OUTPUT).at(0).Get(),
                                             reel::test::FreeInput(mux.Get()).Get(), nullptr);
    ASSERT_EQ(connected, S_OK) << std::hex << connected << " " << reel::DescribeGraph(graph.Get());
  }

  bool Run() {
    reel::test::RunWithoutClock(graph.Get());
    bool complete = reel::test::RunToCompletion(graph.Get(), 60000);
    EXPECT_TRUE(complete) << reel::DescribeGraph(graph.Get());
    return complete;
  }

  // The output type the compressor connected with.
  CMediaType ConnectedOutputType(IBaseFilter* compressor) {
    CMediaType type;
    EXPECT_EQ(PinsOf(compressor, PINDIR_OUTPUT).at(0)->ConnectionMediaType(&type), S_OK);
    return type;
  }

  // Checks the file's sound against the source's: codec, format, length
  // within `tolerance` seconds, tone; and that mpv plays it.
  void ExpectSound(const std::filesystem::path& source, const std::filesystem::path& output, const char* codec,
                   int rate, int channels, double tolerance) {
    fixtures::MediaReport original = fixtures::Probe(source.string());
    ASSERT_TRUE(original.ok && original.FirstAudio()) << original.error;
    fixtures::MediaReport report = fixtures::Probe(output.string());
    ASSERT_TRUE(report.ok) << report.error;
    EXPECT_EQ(report.formatName, "avi");
    const fixtures::StreamReport* audio = report.FirstAudio();
    ASSERT_NE(audio, nullptr) << fixtures::FormatReport(output.string(), report);
    EXPECT_EQ(audio->codecName, codec);
    EXPECT_EQ(audio->sampleRate, rate);
    EXPECT_EQ(audio->channels, channels);
    EXPECT_EQ(audio->decodeErrors, 0);
    EXPECT_NEAR(audio->decodedSeconds, original.FirstAudio()->decodedSeconds, tolerance)
        << fixtures::FormatReport(output.string(), report);
    EXPECT_NEAR(audio->toneFrequency, kToneFrequency, kToneFrequency * 0.02);
    // Channels are mixed without a change of level.
    EXPECT_NEAR(audio->peakLevel, original.FirstAudio()->peakLevel, 0.08);
    reel::test::PlayerVerdict verdict = reel::test::PlayInMpv(output.string());
    EXPECT_TRUE(verdict.played) << verdict.log;
  }

  reel::test::TempDir folder{"audiocompressors"};
  ComPtr<IGraphBuilder> graph;
};

// ---------------------------------------------------------------------------
// Each compressor with the format it offers for 44.1 kHz stereo.

struct CompressorCase {
  const char* test;
  const char16_t* friendlyName;
  const char* codecName;  // as libavformat reads the file back
  WORD formatTag;
  int rate;
  int channels;
  // The output type's WAVEFORMATEX, and the first field of the codec's
  // structure behind it (-1: none).
  WORD blockAlign;
  DWORD bytesPerSecond;
  WORD bitsPerSample;
  WORD extraSize;
  int firstExtraWord;
  int frameSamples;  // what the codec codes at a time; the length may grow by two
};

void PrintTo(const CompressorCase& entry, std::ostream* stream) { *stream << entry.test; }

const CompressorCase kCases[] = {
    // test        name                   codec            tag     rate   ch  align  bytes/s  bits cb  first  frame
    {"Pcm",        u"PCM",                "pcm_s16le",     0x0001, 44100, 2,  4,     176400,  16,  0,  -1,    1},
    {"Mp3",        u"MPEG Layer-3",       "mp3",           0x0055, 44100, 2,  1,     16000,   0,   12, 1,     1152},
    {"ImaAdpcm",   u"IMA ADPCM",          "adpcm_ima_wav", 0x0011, 44100, 2,  2048,  44251,   4,   2,  2041,  2041},
    {"MsAdpcm",    u"Microsoft ADPCM",    "adpcm_ms",      0x0002, 44100, 2,  2048,  44359,   4,   32, 2036,  2036},
    {"ALaw",       u"CCITT A-Law",        "pcm_alaw",      0x0006, 44100, 2,  2,     88200,   8,   0,  -1,    1024},
    {"MuLaw",      u"CCITT u-Law",        "pcm_mulaw",     0x0007, 44100, 2,  2,     88200,   8,   0,  -1,    1024},
    {"Gsm610",     u"GSM 6.10",           "gsm_ms",        0x0031, 8000,  1,  65,    1625,    0,   2,  320,   320},
    {"Mp2",        u"MPEG Layer-2",       "mp2",           0x0050, 44100, 2,  627,   24000,   0,   22, 2,     1152},
    {"Ac3",        u"AC-3",               "ac3",           0x2000, 44100, 2,  836,   24000,   0,   0,  -1,    1536},
};

class EveryCompressor : public AudioCompressorGraph, public ::testing::WithParamInterface<CompressorCase> {};

TEST_P(EveryCompressor, WritesAnAviStreamThatDecodesAndPlays) {
  const CompressorCase& entry = GetParam();
  ComPtr<IBaseFilter> compressor = FindAudioCompressor(entry.friendlyName);
  ASSERT_TRUE(compressor) << reel::Utf16ToUtf8(entry.friendlyName);
  auto source = WriteSource(44100, 2);
  auto output = folder / "out.avi";
  ConnectInput(source, compressor.Get());
  ConnectOutput(compressor.Get(), output);
  ASSERT_FALSE(HasFatalFailure());

  CMediaType type = ConnectedOutputType(compressor.Get());
  const WAVEFORMATEX* wave = reel::WaveFormatOf(type);
  ASSERT_NE(wave, nullptr);
  EXPECT_EQ(type.subtype, FourccSubtype(entry.formatTag));
  EXPECT_EQ(wave->wFormatTag, entry.formatTag);
  EXPECT_EQ(wave->nSamplesPerSec, static_cast<DWORD>(entry.rate));
  EXPECT_EQ(wave->nChannels, entry.channels);
  EXPECT_EQ(wave->nBlockAlign, entry.blockAlign);
  EXPECT_EQ(wave->nAvgBytesPerSec, entry.bytesPerSecond);
  EXPECT_EQ(wave->wBitsPerSample, entry.bitsPerSample);
  EXPECT_EQ(wave->cbSize, entry.extraSize);
  EXPECT_EQ(type.cbFormat, sizeof(WAVEFORMATEX) + entry.extraSize);
  EXPECT_EQ(FirstExtraWord(type), entry.firstExtraWord);

  ASSERT_TRUE(Run());
  StoredAudio stored = StoredAudioOf(output.string());
  ASSERT_TRUE(stored.found);
  EXPECT_EQ(stored.tag, entry.formatTag);
  ExpectSound(source, output, entry.codecName, entry.rate, entry.channels,
              2.0 * entry.frameSamples / entry.rate + 0.005);
}

INSTANTIATE_TEST_SUITE_P(Compressors, EveryCompressor, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CompressorCase>& info) { return info.param.test; });

// The category lists the compressors in one fixed order, each once.
TEST(AudioCompressorCategory, ListsEveryCompressorOnceInTableOrder) {
  std::vector<std::u16string> expected;
  for (const CompressorCase& entry : kCases) expected.push_back(entry.friendlyName);
  // Every encoder of the table exists in the FFmpeg this runs on.
  EXPECT_EQ(AudioCompressorNames(), expected);
  EXPECT_EQ(AudioCompressorNames(), expected);
}

// ---------------------------------------------------------------------------
// Formats chosen with SetFormat, before connecting or on a connected output.

struct ChosenFormatCase {
  const char* test;
  const char16_t* friendlyName;
  int sourceRate;
  int sourceChannels;
  int rate;
  int channels;
  int bitsPerSample;  // PCM
  long bitRate;       // MPEG audio, AC-3
  bool whenConnected;
  const char* codecName;
  double tolerance;   // seconds
};

void PrintTo(const ChosenFormatCase& entry, std::ostream* stream) { *stream << entry.test; }

class ChosenFormat : public AudioCompressorGraph, public ::testing::WithParamInterface<ChosenFormatCase> {};

TEST_P(ChosenFormat, IsWhatTheFileHolds) {
  const ChosenFormatCase& entry = GetParam();
  ComPtr<IBaseFilter> compressor = FindAudioCompressor(entry.friendlyName);
  ASSERT_TRUE(compressor);
  auto config = QueryObject<IAMStreamConfig>(compressor.Get());
  ASSERT_TRUE(config);
  auto source = WriteSource(entry.sourceRate, entry.sourceChannels);
  auto output = folder / "chosen.avi";

  // As a WAV export sets it: GetFormat, the fields changed, SetFormat.
  auto choose = [&] {
    CMediaType type = FormatOf(config.Get());
    WAVEFORMATEX* wave = WaveOf(type);
    ASSERT_NE(wave, nullptr);
    wave->nChannels = static_cast<WORD>(entry.channels);
    wave->nSamplesPerSec = static_cast<DWORD>(entry.rate);
    if (entry.bitsPerSample) {
      wave->wBitsPerSample = static_cast<WORD>(entry.bitsPerSample);
      wave->nBlockAlign = static_cast<WORD>(entry.bitsPerSample / 8 * entry.channels);
      wave->nAvgBytesPerSec = static_cast<DWORD>(entry.bitsPerSample / 8 * entry.channels * entry.rate);
    }
    if (entry.bitRate) wave->nAvgBytesPerSec = static_cast<DWORD>(entry.bitRate / 8);
    ASSERT_EQ(config->SetFormat(&type), S_OK);
  };
  if (entry.whenConnected) {
    ConnectInput(source, compressor.Get());
    ConnectOutput(compressor.Get(), output);
    choose();
  } else {
    choose();
    ConnectInput(source, compressor.Get());
    ConnectOutput(compressor.Get(), output);
  }
  ASSERT_FALSE(HasFatalFailure());

  // GetFormat and the connection agree on the chosen format.
  CMediaType current = FormatOf(config.Get());
  EXPECT_TRUE(current == ConnectedOutputType(compressor.Get()));
  const WAVEFORMATEX* wave = WaveOf(current);
  ASSERT_NE(wave, nullptr);
  EXPECT_EQ(wave->nSamplesPerSec, static_cast<DWORD>(entry.rate));
  EXPECT_EQ(wave->nChannels, entry.channels);
  if (entry.bitsPerSample) {
    EXPECT_EQ(wave->wBitsPerSample, entry.bitsPerSample);
  }

  ASSERT_TRUE(Run());
  StoredAudio stored = StoredAudioOf(output.string());
  ASSERT_TRUE(stored.found);
  if (entry.bitsPerSample) {
    EXPECT_EQ(stored.blockAlign, entry.bitsPerSample / 8 * entry.channels);
  }
  if (entry.bitRate) {
    EXPECT_EQ(stored.bitRate, entry.bitRate);
  }
  ExpectSound(source, output, entry.codecName, entry.rate, entry.channels, entry.tolerance);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ChosenFormat,
    ::testing::Values(
        // test                 name              source       chosen              bits  bit/s   connected codec        length
        ChosenFormatCase{"Pcm8BitMono22050",   u"PCM",          48000, 2, 22050, 1, 8,  0,      false, "pcm_u8",     0.005},
        ChosenFormatCase{"Pcm16BitStereo44100", u"PCM",         22050, 1, 44100, 2, 16, 0,      true,  "pcm_s16le",  0.005},
        ChosenFormatCase{"Mp3Mono22050At64k",  u"MPEG Layer-3", 44100, 2, 22050, 1, 0,  64000,  false, "mp3",        2.0 * 576 / 22050 + 0.005},
        ChosenFormatCase{"Mp2Stereo48000At256k", u"MPEG Layer-2", 44100, 2, 48000, 2, 0, 256000, true,  "mp2",        2.0 * 1152 / 48000 + 0.005},
        ChosenFormatCase{"Ac3Mono48000At96k",  u"AC-3",         44100, 2, 48000, 1, 0,  96000,  false, "ac3",        2.0 * 1536 / 48000 + 0.005},
        ChosenFormatCase{"ImaAdpcmMono22050",  u"IMA ADPCM",    44100, 2, 22050, 1, 0,  0,      true,  "adpcm_ima_wav", 2.0 * 1017 / 22050 + 0.005}),
    [](const ::testing::TestParamInfo<ChosenFormatCase>& info) { return info.param.test; });

// ---------------------------------------------------------------------------
// Formats a compressor cannot make are refused and change nothing.

struct BadFormatCase {
  const char* test;
  const char16_t* friendlyName;
  std::function<void(CMediaType&)> spoil;
  HRESULT expected;
};

void PrintTo(const BadFormatCase& entry, std::ostream* stream) { *stream << entry.test; }

void SetRate(CMediaType& type, DWORD rate) { WaveOf(type)->nSamplesPerSec = rate; }
void SetBitRate(CMediaType& type, long bitRate) { WaveOf(type)->nAvgBytesPerSec = static_cast<DWORD>(bitRate / 8); }

const BadFormatCase kBadFormats[] = {
    {"PcmTwelveBits", u"PCM", [](CMediaType& t) { WaveOf(t)->wBitsPerSample = 12; }, VFW_E_INVALIDMEDIATYPE},
    {"PcmWrongBlockAlign", u"PCM", [](CMediaType& t) { WaveOf(t)->nBlockAlign = 3; }, VFW_E_INVALIDMEDIATYPE},
    {"PcmWrongBytesPerSecond", u"PCM", [](CMediaType& t) { WaveOf(t)->nAvgBytesPerSec = 1000; }, VFW_E_INVALIDMEDIATYPE},
    {"PcmNoChannels", u"PCM", [](CMediaType& t) { WaveOf(t)->nChannels = 0; }, VFW_E_INVALIDMEDIATYPE},
    {"PcmRateTooLow", u"PCM", [](CMediaType& t) { SetRate(t, 100); }, VFW_E_INVALIDMEDIATYPE},
    {"PcmVideoType", u"PCM", [](CMediaType& t) { t.SetType(&MEDIATYPE_Video); }, VFW_E_INVALIDMEDIATYPE},
    {"PcmNoWaveFormat", u"PCM", [](CMediaType& t) { t.SetFormatType(&FORMAT_None); }, VFW_E_INVALIDMEDIATYPE},
    {"PcmTruncatedFormat", u"PCM", [](CMediaType& t) { t.cbFormat = 10; }, VFW_E_INVALIDMEDIATYPE},
    {"Mp3ThreeChannels", u"MPEG Layer-3", [](CMediaType& t) { WaveOf(t)->nChannels = 3; }, VFW_E_INVALIDMEDIATYPE},
    {"Mp3Rate96000", u"MPEG Layer-3", [](CMediaType& t) { SetRate(t, 96000); }, VFW_E_INVALIDMEDIATYPE},
    {"Mp3BitRate100k", u"MPEG Layer-3", [](CMediaType& t) { SetBitRate(t, 100000); }, VFW_E_INVALIDMEDIATYPE},
    {"Mp3LowRateAt320k", u"MPEG Layer-3", [](CMediaType& t) { SetRate(t, 22050); SetBitRate(t, 320000); }, VFW_E_INVALIDMEDIATYPE},
    {"Mp3WithLayer2Tag", u"MPEG Layer-3", [](CMediaType& t) { WaveOf(t)->wFormatTag = 0x50; }, VFW_E_INVALIDMEDIATYPE},
    {"Gsm44100", u"GSM 6.10", [](CMediaType& t) { SetRate(t, 44100); }, VFW_E_INVALIDMEDIATYPE},
    {"GsmStereo", u"GSM 6.10", [](CMediaType& t) { WaveOf(t)->nChannels = 2; }, VFW_E_INVALIDMEDIATYPE},
    {"Ac3Rate22050", u"AC-3", [](CMediaType& t) { SetRate(t, 22050); }, VFW_E_INVALIDMEDIATYPE},
    {"Ac3BitRate1000k", u"AC-3", [](CMediaType& t) { SetBitRate(t, 1000000); }, VFW_E_INVALIDMEDIATYPE},
    {"Mp2Rate8000", u"MPEG Layer-2", [](CMediaType& t) { SetRate(t, 8000); }, VFW_E_INVALIDMEDIATYPE},
    {"ImaAdpcmRate192000", u"IMA ADPCM", [](CMediaType& t) { SetRate(t, 192000); }, VFW_E_INVALIDMEDIATYPE},
};

class BadFormat : public ::testing::TestWithParam<BadFormatCase> {};

TEST_P(BadFormat, IsRefusedAndChangesNothing) {
  const BadFormatCase& entry = GetParam();
  ComPtr<IBaseFilter> compressor = FindAudioCompressor(entry.friendlyName);
  ASSERT_TRUE(compressor);
  auto config = QueryObject<IAMStreamConfig>(compressor.Get());
  ASSERT_TRUE(config);
  CMediaType before = FormatOf(config.Get());
  CMediaType spoilt = before;
  entry.spoil(spoilt);
  EXPECT_EQ(config->SetFormat(&spoilt), entry.expected);
  EXPECT_TRUE(FormatOf(config.Get()) == before);
}

INSTANTIATE_TEST_SUITE_P(Formats, BadFormat, ::testing::ValuesIn(kBadFormats),
                         [](const ::testing::TestParamInfo<BadFormatCase>& info) { return info.param.test; });

// The format of a running compressor stays as it is.
TEST_F(AudioCompressorGraph, FormatIsFixedWhileTheGraphRuns) {
  ComPtr<IBaseFilter> compressor = FindAudioCompressor(u"PCM");
  ASSERT_TRUE(compressor);
  auto config = QueryObject<IAMStreamConfig>(compressor.Get());
  ASSERT_TRUE(config);
  ConnectInput(WriteSource(44100, 2), compressor.Get());
  ConnectOutput(compressor.Get(), folder / "running.avi");
  ASSERT_FALSE(HasFatalFailure());
  auto control = QueryObject<IMediaControl>(graph.Get());
  ASSERT_TRUE(control);
  ASSERT_TRUE(SUCCEEDED(control->Pause()));
  CMediaType type = FormatOf(config.Get());
  WaveOf(type)->nChannels = 1;
  WaveOf(type)->nBlockAlign = 2;
  WaveOf(type)->nAvgBytesPerSec = 88200;
  EXPECT_EQ(config->SetFormat(&type), VFW_E_NOT_STOPPED);
  EXPECT_EQ(control->Stop(), S_OK);
  CMediaType unchanged = FormatOf(config.Get());
  EXPECT_EQ(WaveOf(unchanged)->nChannels, 2);
  EXPECT_EQ(config->SetFormat(&type), S_OK);
}

TEST(AudioStreamConfig, RefusesMissingPointers) {
  ComPtr<IBaseFilter> compressor = FindAudioCompressor(u"PCM");
  ASSERT_TRUE(compressor);
  auto config = QueryObject<IAMStreamConfig>(compressor.Get());
  ASSERT_TRUE(config);
  int count = 0;
  BYTE caps[sizeof(AUDIO_STREAM_CONFIG_CAPS)];
  AM_MEDIA_TYPE* type = nullptr;
  EXPECT_EQ(config->SetFormat(nullptr), E_POINTER);
  EXPECT_EQ(config->GetFormat(nullptr), E_POINTER);
  EXPECT_EQ(config->GetNumberOfCapabilities(&count, nullptr), E_POINTER);
  EXPECT_EQ(config->GetStreamCaps(0, nullptr, caps), E_POINTER);
  EXPECT_EQ(config->GetStreamCaps(0, &type, nullptr), E_POINTER);
}

// ---------------------------------------------------------------------------
// The capabilities: each one a format SetFormat takes, described by its caps.

class Capabilities : public ::testing::TestWithParam<CompressorCase> {};

TEST_P(Capabilities, AreFormatsTheCompressorTakes) {
  const CompressorCase& entry = GetParam();
  ComPtr<IBaseFilter> compressor = FindAudioCompressor(entry.friendlyName);
  ASSERT_TRUE(compressor);
  // The output pin answers as the filter does.
  auto config = QueryObject<IAMStreamConfig>(PinsOf(compressor.Get(), PINDIR_OUTPUT).at(0).Get());
  ASSERT_TRUE(config);
  int count = 0;
  int size = 0;
  ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
  EXPECT_GT(count, 0);
  EXPECT_EQ(size, static_cast<int>(sizeof(AUDIO_STREAM_CONFIG_CAPS)));
  bool offersTheDefault = false;
  CMediaType initial = FormatOf(config.Get());
  for (int index = 0; index < count; ++index) {
    AM_MEDIA_TYPE* offered = nullptr;
    AUDIO_STREAM_CONFIG_CAPS caps{};
    ASSERT_EQ(config->GetStreamCaps(index, &offered, reinterpret_cast<BYTE*>(&caps)), S_OK) << index;
    CMediaType type(*offered);
    DeleteMediaType(offered);
    const WAVEFORMATEX* wave = reel::WaveFormatOf(type);
    ASSERT_NE(wave, nullptr);
    EXPECT_EQ(wave->wFormatTag, entry.formatTag);
    EXPECT_EQ(caps.guid, MEDIATYPE_Audio);
    EXPECT_EQ(caps.MinimumChannels, wave->nChannels);
    EXPECT_EQ(caps.MaximumChannels, wave->nChannels);
    EXPECT_EQ(caps.MinimumSampleFrequency, wave->nSamplesPerSec);
    EXPECT_EQ(caps.MaximumSampleFrequency, wave->nSamplesPerSec);
    EXPECT_EQ(caps.MinimumBitsPerSample, wave->wBitsPerSample);
    offersTheDefault = offersTheDefault || type == initial;
    ASSERT_EQ(config->SetFormat(&type), S_OK) << index << " " << reel::DescribeMediaType(type);
    EXPECT_TRUE(FormatOf(config.Get()) == type) << index;
  }
  EXPECT_TRUE(offersTheDefault);
  AM_MEDIA_TYPE* type = nullptr;
  BYTE caps[sizeof(AUDIO_STREAM_CONFIG_CAPS)];
  EXPECT_EQ(config->GetStreamCaps(count, &type, caps), S_FALSE);
  EXPECT_EQ(config->GetStreamCaps(-1, &type, caps), E_INVALIDARG);
  EXPECT_EQ(type, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Compressors, Capabilities, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CompressorCase>& info) { return info.param.test; });

}  // namespace
