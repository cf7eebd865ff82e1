// The profile manager: the system catalogue (its fixed order, identifiers
// and the audio-only rule over every entry), the profile and stream objects
// with their two-call conventions, and profile XML text: good files read
// and written back, malformed and impossible ones refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/dshow/MediaType.h"
#include "platform/wmf/ProfileModel.h"
#include "platform/wmf/WmfInterfaces.h"
#include "platform/com/Guid.h"
#include "platform/win/Strings.h"
#include "tests/support/TempDir.h"

namespace {

using reel::ComPtr;

ComPtr<IWMProfileManager2> Manager() {
  ComPtr<IWMProfileManager> manager;
  EXPECT_EQ(WMCreateProfileManager(&manager), S_OK);
  ComPtr<IWMProfileManager2> second;
  EXPECT_EQ(manager->QueryInterface(IID_IWMProfileManager2, reinterpret_cast<void**>(&second)), S_OK);
  return second;
}

std::u16string NameOf(IWMProfile* profile) {
  DWORD length = 0;
  EXPECT_EQ(profile->GetName(nullptr, &length), S_OK);
  std::u16string name(length, u'\0');
  EXPECT_EQ(profile->GetName(name.data(), &length), S_OK);
  name.resize(length - 1);
  return name;
}

GUID IdOf(IWMProfile* profile) {
  ComPtr<IWMProfile2> second;
  EXPECT_EQ(profile->QueryInterface(IID_IWMProfile2, reinterpret_cast<void**>(&second)), S_OK);
  GUID id = GUID_NULL;
  EXPECT_EQ(second->GetProfileID(&id), S_OK);
  return id;
}

// The audio-only rule as the control applies it: no video stream, exactly
// one audio stream, and every such stream's format a VideoInfo or a
// WaveFormatEx block.
bool AudioOnly(IWMProfile* profile) {
  DWORD count = 0;
  if (FAILED(profile->GetStreamCount(&count))) return false;
  int video = 0;
  int audio = 0;
  for (DWORD index = 0; index < count; ++index) {
    ComPtr<IWMStreamConfig> stream;
    if (FAILED(profile->GetStream(index, &stream))) return false;
    GUID type = GUID_NULL;
    if (FAILED(stream->GetStreamType(&type))) return false;
    if (type != WMMEDIATYPE_Video && type != WMMEDIATYPE_Audio) continue;
    ComPtr<IWMMediaProps> properties;
    if (FAILED(stream->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&properties)))) return false;
    DWORD bytes = 0;
    if (FAILED(properties->GetMediaType(nullptr, &bytes))) return false;
    std::vector<std::max_align_t> buffer(bytes / sizeof(std::max_align_t) + 1);
    auto* mediaType = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
    if (FAILED(properties->GetMediaType(mediaType, &bytes))) return false;
    if (mediaType->formattype != FORMAT_VideoInfo && mediaType->formattype != FORMAT_WaveFormatEx) return false;
    (type == WMMEDIATYPE_Video ? video : audio)++;
  }
  return video == 0 && audio == 1;
}

std::u16string Wide(const std::string& text) { return reel::Utf8ToUtf16(text); }

// ---------------------------------------------------------------------------
// The catalogue.

// The catalogue order is part of the contract: hosts store positions in it.
const char* const kExpectedCatalogue[] = {
    "Reelpress Video 8 for Dial-up (160x120, 15 fps, 80 Kbps)",
    "Reelpress Video 8 for ISDN (240x180, 15 fps, 160 Kbps)",
    "Reelpress Video 8 for Broadband (320x240, 25 fps, 340 Kbps)",
    "Reelpress Video 8 for Broadband (320x240, 30 fps, 700 Kbps)",
    "Reelpress Video 8 High Quality (640x480, 30 fps, 1.5 Mbps)",
    "Reelpress Video 8 for NTSC (720x480, 29.97 fps, 2 Mbps)",
    "Reelpress Video 8 for PAL (720x576, 25 fps, 2 Mbps)",
    "Reelpress Video 7 for Pocket Devices (176x144, 12 fps, 132 Kbps)",
    "Reelpress Video 8 without Sound (320x240, 25 fps, 300 Kbps)",
    "Reelpress Audio 8 for Voice (22 kHz, mono, 32 Kbps)",
    "Reelpress Audio 8 FM Quality (44 kHz, stereo, 64 Kbps)",
    "Reelpress Audio 8 CD Quality (44 kHz, stereo, 128 Kbps)",
    "Reelpress Audio 8 Studio Quality (48 kHz, stereo, 192 Kbps)",
    "Reelpress Audio 8 Two Languages (44 kHz, stereo, 2 x 64 Kbps)",
};

