// The COM task allocator: memory handed across COM interfaces (strings
// returned by StringFromCLSID, media type blocks) is allocated here and freed
// by its receiver with CoTaskMemFree.
#pragma once

#include "platform/win/WinTypes.h"

LPVOID CoTaskMemAlloc(SIZE_T size);
// As realloc: null pointer allocates, size 0 frees and returns null.
LPVOID CoTaskMemRealloc(LPVOID pointer, SIZE_T size);
void CoTaskMemFree(LPVOID pointer);
