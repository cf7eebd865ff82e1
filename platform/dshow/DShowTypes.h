// The data types of the filter graph runtime with their Windows layouts:
// media types and their format blocks (VIDEOINFOHEADER, WAVEFORMATEX...),
// pin and filter information, allocator properties, quality messages and
// seeking flags, and the GUIDs that name major types, subtypes, format
// types, time formats and the stock classes.
#pragma once

#include <cstring>

#include "platform/com/Guid.h"
#include "platform/com/Unknown.h"

// ---------------------------------------------------------------------------
// Bitmap and wave format structures, laid out as wingdi.h and mmreg.h have them.

constexpr DWORD BI_RGB = 0;
constexpr DWORD BI_BITFIELDS = 3;

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;  // positive: bottom-up rows; negative: top-down
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;  // BI_RGB, BI_BITFIELDS or a FOURCC
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};

constexpr WORD WAVE_FORMAT_PCM = 1;
constexpr WORD WAVE_FORMAT_IEEE_FLOAT = 3;
constexpr WORD WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

#pragma pack(push, 1)
// 18 bytes, byte-packed as on Windows; cbSize extra bytes may follow.
struct WAVEFORMATEX {
  WORD wFormatTag;
  WORD nChannels;
  DWORD nSamplesPerSec;
  DWORD nAvgBytesPerSec;
  WORD nBlockAlign;
  WORD wBitsPerSample;
  WORD cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

// ---------------------------------------------------------------------------
// Video format blocks (amvideo.h, dvdmedia.h).

struct VIDEOINFOHEADER {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88);

constexpr int iPALETTE_COLORS = 256;
constexpr int iMASK_COLORS = 3;

struct TRUECOLORINFO {
  DWORD dwBitMasks[iMASK_COLORS];
  RGBQUAD bmiColors[iPALETTE_COLORS];
};

// VIDEOINFOHEADER followed by room for a palette or colour masks.
struct VIDEOINFO {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  BITMAPINFOHEADER bmiHeader;
  union {
    RGBQUAD bmiColors[iPALETTE_COLORS];
    DWORD dwBitMasks[iMASK_COLORS];
    TRUECOLORINFO TrueColorInfo;
  };
};
static_assert(sizeof(VIDEOINFO) == 1128);

struct VIDEOINFOHEADER2 {
  RECT rcSource;
  RECT rcTarget;
  DWORD dwBitRate;
  DWORD dwBitErrorRate;
  REFERENCE_TIME AvgTimePerFrame;
  DWORD dwInterlaceFlags;
  DWORD dwCopyProtectFlags;
  DWORD dwPictAspectRatioX;
  DWORD dwPictAspectRatioY;
  DWORD dwControlFlags;
  DWORD dwReserved2;
  BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER2) == 112);

// Bytes per row of an uncompressed DIB: rows are padded to 4 bytes.
constexpr LONG DibWidthBytes(LONG width, WORD bitCount) {
  return ((width * bitCount + 31) & ~31) / 8;
}
constexpr DWORD DibSize(const BITMAPINFOHEADER& header) {
  LONG height = header.biHeight < 0 ? -header.biHeight : header.biHeight;
  return static_cast<DWORD>(DibWidthBytes(header.biWidth, header.biBitCount) * height);
}

// ---------------------------------------------------------------------------
// The media type (strmif.h). pbFormat is allocated with CoTaskMemAlloc and
// pUnk holds a reference; FreeMediaType releases both.

struct AM_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;
};

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };

constexpr int MAX_PIN_NAME = 128;
constexpr int MAX_FILTER_NAME = 128;

struct IBaseFilter;
struct IFilterGraph;

// pFilter holds a reference that the caller releases.
struct PIN_INFO {
  IBaseFilter* pFilter;
  PIN_DIRECTION dir;
  WCHAR achName[MAX_PIN_NAME];
};

// pGraph holds a reference that the caller releases.
struct FILTER_INFO {
  WCHAR achName[MAX_FILTER_NAME];
  IFilterGraph* pGraph;
};

enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
using OAFilterState = LONG;

struct ALLOCATOR_PROPERTIES {
  LONG cBuffers;
  LONG cbBuffer;
  LONG cbAlign;
  LONG cbPrefix;
};

// Flags of IMemAllocator::GetBuffer.
constexpr DWORD AM_GBF_PREVFRAMESKIPPED = 1;
constexpr DWORD AM_GBF_NOTASYNCPOINT = 2;
constexpr DWORD AM_GBF_NOWAIT = 4;
constexpr DWORD AM_GBF_NODDSURFACELOCK = 8;

enum QualityMessageType { Famine = 0, Flood = 1 };
struct Quality {
  QualityMessageType Type;
  LONG Proportion;  // 1000 is the nominal rate
  REFERENCE_TIME Late;
  REFERENCE_TIME TimeStamp;
};

