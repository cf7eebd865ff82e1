// Object creation by class identifier. Classes built into the program are
// found in a table filled by static initialisers; every other class is found
// in the registry (HKCR\CLSID\{...}\InprocServer32), loaded with dlopen and
// asked through its DllGetClassObject.
#pragma once

#include "platform/com/ClassFactory.h"

// Where a class may run. Only in-process servers exist here; the other
// contexts are accepted in masks and otherwise find nothing.
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// Apartments are not modelled: these count calls per thread so that paired
// calls answer as on Windows (S_OK for the first, S_FALSE after), and
// creation works whether or not they were called.
HRESULT CoInitialize(LPVOID reserved);
HRESULT CoInitializeEx(LPVOID reserved, DWORD flags);
void CoUninitialize();

HRESULT CoGetClassObject(REFCLSID clsid, DWORD context, LPVOID serverInfo, REFIID riid, LPVOID* ppv);
HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid, LPVOID* ppv);
// Unloads every loaded server library whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();
void CoFreeUnusedLibrariesEx(DWORD delayMilliseconds, DWORD reserved);

// The entry points of an in-process server library.
using DllGetClassObjectFunction = HRESULT (*)(REFCLSID clsid, REFIID riid, LPVOID* ppv);
using DllCanUnloadNowFunction = HRESULT (*)();
using DllRegisterServerFunction = HRESULT (*)();

namespace reel {

// Makes clsid creatable in this process through create. Returns true so it
// can initialise a static:
//   static const bool registered = reel::RegisterBuiltinClass(CLSID_X, &CreateComObject<X>);
// A later registration of the same class replaces the earlier one.
bool RegisterBuiltinClass(REFCLSID clsid, CreateFunction create);
void UnregisterBuiltinClass(REFCLSID clsid);

}  // namespace reel
