// The OLE functions between GUIDs and their wide text form.
#pragma once

#include "platform/com/Guid.h"
#include "platform/com/HResult.h"

using LPCLSID = CLSID*;
using LPIID = IID*;

// "{...}" to a CLSID; CO_E_CLASSSTRING for anything else.
HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
// "{...}" to an IID; E_INVALIDARG for anything else.
HRESULT IIDFromString(LPCOLESTR text, LPIID iid);
// Writes the braced form (39 characters with the NUL); returns the count
// written with the NUL, or 0 when capacity is too small.
int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int capacity);
// The braced form in a CoTaskMemAlloc'd string the caller frees.
HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text);
HRESULT StringFromIID(REFIID iid, LPOLESTR* text);