// IMediaSeeking capabilities and positioning flags.
enum AM_SEEKING_SEEKING_CAPABILITIES : DWORD {
  AM_SEEKING_CanSeekAbsolute = 0x1,
  AM_SEEKING_CanSeekForwards = 0x2,
  AM_SEEKING_CanSeekBackwards = 0x4,
  AM_SEEKING_CanGetCurrentPos = 0x8,
  AM_SEEKING_CanGetStopPos = 0x10,
  AM_SEEKING_CanGetDuration = 0x20,
  AM_SEEKING_CanPlayBackwards = 0x40,
  AM_SEEKING_CanDoSegments = 0x80,
  AM_SEEKING_Source = 0x100,
};
enum AM_SEEKING_SEEKING_FLAGS : DWORD {
  AM_SEEKING_NoPositioning = 0,
  AM_SEEKING_AbsolutePositioning = 0x1,
  AM_SEEKING_RelativePositioning = 0x2,
  AM_SEEKING_IncrementalPositioning = 0x3,
  AM_SEEKING_PositioningBitsMask = 0x3,
  AM_SEEKING_SeekToKeyFrame = 0x4,
  AM_SEEKING_ReturnTime = 0x8,
  AM_SEEKING_Segment = 0x10,
  AM_SEEKING_NoFlush = 0x20,
};

// IAMFilterMiscFlags.
constexpr ULONG AM_FILTER_MISC_FLAGS_IS_RENDERER = 0x1;
constexpr ULONG AM_FILTER_MISC_FLAGS_IS_SOURCE = 0x2;

// Merits of registered filters.
constexpr DWORD MERIT_PREFERRED = 0x800000;
constexpr DWORD MERIT_NORMAL = 0x600000;
constexpr DWORD MERIT_UNLIKELY = 0x400000;
constexpr DWORD MERIT_DO_NOT_USE = 0x200000;
constexpr DWORD MERIT_SW_COMPRESSOR = 0x100000;
constexpr DWORD MERIT_HW_COMPRESSOR = 0x100050;

// Times.
constexpr REFERENCE_TIME UNITS = 10000000;  // reference-time units per second
constexpr LONGLONG MAX_TIME = 0x7FFFFFFFFFFFFFFFLL;
using REFTIME = double;  // seconds (IMediaPosition)

// Automation-style handles and booleans (control.h).
using OAHWND = LONG_PTR;
using OAEVENT = LONG_PTR;
constexpr LONG OATRUE = -1;
constexpr LONG OAFALSE = 0;

// Event handles of IReferenceClock::AdviseTime and AdvisePeriodic: the
// address of a CAMEvent (see BaseClasses.h).
using HEVENT = DWORD_PTR;
using HSEMAPHORE = DWORD_PTR;

constexpr DWORD INFINITE = 0xFFFFFFFF;

// ---------------------------------------------------------------------------
// GUIDs. FOURCC subtypes are {XXXXXXXX-0000-0010-8000-00AA00389B71} with the
// code in Data1, as DirectShow builds them.

