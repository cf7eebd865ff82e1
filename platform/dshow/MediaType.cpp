#include "platform/dshow/MediaType.h"

#include <cstdio>

#include "platform/com/GuidStrings.h"
#include "platform/com/TaskMemory.h"

CMediaType::CMediaType() { InitMediaType(); }

CMediaType::CMediaType(const GUID* majorType) {
  InitMediaType();
  majortype = *majorType;
}

CMediaType::CMediaType(const AM_MEDIA_TYPE& other) {
  InitMediaType();
  Set(other);
}

CMediaType::CMediaType(const CMediaType& other) : AM_MEDIA_TYPE() {
  InitMediaType();
  Set(other);
}

CMediaType& CMediaType::operator=(const AM_MEDIA_TYPE& other) {
  Set(other);
  return *this;
}

CMediaType& CMediaType::operator=(const CMediaType& other) {
  Set(other);
  return *this;
}

CMediaType::~CMediaType() { FreeMediaType(*this); }

void CMediaType::InitMediaType() {
  std::memset(static_cast<AM_MEDIA_TYPE*>(this), 0, sizeof(AM_MEDIA_TYPE));
  lSampleSize = 1;
  bFixedSizeSamples = TRUE;
}

HRESULT CMediaType::Set(const CMediaType& other) { return Set(static_cast<const AM_MEDIA_TYPE&>(other)); }

HRESULT CMediaType::Set(const AM_MEDIA_TYPE& other) {
  if (&other == this) return S_OK;
  FreeMediaType(*this);
  HRESULT result = CopyMediaType(this, &other);
  if (FAILED(result)) {
    InitMediaType();
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

bool CMediaType::operator==(const CMediaType& other) const {
  return majortype == other.majortype && subtype == other.subtype && formattype == other.formattype &&
         cbFormat == other.cbFormat && (cbFormat == 0 || std::memcmp(pbFormat, other.pbFormat, cbFormat) == 0);
}

void CMediaType::SetSampleSize(ULONG size) {
  if (size == 0) {
    SetVariableSize();
  } else {
    bFixedSizeSamples = TRUE;
    lSampleSize = size;
  }
}

BOOL CMediaType::SetFormat(const BYTE* format, ULONG length) {
  if (length == 0) {
    ResetFormatBuffer();
    return TRUE;
  }
  BYTE* block = AllocFormatBuffer(length);
  if (!block) return FALSE;
  std::memcpy(block, format, length);
  return TRUE;
}

BYTE* CMediaType::AllocFormatBuffer(ULONG length) {
  if (length == 0) return nullptr;
  if (cbFormat == length) return pbFormat;
  BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (!block) return nullptr;
  std::memset(block, 0, length);
  CoTaskMemFree(pbFormat);
  pbFormat = block;
  cbFormat = length;
  return pbFormat;
}

BYTE* CMediaType::ReallocFormatBuffer(ULONG length) {
  if (length == 0) return nullptr;
  BYTE* block = static_cast<BYTE*>(CoTaskMemAlloc(length));
  if (!block) return nullptr;
  std::memset(block, 0, length);
  if (pbFormat) std::memcpy(block, pbFormat, cbFormat < length ? cbFormat : length);
  CoTaskMemFree(pbFormat);
  pbFormat = block;
  cbFormat = length;
  return pbFormat;
}

void CMediaType::ResetFormatBuffer() {
  CoTaskMemFree(pbFormat);
  pbFormat = nullptr;
  cbFormat = 0;
}

BOOL CMediaType::MatchesPartial(const CMediaType* partial) const {
  if (partial->majortype != GUID_NULL && majortype != partial->majortype) return FALSE;
  if (partial->subtype != GUID_NULL && subtype != partial->subtype) return FALSE;
  if (partial->formattype != GUID_NULL) {
    if (formattype != partial->formattype) return FALSE;
    if (cbFormat != partial->cbFormat) return FALSE;
    if (cbFormat != 0 && std::memcmp(pbFormat, partial->pbFormat, cbFormat) != 0) return FALSE;
  }
  return TRUE;
}

BOOL CMediaType::IsPartiallySpecified() const {
  return majortype == GUID_NULL || subtype == GUID_NULL || formattype == GUID_NULL;
}

void FreeMediaType(AM_MEDIA_TYPE& mediaType) {
  if (mediaType.cbFormat != 0 || mediaType.pbFormat) {
    CoTaskMemFree(mediaType.pbFormat);
    mediaType.cbFormat = 0;
    mediaType.pbFormat = nullptr;
  }
  if (mediaType.pUnk) {
    mediaType.pUnk->Release();
    mediaType.pUnk = nullptr;
  }
}

void DeleteMediaType(AM_MEDIA_TYPE* mediaType) {
  if (!mediaType) return;
  FreeMediaType(*mediaType);
  CoTaskMemFree(mediaType);
}

HRESULT CopyMediaType(AM_MEDIA_TYPE* target, const AM_MEDIA_TYPE* source) {
  if (!target || !source) return E_POINTER;
  *target = *source;
  if (source->cbFormat != 0 && source->pbFormat) {
    target->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source->cbFormat));
    if (!target->pbFormat) {
      target->cbFormat = 0;
      target->pUnk = nullptr;
      return E_OUTOFMEMORY;
    }
    std::memcpy(target->pbFormat, source->pbFormat, source->cbFormat);
  } else {
    target->pbFormat = nullptr;
    target->cbFormat = 0;
  }
  if (target->pUnk) target->pUnk->AddRef();
  return S_OK;
}

