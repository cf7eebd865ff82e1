#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/com/Com.h"
#include "platform/com/Dispatch.h"
#include "platform/com/ServerRegistration.h"
#include "platform/win/RegistryKey.h"
#include "tests/com/server/TestServerClasses.h"
#include "tests/support/TempDir.h"

namespace {

const char* const kServerPath = COM_TEST_SERVER_PATH;

bool ServerIsLoaded() {
  void* handle = dlopen(kServerPath, RTLD_NOW | RTLD_NOLOAD);
  if (!handle) return false;
  dlclose(handle);  // drop the reference RTLD_NOLOAD took
  return true;
}

// Loads the library, calls one of its registration entry points and unloads
// it again, the way a registration tool does.
HRESULT CallServerEntry(const char* entry) {
  void* handle = dlopen(kServerPath, RTLD_NOW | RTLD_LOCAL);
  if (!handle) return CO_E_DLLNOTFOUND;
  auto function = reinterpret_cast<DllRegisterServerFunction>(dlsym(handle, entry));
  HRESULT result = function ? function() : CO_E_ERRORINDLL;
  dlclose(handle);
  return result;
}

std::string Greet(IGreeter* greeter, const char* name) {
  reel::Bstr text(name);
  reel::Bstr greeting;
  if (FAILED(greeter->Greet(text.Get(), &greeting))) return "<failed>";
  return greeting.Utf8();
}

std::string GreetByDispatch(IDispatch* object, const char* name) {
  reel::Variant argument = reel::Variant::String(name);
  DISPPARAMS parameters{&argument, nullptr, 1, 0};
  reel::Variant result;
  if (FAILED(object->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &parameters, &result, nullptr, nullptr))) return "<failed>";
  return reel::VariantToUtf8(result);
}

std::string ClassKey(REFCLSID clsid) { return "CLSID\\" + reel::GuidToString(clsid); }

TEST(InprocServer, RegistersIsCreatedThroughDlopenAndUnregisters) {
  ASSERT_FALSE(ServerIsLoaded());
  reel::ComPtr<IGreeter> greeter;
  EXPECT_EQ(CoCreateInstance(CLSID_TestGreeter, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&greeter)),
            REGDB_E_CLASSNOTREG);

  // Registration writes the class keys with the library's own path.
  ASSERT_EQ(CallServerEntry("DllRegisterServer"), S_OK);
  ASSERT_FALSE(ServerIsLoaded());
  reel::RegistryKey server = reel::RegistryKey::Open(HKEY_CLASSES_ROOT, ClassKey(CLSID_TestGreeter) + "\\InprocServer32");
  ASSERT_TRUE(server);
  EXPECT_EQ(server.String(), std::filesystem::canonical(kServerPath).string());
  EXPECT_EQ(server.String("ThreadingModel"), "Apartment");
  EXPECT_EQ(reel::RegistryKey::Open(HKEY_CLASSES_ROOT, ClassKey(CLSID_TestGreeter)).String(), "Test Greeter");
  CLSID fromProgId{};
  ASSERT_EQ(CLSIDFromProgID(u"ReelTest.Greeter.1", &fromProgId), S_OK);
  EXPECT_EQ(fromProgId, CLSID_TestGreeter);

  // Creation loads the library and the object works through both faces.
  ASSERT_EQ(CoCreateInstance(CLSID_TestGreeter, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&greeter)), S_OK);
  EXPECT_TRUE(ServerIsLoaded());
  EXPECT_EQ(Greet(greeter.Get(), "reel"), "Hello, reel");
  reel::ComPtr<IDispatch> dispatch;
  ASSERT_EQ(greeter.As(&dispatch), S_OK);
  EXPECT_EQ(GreetByDispatch(dispatch.Get(), "press"), "Hello, press");

  // While an object lives the library stays.
  CoFreeUnusedLibraries();
  EXPECT_TRUE(ServerIsLoaded());
  dispatch.Reset();
  greeter.Reset();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ServerIsLoaded());

  // Unregistered, the class is gone again.
  ASSERT_EQ(CallServerEntry("DllUnregisterServer"), S_OK);
  EXPECT_FALSE(reel::RegistryKey::Open(HKEY_CLASSES_ROOT, ClassKey(CLSID_TestGreeter)));
  EXPECT_EQ(CLSIDFromProgID(u"ReelTest.Greeter.1", &fromProgId), CO_E_CLASSSTRING);
  EXPECT_EQ(CoCreateInstance(CLSID_TestGreeter, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&greeter)),
            REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(ServerIsLoaded());
}