// Set in a child process of SameInEveryProcess: where to write the listing.
constexpr const char* kCatalogueFileVariable = "REEL_WMF_CATALOGUE_FILE";

// One line per profile: position, identifier, name, description, stream
// types and bit rates, as the interfaces give them.
std::string CatalogueListing(IWMProfileManager2* manager) {
  std::string lines;
  DWORD count = 0;
  if (FAILED(manager->GetSystemProfileCount(&count))) return "no count\n";
  for (DWORD index = 0; index < count; ++index) {
    ComPtr<IWMProfile> profile;
    if (FAILED(manager->LoadSystemProfile(index, &profile))) return lines + "no profile\n";
    reel::wmf::ProfileDefinition definition;
    if (FAILED(reel::wmf::ReadProfile(profile.Get(), &definition))) return lines + "unreadable\n";
    lines += std::to_string(index) + " " + reel::GuidToString(definition.id) + " " + reel::Utf16ToUtf8(definition.name) +
             " | " + reel::Utf16ToUtf8(definition.description);
    for (const reel::wmf::StreamDefinition& stream : definition.streams)
      lines += " | " + reel::GuidToString(stream.mediaType.subtype) + " " + std::to_string(stream.bitrate);
    lines += "\n";
  }
  return lines;
}

TEST(SystemProfileTest, CatalogueListsTheFixedEntriesInOrderWithUniqueIds) {
  ComPtr<IWMProfileManager2> manager = Manager();
  ASSERT_EQ(manager->SetSystemProfileVersion(WMT_VER_8_0), S_OK);
  DWORD count = 0;
  ASSERT_EQ(manager->GetSystemProfileCount(&count), S_OK);
  ASSERT_EQ(count, std::size(kExpectedCatalogue));
  std::set<std::u16string> names;
  std::set<GUID> ids;
  for (DWORD index = 0; index < count; ++index) {
    ComPtr<IWMProfile> profile;
    ASSERT_EQ(manager->LoadSystemProfile(index, &profile), S_OK);
    std::u16string name = NameOf(profile.Get());
    EXPECT_EQ(name, Wide(kExpectedCatalogue[index])) << index;
    names.insert(name);
    GUID id = IdOf(profile.Get());
    EXPECT_NE(id, GUID_NULL);
    ids.insert(id);
    // Every entry is one the ASF writer can encode.
    reel::wmf::ProfileDefinition definition;
    ASSERT_EQ(reel::wmf::ReadProfile(profile.Get(), &definition), S_OK);
    std::string problem;
    EXPECT_EQ(reel::wmf::CheckProfile(definition, &problem), S_OK) << index << ": " << problem;
    WMT_VERSION version{};
    EXPECT_EQ(profile->GetVersion(&version), S_OK);
    EXPECT_EQ(version, WMT_VER_8_0);
  }
  EXPECT_EQ(names.size(), count);
  EXPECT_EQ(ids.size(), count);
  ComPtr<IWMProfile> beyond;
  EXPECT_EQ(manager->LoadSystemProfile(count, &beyond), E_INVALIDARG);
  EXPECT_FALSE(beyond);
  // Run as a child of SameInEveryProcess: hand the listing to the parent.
  if (const char* listFile = std::getenv(kCatalogueFileVariable))
    reel::test::WriteFile(listFile, CatalogueListing(manager.Get()));
}

// The catalogue test again, in a new process of this program: it lists
// what this process lists, entry for entry.
TEST(SystemProfileTest, SameInEveryProcess) {
  std::string here = CatalogueListing(Manager().Get());
  ASSERT_FALSE(here.empty());
  reel::test::TempDir folder("wmfcatalogue");
  std::filesystem::path listFile = folder / "catalogue.txt";
  std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
  std::string command = std::string("env ") + kCatalogueFileVariable + "='" + listFile.string() + "' '" +
                        self.string() +
                        "' --gtest_filter=SystemProfileTest.CatalogueListsTheFixedEntriesInOrderWithUniqueIds "
                        ">/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(reel::test::ReadFile(listFile), here);
}

