// Drives the overlay filter the way a graph does, but by hand: the filter
// library is registered into the test's registry through its own
// DllRegisterServer and created with CoCreateInstance; a push source feeds
// it frames of one type and a sink renderer records what comes out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "interfaces/OverlayTextSettings.h"
#include "platform/com/ComPtr.h"
#include "tests/dshow/TestFilters.h"

namespace reel::overlaytest {

// Loads the library, calls one of its entry points ("DllRegisterServer",
// "DllUnregisterServer") and unloads it, as a registration tool does.
HRESULT CallServerEntry(const char* entry);

struct Bgr {
  int blue = 0, green = 0, red = 0;
  bool operator==(const Bgr&) const = default;
};

// A picture as the frames carry it, read back in top-to-bottom coordinates.
struct Frame {
  std::vector<BYTE> bytes;
  int width = 0, height = 0;  // height positive
  int bytesPerPixel = 3;
  bool bottomUp = true;

  std::size_t Stride() const;
  BYTE* At(int x, int y);
  const BYTE* At(int x, int y) const;
  Bgr Pixel(int x, int y) const;
  void Fill(Bgr colour);
};

// The smallest rectangle holding every pixel of exactly `colour`; empty
// (width 0) when there is none.
struct Bounds {
  int left = 0, top = 0, width = 0, height = 0;
  int count = 0;  // pixels of the colour
  bool Empty() const { return width == 0; }
};
Bounds BoundsOf(const Frame& frame, Bgr colour);

class OverlayHarness {
 public:
  // subtype RGB24 or RGB32; a negative height gives top-down rows.
  OverlayHarness(const GUID& subtype, int width, int height);
  ~OverlayHarness();

  // Connects source -> overlay -> sink and runs them.
  HRESULT ConnectAndRun();
  // A frame of this harness's layout filled with one colour.
  Frame Blank(Bgr colour) const;
  // Pushes a frame with a start time in seconds (negative: no time) and
  // returns the frame that reached the sink.
  Frame Push(const Frame& frame, double seconds);

  ComPtr<IBaseFilter> filter;
  ComPtr<IOverlayTextSettings> settings;
  ComPtr<reel::test::PushSourceFilter> source;
  ComPtr<reel::test::SinkFilter> sink;
  CMediaType type;

 private:
  int width_, height_;
  bool running_ = false;
};

}  // namespace reel::overlaytest
