// The capture graph builder: output graphs on a filter graph manager.
//
// Connections go through the graph's own Connect, so decoders and colour
// converters come in between as intelligent connect finds them. A stream
// rendered without a sink gets the stock renderer of its major type (video
// or audio renderer), chosen here rather than by IGraphBuilder::Render:
// Render would try the filters already in the graph first, and the
// multiplexer always has a free input that would take the stream. Other
// major types go to IGraphBuilder::Render.
//
// Pin categories (capture, preview) belong to capture devices; no filter of
// this system reports one, so a category other than the two search
// directions of FindInterface is accepted and matches every pin.
// ControlStream, AllocCapFile and CopyCaptureFile serve capture devices
// only and answer E_NOTIMPL.
#include "platform/dshow/CaptureGraphBuilder.h"

#include <deque>
#include <set>
#include <vector>

#include "platform/com/ClassTable.h"
#include "platform/com/ComObject.h"
#include "platform/dshow/AsfWriter.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/MediaType.h"

namespace {

using reel::ComPtr;

ComPtr<IBaseFilter> FilterOfPin(IPin* pin) {
  PIN_INFO info{};
  ComPtr<IBaseFilter> filter;
  if (pin && SUCCEEDED(pin->QueryPinInfo(&info))) filter.Attach(info.pFilter);
  return filter;
}

PIN_DIRECTION DirectionOf(IPin* pin) {
  PIN_DIRECTION direction = PINDIR_INPUT;
  pin->QueryDirection(&direction);
  return direction;
}

ComPtr<IPin> PeerOf(IPin* pin) {
  ComPtr<IPin> peer;
  if (FAILED(pin->ConnectedTo(&peer))) return nullptr;
  return peer;
}

bool IsConnected(IPin* pin) { return PeerOf(pin) != nullptr; }

std::vector<ComPtr<IPin>> PinsOf(IBaseFilter* filter, PIN_DIRECTION direction) {
  std::vector<ComPtr<IPin>> pins;
  ComPtr<IEnumPins> enumerator;
  if (!filter || FAILED(filter->EnumPins(&enumerator)) || !enumerator) return pins;
  ComPtr<IPin> pin;
  while (enumerator->Next(1, &pin, nullptr) == S_OK && pin) {
    if (DirectionOf(pin.Get()) == direction) pins.push_back(pin);
    pin = nullptr;
  }
  return pins;
}

// The major types a pin carries: its connection's, or else those it offers.
std::vector<GUID> MajorTypesOf(IPin* pin) {
  std::vector<GUID> majors;
  CMediaType connected;
  if (SUCCEEDED(pin->ConnectionMediaType(&connected))) {
    majors.push_back(connected.majortype);
    return majors;
  }
  ComPtr<IEnumMediaTypes> enumerator;
  if (FAILED(pin->EnumMediaTypes(&enumerator)) || !enumerator) return majors;
  AM_MEDIA_TYPE* type = nullptr;
  while (enumerator->Next(1, &type, nullptr) == S_OK && type) {
    majors.push_back(type->majortype);
    DeleteMediaType(type);
    type = nullptr;
  }
  return majors;
}

bool CarriesMajorType(IPin* pin, const GUID* type) {
  if (!type || *type == GUID_NULL) return true;
  for (const GUID& major : MajorTypesOf(pin))
    if (major == *type) return true;
  return false;
}

// The friendly name a built-in filter is registered under, for the graph.
std::u16string RegisteredName(REFCLSID clsid, const char16_t* fallback) {
  for (const reel::RegisteredFilter& filter : reel::FiltersInCategory(CLSID_LegacyAmFilterCategory))
    if (filter.clsid == clsid) return filter.name;
  return fallback;
}

ComPtr<IBaseFilter> CreateFilter(REFCLSID clsid, HRESULT* result) {
  ComPtr<IBaseFilter> filter;
  *result = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
  if (SUCCEEDED(*result) && !filter) *result = E_NOINTERFACE;
  return SUCCEEDED(*result) ? filter : nullptr;
}

class CCaptureGraphBuilder : public CUnknown, public ICaptureGraphBuilder2 {
 public:
  explicit CCaptureGraphBuilder(LPUNKNOWN outer) : CUnknown("capture graph builder", outer) {}

