// A small in-process server for the tests: one class, registered by its own
// DllRegisterServer, created through DllGetClassObject.
#include "platform/com/ClassFactory.h"
#include "platform/com/Dispatch.h"
#include "platform/com/ServerRegistration.h"
#include "tests/com/server/TestServerClasses.h"

#define REEL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

class Greeter final : public reel::ComObject<IGreeter> {
 public:
  explicit Greeter(LPUNKNOWN outer) : ComObject(outer) {}
  DECLARE_DISPATCH_TABLE(Greeter)

  HRESULT Greet(BSTR name, BSTR* greeting) override {
    if (!greeting) return E_POINTER;
    *greeting = reel::BstrFromUtf8(GreetingFor(reel::Utf8FromBstr(name)));
    return *greeting ? S_OK : E_OUTOFMEMORY;
  }
  std::string GreetingFor(const std::string& name) { return "Hello, " + name; }
};

const reel::DispatchTable<Greeter>& Greeter::DispatchMap() {
  static const auto table = reel::DispatchTable<Greeter>().Method(1, "Greet", &Greeter::GreetingFor);
  return table;
}

}  // namespace

REEL_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (clsid != CLSID_TestGreeter) return CLASS_E_CLASSNOTAVAILABLE;
  return reel::CreateClassFactory(&reel::CreateComObject<Greeter>, riid, ppv);
}

REEL_EXPORT HRESULT DllCanUnloadNow() { return reel::CanUnloadModuleNow(reinterpret_cast<const void*>(&DllCanUnloadNow)); }

REEL_EXPORT HRESULT DllRegisterServer() {
  const std::string path = reel::ModuleFileName(reinterpret_cast<const void*>(&DllRegisterServer));
  HRESULT result = reel::RegisterInprocServer(CLSID_TestGreeter, path, "Test Greeter", "Apartment");
  if (FAILED(result)) return result;
  return reel::RegisterProgId(kTestGreeterProgId, CLSID_TestGreeter, "Test Greeter");
}

REEL_EXPORT HRESULT DllUnregisterServer() { return reel::UnregisterServer(CLSID_TestGreeter); }
