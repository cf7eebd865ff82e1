// Transcoding speed of an output graph against the ffmpeg command line: a
// generated 5-second 640x480 H.264/AAC clip becomes 320x240 MPEG-4 Part 2
// ("Xvid MPEG-4 Codec", 1 Mbit/s, a key frame every 12, no B-frames) with
// MP3 ("MPEG Layer-3" of the audio compressor category) in AVI. The graph
// is built with the capture graph builder as the converter builds it, the
// resizer (bilinear stretch) in front of the compressor, and runs without a
// clock; ffmpeg gets the same encoders, scaling and settings. Each
// contender runs RUNS times (3); the best time counts. Without an "MPEG
// Layer-3" compressor both convert the video alone.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/com/Bstr.h"
#include "platform/com/ClassTable.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Variant.h"
#include "platform/des/Resizer.h"
#include "platform/dshow/CaptureGraphBuilder.h"
#include "platform/dshow/Compressor.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/DeviceEnumerator.h"
#include "platform/dshow/MediaType.h"
#include "platform/win/Strings.h"
#include "tests/fixtures/ClipWriter.h"

namespace {

using reel::ComPtr;
using Clock = std::chrono::steady_clock;

constexpr long kVideoBitRate = 1000000;  // the compressor's default
constexpr int kKeyFrameInterval = 12;    // the compressor's default
constexpr int kWidth = 320;
constexpr int kHeight = 240;

// The audio compressor with that friendly name, or null.
ComPtr<IBaseFilter> AudioCompressorNamed(const std::string& wanted) {
  ComPtr<ICreateDevEnum> devices;
  ComPtr<IEnumMoniker> monikers;
  if (FAILED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                              reinterpret_cast<void**>(&devices))) ||
      devices->CreateClassEnumerator(CLSID_AudioCompressorCategory, &monikers, 0) != S_OK)
    return nullptr;
  IMoniker* moniker = nullptr;
  while (monikers->Next(1, &moniker, nullptr) == S_OK) {
    ComPtr<IMoniker> held;
    held.Attach(moniker);
    ComPtr<IPropertyBag> bag;
    if (FAILED(held->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)))) continue;
    VARIANT name;
    VariantInit(&name);
    name.vt = VT_BSTR;
    bool match = SUCCEEDED(bag->Read(u"FriendlyName", &name, nullptr)) && name.vt == VT_BSTR &&
                 reel::Utf8FromBstr(name.bstrVal) == wanted;
    VariantClear(&name);
    ComPtr<IBaseFilter> filter;
    if (match && SUCCEEDED(held->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter))))
      return filter;
  }
  return nullptr;
}

// Source -> decoder -> resizer -> Xvid -> AVI Mux, source -> decoder -> MP3 -> AVI Mux
// (when withAudio), run without a clock; seconds from building to the end,
// or -1. audioBitRate gets the MP3 encoder's bit rate.
double TranscodeThroughGraph(const std::string& input, const std::string& output, bool withAudio,
                             long* audioBitRate) {
  std::filesystem::remove(output);
  auto started = Clock::now();
  ComPtr<ICaptureGraphBuilder2> builder;
  ComPtr<IGraphBuilder> graph;
  if (FAILED(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                              reinterpret_cast<void**>(&builder))) ||
      FAILED(builder->GetFiltergraph(&graph)))
    return -1;
  ComPtr<IBaseFilter> source, mux, video, resizer;
  ComPtr<IFileSinkFilter> sink;
  ComPtr<IResize> size;
  if (FAILED(graph->AddSourceFilter(reel::Utf8ToUtf16(input).c_str(), u"Source", &source)) ||
      FAILED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, reel::Utf8ToUtf16(output).c_str(), &mux, &sink)) ||
      FAILED(CoCreateInstance(CLSID_Mpeg4Compressor, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&video))) ||
      FAILED(graph->AddFilter(video.Get(), u"Compressor")) ||
      FAILED(CoCreateInstance(CLSID_Resize, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&resizer))) ||
      FAILED(resizer.As(&size)) || FAILED(size->put_Size(kHeight, kWidth, RESIZEF_STRETCH)) ||
      FAILED(graph->AddFilter(resizer.Get(), u"Resizer")))
    return -1;
  ComPtr<IBaseFilter> audio;
  if (withAudio) {
    audio = AudioCompressorNamed("MPEG Layer-3");
    if (!audio || FAILED(graph->AddFilter(audio.Get(), u"Audio Compressor"))) return -1;
  }
  if (FAILED(builder->RenderStream(nullptr, &MEDIATYPE_Video, source.Get(), resizer.Get(), video.Get())) ||
      FAILED(builder->RenderStream(nullptr, nullptr, video.Get(), nullptr, mux.Get())))
    return -1;
  if (withAudio) {
    if (FAILED(builder->RenderStream(nullptr, &MEDIATYPE_Audio, source.Get(), audio.Get(), mux.Get()))) return -1;
    ComPtr<IAMStreamConfig> config;
    AM_MEDIA_TYPE* format = nullptr;
    if (SUCCEEDED(builder->FindInterface(nullptr, nullptr, audio.Get(), IID_IAMStreamConfig,
                                         reinterpret_cast<void**>(&config))) &&
        SUCCEEDED(config->GetFormat(&format)) && format) {
      if (format->cbFormat >= sizeof(WAVEFORMATEX))
        *audioBitRate = static_cast<long>(reinterpret_cast<WAVEFORMATEX*>(format->pbFormat)->nAvgBytesPerSec) * 8;
      DeleteMediaType(format);
    }
  }
  ComPtr<IConfigInterleaving> interleaving;
  if (SUCCEEDED(mux->QueryInterface(IID_IConfigInterleaving, reinterpret_cast<void**>(&interleaving)))) {
    REFERENCE_TIME second = UNITS;
    interleaving->put_Mode(INTERLEAVE_FULL);
    interleaving->put_Interleaving(&second, &second);
  }
  ComPtr<IMediaFilter> filter;
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
  if (FAILED(graph.As(&filter)) || FAILED(filter->SetSyncSource(nullptr)) || FAILED(graph.As(&control)) ||
      FAILED(graph.As(&events)) || FAILED(control->Run()))
    return -1;
  LONG code = 0;
  if (FAILED(events->WaitForCompletion(600000, &code)) || code != EC_COMPLETE) return -1;
  double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  control->Stop();
  return std::filesystem::file_size(output) > 0 ? seconds : -1;
}

