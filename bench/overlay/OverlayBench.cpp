// Frames are pushed by hand from a source through the overlay filter into
// the stock Null Renderer; each run reports microseconds per frame. The
// push itself (a frame copy into the sample) is in every run, so the
// differences between runs are the filter's cost.
#include <dlfcn.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "interfaces/OverlayTextSettings.h"
#include "platform/com/Com.h"
#include "platform/dshow/StockFilters.h"
#include "platform/gdiplus/ImageFile.h"
#include "platform/win/Strings.h"
#include "tests/dshow/TestFilters.h"

namespace {

using reel::ComPtr;

constexpr int kWidth = 640;
constexpr int kHeight = 480;

HRESULT RegisterFilterLibrary() {
  void* handle = dlopen(OVERLAY_FILTER_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return CO_E_DLLNOTFOUND;
  auto entry = reinterpret_cast<HRESULT (*)()>(dlsym(handle, "DllRegisterServer"));
  HRESULT result = entry ? entry() : CO_E_ERRORINDLL;
  dlclose(handle);
  return result;
}

enum class Load { NoFilter, NothingActive, Text, Picture };

// Microseconds per frame for one configuration, or a negative value on failure.
double Run(Load load, int frames, const std::string& picturePath) {
  CMediaType type = reel::test::MakeRgbType(MEDIASUBTYPE_RGB24, kWidth, kHeight, UNITS / 25);
  ComPtr<reel::test::PushSourceFilter> source(new reel::test::PushSourceFilter(type));
  ComPtr<IBaseFilter> renderer, overlay;
  if (FAILED(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&renderer))))
    return -1;
  ComPtr<IPin> rendererIn;
  ComPtr<IEnumPins> pins;
  renderer->EnumPins(&pins);
  ULONG fetched = 0;
  pins->Next(1, reinterpret_cast<IPin**>(&rendererIn), &fetched);
  std::vector<IBaseFilter*> chain{source.Get()};
  if (load == Load::NoFilter) {
    if (FAILED(source->Pin()->Connect(rendererIn.Get(), nullptr))) return -1;
  } else {
    if (FAILED(CoCreateInstance(CLSID_OverlayTextFilter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(&overlay))))
      return -1;
    ComPtr<IPin> input, output;
    overlay->FindPin(u"Input", &input);
    overlay->FindPin(u"Output", &output);
    if (FAILED(source->Pin()->Connect(input.Get(), nullptr)) || FAILED(output->Connect(rendererIn.Get(), nullptr)))
      return -1;
    chain.push_back(overlay.Get());
    ComPtr<IOverlayTextSettings> settings;
    overlay->QueryInterface(IID_IOverlayTextSettings, reinterpret_cast<void**>(&settings));
    // What the editing control sends by default: scrolling left, bold Arial.
    settings->SetScrollDirection(2);
    settings->SetScrollSpeed(3);
    settings->SetMotionMode(1);
    settings->SetFont(u"Arial", 24, 0);
    settings->SetTextColor(0, 0, 255, 255);
    settings->SetBackgroundColor(0, 0, 255, 127);
    settings->SetShadow(1);
    if (load == Load::Text) settings->AddText(u"Reelpress overlay text", 600, 400, 0.0, 1e9, FALSE);
    if (load == Load::Picture)
      settings->AddImage(reel::Utf8ToUtf16(picturePath).c_str(), 100, 100, 255, 255, 255, 0.0, 1e9, FALSE);
    if (load == Load::NothingActive) settings->AddText(u"later", 0, 0, 1e8, 1e9, FALSE);
  }
  chain.push_back(renderer.Get());
  ComPtr<IMediaFilter> clockless;
  if (reel::test::SetStates(chain, State_Running) != S_OK) return -1;

  std::vector<BYTE> frame(DibSize(reinterpret_cast<VIDEOINFOHEADER*>(type.Format())->bmiHeader), 0x60);
  auto started = std::chrono::steady_clock::now();
  for (int index = 0; index < frames; ++index) {
    REFERENCE_TIME start = (index + 1) * (UNITS / 25);
    if (FAILED(source->Push(frame, start, start + UNITS / 25))) return -1;
  }
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  reel::test::SetStates(chain, State_Stopped);
  reel::test::DisconnectAll(chain);
  return seconds * 1e6 / frames;
}

}  // namespace

int main(int argc, char** argv) {
  int frames = argc > 1 ? std::atoi(argv[1]) : 2000;
  if (frames <= 0) frames = 2000;
  auto folder = std::filesystem::temp_directory_path() / ("overlay_bench_" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  setenv("REELPRESS_REGISTRY", (folder / "registry").c_str(), 1);
  if (FAILED(RegisterFilterLibrary())) {
    std::fprintf(stderr, "cannot register %s\n", OVERLAY_FILTER_PATH);
    return 1;
  }
  // A 200x100 picture: a white border (keyed away) round coloured bands.
  reel::RgbaPicture picture;
  picture.width = 200;
  picture.height = 100;
  picture.pixels.resize(picture.Stride() * picture.height);
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) {
      uint8_t* pixel = picture.Pixel(x, y);
      bool border = x < 10 || y < 10 || x >= 190 || y >= 90;
      pixel[0] = border ? 255 : static_cast<uint8_t>(x);
      pixel[1] = border ? 255 : static_cast<uint8_t>(y * 2);
      pixel[2] = border ? 255 : 90;
      pixel[3] = 255;
    }
  const std::string picturePath = (folder / "logo.png").string();
  if (!reel::SaveImageFile(picturePath, picture)) return 1;

  struct Entry {
    const char* name;
    Load load;
  } entries[] = {{"no filter (push and render only)", Load::NoFilter},
                 {"overlay, no item active", Load::NothingActive},
                 {"overlay, one text item", Load::Text},
                 {"overlay, one picture item", Load::Picture}};
  std::printf("640x480 RGB24, %d frames per run, best of 3 runs\n", frames);
  double baseline = 0;
  for (const Entry& entry : entries) {
    double best = -1;
    for (int run = 0; run < 3; ++run) {
      double perFrame = Run(entry.load, frames, picturePath);
      if (perFrame >= 0 && (best < 0 || perFrame < best)) best = perFrame;
    }
    if (best < 0) {
      std::printf("%-36s failed\n", entry.name);
      continue;
    }
    if (entry.load == Load::NoFilter) baseline = best;
    std::printf("%-36s %8.1f us/frame  (+%.1f us over no filter)\n", entry.name, best, best - baseline);
  }
  std::filesystem::remove_all(folder);
  return 0;
}
