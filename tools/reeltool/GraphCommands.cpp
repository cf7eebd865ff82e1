// reeltool's commands over the filter graph runtime, in the manner of
// gst-inspect and gst-launch:
//   categories          the filter categories and how many filters each has
//   filters [CATEGORY]  the registered filters (of one category, by name or
//                       CLSID), with merit and pin types
//   render FILE [--clock]
//                       renders FILE, puts counting null renderers in place
//                       of the renderers, runs it (without a clock unless
//                       asked) and prints each stream's type, sample count,
//                       first and last time stamps, and the elapsed time
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/ClassTable.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/BaseRenderer.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/GraphDescription.h"
#include "platform/dshow/MediaType.h"
#include "platform/win/Strings.h"
#include "tools/reeltool/ReelToolCommand.h"

namespace reeltool {
namespace {

using reel::ComPtr;

REEL_DEFINE_GUID(CLSID_CountingRenderer, 0x7F1E6A3F, 0x2C5B, 0x4E8A, 0xB1, 0x64, 0x5D, 0x0C, 0x9A, 0x3E, 0x21, 0x7B);

// A null renderer that keeps statistics of what it received.
class CountingRenderer : public CBaseRenderer {
 public:
  CountingRenderer() : CBaseRenderer(CLSID_CountingRenderer, "counting renderer", nullptr, nullptr, u"In") {}
  HRESULT CheckMediaType(const CMediaType* mediaType) override {
    return mediaType->majortype != GUID_NULL ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT DoRenderSample(IMediaSample* sample) override {
    std::lock_guard<std::mutex> hold(lock_);
    ++samples_;
    bytes_ += static_cast<std::size_t>(sample->GetActualDataLength());
    REFERENCE_TIME start = 0, stop = 0;
    if (SUCCEEDED(sample->GetTime(&start, &stop))) {
      if (!timed_) first_ = start;
      timed_ = true;
      last_ = start;
    }
    return S_OK;
  }
  std::string Report() {
    std::lock_guard<std::mutex> hold(lock_);
    char text[256];
    std::snprintf(text, sizeof text, "%s\n    samples %ld, bytes %zu, first %.3f s, last %.3f s",
                  reel::DescribeMediaType(m_pInputPin->CurrentMediaType()).c_str(), samples_, bytes_,
                  timed_ ? static_cast<double>(first_) / UNITS : 0.0, timed_ ? static_cast<double>(last_) / UNITS : 0.0);
    return text;
  }

 private:
  std::mutex lock_;
  long samples_ = 0;
  std::size_t bytes_ = 0;
  bool timed_ = false;
  REFERENCE_TIME first_ = 0, last_ = 0;
};

std::string MeritText(DWORD merit) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%06X", static_cast<unsigned>(merit));
  return text;
}

std::string TypeText(const reel::RegisteredPinType& type) {
  CMediaType mediaType;
  mediaType.majortype = type.majorType;
  mediaType.subtype = type.subtype;
  return reel::DescribeMediaType(mediaType);
}

bool IsRenderer(IBaseFilter* filter) {
  ComPtr<IAMFilterMiscFlags> flags;
  return SUCCEEDED(filter->QueryInterface(IID_IAMFilterMiscFlags, reinterpret_cast<void**>(&flags))) && flags &&
         (flags->GetMiscFlags() & AM_FILTER_MISC_FLAGS_IS_RENDERER);
}

}  // namespace

int RunCategories(const Arguments& arguments) {
  if (!arguments.empty()) {
    std::fputs("usage: reeltool categories\n", stderr);
    return kUsageError;
  }
  for (const reel::FilterCategory& category : reel::KnownCategories()) {
    std::printf("%s  %-26s %zu filters\n", reel::GuidToString(category.clsid).c_str(), category.name,
                reel::FiltersInCategory(category.clsid).size());
  }
  return kSuccess;
}

int RunFilters(const Arguments& arguments) {
  if (arguments.size() > 1) {
    std::fputs("usage: reeltool filters [CATEGORY]\n", stderr);
    return kUsageError;
  }
  bool found = arguments.empty();
  for (const reel::FilterCategory& category : reel::KnownCategories()) {
    if (!arguments.empty() && arguments[0] != category.name && arguments[0] != reel::GuidToString(category.clsid))
      continue;
    found = true;
    std::printf("%s\n", category.name);
    for (const reel::RegisteredFilter& filter : reel::FiltersInCategory(category.clsid)) {
      std::printf("  %-32s %s merit %s%s\n", reel::Utf16ToUtf8(filter.name).c_str(),
                  reel::GuidToString(filter.clsid).c_str(), MeritText(filter.merit).c_str(),
                  filter.builtin ? " (built in)" : "");
      for (const reel::RegisteredPin& pin : filter.pins) {
        std::printf("      %s %s:", pin.output ? "out" : "in ", reel::Utf16ToUtf8(pin.name).c_str());
        for (const reel::RegisteredPinType& type : pin.types) std::printf(" [%s]", TypeText(type).c_str());
        std::printf("\n");
      }
    }
  }
  if (!found) {
    std::fprintf(stderr, "reeltool filters: no category '%s'\n", arguments[0].c_str());
    return kFailure;
  }
  return kSuccess;
}

int RunRender(const Arguments& arguments) {
  if (arguments.empty() || arguments.size() > 2 || (arguments.size() == 2 && arguments[1] != "--clock")) {
    std::fputs("usage: reeltool render FILE [--clock]\n", stderr);
    return kUsageError;
  }
  bool withClock = arguments.size() == 2;
  ComPtr<IGraphBuilder> graph;
  if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                              reinterpret_cast<void**>(&graph)))) {
    std::fputs("reeltool render: no filter graph\n", stderr);
    return kFailure;
  }
  std::u16string file = reel::Utf8ToUtf16(arguments[0]);
  auto started = std::chrono::steady_clock::now();
  HRESULT result = graph->RenderFile(file.c_str(), nullptr);
  if (FAILED(result)) {
    std::fprintf(stderr, "reeltool render: %s: RenderFile failed (0x%08X)\n", arguments[0].c_str(),
                 static_cast<unsigned>(result));
    return kFailure;
  }
  // Every renderer gives way to a counting one on the same pin.
  std::vector<ComPtr<IBaseFilter>> renderers;
  ComPtr<IEnumFilters> filters;
  graph->EnumFilters(&filters);
  IBaseFilter* filter = nullptr;
  while (filters->Next(1, &filter, nullptr) == S_OK) {
    ComPtr<IBaseFilter> held;
    held.Attach(filter);
    if (IsRenderer(held.Get())) renderers.push_back(held);
  }
  std::vector<ComPtr<CountingRenderer>> counters;
  for (ComPtr<IBaseFilter>& renderer : renderers) {
    ComPtr<IEnumPins> pins;
    renderer->EnumPins(&pins);
    IPin* input = nullptr;
    ComPtr<IPin> upstream;
    if (pins->Next(1, &input, nullptr) == S_OK) {
      input->ConnectedTo(&upstream);
      input->Release();
    }
    graph->RemoveFilter(renderer.Get());
    if (!upstream) continue;
    ComPtr<CountingRenderer> counter(new CountingRenderer());
    graph->AddFilter(counter.Get(), u"Counting Renderer");
    if (SUCCEEDED(graph->ConnectDirect(upstream.Get(), counter->InputPin(), nullptr))) counters.push_back(counter);
  }
  if (!withClock) {
    ComPtr<IMediaFilter> mediaFilter;
    graph.As(&mediaFilter);
    mediaFilter->SetSyncSource(nullptr);
  }
  std::printf("%s", reel::DescribeGraph(graph.Get()).c_str());
  ComPtr<IMediaControl> control;
  ComPtr<IMediaEventEx> events;
  graph.As(&control);
  graph.As(&events);
  auto running = std::chrono::steady_clock::now();
  if (FAILED(control->Run())) {
    std::fputs("reeltool render: the graph does not run\n", stderr);
    return kFailure;
  }
  LONG code = 0;
  result = events->WaitForCompletion(10 * 60 * 1000, &code);
  auto finished = std::chrono::steady_clock::now();
  control->Stop();
  for (std::size_t index = 0; index < counters.size(); ++index)
    std::printf("stream %zu: %s\n", index + 1, counters[index]->Report().c_str());
  auto seconds = [](auto from, auto to) { return std::chrono::duration<double>(to - from).count(); };
  std::printf("built in %.3f s, ran in %.3f s%s\n", seconds(started, running), seconds(running, finished),
              code == EC_COMPLETE ? "" : " (did not complete)");
  return SUCCEEDED(result) && code == EC_COMPLETE ? kSuccess : kFailure;
}

}  // namespace reeltool
