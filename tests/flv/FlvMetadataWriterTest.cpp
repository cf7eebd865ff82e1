// The FLV metadata writer on small synthetic files: what the onMetaData tag
// holds, where the keyframe index points, what is copied, and how broken or
// hostile inputs end.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "control/FlvMetadataWriter.h"
#include "tests/flv/FlvTestFiles.h"
#include "tests/support/TempDir.h"

namespace {

using clipmill::FlvMetadataWriter;
using clipmill::FlvRewriteResult;
using flvtest::AmfValue;
using flvtest::FlvBuilder;
using flvtest::ParsedFlv;
using reel::test::ReadFile;
using reel::test::TempDir;
using reel::test::WriteFile;

const std::vector<std::string> kAllKeys = {
    "metadatacreator", "hasKeyframes",  "hasVideo",        "hasAudio",        "hasMetadata",
    "canSeekToEnd",    "duration",      "datasize",        "videosize",       "videocodecid",
    "width",           "height",        "framerate",       "videodatarate",   "audiosize",
    "audiocodecid",    "audiosamplerate", "audiosamplesize", "stereo",        "audiodatarate",
    "filesize",        "lasttimestamp", "lastkeyframetimestamp", "lastkeyframelocation", "keyframes"};

// The keys of kAllKeys at the given 1-based rows, in order.
std::vector<std::string> Rows(std::initializer_list<std::pair<int, int>> ranges) {
  std::vector<std::string> keys;
  for (auto [first, last] : ranges) {
    for (int row = first; row <= last; ++row) keys.push_back(kAllKeys[row - 1]);
  }
  return keys;
}

struct Injected {
  FlvRewriteResult result;
  bool outputExists = false;
  std::string output;
  ParsedFlv parsed;
  const AmfValue& metadata() const { return *parsed.metadata; }
};

Injected Inject(const std::string& input) {
  TempDir folder("flvmeta");
  WriteFile(folder / "in.flv", input);
  Injected injected;
  injected.result = FlvMetadataWriter::Rewrite((folder / "in.flv").string(), (folder / "out.flv").string());
  injected.outputExists = std::filesystem::exists(folder / "out.flv");
  if (injected.outputExists) injected.output = ReadFile(folder / "out.flv");
  injected.parsed = flvtest::ParseFlv(injected.output);
  EXPECT_EQ(ReadFile(folder / "in.flv"), input) << "the temporary file must not change";
  return injected;
}

// Injects and checks that the output is a well-formed FLV whose first tag is
// the only script tag and holds onMetaData.
Injected InjectValid(const std::string& input) {
  Injected injected = Inject(input);
  EXPECT_EQ(injected.result, FlvRewriteResult::Written);
  EXPECT_EQ(injected.parsed.error, "");
  EXPECT_TRUE(injected.parsed.metadata.has_value());
  if (!injected.parsed.metadata) {
    static const ParsedFlv empty = [] {
      ParsedFlv parsed;
      parsed.metadata = AmfValue{};
      return parsed;
    }();
    injected.parsed = empty;
  }
  return injected;
}

double Number(const AmfValue& metadata, const std::string& key) {
  const AmfValue* value = metadata.Find(key);
  EXPECT_TRUE(value && value->kind == AmfValue::Kind::Number) << key;
  return value && value->kind == AmfValue::Kind::Number ? value->number : NAN;
}

bool Boolean(const AmfValue& metadata, const std::string& key) {
  const AmfValue* value = metadata.Find(key);
  EXPECT_TRUE(value && value->kind == AmfValue::Kind::Boolean) << key;
  return value && value->boolean;
}

std::vector<double> KeyframeArray(const AmfValue& metadata, const std::string& key) {
  std::vector<double> numbers;
  const AmfValue* keyframes = metadata.Find("keyframes");
  if (!keyframes) return numbers;
  EXPECT_EQ(keyframes->kind, AmfValue::Kind::Object);
  EXPECT_EQ(keyframes->Keys(), (std::vector<std::string>{"filepositions", "times"}));
  const AmfValue* array = keyframes->Find(key);
  if (!array) return numbers;
  EXPECT_EQ(array->kind, AmfValue::Kind::StrictArray);
  for (const AmfValue& element : array->elements) {
    EXPECT_EQ(element.kind, AmfValue::Kind::Number);
    numbers.push_back(element.number);
  }
  return numbers;
}

// Writes the bits of a Sorenson H.263 picture header: start code, version
// 0, temporal reference, the size code and, for codes 0 and 1, the size.
std::string H263Header(int sizeCode, int width = 0, int height = 0) {
  std::vector<bool> bits;
  auto put = [&](std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) bits.push_back((value >> i) & 1);
  };
  put(1, 17);
  put(0, 5);
  put(0xA5, 8);
  put(sizeCode, 3);
  if (sizeCode == 0) put(width, 8), put(height, 8);
  if (sizeCode == 1) put(width, 16), put(height, 16);
  put(0x1F, 8);  // whatever follows in the picture
  std::string bytes((bits.size() + 7) / 8, '\0');
  for (std::size_t i = 0; i < bits.size(); ++i) {
    if (bits[i]) bytes[i / 8] = static_cast<char>(bytes[i / 8] | (0x80 >> (i % 8)));
  }
  return bytes;
}