constexpr DWORD MAKEFOURCC(char a, char b, char c, char d) {
  return static_cast<DWORD>(static_cast<BYTE>(a)) | (static_cast<DWORD>(static_cast<BYTE>(b)) << 8) |
         (static_cast<DWORD>(static_cast<BYTE>(c)) << 16) | (static_cast<DWORD>(static_cast<BYTE>(d)) << 24);
}
constexpr GUID FourccSubtype(DWORD fourcc) {
  return GUID{fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
}
// Whether a subtype has the FOURCC form; its code is then Data1.
inline bool IsFourccSubtype(REFGUID subtype) {
  GUID base = FourccSubtype(subtype.Data1);
  return subtype == base;
}

REEL_DEFINE_GUID(MEDIATYPE_Video, 0x73646976, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
REEL_DEFINE_GUID(MEDIATYPE_Audio, 0x73647561, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
REEL_DEFINE_GUID(MEDIATYPE_Text, 0x73747874, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
REEL_DEFINE_GUID(MEDIATYPE_Interleaved, 0x73766169, 0x0000, 0x0010, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71);
REEL_DEFINE_GUID(MEDIATYPE_Stream, 0xE436EB83, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

REEL_DEFINE_GUID(MEDIASUBTYPE_None, 0xE436EB8E, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(MEDIASUBTYPE_RGB1, 0xE436EB78, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(MEDIASUBTYPE_RGB4, 0xE436EB79, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(MEDIASUBTYPE_RGB8, 0xE436EB7A, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(MEDIASUBTYPE_RGB565, 0xE436EB7B, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(MEDIASUBTYPE_RGB555, 0xE436EB7C, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(MEDIASUBTYPE_RGB24, 0xE436EB7D, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(MEDIASUBTYPE_RGB32, 0xE436EB7E, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(MEDIASUBTYPE_ARGB32, 0x773C9AC0, 0x3274, 0x11D0, 0xB7, 0x24, 0x00, 0xAA, 0x00, 0x6C, 0x1A, 0x01);
inline constexpr GUID MEDIASUBTYPE_YUY2 = FourccSubtype(MAKEFOURCC('Y', 'U', 'Y', '2'));
inline constexpr GUID MEDIASUBTYPE_UYVY = FourccSubtype(MAKEFOURCC('U', 'Y', 'V', 'Y'));
inline constexpr GUID MEDIASUBTYPE_YV12 = FourccSubtype(MAKEFOURCC('Y', 'V', '1', '2'));
inline constexpr GUID MEDIASUBTYPE_I420 = FourccSubtype(MAKEFOURCC('I', '4', '2', '0'));
inline constexpr GUID MEDIASUBTYPE_IYUV = FourccSubtype(MAKEFOURCC('I', 'Y', 'U', 'V'));
inline constexpr GUID MEDIASUBTYPE_NV12 = FourccSubtype(MAKEFOURCC('N', 'V', '1', '2'));
inline constexpr GUID MEDIASUBTYPE_H264 = FourccSubtype(MAKEFOURCC('H', '2', '6', '4'));
inline constexpr GUID MEDIASUBTYPE_PCM = FourccSubtype(WAVE_FORMAT_PCM);
inline constexpr GUID MEDIASUBTYPE_IEEE_FLOAT = FourccSubtype(WAVE_FORMAT_IEEE_FLOAT);

REEL_DEFINE_GUID(MEDIASUBTYPE_Avi, 0xE436EB88, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(MEDIASUBTYPE_Asf, 0x3DB80F90, 0x9412, 0x11D1, 0xAD, 0xED, 0x00, 0x00, 0xF8, 0x75, 0x4B, 0x99);
REEL_DEFINE_GUID(MEDIASUBTYPE_MPEG1System, 0xE436EB84, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(MEDIASUBTYPE_MPEG1Video, 0xE436EB86, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(MEDIASUBTYPE_MPEG1Payload, 0xE436EB81, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(MEDIASUBTYPE_MPEG1Audio, 0xE436EB87, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);

REEL_DEFINE_GUID(FORMAT_None, 0x0F6417D6, 0xC318, 0x11D0, 0xA4, 0x3F, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96);
REEL_DEFINE_GUID(FORMAT_VideoInfo, 0x05589F80, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
REEL_DEFINE_GUID(FORMAT_VideoInfo2, 0xF72A76A0, 0xEB0A, 0x11D0, 0xAC, 0xE4, 0x00, 0x00, 0xC0, 0xCC, 0x16, 0xBA);
REEL_DEFINE_GUID(FORMAT_WaveFormatEx, 0x05589F81, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
REEL_DEFINE_GUID(FORMAT_MPEGVideo, 0x05589F82, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
REEL_DEFINE_GUID(FORMAT_MPEGStreams, 0x05589F83, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
REEL_DEFINE_GUID(FORMAT_DvInfo, 0x05589F84, 0xC356, 0x11CE, 0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
REEL_DEFINE_GUID(FORMAT_MPEG2Video, 0xE06D80E3, 0xDB46, 0x11CF, 0xB4, 0xD1, 0x00, 0x80, 0x5F, 0x6C, 0xBB, 0xEA);

REEL_DEFINE_GUID(TIME_FORMAT_NONE, 0x00000000, 0x0000, 0x0000, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00);
REEL_DEFINE_GUID(TIME_FORMAT_FRAME, 0x7B785570, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);
REEL_DEFINE_GUID(TIME_FORMAT_BYTE, 0x7B785571, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);
REEL_DEFINE_GUID(TIME_FORMAT_SAMPLE, 0x7B785572, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);
REEL_DEFINE_GUID(TIME_FORMAT_FIELD, 0x7B785573, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);
REEL_DEFINE_GUID(TIME_FORMAT_MEDIA_TIME, 0x7B785574, 0x8C82, 0x11CF, 0xBC, 0x0C, 0x00, 0xAA, 0x00, 0xAC, 0x74, 0xF6);

inline constexpr GUID CLSID_NULL = GUID_NULL;

// Classes of the runtime and its stock filters.
REEL_DEFINE_GUID(CLSID_FilterGraph, 0xE436EBB3, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(CLSID_FilterGraphNoThread, 0xE436EBB8, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(CLSID_SystemClock, 0xE436EBB1, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(CLSID_MemoryAllocator, 0x1E651CC0, 0xB199, 0x11D0, 0x82, 0x12, 0x00, 0xC0, 0x4F, 0xC3, 0x2C, 0x45);
REEL_DEFINE_GUID(CLSID_AsyncReader, 0xE436EBB5, 0x524F, 0x11CE, 0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70);
REEL_DEFINE_GUID(CLSID_InfTee, 0xF8388A40, 0xD5BB, 0x11D0, 0xBE, 0x5A, 0x00, 0x80, 0xC7, 0x06, 0x56, 0x8E);
REEL_DEFINE_GUID(CLSID_Colour, 0x1643E180, 0x90F5, 0x11CE, 0x97, 0xD5, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
REEL_DEFINE_GUID(CLSID_NullRenderer, 0xC1F400A4, 0x3F08, 0x11D3, 0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37);
REEL_DEFINE_GUID(CLSID_SampleGrabber, 0xC1F400A0, 0x3F08, 0x11D3, 0x9F, 0x0B, 0x00, 0x60, 0x08, 0x03, 0x9E, 0x37);
REEL_DEFINE_GUID(CLSID_VideoRenderer, 0x70E102B0, 0x5556, 0x11CE, 0x97, 0xC0, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A);
REEL_DEFINE_GUID(CLSID_VideoRendererDefault, 0x6BC1CFFA, 0x8FC1, 0x4261, 0xAC, 0x22, 0xCF, 0xB4, 0xCC, 0x38, 0xDB, 0x50);
REEL_DEFINE_GUID(CLSID_VideoMixingRenderer9, 0x51B4ABF3, 0x748F, 0x4E3B, 0xA2, 0x76, 0xC8, 0x28, 0x33, 0x0E, 0x92, 0x6A);
REEL_DEFINE_GUID(CLSID_AudioRender, 0xE30629D1, 0x27E5, 0x11CE, 0x87, 0x5D, 0x00, 0x60, 0x8C, 0xB7, 0x80, 0x66);
REEL_DEFINE_GUID(CLSID_DSoundRender, 0x79376820, 0x07D0, 0x11CF, 0xA2, 0x4D, 0x00, 0x20, 0xAF, 0xD7, 0x97, 0x67);
REEL_DEFINE_GUID(CLSID_AviDest, 0xE2510970, 0xF137, 0x11CE, 0x8B, 0x67, 0x00, 0xAA, 0x00, 0xA3, 0xF1, 0xA6);
REEL_DEFINE_GUID(CLSID_FileWriter, 0x8596E5F0, 0x0DA5, 0x11D0, 0xBD, 0x21, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
REEL_DEFINE_GUID(CLSID_CaptureGraphBuilder2, 0xBF87B6E1, 0x8C27, 0x11D0, 0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5);
REEL_DEFINE_GUID(CLSID_SystemDeviceEnum, 0x62BE5D10, 0x60EB, 0x11D0, 0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
REEL_DEFINE_GUID(CLSID_FilterMapper2, 0xCDA42200, 0xBD88, 0x11D0, 0xBD, 0x4E, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
REEL_DEFINE_GUID(CLSID_CDeviceMoniker, 0x4315D437, 0x5B8C, 0x11D0, 0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);

// Device categories of the system device enumerator.
REEL_DEFINE_GUID(CLSID_LegacyAmFilterCategory, 0x083863F1, 0x70DE, 0x11D0, 0xBD, 0x40, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
REEL_DEFINE_GUID(CLSID_VideoCompressorCategory, 0x33D9A760, 0x90C8, 0x11D0, 0xBD, 0x43, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
REEL_DEFINE_GUID(CLSID_AudioCompressorCategory, 0x33D9A761, 0x90C8, 0x11D0, 0xBD, 0x43, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
REEL_DEFINE_GUID(CLSID_AudioInputDeviceCategory, 0x33D9A762, 0x90C8, 0x11D0, 0xBD, 0x43, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
REEL_DEFINE_GUID(CLSID_VideoInputDeviceCategory, 0x860BB310, 0x5D01, 0x11D0, 0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
REEL_DEFINE_GUID(CLSID_AudioRendererCategory, 0xE0F158E1, 0xCB04, 0x11D0, 0xBD, 0x4E, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
REEL_DEFINE_GUID(CLSID_VideoEffects1Category, 0xCC7BFB42, 0xF175, 0x11D1, 0xA3, 0x92, 0x00, 0xE0, 0x29, 0x1F, 0x39, 0x59);
REEL_DEFINE_GUID(CLSID_VideoEffects2Category, 0xCC7BFB43, 0xF175, 0x11D1, 0xA3, 0x92, 0x00, 0xE0, 0x29, 0x1F, 0x39, 0x59);
REEL_DEFINE_GUID(CLSID_ActiveMovieCategories, 0xDA4E3DA0, 0xD07D, 0x11D0, 0xBD, 0x50, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86);
