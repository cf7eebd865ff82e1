// Small helpers for tests that build and run filter graphs: creating
// objects, walking pins and running a graph to its end on the message loop.
#pragma once

#include <string>
#include <vector>

#include "platform/com/Com.h"
#include "platform/com/ComPtr.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/DShowInterfaces.h"

namespace reel::test {

// CoCreateInstance as an in-process server; null when it fails.
template <typename Interface>
ComPtr<Interface> CreateObject(REFCLSID clsid) {
  ComPtr<Interface> object;
  CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidOf<Interface>, reinterpret_cast<void**>(&object));
  return object;
}

template <typename Interface>
ComPtr<Interface> QueryObject(IUnknown* object) {
  ComPtr<Interface> result;
  if (object) object->QueryInterface(kIidOf<Interface>, reinterpret_cast<void**>(&result));
  return result;
}

// The filter's pins of one direction, in the filter's order.
std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter, PIN_DIRECTION direction);
// The pin of that name; null when there is none.
ComPtr<IPin> PinNamed(IBaseFilter* filter, const char16_t* name);
// The first input pin that is not connected yet; null when all are.
ComPtr<IPin> FreeInput(IBaseFilter* filter);
// The major type of the first media type a pin offers; GUID_NULL for none.
GUID FirstMajorType(IPin* pin);

// What a run of a graph ended with.
struct RunOutcome {
  HRESULT runResult = E_FAIL;  // of IMediaControl::Run
  bool complete = false;       // EC_COMPLETE arrived
  bool aborted = false;        // EC_ERRORABORT (or EC_USERABORT) arrived
  HRESULT abortResult = S_OK;  // the first parameter of the abort
};

// Runs the graph on this thread's message loop until EC_COMPLETE, an abort
// or the time-out, then stops it.
RunOutcome RunGraph(IGraphBuilder* graph, int timeoutMilliseconds);
// RunGraph, true when the graph completed.
bool RunToCompletion(IGraphBuilder* graph, int timeoutMilliseconds);
// Removes the graph's clock so that it runs as fast as its filters allow.
void RunWithoutClock(IGraphBuilder* graph);

}  // namespace reel::test
