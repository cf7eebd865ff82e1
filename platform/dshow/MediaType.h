// CMediaType: an AM_MEDIA_TYPE that owns its format block and its pUnk, with
// the helpers filters use to build and compare types; and the free functions
// for AM_MEDIA_TYPEs handed across interfaces (CoTaskMemAlloc'd).
#pragma once

#include <string>

#include "platform/dshow/DShowTypes.h"

class CMediaType : public AM_MEDIA_TYPE {
 public:
  CMediaType();
  explicit CMediaType(const GUID* majorType);
  CMediaType(const AM_MEDIA_TYPE& other);
  CMediaType(const CMediaType& other);
  CMediaType& operator=(const AM_MEDIA_TYPE& other);
  CMediaType& operator=(const CMediaType& other);
  ~CMediaType();

  bool operator==(const CMediaType& other) const;
  bool operator!=(const CMediaType& other) const { return !(*this == other); }

  // A copy of other; E_OUTOFMEMORY leaves this type empty.
  HRESULT Set(const CMediaType& other);
  HRESULT Set(const AM_MEDIA_TYPE& other);
  BOOL IsValid() const { return majortype != GUID_NULL; }

  const GUID* Type() const { return &majortype; }
  void SetType(const GUID* type) { majortype = *type; }
  const GUID* Subtype() const { return &subtype; }
  void SetSubtype(const GUID* type) { subtype = *type; }
  BOOL IsFixedSize() const { return bFixedSizeSamples; }
  BOOL IsTemporalCompressed() const { return bTemporalCompression; }
  ULONG GetSampleSize() const { return bFixedSizeSamples ? lSampleSize : 0; }
  void SetSampleSize(ULONG size);
  void SetVariableSize() { bFixedSizeSamples = FALSE; }
  void SetTemporalCompression(BOOL compressed) { bTemporalCompression = compressed; }

  const GUID* FormatType() const { return &formattype; }
  void SetFormatType(const GUID* type) { formattype = *type; }
  BYTE* Format() const { return pbFormat; }
  ULONG FormatLength() const { return cbFormat; }
  // Copies length bytes in as the format block.
  BOOL SetFormat(const BYTE* format, ULONG length);
  // Makes the format block length bytes long (zeroed when it grows) and
  // returns it; null when out of memory.
  BYTE* AllocFormatBuffer(ULONG length);
  BYTE* ReallocFormatBuffer(ULONG length);
  void ResetFormatBuffer();
  void InitMediaType();

  // Whether this type matches partial, a type whose null GUIDs (and empty
  // format) match anything.
  BOOL MatchesPartial(const CMediaType* partial) const;
  BOOL IsPartiallySpecified() const;
};

void FreeMediaType(AM_MEDIA_TYPE& mediaType);
void DeleteMediaType(AM_MEDIA_TYPE* mediaType);
HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source);
// A CoTaskMemAlloc'd copy (as IEnumMediaTypes::Next hands out); null when out of memory.
AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source);

// The RGB subtype of an uncompressed BITMAPINFOHEADER (GUID_NULL when none
// fits): 8 RGB8, 16 RGB555 (BI_RGB) or RGB565 (bit fields 0xF800), 24
// RGB24, 32 RGB32.
GUID GetBitmapSubtype(const BITMAPINFOHEADER* header);

namespace reel {
// The VIDEOINFOHEADER of a FORMAT_VideoInfo type whose block is big enough, else null.
const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& mediaType);
// The BITMAPINFOHEADER of a VideoInfo or VideoInfo2 type, else null.
const BITMAPINFOHEADER* BitmapHeaderOf(const AM_MEDIA_TYPE& mediaType);
// The WAVEFORMATEX of a FORMAT_WaveFormatEx type whose block is big enough, else null.
const WAVEFORMATEX* WaveFormatOf(const AM_MEDIA_TYPE& mediaType);
// A readable description ("Video RGB24 640x480", "Audio PCM 44100 Hz 2 ch 16 bit").
std::string DescribeMediaType(const AM_MEDIA_TYPE& mediaType);
}  // namespace reel
