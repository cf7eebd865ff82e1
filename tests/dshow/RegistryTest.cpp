// The filter registry and the system device enumerator: registrations that
// a library's DllRegisterServer writes, found again through monikers and by
// intelligent connect.
#include <gtest/gtest.h>

#include "platform/com/Bstr.h"
#include "platform/com/ClassTable.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Variant.h"
#include "platform/dshow/DeviceEnumerator.h"
#include "platform/dshow/FilterGraph.h"
#include "platform/dshow/FilterRegistry.h"
#include "platform/win/RegistryKey.h"
#include "tests/dshow/TestFilters.h"

#define EXPECT_FAILED_RESULT(expression) EXPECT_TRUE(FAILED(expression)) << #expression

namespace {

using reel::ComPtr;
using namespace reel::test;

HRESULT CreateStamp(IUnknown* outer, REFIID riid, void** ppv) {
  if (outer) return CLASS_E_NOAGGREGATION;
  ComPtr<StampTransform> filter(new StampTransform());
  return filter->QueryInterface(riid, ppv);
}

ComPtr<ICreateDevEnum> DeviceEnumerator() {
  ComPtr<ICreateDevEnum> enumerator;
  EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                             reinterpret_cast<void**>(&enumerator)),
            S_OK);
  return enumerator;
}

std::string ReadString(IPropertyBag* bag, const char16_t* name) {
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_BSTR;
  std::string text;
  if (SUCCEEDED(bag->Read(name, &value, nullptr)) && value.vt == VT_BSTR) text = reel::Utf8FromBstr(value.bstrVal);
  VariantClear(&value);
  return text;
}

reel::RegisteredFilter StampRegistration(DWORD merit, REFGUID category) {
  reel::RegisteredFilter filter;
  filter.clsid = CLSID_TestStampTransform;
  filter.name = u"Stamp Effect";
  filter.merit = merit;
  filter.category = category;
  filter.pins = {{u"Input", false, false, false, false, {{MEDIATYPE_Video, MEDIASUBTYPE_RGB24}}},
                 {u"Output", true, false, false, false, {{MEDIATYPE_Video, MEDIASUBTYPE_RGB24}}}};
  return filter;
}

TEST(DeviceEnumerator, EmptyCategoryAnswersFalseAndNull) {
  auto enumerator = DeviceEnumerator();
  IEnumMoniker* monikers = reinterpret_cast<IEnumMoniker*>(0x1);
  EXPECT_EQ(enumerator->CreateClassEnumerator(CLSID_VideoEffects2Category, &monikers, 0), S_FALSE);
  EXPECT_EQ(monikers, nullptr);
}

TEST(DeviceEnumerator, RegisteredFiltersComeBackAsMonikers) {
  reel::RegisterBuiltinClass(CLSID_TestStampTransform, &CreateStamp);
  ASSERT_EQ(reel::RegisterFilter(StampRegistration(MERIT_DO_NOT_USE, CLSID_VideoEffects2Category)), S_OK);
  // Stored in the registry, where a second registration replaces the first.
  ASSERT_EQ(reel::RegisterFilter(StampRegistration(MERIT_NORMAL, CLSID_VideoEffects2Category)), S_OK);
  reel::RegistryKey stored = reel::RegistryKey::Open(
      HKEY_CLASSES_ROOT, "CLSID\\" + reel::GuidToString(CLSID_VideoEffects2Category) + "\\Instance\\" +
                             reel::GuidToString(CLSID_TestStampTransform));
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored.String("FriendlyName"), "Stamp Effect");
  EXPECT_EQ(stored.Dword("Merit"), MERIT_NORMAL);

  auto enumerator = DeviceEnumerator();
  ComPtr<IEnumMoniker> monikers;
  ASSERT_EQ(enumerator->CreateClassEnumerator(CLSID_VideoEffects2Category, &monikers, 0), S_OK);
  IMoniker* moniker = nullptr;
  ULONG fetched = 0;
  ASSERT_EQ(monikers->Next(1, &moniker, &fetched), S_OK);
  ComPtr<IMoniker> held;
  held.Attach(moniker);
  EXPECT_EQ(monikers->Next(1, &moniker, &fetched), S_FALSE);
  EXPECT_EQ(fetched, 0u);

  ComPtr<IPropertyBag> bag;
  ASSERT_EQ(held->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)), S_OK);
  EXPECT_EQ(ReadString(bag.Get(), u"FriendlyName"), "Stamp Effect");
  EXPECT_EQ(ReadString(bag.Get(), u"guid"), reel::GuidToString(CLSID_TestStampTransform));
  VARIANT missing;
  VariantInit(&missing);
  EXPECT_FAILED_RESULT(bag->Read(u"NoSuchValue", &missing, nullptr));

  ComPtr<IBaseFilter> filter;
  ASSERT_EQ(held->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter)), S_OK);
  CLSID clsid;
  filter->GetClassID(&clsid);
  EXPECT_EQ(clsid, CLSID_TestStampTransform);

  ASSERT_EQ(reel::UnregisterFilter(CLSID_TestStampTransform, CLSID_VideoEffects2Category), S_OK);
  EXPECT_EQ(enumerator->CreateClassEnumerator(CLSID_VideoEffects2Category, &monikers, 0), S_FALSE);
  reel::UnregisterBuiltinClass(CLSID_TestStampTransform);
}

TEST(FilterRegistry, BuiltinsSortedByMerit) {
  auto filters = reel::FiltersInCategory(CLSID_LegacyAmFilterCategory);
  ASSERT_GE(filters.size(), 6u);
  for (std::size_t index = 1; index < filters.size(); ++index) EXPECT_GE(filters[index - 1].merit, filters[index].merit);
  auto named = [&](const char16_t* name) {
    return std::any_of(filters.begin(), filters.end(), [&](const auto& filter) { return filter.name == name; });
  };
  EXPECT_TRUE(named(u"Color Space Converter"));
  EXPECT_TRUE(named(u"Infinite Pin Tee Filter"));
  EXPECT_TRUE(named(u"Null Renderer"));
  EXPECT_TRUE(named(u"Video Renderer"));
  EXPECT_TRUE(named(u"Audio Renderer"));
}

// A self-registered filter of higher merit is what intelligent connect
// tries first.
TEST(FilterRegistry, IntelligentConnectUsesRegisteredFilters) {
  reel::RegisterBuiltinClass(CLSID_TestStampTransform, &CreateStamp);
  ASSERT_EQ(reel::RegisterFilter(StampRegistration(MERIT_PREFERRED + 1, CLSID_LegacyAmFilterCategory)), S_OK);
  ComPtr<IGraphBuilder> graph;
  ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             reinterpret_cast<void**>(&graph)),
            S_OK);
  CMediaType type = MakeRgbType(MEDIASUBTYPE_RGB24, 8, 8, UNITS / 25);
  ComPtr<PushSourceFilter> source(new PushSourceFilter(type));
  graph->AddFilter(source.Get(), u"Source");
  // The registered filter of the highest merit that takes the stream comes
  // first, then a renderer for its output.
  ASSERT_EQ(graph->Render(source->Pin()), S_OK);
  ComPtr<IBaseFilter> stamp, renderer;
  EXPECT_EQ(graph->FindFilterByName(u"Stamp Effect", &stamp), S_OK);
  EXPECT_EQ(graph->FindFilterByName(u"Video Renderer", &renderer), S_OK);
  reel::UnregisterFilter(CLSID_TestStampTransform, CLSID_LegacyAmFilterCategory);
  reel::UnregisterBuiltinClass(CLSID_TestStampTransform);
}

}  // namespace
