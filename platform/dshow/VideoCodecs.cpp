#include "platform/dshow/VideoCodecs.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>
#include <new>
#include <set>
#include <vector>

extern "C" {
#include <libavcodec/version.h>
}

#include "platform/dshow/BaseFilter.h"
#include "platform/dshow/CompressorDialog.h"
#include "platform/ui/Window.h"

// An open codec: what ICOpen was asked for and the codec it found.
struct HIC__ {
  reel::VideoCodecDescription codec;
  UINT mode = 0;
};

namespace {

// The handles that are open. A handle is looked up here before it is used,
// so a stale or made-up one is refused instead of followed.
std::mutex& HandleLock() {
  static std::mutex lock;
  return lock;
}
std::set<HIC>& OpenHandles() {
  static std::set<HIC> handles;
  return handles;
}

// A copy of the codec behind an open handle; false for a bad handle.
bool CodecOf(HIC handle, reel::VideoCodecDescription* codec) {
  std::lock_guard<std::mutex> hold(HandleLock());
  if (!OpenHandles().count(handle)) return false;
  *codec = handle->codec;
  return true;
}

bool SameFourcc(DWORD a, DWORD b) {
  for (int shift = 0; shift < 32; shift += 8)
    if (std::toupper(static_cast<int>((a >> shift) & 0xFF)) != std::toupper(static_cast<int>((b >> shift) & 0xFF)))
      return false;
  return true;
}

bool VideoType(DWORD fccType) { return fccType == 0 || SameFourcc(fccType, ICTYPE_VIDEO); }

ICINFO InfoOf(const reel::VideoCodecDescription& codec) {
  ICINFO info{};
  info.dwSize = sizeof(ICINFO);
  info.fccType = ICTYPE_VIDEO;
  info.fccHandler = codec.fourcc;
  if (codec.hasQuality) info.dwFlags |= VIDCF_QUALITY;
  if (codec.hasBitRate) info.dwFlags |= VIDCF_CRUNCH;
  // Temporal codecs keep their own reference pictures: callers need not
  // hand in the previous frame.
  if (codec.temporal) info.dwFlags |= VIDCF_TEMPORAL | VIDCF_FASTTEMPORALC;
  info.dwVersion = LIBAVCODEC_VERSION_INT;
  info.dwVersionICM = ICVERSION;
  reel::CopyWideName(info.szName, std::size(info.szName), std::u16string(codec.encoder.begin(), codec.encoder.end()));
  reel::CopyWideName(info.szDescription, std::size(info.szDescription), codec.name);
  reel::CopyWideName(info.szDriver, std::size(info.szDriver), u"reelplatform");
  return info;
}

LRESULT Configure(const reel::VideoCodecDescription& codec, HWND parent) {
  if (!codec.HasSettings()) return ICERR_UNSUPPORTED;
  reel::EnsureApplication();
  // Widgets live on the user-interface thread only.
  if (!reel::IsUserInterfaceThread()) return ICERR_ERROR;
  reel::VideoCodecSettings settings = reel::CurrentVideoCodecSettings(codec.clsid);
  QWidget* owner = parent ? reel::WidgetFromHandle(parent) : nullptr;
  if (!reel::RunCompressorDialog(owner, codec, &settings)) return ICERR_OK;  // cancelled: nothing changes
  return SUCCEEDED(reel::SetVideoCodecSettings(codec.clsid, settings)) ? ICERR_OK : ICERR_BADPARAM;
}

}  // namespace

BOOL ICInfo(DWORD fccType, DWORD index, ICINFO* info) {
  if (!info || !VideoType(fccType)) return FALSE;
  std::vector<reel::VideoCodecDescription> codecs = reel::AvailableVideoCodecs();
  if (index >= codecs.size()) return FALSE;
  *info = InfoOf(codecs[index]);
  return TRUE;
}

HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT mode) {
  // Only compressors live here: no decompression or drawing.
  if (!VideoType(fccType) || (mode != ICMODE_COMPRESS && mode != ICMODE_FASTCOMPRESS && mode != ICMODE_QUERY))
    return nullptr;
  for (const reel::VideoCodecDescription& codec : reel::AvailableVideoCodecs()) {
    if (!SameFourcc(codec.fourcc, fccHandler)) continue;
    auto* handle = new (std::nothrow) HIC__{codec, mode};
    if (!handle) return nullptr;
    std::lock_guard<std::mutex> hold(HandleLock());
    OpenHandles().insert(handle);
    return handle;
  }
  return nullptr;
}

LRESULT ICGetInfo(HIC handle, ICINFO* info, DWORD size) {
  reel::VideoCodecDescription codec;
  if (!info || !CodecOf(handle, &codec)) return 0;
  ICINFO full = InfoOf(codec);
  DWORD copied = std::min<DWORD>(size, sizeof(ICINFO));
  std::memcpy(info, &full, copied);
  return static_cast<LRESULT>(copied);
}

LRESULT ICSendMessage(HIC handle, UINT message, DWORD_PTR parameter1, DWORD_PTR parameter2) {
  reel::VideoCodecDescription codec;
  if (!CodecOf(handle, &codec)) return ICERR_BADHANDLE;
  switch (message) {
    case ICM_GETINFO: {
      auto* info = reinterpret_cast<ICINFO*>(parameter1);
      return info ? ICGetInfo(handle, info, static_cast<DWORD>(parameter2)) : ICERR_BADPARAM;
    }
    case ICM_CONFIGURE:
      if (parameter1 == static_cast<DWORD_PTR>(-1) && (parameter2 & ICMF_CONFIGURE_QUERY))
        return codec.HasSettings() ? ICERR_OK : ICERR_UNSUPPORTED;
      return Configure(codec, reinterpret_cast<HWND>(parameter1));
    case ICM_GETDEFAULTQUALITY: {
      auto* quality = reinterpret_cast<DWORD*>(parameter1);
      if (!quality) return ICERR_BADPARAM;
      if (!codec.hasQuality) return ICERR_UNSUPPORTED;
      // The codec's default is no fixed quality: it encodes at its bit rate.
      *quality = ICQUALITY_DEFAULT;
      return ICERR_OK;
    }
    case ICM_GETQUALITY: {
      auto* quality = reinterpret_cast<DWORD*>(parameter1);
      if (!quality) return ICERR_BADPARAM;
      if (!codec.hasQuality) return ICERR_UNSUPPORTED;
      double current = reel::CurrentVideoCodecSettings(codec.clsid).quality;
      *quality = current < 0 ? ICQUALITY_DEFAULT : static_cast<DWORD>(current * ICQUALITY_HIGH + 0.5);
      return ICERR_OK;
    }
    case ICM_GETDEFAULTKEYFRAMERATE: {
      auto* rate = reinterpret_cast<DWORD*>(parameter1);
      if (!rate) return ICERR_BADPARAM;
      *rate = static_cast<DWORD>(codec.defaultKeyFrameRate);
      return ICERR_OK;
    }
    default:
      return ICERR_UNSUPPORTED;
  }
}

LRESULT ICClose(HIC handle) {
  {
    std::lock_guard<std::mutex> hold(HandleLock());
    if (!OpenHandles().erase(handle)) return ICERR_BADHANDLE;
  }
  delete handle;
  return ICERR_OK;
}
