// The in-process server entry points of quolrixoverlaytran.so: its one
// class, the COM keys and the filter registration. The filter is never
// picked by intelligent connect (MERIT_DO_NOT_USE): the editing control
// adds it by class identifier.
#include "interfaces/OverlayTextSettings.h"
#include "overlayfilter/OverlayTextFilter.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/ServerRegistration.h"
#include "platform/dshow/FilterRegistry.h"

#define REEL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

const char16_t kFilterName[] = u"Quolrix Overlay Text Filter";

reel::RegisteredFilter FilterRegistration() {
  // Both pins take any type: the filter checks types itself on connection.
  const reel::RegisteredPinType anyType{GUID_NULL, GUID_NULL};
  reel::RegisteredFilter filter;
  filter.clsid = CLSID_OverlayTextFilter;
  filter.name = kFilterName;
  filter.merit = MERIT_DO_NOT_USE;
  filter.pins = {{u"Input", false, false, false, false, {anyType}},
                 {u"Output", true, false, false, false, {anyType}}};
  return filter;
}

const void* ThisModule() { return reinterpret_cast<const void*>(&FilterRegistration); }

}  // namespace

REEL_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid != CLSID_OverlayTextFilter) return CLASS_E_CLASSNOTAVAILABLE;
  return reel::CreateClassFactory(&reel::overlay::CreateOverlayTextFilter, riid, ppv);
}

REEL_EXPORT HRESULT DllCanUnloadNow() { return reel::CanUnloadModuleNow(ThisModule()); }

REEL_EXPORT HRESULT DllRegisterServer() {
  const std::string path = reel::ModuleFileName(ThisModule());
  if (path.empty()) return SELFREG_E_CLASS;
  HRESULT result = reel::RegisterInprocServer(CLSID_OverlayTextFilter, path, "Quolrix Overlay Text Filter", "Both");
  if (FAILED(result)) return result;
  return reel::RegisterFilter(FilterRegistration());
}

REEL_EXPORT HRESULT DllUnregisterServer() {
  HRESULT filter = reel::UnregisterFilter(CLSID_OverlayTextFilter);
  HRESULT server = reel::UnregisterServer(CLSID_OverlayTextFilter);
  return FAILED(server) ? server : filter;
}