// Writes an H.264 sequence parameter set field by field, in the order a
// decoder reads it.
class SpsWriter {
 public:
  SpsWriter& Bits(std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) bits_.push_back((value >> i) & 1);
    return *this;
  }
  SpsWriter& Ue(std::uint32_t value) {
    const std::uint64_t code = std::uint64_t{value} + 1;
    int length = 0;
    while ((code >> length) > 1) ++length;
    Bits(0, length);
    return Bits(static_cast<std::uint32_t>(code), length + 1);
  }
  SpsWriter& Se(std::int32_t value) { return Ue(value > 0 ? 2 * value - 1 : -2 * value); }

  // The AVC sequence header tag: frame/codec byte, packet type 0, time,
  // decoder configuration record with this set as its one SPS.
  std::string SequenceHeaderTag(std::uint8_t packetType = 0) const {
    std::string rbsp((bits_.size() + 8) / 8, '\0');
    for (std::size_t i = 0; i < bits_.size(); ++i) {
      if (bits_[i]) rbsp[i / 8] = static_cast<char>(rbsp[i / 8] | (0x80 >> (i % 8)));
    }
    rbsp[bits_.size() / 8] = static_cast<char>(rbsp[bits_.size() / 8] | (0x80 >> (bits_.size() % 8)));  // stop bit
    std::string nal = "\x67";
    int zeros = 0;
    for (char byte : rbsp) {
      if (zeros >= 2 && static_cast<std::uint8_t>(byte) <= 3) {
        nal.push_back(3);
        zeros = 0;
      }
      nal.push_back(byte);
      zeros = byte == 0 ? zeros + 1 : 0;
    }
    std::string tag = "\x17";
    tag.push_back(static_cast<char>(packetType));
    tag += std::string(3, '\0');
    tag += std::string("\x01\x64\x00\x1F\xFF\xE1", 6);
    tag.push_back(static_cast<char>(nal.size() >> 8));
    tag.push_back(static_cast<char>(nal.size()));
    tag += nal;
    tag += std::string("\x01\x00\x04\x68\xEE\x3C\x80", 7);  // one PPS
    return tag;
  }
  std::size_t size() const { return bits_.size(); }

 private:
  std::vector<bool> bits_;
};

// profile, constraint flags, level, then the set id.
SpsWriter SpsStart(int profile, int level = 31, int setId = 0) {
  SpsWriter sps;
  sps.Bits(profile, 8).Bits(0, 8).Bits(level, 8).Ue(setId);
  return sps;
}

// After the profile-specific part: frame number size, picture order count
// type 0, references, gaps, the size and the cropping.
SpsWriter& SpsSize(SpsWriter& sps, int widthMbs, int heightUnits, bool frameMbsOnly, std::vector<int> crop = {}) {
  sps.Ue(0).Ue(0).Ue(2).Ue(1).Bits(0, 1);
  sps.Ue(widthMbs - 1).Ue(heightUnits - 1).Bits(frameMbsOnly, 1);
  if (!frameMbsOnly) sps.Bits(0, 1);
  sps.Bits(1, 1);
  sps.Bits(!crop.empty(), 1);
  for (int value : crop) sps.Ue(value);
  return sps.Bits(0, 1);  // no VUI
}

std::string BaselineSps(int widthMbs, int heightUnits, std::vector<int> crop = {}, int level = 31, int setId = 0) {
  SpsWriter sps = SpsStart(66, level, setId);
  return SpsSize(sps, widthMbs, heightUnits, true, crop).SequenceHeaderTag();
}

std::string HighSps(int widthMbs, int heightUnits, bool frameMbsOnly, std::vector<int> crop, bool scaling) {
  SpsWriter sps = SpsStart(100);
  sps.Ue(1).Ue(0).Ue(0).Bits(0, 1).Bits(scaling, 1);
  if (scaling) {
    for (int i = 0; i < 8; ++i) {
      sps.Bits(i == 0 || i == 6, 1);
      if (i == 0) {
        for (int j = 0; j < 16; ++j) sps.Se(j == 0 ? 8 : 1);
      }
      if (i == 6) sps.Se(-8);  // a zero next scale ends the list at once
    }
  }
  return SpsSize(sps, widthMbs, heightUnits, frameMbsOnly, crop).SequenceHeaderTag();
}

std::string PocType1Sps() {
  SpsWriter sps = SpsStart(77);
  sps.Ue(0).Ue(1).Bits(0, 1).Se(-2).Se(3).Ue(3).Se(1).Se(-1).Se(5);
  sps.Ue(2).Bits(0, 1).Ue(21).Ue(14).Bits(1, 1).Bits(1, 1).Bits(0, 1).Bits(0, 1);
  return sps.SequenceHeaderTag();
}

