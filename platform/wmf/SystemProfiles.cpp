// The system profile catalogue (profile version 8): one constant table, in
// catalogue order, so every process lists the same profiles in the same
// order with the same identifiers. Video is Windows Media Video 8 (WMV2,
// one entry Windows Media Video 7, WMV1) and sound Windows Media Audio 8
// (wave tag 0x161). Stream numbers: sound first (1, and 2 for a second
// language), then video; the input names are the ones the ASF writer's pins
// carry.
#include "platform/wmf/ProfileModel.h"

namespace reel::wmf {
namespace {

struct AudioSettings {
  DWORD samplesPerSecond;
  WORD channels;
  DWORD bitrate;
};

struct CatalogueEntry {
  DWORD idSuffix;  // last group of the identifier, below
  const char16_t* name;
  const char16_t* description;
  // Video: width 0 means no video stream.
  DWORD fourcc;
  LONG width;
  LONG height;
  REFERENCE_TIME frameTime;
  DWORD videoBitrate;
  // Sound: 0, 1 or 2 streams of the same settings.
  int audioStreams;
  AudioSettings audio;
};

constexpr REFERENCE_TIME k15Fps = UNITS / 15;
constexpr REFERENCE_TIME k25Fps = UNITS / 25;
constexpr REFERENCE_TIME k2997Fps = 333667;
constexpr REFERENCE_TIME k30Fps = 333333;
constexpr REFERENCE_TIME k12Fps = UNITS / 12;

const CatalogueEntry kCatalogue[] = {
    {0x01, u"Reelpress Video 8 for Dial-up (160x120, 15 fps, 80 Kbps)",
     u"Windows Media Video 8, 160x120 at 15 frames per second, 48 Kbps, with Windows Media Audio 8 mono at "
     u"22 kHz, 32 Kbps. For modem connections.",
     kFourccWmv2, 160, 120, k15Fps, 48000, 1, {22050, 1, 32000}},
    {0x02, u"Reelpress Video 8 for ISDN (240x180, 15 fps, 160 Kbps)",
     u"Windows Media Video 8, 240x180 at 15 frames per second, 128 Kbps, with Windows Media Audio 8 stereo "
     u"at 44 kHz, 32 Kbps. For dual-channel ISDN.",
     kFourccWmv2, 240, 180, k15Fps, 128000, 1, {44100, 2, 32000}},
    {0x03, u"Reelpress Video 8 for Broadband (320x240, 25 fps, 340 Kbps)",
     u"Windows Media Video 8, 320x240 at 25 frames per second, 292 Kbps, with Windows Media Audio 8 stereo "
     u"at 44 kHz, 48 Kbps. For cable and DSL connections.",
     kFourccWmv2, 320, 240, k25Fps, 292000, 1, {44100, 2, 48000}},
    {0x04, u"Reelpress Video 8 for Broadband (320x240, 30 fps, 700 Kbps)",
     u"Windows Media Video 8, 320x240 at 30 frames per second, 636 Kbps, with Windows Media Audio 8 stereo "
     u"at 44 kHz, 64 Kbps. For fast broadband and local networks.",
     kFourccWmv2, 320, 240, k30Fps, 636000, 1, {44100, 2, 64000}},
    {0x05, u"Reelpress Video 8 High Quality (640x480, 30 fps, 1.5 Mbps)",
     u"Windows Media Video 8, 640x480 at 30 frames per second, 1372 Kbps, with Windows Media Audio 8 stereo "
     u"at 44 kHz, 128 Kbps. For local playback.",
     kFourccWmv2, 640, 480, k30Fps, 1372000, 1, {44100, 2, 128000}},
    {0x06, u"Reelpress Video 8 for NTSC (720x480, 29.97 fps, 2 Mbps)",
     u"Windows Media Video 8, 720x480 at 29.97 frames per second, 1872 Kbps, with Windows Media Audio 8 "
     u"stereo at 48 kHz, 128 Kbps. Full NTSC picture.",
     kFourccWmv2, 720, 480, k2997Fps, 1872000, 1, {48000, 2, 128000}},
    {0x07, u"Reelpress Video 8 for PAL (720x576, 25 fps, 2 Mbps)",
     u"Windows Media Video 8, 720x576 at 25 frames per second, 1872 Kbps, with Windows Media Audio 8 stereo "
     u"at 48 kHz, 128 Kbps. Full PAL picture.",
     kFourccWmv2, 720, 576, k25Fps, 1872000, 1, {48000, 2, 128000}},
    {0x08, u"Reelpress Video 7 for Pocket Devices (176x144, 12 fps, 132 Kbps)",
     u"Windows Media Video 7, 176x144 at 12 frames per second, 100 Kbps, with Windows Media Audio 8 mono at "
     u"22 kHz, 32 Kbps. For handheld players.",
     kFourccWmv1, 176, 144, k12Fps, 100000, 1, {22050, 1, 32000}},
    {0x09, u"Reelpress Video 8 without Sound (320x240, 25 fps, 300 Kbps)",
     u"Windows Media Video 8, 320x240 at 25 frames per second, 300 Kbps, and no audio stream.",
     kFourccWmv2, 320, 240, k25Fps, 300000, 0, {}},
    {0x0A, u"Reelpress Audio 8 for Voice (22 kHz, mono, 32 Kbps)",
     u"Windows Media Audio 8 mono at 22 kHz, 32 Kbps. Speech and narration.",
     0, 0, 0, 0, 0, 1, {22050, 1, 32000}},
    {0x0B, u"Reelpress Audio 8 FM Quality (44 kHz, stereo, 64 Kbps)",
     u"Windows Media Audio 8 stereo at 44 kHz, 64 Kbps. Music at radio quality.",
     0, 0, 0, 0, 0, 1, {44100, 2, 64000}},
    {0x0C, u"Reelpress Audio 8 CD Quality (44 kHz, stereo, 128 Kbps)",
     u"Windows Media Audio 8 stereo at 44 kHz, 128 Kbps. Music at compact disc quality.",
     0, 0, 0, 0, 0, 1, {44100, 2, 128000}},
    {0x0D, u"Reelpress Audio 8 Studio Quality (48 kHz, stereo, 192 Kbps)",
     u"Windows Media Audio 8 stereo at 48 kHz, 192 Kbps. Archiving and editing.",
     0, 0, 0, 0, 0, 1, {48000, 2, 192000}},
    {0x0E, u"Reelpress Audio 8 Two Languages (44 kHz, stereo, 2 x 64 Kbps)",
     u"Two Windows Media Audio 8 streams, stereo at 44 kHz, 64 Kbps each, for two spoken languages. No "
     u"video.",
     0, 0, 0, 0, 0, 2, {44100, 2, 64000}},
};

// {6D1F3A52-8C47-4E0B-9A36-5B72C0E4D1xx}, xx the entry's suffix.
GUID EntryId(DWORD suffix) {
  return GUID{0x6D1F3A52, 0x8C47, 0x4E0B, {0x9A, 0x36, 0x5B, 0x72, 0xC0, 0xE4, 0xD1, static_cast<BYTE>(suffix)}};
}

std::u16string InputName(const char16_t* kind, int number) {
  std::u16string name = kind;
  name += u" Input 0";
  name.push_back(static_cast<char16_t>(u'0' + number));
  return name;
}

ProfileDefinition BuildProfile(const CatalogueEntry& entry) {
  ProfileDefinition profile;
  profile.version = WMT_VER_8_0;
  profile.name = entry.name;
  profile.description = entry.description;
  profile.id = EntryId(entry.idSuffix);
  WORD number = 1;
  for (int index = 0; index < entry.audioStreams; ++index) {
    StreamDefinition audio;
    MakeAudioStream(&audio, WAVE_FORMAT_WMAUDIO2, entry.audio.channels, entry.audio.samplesPerSecond,
                    entry.audio.bitrate);
    audio.number = number++;
    audio.name = u"Audio Stream";
    if (entry.audioStreams > 1) audio.name += std::u16string(u" ") + static_cast<char16_t>(u'1' + index);
    audio.connectionName = InputName(u"Audio", index + 1);
    profile.streams.push_back(std::move(audio));
  }
  if (entry.width > 0) {
    StreamDefinition video;
    MakeVideoStream(&video, entry.fourcc, entry.width, entry.height, entry.frameTime, entry.videoBitrate);
    video.number = number++;
    video.name = u"Video Stream";
    video.connectionName = InputName(u"Video", 1);
    profile.streams.push_back(std::move(video));
  }
  return profile;
}

}  // namespace

const std::vector<ProfileDefinition>& SystemProfiles() {
  static const std::vector<ProfileDefinition> profiles = [] {
    std::vector<ProfileDefinition> built;
    for (const CatalogueEntry& entry : kCatalogue) built.push_back(BuildProfile(entry));
    return built;
  }();
  return profiles;
}

const ProfileDefinition* FindSystemProfile(REFGUID id) {
  if (id == GUID_NULL) return nullptr;
  for (const ProfileDefinition& profile : SystemProfiles())
    if (profile.id == id) return &profile;
  return nullptr;
}

}  // namespace reel::wmf
