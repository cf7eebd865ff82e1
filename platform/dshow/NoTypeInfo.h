// The IDispatch half of automation interfaces that filters answer only
// through their vtables (IVideoWindow, IBasicVideo, IBasicAudio): there is
// no type information, so name lookup and Invoke are not available.
#pragma once

#define REEL_NO_TYPE_INFO                                                                            \
  HRESULT GetTypeInfoCount(UINT* count) override {                                                  \
    if (!count) return E_POINTER;                                                                   \
    *count = 0;                                                                                     \
    return S_OK;                                                                                    \
  }                                                                                                 \
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override {                                      \
    if (info) *info = nullptr;                                                                      \
    return E_NOTIMPL;                                                                               \
  }                                                                                                 \
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }      \
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {   \
    return E_NOTIMPL;                                                                               \
  }
