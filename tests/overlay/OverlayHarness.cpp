#include "tests/overlay/OverlayHarness.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/com/Com.h"

namespace reel::overlaytest {

HRESULT CallServerEntry(const char* entry) {
  void* handle = dlopen(OVERLAY_FILTER_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return CO_E_DLLNOTFOUND;
  auto function = reinterpret_cast<HRESULT (*)()>(dlsym(handle, entry));
  HRESULT result = function ? function() : CO_E_ERRORINDLL;
  dlclose(handle);
  return result;
}

std::size_t Frame::Stride() const { return static_cast<std::size_t>(DibWidthBytes(width, bytesPerPixel * 8)); }

BYTE* Frame::At(int x, int y) {
  std::size_t row = bottomUp ? static_cast<std::size_t>(height - 1 - y) : static_cast<std::size_t>(y);
  return bytes.data() + row * Stride() + static_cast<std::size_t>(x) * bytesPerPixel;
}
const BYTE* Frame::At(int x, int y) const { return const_cast<Frame*>(this)->At(x, y); }

Bgr Frame::Pixel(int x, int y) const {
  const BYTE* pixel = At(x, y);
  return {pixel[0], pixel[1], pixel[2]};
}

void Frame::Fill(Bgr colour) {
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      BYTE* pixel = At(x, y);
      pixel[0] = static_cast<BYTE>(colour.blue);
      pixel[1] = static_cast<BYTE>(colour.green);
      pixel[2] = static_cast<BYTE>(colour.red);
      if (bytesPerPixel == 4) pixel[3] = 0x77;  // the unused byte, to see that it is kept
    }
}

Bounds BoundsOf(const Frame& frame, Bgr colour) {
  int left = frame.width, top = frame.height, right = -1, bottom = -1, count = 0;
  for (int y = 0; y < frame.height; ++y)
    for (int x = 0; x < frame.width; ++x)
      if (frame.Pixel(x, y) == colour) {
        left = std::min(left, x);
        top = std::min(top, y);
        right = std::max(right, x);
        bottom = std::max(bottom, y);
        ++count;
      }
  if (right < 0) return {};
  return {left, top, right - left + 1, bottom - top + 1, count};
}

OverlayHarness::OverlayHarness(const GUID& subtype, int width, int height) : width_(width), height_(height) {
  EXPECT_EQ(CallServerEntry("DllRegisterServer"), S_OK);
  EXPECT_EQ(CoCreateInstance(CLSID_OverlayTextFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&filter)),
            S_OK);
  if (filter) {
    EXPECT_EQ(filter->QueryInterface(IID_IOverlayTextSettings, reinterpret_cast<void**>(&settings)), S_OK);
  }
  type = reel::test::MakeRgbType(subtype, width, height, UNITS / 25);
  source = ComPtr<reel::test::PushSourceFilter>(new reel::test::PushSourceFilter(type));
  sink = ComPtr<reel::test::SinkFilter>(new reel::test::SinkFilter());
}

OverlayHarness::~OverlayHarness() {
  if (filter) {
    if (running_) reel::test::SetStates({source.Get(), filter.Get(), sink.Get()}, State_Stopped);
    reel::test::DisconnectAll({source.Get(), filter.Get(), sink.Get()});
  }
}

HRESULT OverlayHarness::ConnectAndRun() {
  if (!filter) return E_POINTER;
  ComPtr<IPin> input, output;
  HRESULT result = filter->FindPin(u"Input", &input);
  if (FAILED(result)) return result;
  result = filter->FindPin(u"Output", &output);
  if (FAILED(result)) return result;
  result = source->Pin()->Connect(input.Get(), nullptr);
  if (FAILED(result)) return result;
  result = output->Connect(sink->InputPin(), nullptr);
  if (FAILED(result)) return result;
  result = reel::test::SetStates({source.Get(), filter.Get(), sink.Get()}, State_Running);
  running_ = SUCCEEDED(result);
  return result;
}

Frame OverlayHarness::Blank(Bgr colour) const {
  Frame frame;
  frame.width = width_;
  frame.height = std::abs(height_);
  frame.bottomUp = height_ > 0;
  frame.bytesPerPixel = type.subtype == MEDIASUBTYPE_RGB32 ? 4 : 3;
  frame.bytes.assign(frame.Stride() * static_cast<std::size_t>(frame.height), 0);
  frame.Fill(colour);
  return frame;
}

Frame OverlayHarness::Push(const Frame& frame, double seconds) {
  sink->ClearSamples();
  REFERENCE_TIME start = seconds < 0 ? -1 : static_cast<REFERENCE_TIME>(seconds * UNITS + 0.5);
  Frame result = frame;
  EXPECT_EQ(source->Push(frame.bytes, start, start < 0 ? -1 : start + UNITS / 25), S_OK);
  if (!sink->WaitForSamples(1, 5000)) {
    ADD_FAILURE() << "no frame arrived";
    return result;
  }
  std::vector<reel::test::ReceivedSample> samples = sink->Samples();
  EXPECT_EQ(samples.size(), 1u);
  if (!samples.empty()) result.bytes = samples.back().data;
  EXPECT_EQ(result.bytes.size(), frame.bytes.size());
  result.bytes.resize(frame.bytes.size());
  return result;
}

}  // namespace reel::overlaytest

#if defined(__SANITIZE_THREAD__)
// Pango matches fonts on a thread of its own ("[pango] FcFontSetMatch") and
// waits for it on glib locks, which ThreadSanitizer cannot see inside the
// uninstrumented libraries; the font patterns that thread fills are then
// reported as races when pango reads them.
extern "C" const char* __tsan_default_suppressions() { return "race:FcValueSave\n"; }
#endif