std::string Bytes(std::initializer_list<int> values) {
  std::string bytes;
  for (int value : values) bytes.push_back(static_cast<char>(value));
  return bytes;
}

// A small clip: a script tag of its own, then QVGA H.263 video (keyframe
// every third) and MP3 audio interleaved, 40 ms apart.
FlvBuilder SmallClip(int videoTags = 6) {
  FlvBuilder clip;
  clip.OwnMetadata();
  for (int i = 0; i < videoTags; ++i) {
    clip.Tag(9, i * 40, std::string(1, i % 3 == 0 ? '\x12' : '\x22') + H263Header(5) + std::string(i, 'v'));
    clip.Audio(i * 40 + 20, 0x2E, 40 + i);
  }
  return clip;
}

TEST(FlvMetadata, AudioOnlyHasTheAudioRowsAndNoKeyframes) {
  FlvBuilder clip;
  clip.Audio(0, 0x2E).Audio(26, 0x2E).Audio(52, 0x2E);
  const Injected out = InjectValid(clip.bytes());
  EXPECT_EQ(out.parsed.flags, 0x04);
  EXPECT_EQ(out.metadata().Keys(), Rows({{1, 8}, {15, 22}}));
  EXPECT_EQ(out.metadata().declaredCount, out.metadata().properties.size());
  EXPECT_FALSE(Boolean(out.metadata(), "hasVideo"));
  EXPECT_FALSE(Boolean(out.metadata(), "hasKeyframes"));
  EXPECT_FALSE(Boolean(out.metadata(), "canSeekToEnd"));
  EXPECT_TRUE(Boolean(out.metadata(), "hasAudio"));
  EXPECT_TRUE(Boolean(out.metadata(), "hasMetadata"));
  const AmfValue* creator = out.metadata().Find("metadatacreator");
  ASSERT_TRUE(creator);
  EXPECT_EQ(creator->text, "Quolrix Software 1.0");
}

TEST(FlvMetadata, VideoOnlyHasNoAudioRows) {
  FlvBuilder clip;
  clip.Tag(9, 0, "\x12" + H263Header(2)).Tag(9, 40, "\x22" + H263Header(2));
  const Injected out = InjectValid(clip.bytes());
  EXPECT_EQ(out.parsed.flags, 0x01);
  EXPECT_EQ(out.metadata().Keys(), Rows({{1, 14}, {21, 25}}));
  EXPECT_EQ(out.metadata().declaredCount, out.metadata().properties.size());
}

TEST(FlvMetadata, AudioAndVideoHaveEveryRowInOrder) {
  const Injected out = InjectValid(SmallClip().bytes());
  EXPECT_EQ(out.parsed.flags, 0x05);
  EXPECT_EQ(out.metadata().Keys(), kAllKeys);
  EXPECT_EQ(out.metadata().declaredCount, kAllKeys.size());
}

struct PictureCase {
  const char* name;
  std::string firstTagData;
  double width;  // 0: the key is absent
  double height;
};

