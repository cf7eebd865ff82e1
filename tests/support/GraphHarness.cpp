#include "tests/support/GraphHarness.h"

#include "platform/dshow/MediaType.h"
#include "platform/ui/Window.h"

namespace reel::test {

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter, PIN_DIRECTION direction) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> enumerator;
  if (!filter || FAILED(filter->EnumPins(&enumerator))) return pins;
  ComPtr<IPin> pin;
  while (enumerator->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION pinDirection;
    if (SUCCEEDED(pin->QueryDirection(&pinDirection)) && pinDirection == direction) pins.push_back(pin);
    pin = nullptr;
  }
  return pins;
}

ComPtr<IPin> PinNamed(IBaseFilter* filter, const char16_t* name) {
  ComPtr<IPin> pin;
  if (filter) filter->FindPin(name, &pin);
  return pin;
}

ComPtr<IPin> FreeInput(IBaseFilter* filter) {
  for (ComPtr<IPin>& pin : PinsOf(filter, PINDIR_INPUT)) {
    ComPtr<IPin> peer;
    if (pin->ConnectedTo(&peer) == VFW_E_NOT_CONNECTED) return pin;
  }
  return nullptr;
}

GUID FirstMajorType(IPin* pin) {
  ComPtr<IEnumMediaTypes> types;
  AM_MEDIA_TYPE* type = nullptr;
  GUID major = GUID_NULL;
  if (pin && SUCCEEDED(pin->EnumMediaTypes(&types)) && types->Next(1, &type, nullptr) == S_OK) {
    major = type->majortype;
    DeleteMediaType(type);
  }
  return major;
}

RunOutcome RunGraph(IGraphBuilder* graph, int timeoutMilliseconds) {
  constexpr UINT kGraphNotify = WM_USER + 1;
  RunOutcome outcome;
  bool posted = false;
  HWND window = CreateMessageWindow([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == kGraphNotify) posted = true;
    return 0;
  });
  auto events = QueryObject<IMediaEventEx>(graph);
  auto control = QueryObject<IMediaControl>(graph);
  if (!events || !control) {
    DestroyWindow(window);
    return outcome;
  }
  events->SetNotifyWindow(reinterpret_cast<OAHWND>(window), kGraphNotify, 0);
  outcome.runResult = control->Run();
  if (SUCCEEDED(outcome.runResult)) {
    RunMessageLoopUntil(
        [&] {
          if (!posted) return false;
          posted = false;
          LONG code;
          LONG_PTR first, second;
          while (events->GetEvent(&code, &first, &second, 0) == S_OK) {
            if (code == EC_COMPLETE) outcome.complete = true;
            if ((code == EC_ERRORABORT || code == EC_USERABORT) && !outcome.aborted) {
              outcome.aborted = true;
              outcome.abortResult = static_cast<HRESULT>(first);
            }
            events->FreeEventParams(code, first, second);
          }
          return outcome.complete || outcome.aborted;
        },
        timeoutMilliseconds);
  }
  control->Stop();
  events->SetNotifyWindow(0, 0, 0);
  DestroyWindow(window);
  return outcome;
}

bool RunToCompletion(IGraphBuilder* graph, int timeoutMilliseconds) {
  return RunGraph(graph, timeoutMilliseconds).complete;
}

void RunWithoutClock(IGraphBuilder* graph) {
  if (auto filter = QueryObject<IMediaFilter>(graph)) filter->SetSyncSource(nullptr);
}

}  // namespace reel::test