TEST(SystemProfileTest, AudioOnlyRuleHoldsForEveryEntry) {
  ComPtr<IWMProfileManager2> manager = Manager();
  DWORD count = 0;
  ASSERT_EQ(manager->GetSystemProfileCount(&count), S_OK);
  std::vector<bool> audioOnly;
  for (DWORD index = 0; index < count; ++index) {
    ComPtr<IWMProfile> profile;
    ASSERT_EQ(manager->LoadSystemProfile(index, &profile), S_OK);
    audioOnly.push_back(AudioOnly(profile.Get()));
  }
  // Video profiles (with and without sound), four single-stream audio
  // profiles, and the two-language profile, which is not audio-only.
  std::vector<bool> expected(count, false);
  for (DWORD index = 9; index <= 12; ++index) expected[index] = true;
  EXPECT_EQ(audioOnly, expected);
  ComPtr<IWMProfile> twoLanguages;
  ASSERT_EQ(manager->LoadSystemProfile(13, &twoLanguages), S_OK);
  DWORD streams = 0;
  ASSERT_EQ(twoLanguages->GetStreamCount(&streams), S_OK);
  EXPECT_EQ(streams, 2u);
}

TEST(SystemProfileTest, LoadProfileByIdFindsEveryEntryAndRefusesOthers) {
  ComPtr<IWMProfileManager2> manager = Manager();
  ComPtr<IWMProfileManager2> other = Manager();
  DWORD count = 0;
  ASSERT_EQ(manager->GetSystemProfileCount(&count), S_OK);
  for (DWORD index = 0; index < count; ++index) {
    ComPtr<IWMProfile> listed;
    ASSERT_EQ(manager->LoadSystemProfile(index, &listed), S_OK);
    ComPtr<IWMProfile> byId;
    ASSERT_EQ(other->LoadProfileByID(IdOf(listed.Get()), &byId), S_OK);
    EXPECT_EQ(NameOf(byId.Get()), NameOf(listed.Get()));
    EXPECT_EQ(IdOf(byId.Get()), IdOf(listed.Get()));
  }
  ComPtr<IWMProfile> none;
  EXPECT_EQ(manager->LoadProfileByID(GUID_NULL, &none), E_INVALIDARG);
  GUID unknown = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(manager->LoadProfileByID(unknown, &none), E_INVALIDARG);
  EXPECT_FALSE(none);
}