TEST(InprocServer, LockedFactoryKeepsTheLibraryLoaded) {
  ASSERT_EQ(CallServerEntry("DllRegisterServer"), S_OK);
  reel::ComPtr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_TestGreeter, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(&factory)), S_OK);
  ASSERT_EQ(factory->LockServer(TRUE), S_OK);
  factory.Reset();
  CoFreeUnusedLibraries();
  EXPECT_TRUE(ServerIsLoaded());  // the lock alone holds it

  // The lock is the library's: another factory releases it.
  ASSERT_EQ(CoGetClassObject(CLSID_TestGreeter, CLSCTX_INPROC_SERVER, nullptr, IID_PPV_ARGS(&factory)), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_FALSE);  // nothing left to unlock
  CoFreeUnusedLibraries();
  EXPECT_TRUE(ServerIsLoaded());  // the factory itself still holds it
  factory.Reset();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ServerIsLoaded());
  ASSERT_EQ(CallServerEntry("DllUnregisterServer"), S_OK);
}

TEST(InprocServer, BrokenRegistrationsGiveClearErrors) {
  reel::test::TempDir folder("com-server");
  constexpr CLSID kMissingLibrary = {0x6A0C1E50, 0x1111, 0x4A2B, {0x9C, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50, 0xA0}};
  constexpr CLSID kNoEntryPoint = {0x6A0C1E51, 0x1111, 0x4A2B, {0x9C, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50, 0xA1}};
  constexpr CLSID kOtherClass = {0x6A0C1E52, 0x1111, 0x4A2B, {0x9C, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50, 0xA2}};
  constexpr CLSID kNotALibrary = {0x6A0C1E53, 0x1111, 0x4A2B, {0x9C, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50, 0xA3}};
  reel::test::WriteFile(folder / "garbage.so", "this is not an ELF file");
  ASSERT_EQ(reel::RegisterInprocServer(kMissingLibrary, (folder / "absent.so").string(), "Missing"), S_OK);
  // The platform library is a real library without DllGetClassObject.
  ASSERT_EQ(reel::RegisterInprocServer(kNoEntryPoint, reel::ModuleFileName(reinterpret_cast<const void*>(&CoTaskMemAlloc)),
                                       "No entry"),
            S_OK);
  ASSERT_EQ(reel::RegisterInprocServer(kOtherClass, kServerPath, "Not served"), S_OK);
  ASSERT_EQ(reel::RegisterInprocServer(kNotALibrary, (folder / "garbage.so").string(), "Garbage"), S_OK);

  reel::ComPtr<IUnknown> object;
  EXPECT_EQ(CoCreateInstance(kMissingLibrary, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&object)), CO_E_DLLNOTFOUND);
  EXPECT_EQ(CoCreateInstance(kNotALibrary, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&object)), CO_E_DLLNOTFOUND);
  EXPECT_EQ(CoCreateInstance(kNoEntryPoint, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&object)), CO_E_ERRORINDLL);
  EXPECT_EQ(CoCreateInstance(kOtherClass, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&object)), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_FALSE(object);

  // An empty path is no registration at all.
  reel::RegistryKey::Create(HKEY_CLASSES_ROOT, ClassKey(kMissingLibrary) + "\\InprocServer32").SetString("", "");
  EXPECT_EQ(CoCreateInstance(kMissingLibrary, nullptr, CLSCTX_ALL, IID_PPV_ARGS(&object)), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(reel::UnregisterServer(kMissingLibrary), S_OK);
  EXPECT_EQ(reel::UnregisterServer(kMissingLibrary), S_OK);  // already gone is fine
  CoFreeUnusedLibraries();
}

TEST(InprocServer, AggregationThroughTheRegistryFollowsCom) {
  ASSERT_EQ(CallServerEntry("DllRegisterServer"), S_OK);
  // An outer asking the aggregated object for anything but IUnknown is refused.
  class Outer : public reel::ComObject<IDispatch> {
   public:
    Outer() : ComObject(nullptr) {}
    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
  };
  auto outer = reel::MakeComObject<Outer>();
  reel::ComPtr<IGreeter> direct;
  EXPECT_EQ(CoCreateInstance(CLSID_TestGreeter, static_cast<IDispatch*>(outer.Get()), CLSCTX_ALL, IID_PPV_ARGS(&direct)),
            CLASS_E_NOAGGREGATION);
  reel::ComPtr<IUnknown> inner;
  ASSERT_EQ(CoCreateInstance(CLSID_TestGreeter, static_cast<IDispatch*>(outer.Get()), CLSCTX_ALL, IID_PPV_ARGS(&inner)),
            S_OK);
  reel::ComPtr<IGreeter> greeter;
  ASSERT_EQ(inner.As(&greeter), S_OK);
  EXPECT_EQ(Greet(greeter.Get(), "outer"), "Hello, outer");
  // The greeter's IUnknown is the outer's.
  reel::ComPtr<IUnknown> identity;
  ASSERT_EQ(greeter.As(&identity), S_OK);
  EXPECT_TRUE(reel::IsSameObject(identity.Get(), static_cast<IDispatch*>(outer.Get())));
  greeter.Reset();
  identity.Reset();
  inner.Reset();
  CoFreeUnusedLibraries();
  EXPECT_FALSE(ServerIsLoaded());
  ASSERT_EQ(CallServerEntry("DllUnregisterServer"), S_OK);
}

}  // namespace