TEST(FlvMetadata, PictureSizeOfTheFirstVideoTag) {
  const PictureCase cases[] = {
      {"H.263 size code 0, 8-bit size", "\x12" + H263Header(0, 200, 150), 200, 150},
      {"H.263 size code 1, 16-bit size", "\x12" + H263Header(1, 720, 576), 720, 576},
      {"H.263 CIF", "\x12" + H263Header(2), 352, 288},
      {"H.263 QCIF", "\x12" + H263Header(3), 176, 144},
      {"H.263 SQCIF", "\x12" + H263Header(4), 128, 96},
      {"H.263 QVGA", "\x12" + H263Header(5), 320, 240},
      {"H.263 QQVGA", "\x12" + H263Header(6), 160, 120},
      {"H.263 reserved size code 7", "\x12" + H263Header(7), 0, 0},
      {"H.263 without start code", "\x12" + Bytes({0, 1, 0x80, 0x02, 0x00, 0, 0, 0, 0}), 0, 0},
      {"H.263 header cut short by the tag", "\x12" + Bytes({0, 0, 0x84}), 0, 0},
      {"screen video", "\x13" + Bytes({0x32, 0x80, 0x31, 0xE0}), 640, 480},
      {"screen video 2", "\x16" + Bytes({0x14, 0x00, 0x13, 0x00}), 1024, 768},
      {"VP6", "\x14" + Bytes({0x00, 0x55, 0x66, 15, 20, 15, 20}), 320, 240},
      {"VP6 cropped", "\x14" + Bytes({0x24, 0x55, 0x66, 15, 20, 15, 20}), 318, 236},
      {"VP6 with alpha", "\x15" + Bytes({0x31, 0, 0, 9, 0x55, 0x66, 9, 11}), 173, 143},
      {"VP6 with a crop beyond the picture", "\x14" + Bytes({0xF0, 0x55, 0x66, 2, 0}), 0, 32},
      {"H.264 baseline 720p", BaselineSps(80, 45), 1280, 720},
      {"H.264 high 1080p, cropped", HighSps(120, 68, true, {0, 0, 0, 4}, false), 1920, 1080},
      {"H.264 high with scaling matrices", HighSps(40, 23, true, {1, 2, 0, 4}, true), 634, 360},
      {"H.264 interlaced", HighSps(45, 18, false, {}, false), 720, 576},
      {"H.264 with emulation prevention bytes", BaselineSps(20, 15, {}, 0, 63), 320, 240},
      {"H.264 picture order count type 1", PocType1Sps(), 352, 240},
      {"H.264 record cut short", BaselineSps(80, 45).substr(0, 17), 0, 0},
      {"H.264 SPS ending before the size", SpsStart(66).Ue(0).Ue(0).SequenceHeaderTag(), 0, 0},
      {"H.264 crop beyond the picture", BaselineSps(2, 2, {0, 20, 0, 0}), 0, 0},
      {"H.264 coded frame instead of a sequence header", "\x17\x01" + BaselineSps(80, 45).substr(2), 0, 0},
      {"H.264 record without SPS", "\x17" + Bytes({0, 0, 0, 0, 1, 0x64, 0, 0x1F, 0xFF, 0xE0}), 0, 0},
      {"empty first video tag", "", 0, 0},
  };
  for (const PictureCase& test : cases) {
    SCOPED_TRACE(test.name);
    FlvBuilder clip;
    // A later tag with another size must not matter, nor the bytes after a short tag.
    clip.Tag(9, 0, test.firstTagData).Tag(9, 40, "\x12" + H263Header(2)).Audio(50, 0xFF, 200);
    const Injected out = InjectValid(clip.bytes());
    EXPECT_EQ(out.metadata().Find("width") != nullptr, test.width != 0);
    EXPECT_EQ(out.metadata().Find("height") != nullptr, test.height != 0);
    if (test.width != 0) {
      EXPECT_EQ(Number(out.metadata(), "width"), test.width);
    }
    if (test.height != 0) {
      EXPECT_EQ(Number(out.metadata(), "height"), test.height);
    }
    EXPECT_EQ(Number(out.metadata(), "videocodecid"), test.firstTagData.empty() ? 0 : test.firstTagData[0] & 0x0F);
  }
}

struct AudioCase {
  std::uint8_t firstByte;
  double codecId, sampleRate, sampleSize;
  bool stereo;
};

TEST(FlvMetadata, AudioFormatOfTheFirstAudioTag) {
  const AudioCase cases[] = {
      {0x2E, 2, 44100, 16, false},  // MP3, 44 kHz, 16-bit, mono
      {0x2F, 2, 44100, 16, true},
      {0xAF, 10, 44100, 16, true},  // AAC
      {0x02, 0, 5500, 16, false},
      {0x05, 0, 11000, 8, true},
      {0x6A, 6, 22000, 16, false},
  };
  for (const AudioCase& test : cases) {
    SCOPED_TRACE(static_cast<int>(test.firstByte));
    FlvBuilder clip;
    clip.Audio(0, test.firstByte).Audio(23, 0x5D).Audio(46, 0x5D);
    const Injected out = InjectValid(clip.bytes());
    EXPECT_EQ(Number(out.metadata(), "audiocodecid"), test.codecId);
    EXPECT_EQ(Number(out.metadata(), "audiosamplerate"), test.sampleRate);
    EXPECT_EQ(Number(out.metadata(), "audiosamplesize"), test.sampleSize);
    EXPECT_EQ(Boolean(out.metadata(), "stereo"), test.stereo);
  }
}

struct KeyframeCase {
  std::vector<std::uint8_t> firstBytes;  // of the video tags, in order
  std::vector<int> keyframes;            // indexes of the tags that are keyframes
  bool canSeekToEnd;
};

TEST(FlvMetadata, KeyframesAreVideoTagsWithBit0x10) {
  const KeyframeCase cases[] = {
      {{0x12}, {0}, true},
      {{0x22}, {}, false},
      {{0x12, 0x22}, {0}, false},
      {{0x22, 0x12}, {1}, true},
      {{0x32, 0x42, 0x52}, {0, 2}, true},  // the bit alone decides, not the frame type
      {{0x17, 0x27, 0x27, 0x17, 0x27}, {0, 3}, false},
  };
  for (const KeyframeCase& test : cases) {
    SCOPED_TRACE(::testing::PrintToString(test.firstBytes));
    FlvBuilder clip;
    for (std::size_t i = 0; i < test.firstBytes.size(); ++i) {
      clip.Audio(static_cast<int>(i) * 40, 0x12, 8 + static_cast<int>(i));  // audio never counts
      clip.Video(static_cast<int>(i) * 40 + 10, test.firstBytes[i]);
    }
    const Injected out = InjectValid(clip.bytes());
    EXPECT_EQ(Boolean(out.metadata(), "hasKeyframes"), !test.keyframes.empty());
    EXPECT_EQ(Boolean(out.metadata(), "canSeekToEnd"), test.canSeekToEnd);
    std::vector<double> expectedTimes;
    for (int index : test.keyframes) expectedTimes.push_back((index * 40 + 10) * 0.001);
    EXPECT_EQ(KeyframeArray(out.metadata(), "times"), expectedTimes);
    EXPECT_EQ(out.metadata().Find("keyframes") != nullptr, !test.keyframes.empty());
    EXPECT_EQ(out.metadata().Find("lastkeyframetimestamp") != nullptr, !test.keyframes.empty());
  }
}

