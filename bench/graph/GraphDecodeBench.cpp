// Decoding throughput of the graph runtime against the ffmpeg command line.
// Without FILE, a 10-second 640x480 H.264 clip (25 fps, no sound) is made
// with the fixture generator. Each contender runs RUNS times (3); the best
// time counts.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/com/ClassTable.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/FFmpegMediaTypes.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/win/Strings.h"
#include "tests/fixtures/ClipWriter.h"

namespace {

using reel::ComPtr;
using Clock = std::chrono::steady_clock;

// Renders file, replaces the video renderer by a Null Renderer connected
// with the given output subtype, runs without a clock; seconds, or -1.
double DecodeThroughGraph(const std::string& file, const GUID& subtype) {
  ComPtr<IGraphBuilder> graph;
  if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                              reinterpret_cast<void**>(&graph))))
    return -1;
  auto started = Clock::now();
  if (FAILED(graph->RenderFile(reel::Utf8ToUtf16(file).c_str(), nullptr))) return -1;
  ComPtr<IBaseFilter> renderer;
  if (FAILED(graph->FindFilterByName(u"Video Renderer", &renderer))) return -1;
  ComPtr<IPin> input, decoderOutput;
  renderer->FindPin(u"Input", &input);
  if (!input || FAILED(input->ConnectedTo(&decoderOutput))) return -1;
  AM_MEDIA_TYPE connected{};
  decoderOutput->ConnectionMediaType(&connected);
  const BITMAPINFOHEADER* header = reel::BitmapHeaderOf(connected);
  CMediaType wanted;
  bool made = header && reel::MakeVideoType(subtype, header->biWidth, std::abs(header->biHeight), UNITS / 25, &wanted);
  FreeMediaType(connected);
  if (!made) return -1;
  graph->RemoveFilter(renderer.Get());
  ComPtr<IBaseFilter> null;
  if (FAILED(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&null))))
    return -1;
  graph->AddFilter(null.Get(), u"Null Renderer");
  ComPtr<IPin> nullInput;
  null->FindPin(u"In", &nullInput);
  if (FAILED(graph->ConnectDirect(decoderOutput.Get(), nullInput.Get(), &wanted))) return -1;
  ComPtr<IMediaFilter> filter;
  graph.As(&filter);
  filter->SetSyncSource(nullptr);
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
  graph.As(&control);
  graph.As(&events);
  if (FAILED(control->Run())) return -1;
  LONG code = 0;
  if (FAILED(events->WaitForCompletion(600000, &code)) || code != EC_COMPLETE) return -1;
  double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  control->Stop();
  return seconds;
}

double DecodeWithFfmpeg(const std::string& file) {
  std::string command = "ffmpeg -nostdin -v error -i '" + file + "' -f null - > /dev/null 2>&1";
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
  std::string file = argc > 1 ? argv[1] : "";
  int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
  std::filesystem::path made;
  if (file.empty()) {
    made = std::filesystem::temp_directory_path() / "graph_decode_bench.mp4";
    reel::fixtures::ClipSpec spec;
    spec.videoCodec = "libx264";
    spec.width = 640;
    spec.height = 480;
    spec.durationSeconds = 10;
    spec.audio = false;
    spec.videoBitRate = 2000000;
    std::string error;
    if (!reel::fixtures::WriteClip(spec, made.string(), &error)) {
      std::fprintf(stderr, "graph_decode_bench: cannot write the clip: %s\n", error.c_str());
      return 1;
    }
    file = made.string();
  }
  std::printf("file: %s, best of %d runs\n", file.c_str(), runs);
  double ffmpeg = Best(runs, [&] { return DecodeWithFfmpeg(file); });
  double yuv = Best(runs, [&] { return DecodeThroughGraph(file, MEDIASUBTYPE_I420); });
  double rgb = Best(runs, [&] { return DecodeThroughGraph(file, MEDIASUBTYPE_RGB32); });
  auto line = [&](const char* name, double seconds) {
    if (seconds < 0) std::printf("  %-34s failed\n", name);
    else if (ffmpeg > 0) std::printf("  %-34s %7.3f s   %.2fx ffmpeg's time\n", name, seconds, seconds / ffmpeg);
    else std::printf("  %-34s %7.3f s\n", name, seconds);
  };
  line("ffmpeg -i FILE -f null -", ffmpeg);
  line("graph -> Null Renderer (I420)", yuv);
  line("graph -> Null Renderer (RGB32)", rgb);
  if (!made.empty()) std::filesystem::remove(made);
  return ffmpeg < 0 || yuv < 0 || rgb < 0 ? 1 : 0;
}