TEST(SystemProfileTest, OnlyVersionEightListsProfiles) {
  ComPtr<IWMProfileManager2> manager = Manager();
  WMT_VERSION version{};
  ASSERT_EQ(manager->GetSystemProfileVersion(&version), S_OK);
  EXPECT_EQ(version, WMT_VER_8_0);
  ASSERT_EQ(manager->SetSystemProfileVersion(WMT_VER_9_0), S_OK);
  DWORD count = 99;
  ASSERT_EQ(manager->GetSystemProfileCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(manager->SetSystemProfileVersion(static_cast<WMT_VERSION>(0x50000)), E_INVALIDARG);
  ASSERT_EQ(manager->GetSystemProfileVersion(&version), S_OK);
  EXPECT_EQ(version, WMT_VER_9_0);
}

// ---------------------------------------------------------------------------
// Profile and stream objects.

TEST(ProfileObjectTest, NamesFollowTheTwoCallConvention) {
  ComPtr<IWMProfileManager2> manager = Manager();
  ComPtr<IWMProfile> profile;
  ASSERT_EQ(manager->CreateEmptyProfile(WMT_VER_8_0, &profile), S_OK);
  ASSERT_EQ(profile->SetName(u"Short"), S_OK);
  DWORD length = 0;
  ASSERT_EQ(profile->GetName(nullptr, &length), S_OK);
  EXPECT_EQ(length, 6u);
  WCHAR small[3] = {u'x', u'x', u'x'};
  length = 3;
  EXPECT_EQ(profile->GetName(small, &length), ASF_E_BUFFERTOOSMALL);
  EXPECT_EQ(length, 6u);
  WCHAR exact[6];
  length = 6;
  ASSERT_EQ(profile->GetName(exact, &length), S_OK);
  EXPECT_EQ(std::u16string(exact), u"Short");
  EXPECT_EQ(profile->GetName(exact, nullptr), E_POINTER);
  DWORD descriptionLength = 0;
  ASSERT_EQ(profile->GetDescription(nullptr, &descriptionLength), S_OK);
  EXPECT_EQ(descriptionLength, 1u);
  ComPtr<IWMProfile2> second;
  ASSERT_EQ(profile->QueryInterface(IID_IWMProfile2, reinterpret_cast<void**>(&second)), S_OK);
  GUID id{1, 2, 3, {4}};
  ASSERT_EQ(second->GetProfileID(&id), S_OK);
  EXPECT_EQ(id, GUID_NULL);
}

TEST(ProfileObjectTest, StreamsAreBuiltCheckedAndCopied) {
  ComPtr<IWMProfileManager2> manager = Manager();
  ComPtr<IWMProfile> profile;
  ASSERT_EQ(manager->CreateEmptyProfile(WMT_VER_8_0, &profile), S_OK);
  ComPtr<IWMStreamConfig> stream;
  ASSERT_EQ(profile->CreateNewStream(WMMEDIATYPE_Audio, &stream), S_OK);
  ComPtr<IWMStreamConfig> refusedKind;
  EXPECT_EQ(profile->CreateNewStream(MEDIATYPE_Text, &refusedKind), E_INVALIDARG);

  reel::wmf::StreamDefinition audio;
  reel::wmf::MakeAudioStream(&audio, WAVE_FORMAT_WMAUDIO2, 2, 44100, 64000);
  ComPtr<IWMMediaProps> properties;
  ASSERT_EQ(stream->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&properties)), S_OK);
  ASSERT_EQ(properties->SetMediaType(&audio.mediaType), S_OK);
  ASSERT_EQ(stream->SetBitrate(64000), S_OK);
  // Without a stream number the stream cannot be added.
  EXPECT_EQ(profile->AddStream(stream.Get()), E_INVALIDARG);
  ASSERT_EQ(stream->SetStreamNumber(1), S_OK);
  ASSERT_EQ(profile->AddStream(stream.Get()), S_OK);
  EXPECT_EQ(profile->AddStream(stream.Get()), E_INVALIDARG);  // number taken

  // A codec we do not encode is refused.
  ComPtr<IWMStreamConfig> other;
  ASSERT_EQ(profile->CreateNewStream(WMMEDIATYPE_Video, &other), S_OK);
  reel::wmf::StreamDefinition video;
  reel::wmf::MakeVideoStream(&video, kFourccWmv3, 320, 240, UNITS / 25, 300000);
  ComPtr<IWMMediaProps> videoProperties;
  ASSERT_EQ(other->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&videoProperties)), S_OK);
  ASSERT_EQ(videoProperties->SetMediaType(&video.mediaType), S_OK);
  ASSERT_EQ(other->SetStreamNumber(2), S_OK);
  ASSERT_EQ(other->SetBitrate(300000), S_OK);
  EXPECT_EQ(profile->AddStream(other.Get()), NS_E_INVALID_PROFILE);

  // GetStream hands out a copy: changing it alters the profile only
  // through ReconfigStream.
  ComPtr<IWMStreamConfig> copy;
  ASSERT_EQ(profile->GetStream(0, &copy), S_OK);
  ASSERT_EQ(copy->SetBitrate(96000), S_OK);
  ComPtr<IWMStreamConfig> again;
  ASSERT_EQ(profile->GetStreamByNumber(1, &again), S_OK);
  DWORD bitrate = 0;
  ASSERT_EQ(again->GetBitrate(&bitrate), S_OK);
  EXPECT_EQ(bitrate, 64000u);
  ASSERT_EQ(profile->ReconfigStream(copy.Get()), S_OK);
  ASSERT_EQ(profile->GetStreamByNumber(1, &again), S_OK);
  ASSERT_EQ(again->GetBitrate(&bitrate), S_OK);
  EXPECT_EQ(bitrate, 96000u);

  // The media type comes back whole through the two-call GetMediaType.
  ComPtr<IWMMediaProps> readBack;
  ASSERT_EQ(again->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&readBack)), S_OK);
  DWORD bytes = 0;
  ASSERT_EQ(readBack->GetMediaType(nullptr, &bytes), S_OK);
  EXPECT_EQ(bytes, sizeof(WM_MEDIA_TYPE) + sizeof(WAVEFORMATEX));
  std::vector<std::max_align_t> buffer(bytes / sizeof(std::max_align_t) + 1);
  auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
  DWORD tooSmall = bytes - 1;
  EXPECT_EQ(readBack->GetMediaType(type, &tooSmall), ASF_E_BUFFERTOOSMALL);
  ASSERT_EQ(readBack->GetMediaType(type, &bytes), S_OK);
  EXPECT_EQ(type->subtype, WMMEDIASUBTYPE_WMAudioV8);
  ASSERT_NE(reel::WaveFormatOf(*type), nullptr);
  EXPECT_EQ(reel::WaveFormatOf(*type)->nSamplesPerSec, 44100u);

  ASSERT_EQ(profile->RemoveStreamByNumber(1), S_OK);
  DWORD count = 9;
  ASSERT_EQ(profile->GetStreamCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(profile->RemoveStreamByNumber(1), E_INVALIDARG);
}