TEST(FlvMetadata, KeyframePositionsPointAtVideoTagHeadersOfTheOutput) {
  const Injected out = InjectValid(SmallClip(12).bytes());
  const std::vector<double> positions = KeyframeArray(out.metadata(), "filepositions");
  const std::vector<double> times = KeyframeArray(out.metadata(), "times");
  ASSERT_EQ(positions.size(), 4u);  // video tags 0, 3, 6 and 9
  ASSERT_EQ(times.size(), positions.size());
  // The first input tag is a keyframe, so the first position is the first copied tag.
  EXPECT_EQ(positions.front(), 28.0 + out.parsed.metadataPayloadLength);
  EXPECT_EQ(out.parsed.tags[1].offset, 28u + out.parsed.metadataPayloadLength);

  std::vector<const flvtest::FlvTagInfo*> outputKeyframes;
  for (const auto& tag : out.parsed.tags) {
    if (tag.type == 9 && (tag.data[0] & 0x10)) outputKeyframes.push_back(&tag);
  }
  ASSERT_EQ(outputKeyframes.size(), positions.size());
  for (std::size_t i = 0; i < positions.size(); ++i) {
    const auto offset = static_cast<std::size_t>(positions[i]);
    ASSERT_LT(offset, out.output.size());
    EXPECT_EQ(out.output[offset], 9) << "position " << i;
    EXPECT_EQ(offset, outputKeyframes[i]->offset);
    EXPECT_EQ(times[i], outputKeyframes[i]->timeMs * 0.001);
  }
  EXPECT_EQ(Number(out.metadata(), "lastkeyframelocation"), positions.back());
  EXPECT_EQ(Number(out.metadata(), "lastkeyframetimestamp"), times.back());
}

TEST(FlvMetadata, SizesRatesAndTimesAgreeWithTheInput) {
  FlvBuilder clip = SmallClip(9);
  clip.Tag(18, 420, "\x02\x00\x0AonCuePoint\x05");  // a later script tag still sets the last time
  const Injected out = InjectValid(clip.bytes());
  const auto media = flvtest::CompleteMediaTags(clip.bytes());

  double dataSize = 0, videoSize = 0, audioSize = 0, videoBytes = 0, audioBytes = 0, videoTags = 0;
  for (const auto& tag : media) {
    dataSize += tag.dataSize + 15.0;
    (tag.type == 9 ? videoSize : audioSize) += tag.dataSize + 11.0;
    (tag.type == 9 ? videoBytes : audioBytes) += tag.dataSize;
    videoTags += tag.type == 9;
  }
  const AmfValue& m = out.metadata();
  EXPECT_EQ(Number(m, "duration"), 0.42);
  EXPECT_EQ(Number(m, "lasttimestamp"), 0.42);
  EXPECT_EQ(Number(m, "datasize"), dataSize);
  EXPECT_EQ(Number(m, "videosize"), videoSize);
  EXPECT_EQ(Number(m, "audiosize"), audioSize);
  EXPECT_DOUBLE_EQ(Number(m, "framerate"), videoTags / 0.42);
  EXPECT_DOUBLE_EQ(Number(m, "videodatarate"), videoBytes * 8 / 1024 / 0.42);
  EXPECT_DOUBLE_EQ(Number(m, "audiodatarate"), audioBytes * 8 / 1024 / 0.42);
  EXPECT_EQ(Number(m, "videocodecid"), 2);
  EXPECT_EQ(Number(m, "filesize"), static_cast<double>(out.output.size()));
  EXPECT_EQ(out.output.size(), 28 + out.parsed.metadataPayloadLength + dataSize);
}

