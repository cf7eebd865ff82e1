// The Windows Media profile interfaces with the layouts, method order and
// identifiers of wmsdkidl.h: the profile manager (WMCreateProfileManager,
// IWMProfileManager, IWMProfileManager2), profiles (IWMProfile,
// IWMProfile2), their streams (IWMStreamConfig) and a stream's media type
// (IWMMediaProps), plus the media subtypes and error codes they use.
#pragma once

#include "platform/com/Unknown.h"
#include "platform/dshow/DShowTypes.h"

// Profile versions (WMT_VERSION).
enum WMT_VERSION : DWORD {
  WMT_VER_4_0 = 0x00040000,
  WMT_VER_7_0 = 0x00070000,
  WMT_VER_8_0 = 0x00080000,
  WMT_VER_9_0 = 0x00090000,
};

// WM_MEDIA_TYPE has the layout of AM_MEDIA_TYPE.
using WM_MEDIA_TYPE = AM_MEDIA_TYPE;

// Stream types and format types are the DirectShow ones.
inline constexpr GUID WMMEDIATYPE_Video = MEDIATYPE_Video;
inline constexpr GUID WMMEDIATYPE_Audio = MEDIATYPE_Audio;
inline constexpr GUID WMFORMAT_VideoInfo = FORMAT_VideoInfo;
inline constexpr GUID WMFORMAT_WaveFormatEx = FORMAT_WaveFormatEx;

// Codec subtypes: FOURCC or wave-tag GUIDs.
inline constexpr DWORD kFourccWmv1 = MAKEFOURCC('W', 'M', 'V', '1');
inline constexpr DWORD kFourccWmv2 = MAKEFOURCC('W', 'M', 'V', '2');
inline constexpr DWORD kFourccWmv3 = MAKEFOURCC('W', 'M', 'V', '3');
inline constexpr WORD WAVE_FORMAT_MSAUDIO1 = 0x0160;  // Windows Media Audio 1
inline constexpr WORD WAVE_FORMAT_WMAUDIO2 = 0x0161;  // Windows Media Audio 2 (V2, V7, V8)
inline constexpr GUID WMMEDIASUBTYPE_WMV1 = FourccSubtype(kFourccWmv1);
inline constexpr GUID WMMEDIASUBTYPE_WMV2 = FourccSubtype(kFourccWmv2);
inline constexpr GUID WMMEDIASUBTYPE_WMV3 = FourccSubtype(kFourccWmv3);
inline constexpr GUID WMMEDIASUBTYPE_MSAUDIO1 = FourccSubtype(WAVE_FORMAT_MSAUDIO1);
inline constexpr GUID WMMEDIASUBTYPE_WMAudioV2 = FourccSubtype(WAVE_FORMAT_WMAUDIO2);
inline constexpr GUID WMMEDIASUBTYPE_WMAudioV7 = FourccSubtype(WAVE_FORMAT_WMAUDIO2);
inline constexpr GUID WMMEDIASUBTYPE_WMAudioV8 = FourccSubtype(WAVE_FORMAT_WMAUDIO2);
inline constexpr GUID WMMEDIASUBTYPE_PCM = MEDIASUBTYPE_PCM;

// Error codes (nserror.h).
inline constexpr HRESULT ASF_E_BUFFERTOOSMALL = HResultFromHex(0xC00D07D1);
inline constexpr HRESULT NS_E_INVALID_PROFILE = HResultFromHex(0xC00D0BC6);