double TranscodeWithFfmpeg(const std::string& input, const std::string& output, bool withAudio,
                           long audioBitRate, const std::string& threads) {
  // threads goes before -i for the decoder and after it for the encoders.
  std::string command = "ffmpeg -nostdin -v error -y " + threads + " -i '" + input + "' " + threads;
  command += " -vf scale=" + std::to_string(kWidth) + ":" + std::to_string(kHeight) + ":flags=bilinear";
  command += " -c:v mpeg4 -vtag XVID -b:v " + std::to_string(kVideoBitRate) + " -g " +
             std::to_string(kKeyFrameInterval) + " -bf 0";
  command += withAudio ? " -c:a libmp3lame -b:a " + std::to_string(audioBitRate) : std::string(" -an");
  command += " '" + output + "' > /dev/null 2>&1";
  auto started = Clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return std::chrono::duration<double>(Clock::now() - started).count();
}

template <typename Run>
double Best(int runs, Run&& run) {
  double best = -1;
  for (int index = 0; index < runs; ++index) {
    double seconds = run();
    if (seconds < 0) return -1;
    if (best < 0 || seconds < best) best = seconds;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  std::filesystem::path folder = std::filesystem::temp_directory_path() / "transcode_bench";
  std::filesystem::create_directories(folder);
  std::string input = (folder / "in.mp4").string();
  reel::fixtures::ClipSpec spec;
  spec.videoCodec = "libx264";
  spec.audioCodec = "aac";
  spec.width = 640;
  spec.height = 480;
  spec.durationSeconds = 5;
  spec.videoBitRate = 2000000;
  std::string error;
  if (!reel::fixtures::WriteClip(spec, input, &error)) {
    std::fprintf(stderr, "transcode_bench: cannot write the clip: %s\n", error.c_str());
    return 1;
  }
  bool withAudio = AudioCompressorNamed("MPEG Layer-3") != nullptr;
  std::printf("input: 5 s 640x480 H.264/AAC; output: %dx%d MPEG-4 Part 2 %ld bit/s, key frame every %d%s in AVI; "
              "best of %d runs\n",
              kWidth, kHeight, kVideoBitRate, kKeyFrameInterval, withAudio ? " + MP3" : "", runs);
  if (!withAudio) std::printf("note: video only on both sides: no \"MPEG Layer-3\" audio compressor yet\n");

  long audioBitRate = 128000;
  double graph = Best(runs, [&] {
    return TranscodeThroughGraph(input, (folder / "graph.avi").string(), withAudio, &audioBitRate);
  });
  // The graph's compressors encode on one thread each; ffmpeg, left to
  // itself, uses every core for decoding and encoding.
  double ffmpeg = Best(runs, [&] {
    return TranscodeWithFfmpeg(input, (folder / "ffmpeg.avi").string(), withAudio, audioBitRate, "");
  });
  double ffmpegOneThread = Best(runs, [&] {
    return TranscodeWithFfmpeg(input, (folder / "ffmpeg1.avi").string(), withAudio, audioBitRate, "-threads 1");
  });
  auto line = [&](const char* name, double seconds) {
    if (seconds < 0) std::printf("  %-40s failed\n", name);
    else if (ffmpeg > 0) std::printf("  %-40s %7.3f s   %.2fx ffmpeg's time\n", name, seconds, seconds / ffmpeg);
    else std::printf("  %-40s %7.3f s\n", name, seconds);
  };
  line("ffmpeg (its own threading)", ffmpeg);
  line("ffmpeg -threads 1", ffmpegOneThread);
  line("graph (capture graph builder)", graph);
  if (graph > 0 && ffmpeg > 0) std::printf("ratio graph/ffmpeg: %.2f\n", graph / ffmpeg);
  std::filesystem::remove_all(folder);
  return graph < 0 || ffmpeg < 0 || ffmpegOneThread < 0 ? 1 : 0;
}