TEST(FlvMetadata, CopiesTheMediaTagsUnchangedAndDropsTheOwnMetadata) {
  FlvBuilder clip = SmallClip(5);
  clip.OwnMetadata(100);  // a second script tag in the middle of the file
  clip.Video(200, 0x22, 50).Audio(210, 0x2E, 7);
  const Injected out = InjectValid(clip.bytes());

  int scriptTags = 0;
  for (const auto& tag : out.parsed.tags) scriptTags += tag.type == 18;
  EXPECT_EQ(scriptTags, 1);
  EXPECT_EQ(out.output.find("some other writer"), std::string::npos);

  const auto media = flvtest::CompleteMediaTags(clip.bytes());
  ASSERT_EQ(out.parsed.tags.size(), media.size() + 1);
  for (std::size_t i = 0; i < media.size(); ++i) {
    const auto& copied = out.parsed.tags[i + 1];
    EXPECT_EQ(copied.type, media[i].type) << i;
    EXPECT_EQ(copied.timeMs, media[i].timeMs) << i;
    EXPECT_EQ(copied.data, media[i].data) << i;
    // Whole tags, header and PreviousTagSize included, byte for byte.
    EXPECT_EQ(out.output.substr(copied.offset, copied.dataSize + 15),
              clip.bytes().substr(media[i].offset, media[i].dataSize + 15));
  }
}

TEST(FlvMetadata, ACutOffLastTagIsLeftOutEverywhere) {
  FlvBuilder whole = SmallClip(4);
  const std::string complete = whole.bytes();
  whole.Video(500, 0x12, 1000);
  const std::string cut = whole.bytes().substr(0, whole.bytes().size() - 600);

  const Injected fromComplete = InjectValid(complete);
  const Injected fromCut = InjectValid(cut);
  EXPECT_EQ(fromCut.output, fromComplete.output);
  EXPECT_EQ(Number(fromCut.metadata(), "duration"), (3 * 40 + 20) * 0.001);
}

TEST(FlvMetadata, ZeroDurationGivesZeroRates) {
  FlvBuilder clip;
  clip.Video(0, 0x12).Audio(0, 0x2E).Video(0, 0x22).Audio(0, 0x2E);
  const Injected out = InjectValid(clip.bytes());
  EXPECT_EQ(Number(out.metadata(), "duration"), 0);
  EXPECT_EQ(Number(out.metadata(), "framerate"), 0);
  EXPECT_EQ(Number(out.metadata(), "videodatarate"), 0);
  EXPECT_EQ(Number(out.metadata(), "audiodatarate"), 0);
}

TEST(FlvMetadata, TimesUseTheExtendedByteAsASignedHighByte) {
  struct {
    std::int64_t timeMs;
    double seconds;
  } cases[] = {{0x00FFFFFF, 16777.215}, {0x01000010, 16777.232}, {-40, -0.04}, {0x7FFFFFFF, 2147483.647}};
  for (const auto& test : cases) {
    SCOPED_TRACE(test.timeMs);
    FlvBuilder clip;
    clip.Video(0, 0x12).Video(test.timeMs, 0x12);
    const Injected out = InjectValid(clip.bytes());
    EXPECT_DOUBLE_EQ(Number(out.metadata(), "duration"), test.seconds);
    EXPECT_DOUBLE_EQ(KeyframeArray(out.metadata(), "times").back(), test.seconds);
    EXPECT_DOUBLE_EQ(Number(out.metadata(), "framerate"), 2 / test.seconds);
  }
}

// Results and files of broken, hostile and impossible inputs.
enum class Output { Absent, Empty, Valid };

struct HostileCase {
  const char* name;
  std::string input;
  FlvRewriteResult result;
  Output output;
  std::size_t copiedTags;
};

std::string WithBytes(std::string bytes, std::size_t at, std::initializer_list<int> values) {
  for (int value : values) bytes[at++] = static_cast<char>(value);
  return bytes;
}

std::string WithSize(std::string bytes, std::size_t at, std::size_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (24 - 8 * i));
  return bytes;
}

