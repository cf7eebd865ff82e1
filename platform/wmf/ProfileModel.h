// The values behind the profile objects: a profile and its stream
// configurations as plain data, shared by the profile objects, the system
// catalogue, the profile file (.prx) reader and writer and the ASF writer.
//
// What we can encode: Windows Media Video 7 and 8 (WMV1, WMV2) with FFmpeg's
// wmv1 and wmv2 encoders, Windows Media Audio 1 and 2 (wave tags 0x160 and
// 0x161; WMA 7, 8 and 9 Standard write tag 0x161) with wmav1 and wmav2. A
// profile naming any other codec (WMV3, WMA Pro, ...) is refused when it is
// loaded or added, not silently encoded as something else.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/dshow/MediaType.h"
#include "platform/wmf/WmfInterfaces.h"

struct AVCodecContext;

namespace reel::wmf {

// Bounds on what a profile may ask for; beyond them it is invalid.
constexpr std::size_t kMaximumStreams = 16;
constexpr WORD kMaximumStreamNumber = 63;  // ASF stream numbers are 1..63
constexpr std::size_t kMaximumNameLength = 1024;
constexpr std::size_t kMaximumProfileText = 1 << 20;  // characters of a .prx
constexpr LONG kMinimumPictureSize = 16;
constexpr LONG kMaximumPictureSize = 4096;
constexpr REFERENCE_TIME kShortestFrameTime = UNITS / 120;  // 120 frames per second
constexpr REFERENCE_TIME kLongestFrameTime = UNITS * 10;    // one frame every 10 s
constexpr DWORD kMinimumBitrate = 1000;
constexpr DWORD kMaximumBitrate = 100'000'000;
constexpr DWORD kDefaultBufferWindow = 3000;  // milliseconds

struct StreamDefinition {
  GUID streamType = GUID_NULL;  // WMMEDIATYPE_Video or WMMEDIATYPE_Audio
  WORD number = 0;              // 0 until the stream is added to a profile
  std::u16string name;
  std::u16string connectionName;
  DWORD bitrate = 0;  // bits per second
  DWORD bufferWindow = kDefaultBufferWindow;
  // Video only: the longest time between key frames (100-ns units; 0 for
  // the encoder's default) and the quality (0..100; 0 when unset).
  REFERENCE_TIME maxKeyFrameSpacing = 0;
  DWORD quality = 0;
  CMediaType mediaType;
};

struct ProfileDefinition {
  WMT_VERSION version = WMT_VER_8_0;
  std::u16string name;
  std::u16string description;
  GUID id = GUID_NULL;  // system profiles only
  std::vector<StreamDefinition> streams;
};

// The FFmpeg encoder of a stream's codec ("wmv2", "wmav2", ...), null when
// we do not encode it.
const char* EncoderOf(const StreamDefinition& stream);

// An opened FFmpeg encoder set up as the stream says (video: yuv420p at the
// stream's size, frame time, bit rate and key-frame spacing; audio: planar
// float at the stream's rate, channels and bit rate), with global headers
// as ASF wants them. Null when it does not open; free it with
// avcodec_free_context.
AVCodecContext* CreateEncoder(const StreamDefinition& stream, std::string* problem = nullptr);

// Whether we can write the stream as it is described: a known codec, sizes,
// rates and bit rates in range and an encoder that opens with them.
// NS_E_INVALID_PROFILE otherwise; *problem (if given) says why.
HRESULT CheckStream(const StreamDefinition& stream, std::string* problem = nullptr);
// The streams one by one, their count and unique stream numbers.
HRESULT CheckProfile(const ProfileDefinition& profile, std::string* problem = nullptr);

// Reads the XML profile text; NS_E_INVALID_PROFILE for anything malformed
// or impossible.
HRESULT ParseProfileText(std::u16string_view text, ProfileDefinition* profile, std::string* problem = nullptr);
std::u16string ProfileText(const ProfileDefinition& profile);

// The version 8 system profiles, in catalogue order.
const std::vector<ProfileDefinition>& SystemProfiles();
const ProfileDefinition* FindSystemProfile(REFGUID id);

// A new profile object holding a copy of the definition.
ComPtr<IWMProfile> CreateProfileObject(const ProfileDefinition& profile);
ComPtr<IWMStreamConfig> CreateStreamObject(const StreamDefinition& stream);
// Reads any profile (or stream) object through its interfaces.
HRESULT ReadProfile(IWMProfile* profile, ProfileDefinition* definition);
HRESULT ReadStream(IWMStreamConfig* stream, StreamDefinition* definition);

// The media types of the definitions, built the way the catalogue and the
// default profile need them.
void MakeVideoStream(StreamDefinition* stream, DWORD fourcc, LONG width, LONG height, REFERENCE_TIME frameTime,
                     DWORD bitrate);
void MakeAudioStream(StreamDefinition* stream, WORD formatTag, WORD channels, DWORD samplesPerSecond, DWORD bitrate);

}  // namespace reel::wmf
