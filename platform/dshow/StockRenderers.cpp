// The Null Renderer: takes anything and drops each sample at its time
// (at once without a clock). The video renderer and the audio renderer have
// files of their own.

#include "platform/com/ClassTable.h"
#include "platform/dshow/BaseRenderer.h"
#include "platform/dshow/DShowControl.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/dshow/StockFilters.h"

namespace {

class CNullRenderer : public CBaseRenderer {
 public:
  explicit CNullRenderer(LPUNKNOWN outer) : CBaseRenderer(CLSID_NullRenderer, "null renderer", outer, nullptr, u"In") {}
  HRESULT CheckMediaType(const CMediaType* mediaType) override {
    return mediaType->majortype != GUID_NULL ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
  }
  HRESULT DoRenderSample(IMediaSample*) override { return S_OK; }
};


const bool kRegistered = [] {
  reel::RegisterBuiltinClass(CLSID_NullRenderer, &reel::CreateComObject<CNullRenderer>);

  reel::RegisteredFilter null;
  null.clsid = CLSID_NullRenderer;
  null.name = u"Null Renderer";
  null.merit = MERIT_DO_NOT_USE;
  null.pins = {{u"In", false, true, false, false, {{GUID_NULL, GUID_NULL}}}};
  return reel::RegisterBuiltinFilter(null);
}();

}  // namespace
