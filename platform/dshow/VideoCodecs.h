// The codec information functions in Video for Windows terms: they list the
// codecs of the video compressor category (the same codecs, in the same
// order), open one by its FOURCC for query or compression, describe it
// (ICINFO: szDescription is the compressor's friendly name, fccHandler its
// FOURCC) and show its configuration dialog. Settings chosen in the dialog
// apply to compressors of that codec created afterwards in this process.
//
// An HIC is an opaque handle; a handle that is not open (never opened,
// closed, or any other pointer) gives ICERR_BADHANDLE, never a crash.
#pragma once

#include <cstdint>

#include "platform/win/WinTypes.h"

struct HIC__;
using HIC = HIC__*;

constexpr DWORD MakeCodecFourcc(char a, char b, char c, char d) {
  return static_cast<DWORD>(static_cast<std::uint8_t>(a)) | static_cast<DWORD>(static_cast<std::uint8_t>(b)) << 8 |
         static_cast<DWORD>(static_cast<std::uint8_t>(c)) << 16 | static_cast<DWORD>(static_cast<std::uint8_t>(d)) << 24;
}

constexpr DWORD ICTYPE_VIDEO = MakeCodecFourcc('v', 'i', 'd', 'c');
constexpr DWORD ICVERSION = 0x0104;

// ICOpen modes.
constexpr UINT ICMODE_COMPRESS = 1;
constexpr UINT ICMODE_DECOMPRESS = 2;
constexpr UINT ICMODE_FASTDECOMPRESS = 3;
constexpr UINT ICMODE_QUERY = 4;
constexpr UINT ICMODE_FASTCOMPRESS = 5;
constexpr UINT ICMODE_DRAW = 8;

// ICINFO::dwFlags.
constexpr DWORD VIDCF_QUALITY = 0x0001;
constexpr DWORD VIDCF_CRUNCH = 0x0002;
constexpr DWORD VIDCF_TEMPORAL = 0x0004;
constexpr DWORD VIDCF_COMPRESSFRAMES = 0x0008;
constexpr DWORD VIDCF_DRAW = 0x0010;
constexpr DWORD VIDCF_FASTTEMPORALC = 0x0020;
constexpr DWORD VIDCF_FASTTEMPORALD = 0x0080;

// Results of ICSendMessage and ICClose.
constexpr LRESULT ICERR_OK = 0;
constexpr LRESULT ICERR_UNSUPPORTED = -1;
constexpr LRESULT ICERR_BADFORMAT = -2;
constexpr LRESULT ICERR_MEMORY = -3;
constexpr LRESULT ICERR_INTERNAL = -4;
constexpr LRESULT ICERR_BADFLAGS = -5;
constexpr LRESULT ICERR_BADPARAM = -6;
constexpr LRESULT ICERR_BADSIZE = -7;
constexpr LRESULT ICERR_BADHANDLE = -8;
constexpr LRESULT ICERR_ABORT = -10;
constexpr LRESULT ICERR_ERROR = -100;

// Messages.
constexpr UINT ICM_USER = 0x4000;
constexpr UINT ICM_RESERVED_LOW = 0x5000;
constexpr UINT ICM_GETINFO = ICM_USER + 2;
constexpr UINT ICM_GETDEFAULTQUALITY = ICM_USER + 30;
constexpr UINT ICM_GETQUALITY = ICM_USER + 31;
constexpr UINT ICM_SETQUALITY = ICM_USER + 32;
constexpr UINT ICM_GETDEFAULTKEYFRAMERATE = ICM_USER + 42;
constexpr UINT ICM_CONFIGURE = ICM_RESERVED_LOW + 10;
constexpr UINT ICM_ABOUT = ICM_RESERVED_LOW + 11;
// ICM_CONFIGURE and ICM_ABOUT with this in lParam2 (and -1 in lParam1)
// only ask whether the codec has the dialog.
constexpr DWORD_PTR ICMF_CONFIGURE_QUERY = 0x01;
constexpr DWORD_PTR ICMF_ABOUT_QUERY = 0x01;
// Qualities of ICM_GETDEFAULTQUALITY and ICM_GETQUALITY: 0 to ICQUALITY_HIGH.
constexpr DWORD ICQUALITY_LOW = 0;
constexpr DWORD ICQUALITY_HIGH = 10000;
constexpr DWORD ICQUALITY_DEFAULT = 0xFFFFFFFF;

struct ICINFO {
  DWORD dwSize;        // sizeof(ICINFO)
  DWORD fccType;       // ICTYPE_VIDEO
  DWORD fccHandler;    // the codec's FOURCC
  DWORD dwFlags;       // VIDCF_*
  DWORD dwVersion;
  DWORD dwVersionICM;  // ICVERSION
  WCHAR szName[16];    // short name (the encoder's)
  WCHAR szDescription[128];
  WCHAR szDriver[128];
};

// The index-th codec of type fccType (ICTYPE_VIDEO, or 0 for any); FALSE
// past the last one. Fills fccType, fccHandler and the descriptions.
BOOL ICInfo(DWORD fccType, DWORD index, ICINFO* info);
// Opens the codec with that FOURCC (letter case does not matter) for
// query or compression; null when there is none or for another mode.
HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT mode);
// Copies up to size bytes of the codec's ICINFO; the number copied, 0 for
// a bad handle or buffer.
LRESULT ICGetInfo(HIC codec, ICINFO* info, DWORD size);
LRESULT ICSendMessage(HIC codec, UINT message, DWORD_PTR parameter1, DWORD_PTR parameter2);
LRESULT ICClose(HIC codec);

// ICM_CONFIGURE: shows the codec's settings in a modal dialog over the
// window behind parent (may be null). ICERR_OK once the dialog closes,
// ICERR_UNSUPPORTED for a codec without settings.
inline LRESULT ICConfigure(HIC codec, HWND parent) {
  return ICSendMessage(codec, ICM_CONFIGURE, reinterpret_cast<DWORD_PTR>(parent), 0);
}
// Whether the codec has a configuration dialog.
inline BOOL ICQueryConfigure(HIC codec) {
  return ICSendMessage(codec, ICM_CONFIGURE, static_cast<DWORD_PTR>(-1), ICMF_CONFIGURE_QUERY) == ICERR_OK;
}