// ---------------------------------------------------------------------------
// Profile XML text.

const char* const kVideoAndAudioProfile = R"(<profile version="589824" storageformat="1" name="Test 176x144" description="A test profile">
  <streamconfig majortype="{73647561-0000-0010-8000-00AA00389B71}" streamnumber="1" streamname="Audio Stream" inputname="Audio409" bitrate="48000" bufferwindow="3000" reliabletransport="0" decodercomplexity="" rfc1766langid="en-us">
    <wmmediatype subtype="{00000161-0000-0010-8000-00AA00389B71}" bfixedsizesamples="1" btemporalcompression="0" lsamplesize="2230">
      <waveformatex wFormatTag="353" nChannels="2" nSamplesPerSec="44100" nAvgBytesPerSec="6000" nBlockAlign="2230" wBitsPerSample="16" codecdata="008800000F0000000000"/>
    </wmmediatype>
  </streamconfig>
  <streamconfig majortype="{73646976-0000-0010-8000-00AA00389B71}" streamnumber="2" streamname="Video Stream" inputname="Video409" bitrate="250000" bufferwindow="5000">
    <videomediaprops maxkeyframespacing="20000000" quality="75"/>
    <wmmediatype subtype="{32564D57-0000-0010-8000-00AA00389B71}" bfixedsizesamples="0" btemporalcompression="1" lsamplesize="0">
      <videoinfoheader dwbitrate="250000" dwbiterrorrate="0" avgtimeperframe="833333">
        <rcsource left="0" top="0" right="176" bottom="144"/>
        <rctarget left="0" top="0" right="176" bottom="144"/>
        <bitmapinfoheader biwidth="176" biheight="144" biplanes="1" bibitcount="24" bicompression="WMV2" bisizeimage="0" bixpelspermeter="0" biypelspermeter="0" biclrused="0" biclrimportant="0"/>
      </videoinfoheader>
    </wmmediatype>
  </streamconfig>
  <streamprioritization>
    <stream number="1" mandatory="1"/>
  </streamprioritization>
</profile>
)";

HRESULT LoadText(IWMProfileManager* manager, const std::u16string& text, ComPtr<IWMProfile>& profile) {
  return manager->LoadProfileByData(text.c_str(), &profile);
}

