#include "platform/com/TaskMemory.h"

#include <cstdlib>

LPVOID CoTaskMemAlloc(SIZE_T size) {
  // A zero-byte request still gives a distinct pointer, as on Windows.
  return std::malloc(size ? size : 1);
}

LPVOID CoTaskMemRealloc(LPVOID pointer, SIZE_T size) {
  if (size == 0) {
    std::free(pointer);
    return nullptr;
  }
  return std::realloc(pointer, size);
}

void CoTaskMemFree(LPVOID pointer) { std::free(pointer); }