REEL_DEFINE_GUID(IID_IWMProfileManager, 0xD16679F2, 0x6CA0, 0x472D, 0x8D, 0x31, 0x2F, 0x5D, 0x55, 0xAE, 0xE1, 0x55);
REEL_DEFINE_GUID(IID_IWMProfileManager2, 0x7A924E51, 0x73C1, 0x494D, 0x80, 0x19, 0x23, 0xD3, 0x7E, 0xD9, 0xB8, 0x9A);
REEL_DEFINE_GUID(IID_IWMProfile, 0x96406BDB, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
REEL_DEFINE_GUID(IID_IWMProfile2, 0x07E72D33, 0xD94E, 0x4BE7, 0x88, 0x43, 0x60, 0xAE, 0x5F, 0xF7, 0xE5, 0xF5);
REEL_DEFINE_GUID(IID_IWMStreamConfig, 0x96406BDC, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
REEL_DEFINE_GUID(IID_IWMMediaProps, 0x96406BCE, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);
REEL_DEFINE_GUID(IID_IWMMutualExclusion, 0x96406BDE, 0x2B2B, 0x11D3, 0xB3, 0x6B, 0x00, 0xC0, 0x4F, 0x61, 0x08, 0xFF);

struct IWMMutualExclusion;

// A stream's media type. GetMediaType follows the two-call convention: a
// null pType answers the size needed in *pcbType (the WM_MEDIA_TYPE and its
// format block, which follows it in the same buffer).
struct IWMMediaProps : IUnknown {
  STDMETHOD(GetType)(GUID* type) = 0;
  STDMETHOD(GetMediaType)(WM_MEDIA_TYPE* type, DWORD* typeBytes) = 0;
  STDMETHOD(SetMediaType)(WM_MEDIA_TYPE* type) = 0;
};

// Names follow the two-call convention too: a null buffer answers the
// length in characters including the terminating NUL.
struct IWMStreamConfig : IUnknown {
  STDMETHOD(GetStreamType)(GUID* streamType) = 0;
  STDMETHOD(GetStreamNumber)(WORD* streamNumber) = 0;
  STDMETHOD(SetStreamNumber)(WORD streamNumber) = 0;
  STDMETHOD(GetStreamName)(WCHAR* streamName, WORD* nameLength) = 0;
  STDMETHOD(SetStreamName)(WCHAR* streamName) = 0;
  STDMETHOD(GetConnectionName)(WCHAR* inputName, WORD* nameLength) = 0;
  STDMETHOD(SetConnectionName)(WCHAR* inputName) = 0;
  STDMETHOD(GetBitrate)(DWORD* bitrate) = 0;
  STDMETHOD(SetBitrate)(DWORD bitrate) = 0;
  STDMETHOD(GetBufferWindow)(DWORD* bufferWindowMilliseconds) = 0;
  STDMETHOD(SetBufferWindow)(DWORD bufferWindowMilliseconds) = 0;
};

struct IWMProfile : IUnknown {
  STDMETHOD(GetVersion)(WMT_VERSION* version) = 0;
  STDMETHOD(GetName)(WCHAR* name, DWORD* nameLength) = 0;
  STDMETHOD(SetName)(const WCHAR* name) = 0;
  STDMETHOD(GetDescription)(WCHAR* description, DWORD* descriptionLength) = 0;
  STDMETHOD(SetDescription)(const WCHAR* description) = 0;
  STDMETHOD(GetStreamCount)(DWORD* streamCount) = 0;
  // A copy of the stream: changes reach the profile through ReconfigStream.
  STDMETHOD(GetStream)(DWORD streamIndex, IWMStreamConfig** config) = 0;
  STDMETHOD(GetStreamByNumber)(WORD streamNumber, IWMStreamConfig** config) = 0;
  STDMETHOD(RemoveStream)(IWMStreamConfig* config) = 0;
  STDMETHOD(RemoveStreamByNumber)(WORD streamNumber) = 0;
  STDMETHOD(AddStream)(IWMStreamConfig* config) = 0;
  STDMETHOD(ReconfigStream)(IWMStreamConfig* config) = 0;
  STDMETHOD(CreateNewStream)(REFGUID streamType, IWMStreamConfig** config) = 0;
  STDMETHOD(GetMutualExclusionCount)(DWORD* count) = 0;
  STDMETHOD(GetMutualExclusion)(DWORD index, IWMMutualExclusion** exclusion) = 0;
  STDMETHOD(RemoveMutualExclusion)(IWMMutualExclusion* exclusion) = 0;
  STDMETHOD(AddMutualExclusion)(IWMMutualExclusion* exclusion) = 0;
  STDMETHOD(CreateNewMutualExclusion)(IWMMutualExclusion** exclusion) = 0;
};

struct IWMProfile2 : IWMProfile {
  STDMETHOD(GetProfileID)(GUID* profileId) = 0;
};

struct IWMProfileManager : IUnknown {
  STDMETHOD(CreateEmptyProfile)(WMT_VERSION version, IWMProfile** profile) = 0;
  STDMETHOD(LoadProfileByID)(REFGUID profileId, IWMProfile** profile) = 0;
  // The profile XML text (.prx), NUL-terminated UTF-16.
  STDMETHOD(LoadProfileByData)(const WCHAR* profileText, IWMProfile** profile) = 0;
  // Two-call convention: a null buffer answers the length in characters
  // including the NUL.
  STDMETHOD(SaveProfile)(IWMProfile* profile, WCHAR* profileText, DWORD* textLength) = 0;
  STDMETHOD(GetSystemProfileCount)(DWORD* profileCount) = 0;
  STDMETHOD(LoadSystemProfile)(DWORD profileIndex, IWMProfile** profile) = 0;
};

struct IWMProfileManager2 : IWMProfileManager {
  STDMETHOD(GetSystemProfileVersion)(WMT_VERSION* version) = 0;
  STDMETHOD(SetSystemProfileVersion)(WMT_VERSION version) = 0;
};

// Creates a profile manager; the caller owns the reference.
HRESULT WMCreateProfileManager(IWMProfileManager** manager);

namespace reel {
template <> inline constexpr const IID& kIidOf<IWMMediaProps> = IID_IWMMediaProps;
template <> inline constexpr const IID& kIidOf<IWMStreamConfig> = IID_IWMStreamConfig;
template <> inline constexpr const IID& kIidOf<IWMProfile> = IID_IWMProfile;
template <> inline constexpr const IID& kIidOf<IWMProfile2> = IID_IWMProfile2;
template <> inline constexpr const IID& kIidOf<IWMProfileManager> = IID_IWMProfileManager;
template <> inline constexpr const IID& kIidOf<IWMProfileManager2> = IID_IWMProfileManager2;
}  // namespace reel