TEST(FlvMetadata, HostileInputsGiveAnEmptyOrAValidOutput) {
  const std::string clip = SmallClip(3).bytes();
  std::string garbage(3000, '\0');
  std::mt19937 random(7);
  for (char& byte : garbage) byte = static_cast<char>(random());

  const HostileCase cases[] = {
      {"zero-length file", "", FlvRewriteResult::InputUnreadable, Output::Empty, 0},
      {"header only", FlvBuilder().bytes(), FlvRewriteResult::Written, Output::Valid, 0},
      {"shorter than a header", "FLV\x01", FlvRewriteResult::Written, Output::Valid, 0},
      {"huge DataSize in the first tag", WithBytes(clip, 13 + 1, {0xFF, 0xFF, 0xFF}), FlvRewriteResult::Written,
       Output::Valid, 0},
      {"huge header size", WithBytes(clip, 5, {0xFF, 0xFF, 0xFF, 0xFF}), FlvRewriteResult::Written, Output::Valid, 0},
      {"header size 0", WithBytes(clip, 5, {0, 0, 0, 0}), FlvRewriteResult::Written, Output::Valid,
       flvtest::CompleteMediaTags(WithBytes(clip, 5, {0, 0, 0, 0})).size()},
      {"first tag header one byte past the end", WithSize(clip, 5, clip.size() - 4 - 11 + 1),
       FlvRewriteResult::Written, Output::Valid, 0},
      {"first tag header just inside the end", WithSize(clip, 5, clip.size() - 4 - 15), FlvRewriteResult::Written,
       Output::Valid, flvtest::CompleteMediaTags(WithSize(clip, 5, clip.size() - 4 - 15)).size()},
      {"random bytes", garbage, FlvRewriteResult::Written, Output::Valid, flvtest::CompleteMediaTags(garbage).size()},
      {"random bytes after a valid header", FlvBuilder().bytes() + garbage, FlvRewriteResult::Written, Output::Valid,
       flvtest::CompleteMediaTags(FlvBuilder().bytes() + garbage).size()},
      {"wrong PreviousTagSize after a media tag", WithSize(clip, clip.size() - 4, 7), FlvRewriteResult::Written,
       Output::Valid, flvtest::CompleteMediaTags(clip).size()},
      {"empty media tags", FlvBuilder().Tag(9, 0, "").Tag(8, 5, "").bytes(), FlvRewriteResult::Written,
       Output::Valid, 2},
  };
  for (const HostileCase& test : cases) {
    SCOPED_TRACE(test.name);
    const Injected out = Inject(test.input);
    EXPECT_EQ(out.result, test.result) << clipmill::DescribeFlvRewriteResult(out.result);
    EXPECT_EQ(out.outputExists, test.output != Output::Absent);
    if (test.output == Output::Empty) {
      EXPECT_EQ(out.output, "");
    }
    if (test.output == Output::Valid) {
      EXPECT_EQ(out.parsed.error, "");
      ASSERT_TRUE(out.parsed.metadata.has_value());
      EXPECT_EQ(out.parsed.tags.size(), test.copiedTags + 1);
      EXPECT_EQ(Number(*out.parsed.metadata, "filesize"), static_cast<double>(out.output.size()));
    }
  }
}

TEST(FlvMetadata, MissingInputLeavesAnEmptyOutput) {
  TempDir folder("flvmeta");
  FlvMetadataWriter writer;
  writer.InjectMetadata((folder / "missing.flv").string(), (folder / "out.flv").string());
  ASSERT_TRUE(std::filesystem::exists(folder / "out.flv"));
  EXPECT_EQ(std::filesystem::file_size(folder / "out.flv"), 0u);
  EXPECT_EQ(FlvMetadataWriter::Rewrite((folder / "missing.flv").string(), (folder / "out.flv").string()),
            FlvRewriteResult::InputUnreadable);
}

TEST(FlvMetadata, AFolderAsInputLeavesAnEmptyOutput) {
  TempDir folder("flvmeta");
  EXPECT_EQ(FlvMetadataWriter::Rewrite(folder.path().string(), (folder / "out.flv").string()),
            FlvRewriteResult::InputUnreadable);
  EXPECT_EQ(std::filesystem::file_size(folder / "out.flv"), 0u);
}

TEST(FlvMetadata, AnOutputThatCannotBeCreatedIsNotMade) {
  TempDir folder("flvmeta");
  WriteFile(folder / "in.flv", SmallClip().bytes());
  EXPECT_EQ(FlvMetadataWriter::Rewrite((folder / "in.flv").string(), (folder / "no" / "out.flv").string()),
            FlvRewriteResult::OutputNotCreated);
  EXPECT_FALSE(std::filesystem::exists(folder / "no"));
}

TEST(FlvMetadata, AFifoInPlaceOfAFileNeitherHangsNorIsRemoved) {
  TempDir folder("flvmeta");
  WriteFile(folder / "in.flv", SmallClip().bytes());
  ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
  EXPECT_EQ(FlvMetadataWriter::Rewrite((folder / "fifo").string(), (folder / "out.flv").string()),
            FlvRewriteResult::InputUnreadable);
  EXPECT_EQ(std::filesystem::file_size(folder / "out.flv"), 0u);
  EXPECT_EQ(FlvMetadataWriter::Rewrite((folder / "in.flv").string(), (folder / "fifo").string()),
            FlvRewriteResult::OutputNotCreated);
  EXPECT_TRUE(std::filesystem::is_fifo(folder / "fifo"));
}

TEST(FlvMetadata, AFailedWriteLeavesNoPartialOutput) {
  TempDir folder("flvmeta");
  const std::string clip = SmallClip(40).bytes();
  ASSERT_GT(clip.size(), 3000u);
  WriteFile(folder / "in.flv", clip);
  // A child process whose files may not grow past 2000 bytes: the write of
  // the copied tags fails part way, as on a full disk.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{2000, 2000};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    const auto result = FlvMetadataWriter::Rewrite((folder / "in.flv").string(), (folder / "out.flv").string());
    ::_exit(static_cast<int>(result));
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(FlvRewriteResult::WriteFailed));
  EXPECT_FALSE(std::filesystem::exists(folder / "out.flv"));
  EXPECT_EQ(ReadFile(folder / "in.flv"), clip);
}

