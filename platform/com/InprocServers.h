// In-process server libraries found through the registry: the path under
// HKCR\CLSID\{clsid}\InprocServer32, loaded once with dlopen and kept until
// its DllCanUnloadNow allows unloading.
#pragma once

#include <string>

#include "platform/com/Unknown.h"

namespace reel {

// The class object of clsid from its registered server. REGDB_E_CLASSNOTREG
// when the class has no server path, CO_E_DLLNOTFOUND when the library does
// not load, CO_E_ERRORINDLL when it lacks DllGetClassObject; otherwise what
// DllGetClassObject answers.
HRESULT GetClassObjectFromServer(REFCLSID clsid, REFIID riid, void** ppv);
// Unloads the loaded servers whose DllCanUnloadNow answers S_OK.
void FreeUnusedServers();
// The registered server path of clsid, or "" when it has none.
std::string RegisteredServerPath(REFCLSID clsid);

}  // namespace reel
