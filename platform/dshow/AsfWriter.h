// The ASF writer (CLSID_WMAsfWriter): a renderer filter that encodes its
// inputs as a Windows Media profile says and writes the ASF file itself, so
// no separate file writer follows it. The file name comes through
// IFileSinkFilter(2); the profile through IConfigAsfWriter. Each stream of
// the profile gives one input pin ("Video Input 01", "Audio Input 01", ...).
#pragma once

#include "platform/com/Guid.h"
#include "platform/com/Unknown.h"

struct IWMProfile;

REEL_DEFINE_GUID(CLSID_WMAsfWriter, 0x7C23220E, 0x55BB, 0x11D3, 0x8B, 0x16, 0x00, 0xC0, 0x4F, 0xB6, 0xBD, 0x3D);
REEL_DEFINE_GUID(IID_IConfigAsfWriter, 0x45086030, 0xF7E4, 0x486A, 0xB5, 0x04, 0x82, 0x6B, 0xB5, 0x79, 0x2A, 0x3B);

// Method order as dshowasf.h declares it.
struct IConfigAsfWriter : IUnknown {
  // Profile numbers of the old (version 4) catalogue; ours configures by the
  // index of the current system profile list instead.
  STDMETHOD(ConfigureFilterUsingProfileId)(DWORD profileId) = 0;
  STDMETHOD(GetCurrentProfileId)(DWORD* profileId) = 0;
  STDMETHOD(ConfigureFilterUsingProfileGuid)(REFGUID profileGuid) = 0;
  STDMETHOD(GetCurrentProfileGuid)(GUID* profileGuid) = 0;
  STDMETHOD(ConfigureFilterUsingProfile)(IWMProfile* profile) = 0;
  STDMETHOD(GetCurrentProfile)(IWMProfile** profile) = 0;
  STDMETHOD(SetIndexMode)(BOOL indexFile) = 0;
  STDMETHOD(GetIndexMode)(BOOL* indexFile) = 0;
};
template <>
inline constexpr const IID& reel::kIidOf<IConfigAsfWriter> = IID_IConfigAsfWriter;