TEST(ProfileFileTest, ReadsAVideoAndAudioProfile) {
  ComPtr<IWMProfileManager2> manager = Manager();
  ComPtr<IWMProfile> profile;
  ASSERT_EQ(LoadText(manager.Get(), Wide(kVideoAndAudioProfile), profile), S_OK);
  EXPECT_EQ(NameOf(profile.Get()), u"Test 176x144");
  WMT_VERSION version{};
  ASSERT_EQ(profile->GetVersion(&version), S_OK);
  EXPECT_EQ(version, WMT_VER_9_0);
  reel::wmf::ProfileDefinition definition;
  ASSERT_EQ(reel::wmf::ReadProfile(profile.Get(), &definition), S_OK);
  ASSERT_EQ(definition.streams.size(), 2u);
  const reel::wmf::StreamDefinition& audio = definition.streams[0];
  EXPECT_EQ(audio.streamType, WMMEDIATYPE_Audio);
  EXPECT_EQ(audio.connectionName, u"Audio409");
  const WAVEFORMATEX* wave = reel::WaveFormatOf(audio.mediaType);
  ASSERT_NE(wave, nullptr);
  EXPECT_EQ(wave->nAvgBytesPerSec, 6000u);
  EXPECT_EQ(wave->cbSize, 10u);
  const reel::wmf::StreamDefinition& video = definition.streams[1];
  EXPECT_EQ(video.number, 2);
  EXPECT_EQ(video.bitrate, 250000u);
  EXPECT_EQ(video.maxKeyFrameSpacing, 20000000);
  const VIDEOINFOHEADER* info = reel::VideoInfoOf(video.mediaType);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->bmiHeader.biWidth, 176);
  EXPECT_EQ(info->bmiHeader.biHeight, 144);
  EXPECT_EQ(info->bmiHeader.biCompression, kFourccWmv2);
  EXPECT_EQ(info->AvgTimePerFrame, 833333);
  EXPECT_STREQ(reel::wmf::EncoderOf(video), "wmv2");
  EXPECT_STREQ(reel::wmf::EncoderOf(audio), "wmav2");
  EXPECT_FALSE(AudioOnly(profile.Get()));
}

TEST(ProfileFileTest, SavedTextLoadsBackToTheSameProfile) {
  ComPtr<IWMProfileManager2> manager = Manager();
  DWORD count = 0;
  ASSERT_EQ(manager->GetSystemProfileCount(&count), S_OK);
  for (DWORD index = 0; index < count; ++index) {
    ComPtr<IWMProfile> original;
    ASSERT_EQ(manager->LoadSystemProfile(index, &original), S_OK);
    DWORD length = 0;
    ASSERT_EQ(manager->SaveProfile(original.Get(), nullptr, &length), S_OK);
    std::u16string text(length, u'\0');
    DWORD small = length - 1;
    EXPECT_EQ(manager->SaveProfile(original.Get(), text.data(), &small), ASF_E_BUFFERTOOSMALL);
    ASSERT_EQ(manager->SaveProfile(original.Get(), text.data(), &length), S_OK);
    text.resize(length - 1);
    ComPtr<IWMProfile> loaded;
    ASSERT_EQ(LoadText(manager.Get(), text, loaded), S_OK) << reel::Utf16ToUtf8(text);
    reel::wmf::ProfileDefinition before;
    reel::wmf::ProfileDefinition after;
    ASSERT_EQ(reel::wmf::ReadProfile(original.Get(), &before), S_OK);
    ASSERT_EQ(reel::wmf::ReadProfile(loaded.Get(), &after), S_OK);
    EXPECT_EQ(after.name, before.name);
    EXPECT_EQ(after.description, before.description);
    ASSERT_EQ(after.streams.size(), before.streams.size());
    for (std::size_t stream = 0; stream < before.streams.size(); ++stream) {
      EXPECT_EQ(after.streams[stream].number, before.streams[stream].number);
      EXPECT_EQ(after.streams[stream].name, before.streams[stream].name);
      EXPECT_EQ(after.streams[stream].connectionName, before.streams[stream].connectionName);
      EXPECT_EQ(after.streams[stream].bitrate, before.streams[stream].bitrate);
      EXPECT_EQ(after.streams[stream].maxKeyFrameSpacing, before.streams[stream].maxKeyFrameSpacing);
      EXPECT_TRUE(after.streams[stream].mediaType == before.streams[stream].mediaType) << index << "/" << stream;
    }
    // A file has no system identifier.
    EXPECT_EQ(IdOf(loaded.Get()), GUID_NULL);
  }
}

