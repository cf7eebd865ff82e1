#include "platform/com/InprocServers.h"

#include <dlfcn.h>

#include <map>
#include <mutex>

#include "platform/com/ClassTable.h"

namespace reel {

namespace {

struct LoadedServer {
  void* handle = nullptr;
  DllGetClassObjectFunction getClassObject = nullptr;
  DllCanUnloadNowFunction canUnloadNow = nullptr;
};

struct ServerCache {
  // Recursive: a server's DllGetClassObject may itself create objects.
  std::recursive_mutex mutex;
  std::map<std::string, LoadedServer> byPath;
};

ServerCache& Cache() {
  static ServerCache* cache = new ServerCache;
  return *cache;
}

}  // namespace

HRESULT GetClassObjectFromServer(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  const std::string path = RegisteredServerPath(clsid);
  if (path.empty()) return REGDB_E_CLASSNOTREG;

  ServerCache& cache = Cache();
  std::lock_guard lock(cache.mutex);
  auto found = cache.byPath.find(path);
  if (found == cache.byPath.end()) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return CO_E_DLLNOTFOUND;
    LoadedServer server;
    server.handle = handle;
    server.getClassObject = reinterpret_cast<DllGetClassObjectFunction>(dlsym(handle, "DllGetClassObject"));
    server.canUnloadNow = reinterpret_cast<DllCanUnloadNowFunction>(dlsym(handle, "DllCanUnloadNow"));
    if (!server.getClassObject) {
      dlclose(handle);
      return CO_E_ERRORINDLL;
    }
    found = cache.byPath.emplace(path, server).first;
  }
  HRESULT result = found->second.getClassObject(clsid, riid, ppv);
  if (SUCCEEDED(result) && !*ppv) return E_UNEXPECTED;
  return result;
}

void FreeUnusedServers() {
  ServerCache& cache = Cache();
  std::lock_guard lock(cache.mutex);
  for (auto server = cache.byPath.begin(); server != cache.byPath.end();) {
    // A server without DllCanUnloadNow stays loaded, as on Windows.
    if (server->second.canUnloadNow && server->second.canUnloadNow() == S_OK) {
      dlclose(server->second.handle);
      server = cache.byPath.erase(server);
    } else {
      ++server;
    }
  }
}

}  // namespace reel
