// What an in-process server's DllRegisterServer and DllUnregisterServer
// write and remove:
//   HKCR\CLSID\{clsid}                       (default) friendly name
//   HKCR\CLSID\{clsid}\InprocServer32        (default) library path, "ThreadingModel"
//   HKCR\CLSID\{clsid}\ProgID                (default) ProgID        (optional)
//   HKCR\ProgID                              (default) friendly name (optional)
//   HKCR\ProgID\CLSID                        (default) {clsid}
#pragma once

#include <string>

#include "platform/com/Guid.h"
#include "platform/com/HResult.h"

// A ProgID ("Library.Class.1") to its class, from HKCR\ProgID\CLSID;
// CO_E_CLASSSTRING when it is not registered.
HRESULT CLSIDFromProgID(LPCOLESTR progId, CLSID* clsid);
// The class's ProgID in a CoTaskMemAlloc'd string; REGDB_E_CLASSNOTREG when
// it has none.
HRESULT ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* progId);

namespace reel {

// The absolute path of the shared object (or program) that holds address,
// "" when there is none. A server passes the address of one of its own
// functions to learn where it was loaded from.
std::string ModuleFileName(const void* addressInModule);

// Writes the class keys. SELFREG_E_CLASS when the registry refuses.
HRESULT RegisterInprocServer(REFCLSID clsid, const std::string& modulePath, const std::string& friendlyName,
                             const std::string& threadingModel = "Apartment");
// Removes HKCR\CLSID\{clsid} with everything under it, and the ProgID it
// names. A class that is not registered is not an error.
HRESULT UnregisterServer(REFCLSID clsid);

HRESULT RegisterProgId(const std::string& progId, REFCLSID clsid, const std::string& friendlyName);
HRESULT UnregisterProgId(const std::string& progId);

// The answer of DllCanUnloadNow for the server holding addressInModule:
// S_OK when it has no live objects and no locks (see ModuleLock).
HRESULT CanUnloadModuleNow(const void* addressInModule);

}  // namespace reel