TEST(FlvMetadata, TheInputIsNeverItsOwnOutput) {
  TempDir folder("flvmeta");
  const std::string clip = SmallClip().bytes();
  WriteFile(folder / "in.flv", clip);
  std::filesystem::create_hard_link(folder / "in.flv", folder / "link.flv");
  for (const char* output : {"in.flv", "link.flv"}) {
    SCOPED_TRACE(output);
    EXPECT_EQ(FlvMetadataWriter::Rewrite((folder / "in.flv").string(), (folder / output).string()),
              FlvRewriteResult::SameFile);
    EXPECT_EQ(ReadFile(folder / "in.flv"), clip);
  }
}

TEST(FlvMetadata, AFormerOutputIsReplacedWhole) {
  TempDir folder("flvmeta");
  WriteFile(folder / "in.flv", SmallClip(2).bytes());
  WriteFile(folder / "out.flv", std::string(100000, 'x'));
  EXPECT_EQ(FlvMetadataWriter::Rewrite((folder / "in.flv").string(), (folder / "out.flv").string()),
            FlvRewriteResult::Written);
  const ParsedFlv parsed = flvtest::ParseFlv(ReadFile(folder / "out.flv"));
  EXPECT_EQ(parsed.error, "");
}

// Many one-byte keyframe tags: the index grows 18 bytes per keyframe and the
// metadata tag's 24-bit DataSize ends it near 932 thousand keyframes.
std::string ManyKeyframes(std::size_t count) {
  FlvBuilder clip;
  std::string& bytes = clip.bytes();
  bytes.reserve(bytes.size() + count * 16);
  for (std::size_t i = 0; i < count; ++i) clip.Tag(9, static_cast<std::int64_t>(i), "\x12");
  return bytes;
}

TEST(FlvMetadata, AKeyframeIndexTooLargeForOneTagGivesNoOutput) {
  struct {
    std::size_t keyframes;
    FlvRewriteResult result;
  } cases[] = {
      {931000, FlvRewriteResult::Written},
      {932067, FlvRewriteResult::MetadataTooLarge},  // refused after measuring the tag
      {940000, FlvRewriteResult::MetadataTooLarge},  // refused before the index is allocated
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.keyframes);
    const Injected out = Inject(ManyKeyframes(test.keyframes));
    EXPECT_EQ(out.result, test.result);
    EXPECT_EQ(out.outputExists, test.result == FlvRewriteResult::Written);
    if (test.result == FlvRewriteResult::Written) {
      EXPECT_EQ(out.parsed.error, "");
      EXPECT_LE(out.parsed.metadataPayloadLength, 0xFFFFFFu);
      EXPECT_EQ(KeyframeArray(*out.parsed.metadata, "filepositions").size(), test.keyframes);
    }
  }
}

// Sparse files stand in for inputs near 4 GiB: only the tag headers hold data.
TEST(FlvMetadata, InputsOfFourGibibytesAreRefusedWithoutOutput) {
  TempDir folder("flvmeta");
  const auto input = folder / "in.flv";
  const auto output = folder / "out.flv";
  const std::string header = FlvBuilder().bytes();

  {  // 4 GiB exactly: outside the design.
    const int file = ::open(input.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::pwrite(file, header.data(), header.size(), 0), static_cast<ssize_t>(header.size()));
    ASSERT_EQ(::ftruncate(file, 1ll << 32), 0);
    ::close(file);
    EXPECT_EQ(FlvMetadataWriter::Rewrite(input.string(), output.string()), FlvRewriteResult::InputTooLarge);
    EXPECT_FALSE(std::filesystem::exists(output));
  }
  {  // Just under 4 GiB of full-size video tags: the output would pass 4 GiB.
    const int file = ::open(input.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(::pwrite(file, header.data(), header.size(), 0), static_cast<ssize_t>(header.size()));
    const std::uint64_t end = 0xFFFFFFFFull - 20;
    std::uint64_t at = header.size();
    while (end - at > 15) {
      const std::uint64_t dataSize = std::min<std::uint64_t>(0xFFFFFF, end - at - 15);
      const std::uint8_t tagHeader[12] = {9, static_cast<std::uint8_t>(dataSize >> 16), static_cast<std::uint8_t>(dataSize >> 8),
                                          static_cast<std::uint8_t>(dataSize), 0, 0, 0, 0, 0, 0, 0, 0x12};
      ASSERT_EQ(::pwrite(file, tagHeader, sizeof tagHeader, static_cast<off_t>(at)), 12);
      at += dataSize + 15;
    }
    ASSERT_EQ(::ftruncate(file, static_cast<off_t>(at)), 0);
    ::close(file);
    EXPECT_EQ(FlvMetadataWriter::Rewrite(input.string(), output.string()), FlvRewriteResult::OutputTooLarge);
    EXPECT_FALSE(std::filesystem::exists(output));
  }
}

}  // namespace
