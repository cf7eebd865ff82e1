// What the test in-process server and its test agree on.
#pragma once

#include "platform/com/Automation.h"

REEL_DEFINE_GUID(CLSID_TestGreeter, 0x6A0C1E40, 0x1111, 0x4A2B, 0x9C, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50, 0x90);
REEL_DEFINE_GUID(IID_IGreeter, 0x6A0C1E41, 0x1111, 0x4A2B, 0x9C, 0x01, 0x10, 0x20, 0x30, 0x40, 0x50, 0x91);

// A dual-style interface: IDispatch (member 1 "Greet", BSTR name → BSTR) and
// a direct call.
struct IGreeter : IDispatch {
  virtual HRESULT Greet(BSTR name, BSTR* greeting) = 0;
};
template <>
inline constexpr const IID& reel::kIidOf<IGreeter> = IID_IGreeter;

inline constexpr const char* kTestGreeterProgId = "ReelTest.Greeter.1";