TEST(ProfileFileTest, AcceptsUtf8TextReadIntoAWideBuffer) {
  ComPtr<IWMProfileManager2> manager = Manager();
  for (std::string bytes : {std::string(kVideoAndAudioProfile), "\xEF\xBB\xBF" + std::string(kVideoAndAudioProfile)}) {
    // As a file loader hands it over: the bytes, two zero bytes after them.
    bytes.push_back('\0');
    bytes.push_back('\0');
    if (bytes.size() % 2) bytes.push_back('\0');
    std::u16string wide(bytes.size() / 2, u'\0');
    std::memcpy(wide.data(), bytes.data(), bytes.size());
    ComPtr<IWMProfile> profile;
    ASSERT_EQ(manager->LoadProfileByData(wide.c_str(), &profile), S_OK);
    EXPECT_EQ(NameOf(profile.Get()), u"Test 176x144");
  }
}

struct MalformedCase {
  const char* name;
  std::string text;
};

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

std::string Repeat(const std::string& text, int count) {
  std::string repeated;
  for (int index = 0; index < count; ++index) repeated += text;
  return repeated;
}

std::string ManyStreams(int count) {
  std::string audio = kVideoAndAudioProfile;
  std::size_t start = audio.find("<streamconfig");
  std::size_t end = audio.find("</streamconfig>") + std::string("</streamconfig>").size();
  std::string stream = audio.substr(start, end - start);
  std::string streams;
  for (int number = 1; number <= count; ++number)
    streams += Replace(stream, "streamnumber=\"1\"", "streamnumber=\"" + std::to_string(number) + "\"");
  return "<profile version=\"589824\" name=\"many\">" + streams + "</profile>";
}

std::vector<MalformedCase> MalformedCases() {
  const std::string good = kVideoAndAudioProfile;
  return {
      {"empty", ""},
      {"only spaces", "   \n  "},
      {"not xml", "this is not a profile"},
      {"truncated", good.substr(0, good.size() / 2)},
      {"unclosed element", Replace(good, "</profile>", "")},
      {"mismatched tags", Replace(good, "</wmmediatype>\n  </streamconfig>\n  <streamconfig", "</streamconfig>\n  <streamconfig")},
      {"wrong root", "<profiles name=\"x\"></profiles>"},
      {"no streams", "<profile version=\"589824\" name=\"none\"></profile>"},
      {"no name", Replace(good, "name=\"Test 176x144\"", "")},
      {"unknown version", Replace(good, "version=\"589824\"", "version=\"12345\"")},
      {"missing stream number", Replace(good, "streamnumber=\"2\"", "")},
      {"stream number zero", Replace(good, "streamnumber=\"2\"", "streamnumber=\"0\"")},
      {"duplicate stream number", Replace(good, "streamnumber=\"2\"", "streamnumber=\"1\"")},
      {"bad major type", Replace(good, "{73646976-0000-0010-8000-00AA00389B71}", "{not-a-guid}")},
      {"text stream", Replace(good, "{73646976-0000-0010-8000-00AA00389B71}", "{73747874-0000-0010-8000-00AA00389B71}")},
      {"missing bitrate", Replace(good, "bitrate=\"250000\" bufferwindow", "bufferwindow")},
      {"negative bitrate", Replace(good, "bitrate=\"250000\" bufferwindow", "bitrate=\"-5\" bufferwindow")},
      {"huge bitrate", Replace(good, "bitrate=\"250000\" bufferwindow", "bitrate=\"99999999999999999999\" bufferwindow")},
      {"number with junk", Replace(good, "biwidth=\"176\"", "biwidth=\"176px\"")},
      {"zero width", Replace(good, "biwidth=\"176\"", "biwidth=\"0\"")},
      {"huge width", Replace(good, "biwidth=\"176\"", "biwidth=\"100000\"")},
      {"missing height", Replace(good, "biheight=\"144\"", "")},
      {"zero frame time", Replace(good, "avgtimeperframe=\"833333\"", "avgtimeperframe=\"0\"")},
      {"negative frame time", Replace(good, "avgtimeperframe=\"833333\"", "avgtimeperframe=\"-833333\"")},
      {"unknown video codec", Replace(Replace(good, "{32564D57-", "{33564D57-"), "bicompression=\"WMV2\"", "bicompression=\"WMV3\"")},
      {"codec and fourcc disagree", Replace(good, "bicompression=\"WMV2\"", "bicompression=\"WMV1\"")},
      {"no media type", Replace(Replace(good, "<wmmediatype subtype=\"{32564D57", "<other subtype=\"{32564D57"), "</wmmediatype>\n  </streamconfig>\n  <streamprioritization>", "</other>\n  </streamconfig>\n  <streamprioritization>")},
      {"no bitmap header", Replace(good, "<bitmapinfoheader biwidth", "<somethingelse biwidth")},
      {"unknown audio codec", Replace(Replace(good, "{00000161-", "{00000162-"), "wFormatTag=\"353\"", "wFormatTag=\"354\"")},
      {"zero channels", Replace(good, "nChannels=\"2\"", "nChannels=\"0\"")},
      {"six channels", Replace(good, "nChannels=\"2\"", "nChannels=\"6\"")},
      {"odd sample rate", Replace(good, "nSamplesPerSec=\"44100\"", "nSamplesPerSec=\"12345\"")},
      {"zero audio rate", Replace(good, "nAvgBytesPerSec=\"6000\"", "nAvgBytesPerSec=\"0\"")},
      {"audio rate the codec refuses", Replace(good, "nAvgBytesPerSec=\"6000\"", "nAvgBytesPerSec=\"1000\"")},
      {"odd codec data", Replace(good, "codecdata=\"008800000F0000000000\"", "codecdata=\"008\"")},
      {"bad codec data", Replace(good, "codecdata=\"008800000F0000000000\"", "codecdata=\"zz\"")},
      {"fifty streams", ManyStreams(50)},
      {"huge name", Replace(good, "name=\"Test 176x144\"", "name=\"" + std::string(5000, 'n') + "\"")},
      {"huge text", good + std::string(reel::wmf::kMaximumProfileText, ' ')},
      {"deep nesting", "<profile version=\"589824\" name=\"deep\">" + Repeat("<a>", 100000) + Repeat("</a>", 100000) +
                           "</profile>"},
      {"deep nesting left open", "<profile version=\"589824\" name=\"deep\">" + Repeat("<a>", 200000)},
      {"deep nesting in a stream", Replace(good, "<wmmediatype subtype=\"{32564D57", Repeat("<x>", 50000) + "<wmmediatype subtype=\"{32564D57")},
      {"entity bomb", "<!DOCTYPE p [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
                      "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">"
                      "<!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\"><!ENTITY f \"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">]>"
                      "<profile name=\"&f;&f;&f;&f;&f;&f;&f;&f;\"></profile>"},
  };
}