  DECLARE_IUNKNOWN
  HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_ICaptureGraphBuilder2) return GetInterface(static_cast<ICaptureGraphBuilder2*>(this), ppv);
    return CUnknown::NonDelegatingQueryInterface(riid, ppv);
  }

  HRESULT SetFiltergraph(IGraphBuilder* graph) override {
    if (!graph) return E_POINTER;
    if (graph_) return E_UNEXPECTED;
    graph_ = graph;
    return S_OK;
  }

  HRESULT GetFiltergraph(IGraphBuilder** graph) override {
    if (!graph) return E_POINTER;
    *graph = nullptr;
    HRESULT result = EnsureGraph();
    if (FAILED(result)) return result;
    *graph = graph_.Get();
    (*graph)->AddRef();
    return S_OK;
  }

  HRESULT SetOutputFileName(const GUID* type, LPCOLESTR fileName, IBaseFilter** multiplexer,
                            IFileSinkFilter** sink) override {
    if (multiplexer) *multiplexer = nullptr;
    if (sink) *sink = nullptr;
    if (!type || !fileName || !multiplexer) return E_POINTER;
    if (*fileName == 0) return E_INVALIDARG;
    HRESULT result = EnsureGraph();
    if (FAILED(result)) return result;

    ComPtr<IBaseFilter> mux;
    if (*type == MEDIASUBTYPE_Avi) {
      mux = CreateFilter(CLSID_AviDest, &result);
    } else if (*type == MEDIASUBTYPE_Asf) {
      mux = CreateFilter(CLSID_WMAsfWriter, &result);
    } else {
      // Any other GUID must name a multiplexer (or writer) class.
      mux = CreateFilter(*type, &result);
      if (!mux) return E_INVALIDARG;
    }
    if (!mux) return result;
    std::u16string muxName = *type == MEDIASUBTYPE_Avi   ? RegisteredName(CLSID_AviDest, u"AVI Mux")
                             : *type == MEDIASUBTYPE_Asf ? std::u16string(u"WM ASF Writer")
                                                         : RegisteredName(*type, u"Multiplexer");
    result = graph_->AddFilter(mux.Get(), muxName.c_str());
    if (FAILED(result)) return result;

    // A writer that is its own sink (the ASF writer) takes the name itself;
    // a multiplexer feeds a File writer.
    ComPtr<IFileSinkFilter> fileSink;
    ComPtr<IBaseFilter> writer;
    if (FAILED(mux.As(&fileSink))) {
      writer = CreateFilter(CLSID_FileWriter, &result);
      if (writer) result = graph_->AddFilter(writer.Get(), RegisteredName(CLSID_FileWriter, u"File writer").c_str());
      if (SUCCEEDED(result)) result = writer.As(&fileSink);
      if (SUCCEEDED(result)) result = ConnectMultiplexer(mux.Get(), writer.Get());
      if (FAILED(result)) {
        if (writer) graph_->RemoveFilter(writer.Get());
        graph_->RemoveFilter(mux.Get());
        return result;
      }
    }
    result = fileSink->SetFileName(fileName, nullptr);
    if (FAILED(result)) {
      if (writer) graph_->RemoveFilter(writer.Get());
      graph_->RemoveFilter(mux.Get());
      return result;
    }
    *multiplexer = mux.Detach();
    if (sink) *sink = fileSink.Detach();
    return S_OK;
  }

  HRESULT FindInterface(const GUID* category, const GUID* type, IBaseFilter* filter, REFIID riid,
                        void** result) override {
    if (!result) return E_POINTER;
    *result = nullptr;
    if (!filter) return E_POINTER;
    bool upstreamOnly = category && *category == LOOK_UPSTREAM_ONLY;
    bool downstreamOnly = category && *category == LOOK_DOWNSTREAM_ONLY;
    if (!upstreamOnly && !downstreamOnly && AnswerFromFilter(filter, riid, result)) return S_OK;
    if (!upstreamOnly && SearchFrom(filter, PINDIR_OUTPUT, type, riid, result)) return S_OK;
    if (!downstreamOnly && SearchFrom(filter, PINDIR_INPUT, nullptr, riid, result)) return S_OK;
    return E_NOINTERFACE;
  }

  HRESULT RenderStream(const GUID*, const GUID* type, IUnknown* source, IBaseFilter* intermediate,
                       IBaseFilter* sink) override {
    if (!source) return E_POINTER;
    HRESULT result = EnsureGraph();
    if (FAILED(result)) return result;
    if ((intermediate && !InGraph(intermediate)) || (sink && !InGraph(sink))) return VFW_E_NOT_IN_GRAPH;

    std::vector<ComPtr<IPin>> candidates;
    ComPtr<IPin> pin;
    ComPtr<IBaseFilter> filter;
    if (SUCCEEDED(source->QueryInterface(IID_IPin, reinterpret_cast<void**>(&pin))) && pin) {
      if (DirectionOf(pin.Get()) != PINDIR_OUTPUT) return E_INVALIDARG;
      if (!InGraph(FilterOfPin(pin.Get()).Get())) return VFW_E_NOT_IN_GRAPH;
      if (IsConnected(pin.Get())) return VFW_E_ALREADY_CONNECTED;
      candidates.push_back(pin);
    } else if (SUCCEEDED(source->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter))) && filter) {
      if (!InGraph(filter.Get())) return VFW_E_NOT_IN_GRAPH;
      for (ComPtr<IPin>& output : PinsOf(filter.Get(), PINDIR_OUTPUT))
        if (!IsConnected(output.Get()) && CarriesMajorType(output.Get(), type)) candidates.push_back(output);
      // Nothing left to render from this source.
      if (candidates.empty()) return E_FAIL;
    } else {
      return E_INVALIDARG;
    }

    // The first candidate that goes all the way wins.
    result = E_FAIL;
    for (ComPtr<IPin>& candidate : candidates) {
      result = RenderChain(candidate.Get(), intermediate, sink);
      if (SUCCEEDED(result)) return S_OK;
    }
    return result;
  }

  HRESULT ControlStream(const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*, REFERENCE_TIME*, WORD,
                        WORD) override {
    return E_NOTIMPL;
  }
  HRESULT AllocCapFile(LPCOLESTR, ULONGLONG) override { return E_NOTIMPL; }
  HRESULT CopyCaptureFile(LPOLESTR, LPOLESTR, int, IAMCopyCaptureFileProgress*) override { return E_NOTIMPL; }

  HRESULT FindPin(IUnknown* source, PIN_DIRECTION direction, const GUID*, const GUID* type, BOOL unconnected,
                  int number, IPin** pin) override {
    if (!source || !pin) return E_POINTER;
    *pin = nullptr;
    if (number < 0) return E_INVALIDARG;
    auto matches = [&](IPin* candidate) {
      return DirectionOf(candidate) == direction && (!unconnected || !IsConnected(candidate)) &&
             CarriesMajorType(candidate, type);
    };
    ComPtr<IPin> given;
    if (SUCCEEDED(source->QueryInterface(IID_IPin, reinterpret_cast<void**>(&given))) && given) {
      if (number != 0 || !matches(given.Get())) return E_FAIL;
      *pin = given.Detach();
      return S_OK;
    }
    ComPtr<IBaseFilter> filter;
    if (FAILED(source->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter))) || !filter)
      return E_INVALIDARG;
    for (ComPtr<IPin>& candidate : PinsOf(filter.Get(), direction)) {
      if (!matches(candidate.Get())) continue;
      if (number-- == 0) {
        *pin = candidate.Detach();
        return S_OK;
      }
    }
    return E_FAIL;
  }

 private:
  HRESULT EnsureGraph() {
    if (graph_) return S_OK;
    return CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                            reinterpret_cast<void**>(&graph_));
  }

  bool InGraph(IBaseFilter* filter) {
    if (!filter) return false;
    FILTER_INFO info{};
    if (FAILED(filter->QueryFilterInfo(&info))) return false;
    bool inGraph = info.pGraph && reel::IsSameObject(info.pGraph, graph_.Get());
    if (info.pGraph) info.pGraph->Release();
    return inGraph;
  }

  HRESULT ConnectMultiplexer(IBaseFilter* mux, IBaseFilter* writer) {
    std::vector<ComPtr<IPin>> outputs = PinsOf(mux, PINDIR_OUTPUT);
    std::vector<ComPtr<IPin>> inputs = PinsOf(writer, PINDIR_INPUT);
    if (outputs.empty() || inputs.empty()) return VFW_E_CANNOT_CONNECT;
    return graph_->ConnectDirect(outputs[0].Get(), inputs[0].Get(), nullptr);
  }

  // output -> intermediate (when given) -> sink, or the default renderer
  // when there is no sink.
  HRESULT RenderChain(IPin* output, IBaseFilter* intermediate, IBaseFilter* sink) {
    ComPtr<IPin> last(output);
    if (intermediate) {
      HRESULT result = ConnectToFilter(output, intermediate);
      if (FAILED(result)) return result;
      std::vector<ComPtr<IPin>> outputs;
      for (ComPtr<IPin>& next : PinsOf(intermediate, PINDIR_OUTPUT))
        if (!IsConnected(next.Get())) outputs.push_back(next);
      // An intermediate that renders the stream ends the chain.
      if (outputs.empty()) return sink ? VFW_E_CANNOT_CONNECT : S_OK;
      last = outputs.front();
    }
    if (sink) return ConnectToFilter(last.Get(), sink);
    return RenderToDefault(last.Get());
  }

  // The filter's free inputs, directly first, then through intelligent
  // connect, so that a writer with one input per stream gets the right one.
  HRESULT ConnectToFilter(IPin* output, IBaseFilter* filter) {
    std::vector<ComPtr<IPin>> inputs;
    for (ComPtr<IPin>& input : PinsOf(filter, PINDIR_INPUT))
      if (!IsConnected(input.Get())) inputs.push_back(input);
    if (inputs.empty()) return VFW_E_CANNOT_CONNECT;
    for (ComPtr<IPin>& input : inputs)
      if (SUCCEEDED(graph_->ConnectDirect(output, input.Get(), nullptr))) return S_OK;
    HRESULT result = VFW_E_CANNOT_CONNECT;
    for (ComPtr<IPin>& input : inputs) {
      result = graph_->Connect(output, input.Get());
      if (SUCCEEDED(result)) return S_OK;
    }
    return result;
  }

  HRESULT RenderToDefault(IPin* output) {
    std::vector<GUID> majors = MajorTypesOf(output);
    bool video = !majors.empty() && majors.front() == MEDIATYPE_Video;
    bool audio = !majors.empty() && majors.front() == MEDIATYPE_Audio;
    if (video || audio) {
      const CLSID& clsid = video ? CLSID_VideoRenderer : CLSID_DSoundRender;
      HRESULT result = S_OK;
      ComPtr<IBaseFilter> renderer = CreateFilter(clsid, &result);
      std::u16string name = RegisteredName(clsid, video ? u"Video Renderer" : u"Audio Renderer");
      if (renderer && SUCCEEDED(graph_->AddFilter(renderer.Get(), name.c_str()))) {
        if (SUCCEEDED(ConnectToFilter(output, renderer.Get()))) return S_OK;
        graph_->RemoveFilter(renderer.Get());
      }
    }
    return graph_->Render(output);
  }

  bool AnswerFromFilter(IBaseFilter* filter, REFIID riid, void** result) {
    if (SUCCEEDED(filter->QueryInterface(riid, result)) && *result) return true;
    *result = nullptr;
    for (PIN_DIRECTION direction : {PINDIR_INPUT, PINDIR_OUTPUT})
      for (ComPtr<IPin>& pin : PinsOf(filter, direction))
        if (SUCCEEDED(pin->QueryInterface(riid, result)) && *result) return true;
    *result = nullptr;
    return false;
  }

  // Breadth first through the pins of one direction: each peer pin, then
  // its filter and that filter's pins, then on. type restricts the first
  // step to pins of that major type.
  bool SearchFrom(IBaseFilter* start, PIN_DIRECTION direction, const GUID* type, REFIID riid, void** result) {
    std::set<IUnknown*> visited;
    auto identity = [](IUnknown* object) {
      ComPtr<IUnknown> unknown;
      object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown));
      return unknown.Get();  // compared only, while the graph holds the filter
    };
    visited.insert(identity(start));
    std::deque<ComPtr<IBaseFilter>> queue{ComPtr<IBaseFilter>(start)};
    bool first = true;
    while (!queue.empty()) {
      ComPtr<IBaseFilter> filter = queue.front();
      queue.pop_front();
      for (ComPtr<IPin>& pin : PinsOf(filter.Get(), direction)) {
        if (first && !CarriesMajorType(pin.Get(), type)) continue;
        ComPtr<IPin> peer = PeerOf(pin.Get());
        if (!peer) continue;
        if (SUCCEEDED(peer->QueryInterface(riid, result)) && *result) return true;
        *result = nullptr;
        ComPtr<IBaseFilter> next = FilterOfPin(peer.Get());
        if (!next || !visited.insert(identity(next.Get())).second) continue;
        if (AnswerFromFilter(next.Get(), riid, result)) return true;
        queue.push_back(next);
      }
      first = false;
    }
    return false;
  }

  ComPtr<IGraphBuilder> graph_;
};

const bool kRegistered =
    reel::RegisterBuiltinClass(CLSID_CaptureGraphBuilder2, &reel::CreateComObject<CCaptureGraphBuilder>);

}  // namespace
