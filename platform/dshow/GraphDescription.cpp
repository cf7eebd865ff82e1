#include "platform/dshow/GraphDescription.h"

#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/dshow/MediaType.h"
#include "platform/win/Strings.h"

namespace reel {

std::string DescribeGraph(IFilterGraph* graph) {
  std::string text;
  ComPtr<IEnumFilters> filters;
  if (!graph || FAILED(graph->EnumFilters(&filters))) return text;
  std::vector<ComPtr<IBaseFilter>> list;
  IBaseFilter* filter = nullptr;
  while (filters->Next(1, &filter, nullptr) == S_OK) {
    ComPtr<IBaseFilter> held;
    held.Attach(filter);
    list.insert(list.begin(), held);  // in the order they were added
  }
  for (ComPtr<IBaseFilter>& each : list) {
    FILTER_INFO info{};
    each->QueryFilterInfo(&info);
    if (info.pGraph) info.pGraph->Release();
    CLSID clsid = GUID_NULL;
    each->GetClassID(&clsid);
    text += "\"" + Utf16ToUtf8(info.achName) + "\" " + GuidToString(clsid) + "\n";
    ComPtr<IEnumPins> pins;
    if (FAILED(each->EnumPins(&pins))) continue;
    IPin* pin = nullptr;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
      ComPtr<IPin> held;
      held.Attach(pin);
      PIN_INFO pinInfo{};
      held->QueryPinInfo(&pinInfo);
      if (pinInfo.pFilter) pinInfo.pFilter->Release();
      text += std::string("  ") + (pinInfo.dir == PINDIR_INPUT ? "in  " : "out ") + Utf16ToUtf8(pinInfo.achName);
      ComPtr<IPin> peer;
      if (SUCCEEDED(held->ConnectedTo(&peer)) && peer) {
        PIN_INFO peerInfo{};
        peer->QueryPinInfo(&peerInfo);
        FILTER_INFO peerFilter{};
        if (peerInfo.pFilter) {
          peerInfo.pFilter->QueryFilterInfo(&peerFilter);
          if (peerFilter.pGraph) peerFilter.pGraph->Release();
          peerInfo.pFilter->Release();
        }
        CMediaType type;
        held->ConnectionMediaType(&type);
        text += (pinInfo.dir == PINDIR_INPUT ? " <- \"" : " -> \"") + Utf16ToUtf8(peerFilter.achName) + "\"." +
                Utf16ToUtf8(peerInfo.achName) + "  " + DescribeMediaType(type);
      }
      text += "\n";
    }
  }
  return text;
}

}  // namespace reel