TEST(ProfileFileTest, MalformedOrImpossibleProfilesAreRefused) {
  ComPtr<IWMProfileManager2> manager = Manager();
  for (const MalformedCase& item : MalformedCases()) {
    SCOPED_TRACE(item.name);
    ComPtr<IWMProfile> profile;
    EXPECT_EQ(LoadText(manager.Get(), Wide(item.text), profile), NS_E_INVALID_PROFILE);
    EXPECT_FALSE(profile);
    // The parser says why.
    reel::wmf::ProfileDefinition definition;
    std::string problem;
    EXPECT_EQ(reel::wmf::ParseProfileText(Wide(item.text), &definition, &problem), NS_E_INVALID_PROFILE);
    EXPECT_FALSE(problem.empty());
  }
  ComPtr<IWMProfile> profile;
  EXPECT_EQ(manager->LoadProfileByData(nullptr, &profile), E_POINTER);
  EXPECT_EQ(manager->LoadProfileByData(u"<profile/>", nullptr), E_POINTER);
}

TEST(ProfileFileTest, AudioOnlyFileIsAudioOnly) {
  std::string text = kVideoAndAudioProfile;
  std::size_t start = text.find("  <streamconfig majortype=\"{73646976");
  std::size_t end = text.find("</streamconfig>", start) + std::string("</streamconfig>\n").size();
  text.erase(start, end - start);
  ComPtr<IWMProfileManager2> manager = Manager();
  ComPtr<IWMProfile> profile;
  ASSERT_EQ(LoadText(manager.Get(), Wide(text), profile), S_OK);
  EXPECT_TRUE(AudioOnly(profile.Get()));
}

}  // namespace
