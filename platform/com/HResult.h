// HRESULT values as Windows defines them, and the helpers to build and test them.
#pragma once

#include "platform/win/WinTypes.h"

inline constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
inline constexpr bool FAILED(HRESULT hr) { return hr < 0; }

constexpr HRESULT MAKE_HRESULT(unsigned severity, unsigned facility, unsigned code) {
  return static_cast<HRESULT>((static_cast<DWORD>(severity) << 31) | (static_cast<DWORD>(facility) << 16) |
                              static_cast<DWORD>(code));
}
constexpr HRESULT HResultFromHex(DWORD value) { return static_cast<HRESULT>(value); }
// HRESULT_FROM_WIN32: Win32 error codes in FACILITY_WIN32.
constexpr HRESULT HRESULT_FROM_WIN32(LONG error) {
  return error <= 0 ? static_cast<HRESULT>(error)
                    : static_cast<HRESULT>((static_cast<DWORD>(error) & 0xFFFF) | (7u << 16) | 0x80000000u);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_UNEXPECTED = HResultFromHex(0x8000FFFF);
constexpr HRESULT E_NOTIMPL = HResultFromHex(0x80004001);
constexpr HRESULT E_OUTOFMEMORY = HResultFromHex(0x8007000E);
constexpr HRESULT E_INVALIDARG = HResultFromHex(0x80070057);
constexpr HRESULT E_NOINTERFACE = HResultFromHex(0x80004002);
constexpr HRESULT E_POINTER = HResultFromHex(0x80004003);
constexpr HRESULT E_HANDLE = HResultFromHex(0x80070006);
constexpr HRESULT E_ABORT = HResultFromHex(0x80004004);
constexpr HRESULT E_FAIL = HResultFromHex(0x80004005);
constexpr HRESULT E_ACCESSDENIED = HResultFromHex(0x80070005);
constexpr HRESULT E_PENDING = HResultFromHex(0x8000000A);

constexpr HRESULT CLASS_E_NOAGGREGATION = HResultFromHex(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = HResultFromHex(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = HResultFromHex(0x80040154);
constexpr HRESULT REGDB_E_READREGDB = HResultFromHex(0x80040150);
constexpr HRESULT CO_E_DLLNOTFOUND = HResultFromHex(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = HResultFromHex(0x800401F9);
constexpr HRESULT SELFREG_E_CLASS = HResultFromHex(0x80040201);
constexpr HRESULT SELFREG_E_TYPELIB = HResultFromHex(0x80040200);

constexpr HRESULT DISP_E_UNKNOWNINTERFACE = HResultFromHex(0x80020001);
constexpr HRESULT DISP_E_MEMBERNOTFOUND = HResultFromHex(0x80020003);
constexpr HRESULT DISP_E_PARAMNOTFOUND = HResultFromHex(0x80020004);
constexpr HRESULT DISP_E_TYPEMISMATCH = HResultFromHex(0x80020005);
constexpr HRESULT DISP_E_UNKNOWNNAME = HResultFromHex(0x80020006);
constexpr HRESULT DISP_E_NONAMEDARGS = HResultFromHex(0x80020007);
constexpr HRESULT DISP_E_BADVARTYPE = HResultFromHex(0x80020008);
constexpr HRESULT DISP_E_EXCEPTION = HResultFromHex(0x80020009);
constexpr HRESULT DISP_E_OVERFLOW = HResultFromHex(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = HResultFromHex(0x8002000B);
constexpr HRESULT DISP_E_UNKNOWNLCID = HResultFromHex(0x8002000C);
constexpr HRESULT DISP_E_ARRAYISLOCKED = HResultFromHex(0x8002000D);
constexpr HRESULT DISP_E_BADPARAMCOUNT = HResultFromHex(0x8002000E);
constexpr HRESULT DISP_E_PARAMNOTOPTIONAL = HResultFromHex(0x8002000F);
constexpr HRESULT DISP_E_NOTACOLLECTION = HResultFromHex(0x80020011);

constexpr HRESULT CONNECT_E_NOCONNECTION = HResultFromHex(0x80040200);
constexpr HRESULT CONNECT_E_ADVISELIMIT = HResultFromHex(0x80040201);
constexpr HRESULT CONNECT_E_CANNOTCONNECT = HResultFromHex(0x80040202);
constexpr HRESULT CONNECT_E_OVERRIDDEN = HResultFromHex(0x80040203);

constexpr HRESULT CO_E_CLASSSTRING = HResultFromHex(0x800401F3);
constexpr HRESULT CO_E_NOTINITIALIZED = HResultFromHex(0x800401F0);
constexpr HRESULT CO_E_APPNOTFOUND = HResultFromHex(0x800401F5);
constexpr HRESULT CO_E_OBJNOTCONNECTED = HResultFromHex(0x800401FD);
constexpr HRESULT REGDB_E_WRITEREGDB = HResultFromHex(0x80040151);
constexpr HRESULT REGDB_E_KEYMISSING = HResultFromHex(0x80040152);
constexpr HRESULT REGDB_E_IIDNOTREG = HResultFromHex(0x80040155);
constexpr HRESULT TYPE_E_ELEMENTNOTFOUND = HResultFromHex(0x8002802B);
constexpr HRESULT CTL_E_SETNOTSUPPORTED = HResultFromHex(0x800A017F);  // automation error 383
constexpr HRESULT CTL_E_GETNOTSUPPORTED = HResultFromHex(0x800A018A);  // automation error 394