AM_MEDIA_TYPE* CreateMediaType(const AM_MEDIA_TYPE* source) {
  auto* copy = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
  if (!copy) return nullptr;
  if (FAILED(CopyMediaType(copy, source))) {
    CoTaskMemFree(copy);
    return nullptr;
  }
  return copy;
}

GUID GetBitmapSubtype(const BITMAPINFOHEADER* header) {
  if (!header) return GUID_NULL;
  switch (header->biCompression) {
    case BI_RGB:
      switch (header->biBitCount) {
        case 8: return MEDIASUBTYPE_RGB8;
        case 16: return MEDIASUBTYPE_RGB555;
        case 24: return MEDIASUBTYPE_RGB24;
        case 32: return MEDIASUBTYPE_RGB32;
        default: return GUID_NULL;
      }
    case BI_BITFIELDS: {
      // The masks follow the header; only the green mask tells 565 from 555.
      if (header->biBitCount == 16) {
        const DWORD* masks = reinterpret_cast<const DWORD*>(header + 1);
        return masks[1] == 0x07E0 ? MEDIASUBTYPE_RGB565 : MEDIASUBTYPE_RGB555;
      }
      if (header->biBitCount == 32) return MEDIASUBTYPE_RGB32;
      return GUID_NULL;
    }
    default:
      return FourccSubtype(header->biCompression);
  }
}

namespace reel {

const VIDEOINFOHEADER* VideoInfoOf(const AM_MEDIA_TYPE& mediaType) {
  if (mediaType.formattype != FORMAT_VideoInfo || !mediaType.pbFormat || mediaType.cbFormat < sizeof(VIDEOINFOHEADER))
    return nullptr;
  return reinterpret_cast<const VIDEOINFOHEADER*>(mediaType.pbFormat);
}

const BITMAPINFOHEADER* BitmapHeaderOf(const AM_MEDIA_TYPE& mediaType) {
  if (const VIDEOINFOHEADER* info = VideoInfoOf(mediaType)) return &info->bmiHeader;
  if (mediaType.formattype == FORMAT_VideoInfo2 && mediaType.pbFormat &&
      mediaType.cbFormat >= sizeof(VIDEOINFOHEADER2))
    return &reinterpret_cast<const VIDEOINFOHEADER2*>(mediaType.pbFormat)->bmiHeader;
  return nullptr;
}

const WAVEFORMATEX* WaveFormatOf(const AM_MEDIA_TYPE& mediaType) {
  if (mediaType.formattype != FORMAT_WaveFormatEx || !mediaType.pbFormat || mediaType.cbFormat < sizeof(WAVEFORMATEX))
    return nullptr;
  return reinterpret_cast<const WAVEFORMATEX*>(mediaType.pbFormat);
}

namespace {
std::string SubtypeName(REFGUID subtype) {
  struct Named {
    const GUID* guid;
    const char* name;
  };
  static const Named names[] = {
      {&MEDIASUBTYPE_RGB8, "RGB8"},     {&MEDIASUBTYPE_RGB555, "RGB555"}, {&MEDIASUBTYPE_RGB565, "RGB565"},
      {&MEDIASUBTYPE_RGB24, "RGB24"},   {&MEDIASUBTYPE_RGB32, "RGB32"},   {&MEDIASUBTYPE_ARGB32, "ARGB32"},
      {&MEDIASUBTYPE_PCM, "PCM"},       {&MEDIASUBTYPE_IEEE_FLOAT, "IEEE float"},
      {&MEDIASUBTYPE_Avi, "AVI"},       {&MEDIASUBTYPE_Asf, "ASF"},
  };
  if (subtype == GUID_NULL) return "Any";
  for (const Named& entry : names)
    if (*entry.guid == subtype) return entry.name;
  if (IsFourccSubtype(subtype)) {
    DWORD code = subtype.Data1;
    char text[5] = {static_cast<char>(code & 0xFF), static_cast<char>((code >> 8) & 0xFF),
                    static_cast<char>((code >> 16) & 0xFF), static_cast<char>((code >> 24) & 0xFF), 0};
    bool printable = true;
    for (int index = 0; index < 4; ++index) printable = printable && text[index] >= 0x20 && text[index] < 0x7F;
    if (printable) return text;
    char number[16];
    std::snprintf(number, sizeof number, "0x%X", static_cast<unsigned>(code));
    return number;
  }
  return GuidToString(subtype);
}
}  // namespace

std::string DescribeMediaType(const AM_MEDIA_TYPE& mediaType) {
  std::string text;
  if (mediaType.majortype == MEDIATYPE_Video) text = "Video";
  else if (mediaType.majortype == MEDIATYPE_Audio) text = "Audio";
  else if (mediaType.majortype == MEDIATYPE_Stream) text = "Stream";
  else if (mediaType.majortype == GUID_NULL) text = "Any";
  else text = GuidToString(mediaType.majortype);
  text += " " + SubtypeName(mediaType.subtype);
  char details[96] = "";
  if (const BITMAPINFOHEADER* header = BitmapHeaderOf(mediaType)) {
    std::snprintf(details, sizeof details, " %dx%d", static_cast<int>(header->biWidth),
                  static_cast<int>(header->biHeight < 0 ? -header->biHeight : header->biHeight));
  } else if (const WAVEFORMATEX* wave = WaveFormatOf(mediaType)) {
    std::snprintf(details, sizeof details, " %u Hz %u ch %u bit", static_cast<unsigned>(wave->nSamplesPerSec),
                  static_cast<unsigned>(wave->nChannels), static_cast<unsigned>(wave->wBitsPerSample));
  }
  return text + details;
}

}  // namespace reel
