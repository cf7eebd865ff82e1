// The time-format half of IMediaSeeking for seekers that count only in
// reference time (TIME_FORMAT_MEDIA_TIME): the graph, the file source's pins
// and test sources. They derive from this instead of IMediaSeeking and keep
// only the positioning methods.
#pragma once

#include "platform/dshow/DShowInterfaces.h"

class CMediaTimeSeeking : public IMediaSeeking {
 public:
  HRESULT IsFormatSupported(const GUID* format) override {
    if (!format) return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
  }
  HRESULT QueryPreferredFormat(GUID* format) override {
    if (!format) return E_POINTER;
    *format = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
  }
  HRESULT GetTimeFormat(GUID* format) override { return QueryPreferredFormat(format); }
  HRESULT IsUsingTimeFormat(const GUID* format) override { return IsFormatSupported(format); }
  HRESULT SetTimeFormat(const GUID* format) override {
    if (!format) return E_POINTER;
    return *format == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
  }
  HRESULT ConvertTimeFormat(LONGLONG* target, const GUID* targetFormat, LONGLONG source,
                            const GUID* sourceFormat) override {
    if (!target) return E_POINTER;
    if ((targetFormat && *targetFormat != TIME_FORMAT_MEDIA_TIME) ||
        (sourceFormat && *sourceFormat != TIME_FORMAT_MEDIA_TIME))
      return E_INVALIDARG;
    *target = source;
    return S_OK;
  }

 protected:
  ~CMediaTimeSeeking() = default;
};
