// Reading FLV files in place: the tag walk over a mapped file and the few
// fields of the first audio and video tag that the metadata describes.
//
// Every read is bounded. Bytes past the end of the file read as 0, and the
// fields of a tag are taken from its own data only, so a short or hostile tag
// never makes a reader look into the next tag or outside the mapping.
#pragma once

#include <cstdint>
#include <span>

namespace clipmill::flv {

using Bytes = std::span<const std::uint8_t>;

constexpr std::uint8_t kAudioTag = 8;
constexpr std::uint8_t kVideoTag = 9;
constexpr std::uint8_t kScriptTag = 18;

// Tag header (type, 24-bit DataSize, 24-bit time, 8-bit time extension,
// 24-bit stream id) and the trailing 32-bit PreviousTagSize.
constexpr std::uint32_t kTagHeaderSize = 11;
constexpr std::uint32_t kPreviousTagSizeSize = 4;
constexpr std::uint32_t kTagOverhead = kTagHeaderSize + kPreviousTagSizeSize;

// Frame type 1 (keyframe) sets this bit of a video tag's first data byte.
constexpr std::uint8_t kKeyframeBit = 0x10;

// The byte at `offset`, or 0 past the end of `bytes`.
std::uint8_t ByteAt(Bytes bytes, std::uint64_t offset);
// Big-endian unsigned integer of `width` bytes (1 to 4) at `offset`.
std::uint32_t BigEndianAt(Bytes bytes, std::uint64_t offset, int width);

struct Tag {
  std::uint64_t offset = 0;    // of the tag header within the file
  std::uint8_t type = 0;
  std::uint32_t dataSize = 0;  // 24-bit DataSize
  std::int32_t timeMs = 0;     // TimestampExtended << 24 | Timestamp, signed
  Bytes data;                  // the DataSize bytes after the header

  // Header, data and the trailing PreviousTagSize.
  std::uint64_t TotalLength() const { return std::uint64_t{dataSize} + kTagOverhead; }
  double TimeSeconds() const { return timeMs * 0.001; }
  // The first data byte (codec and format flags), 0 for an empty tag.
  std::uint8_t FirstDataByte() const { return ByteAt(data, 0); }
  bool IsAudioOrVideo() const { return type == kAudioTag || type == kVideoTag; }
  bool IsKeyframe() const { return type == kVideoTag && (FirstDataByte() & kKeyframeBit) != 0; }
};

// Visits the complete tags of a file in order. The walk starts after the file
// header (its 32-bit size field) and the first PreviousTagSize, and stops at
// the first tag that does not fit entirely in the file; the signature and the
// version are not checked.
class TagWalker {
 public:
  explicit TagWalker(Bytes file);
  // Fills `tag` with the next complete tag; false at the end of the walk.
  bool Next(Tag& tag);

 private:
  Bytes file_;
  std::uint64_t position_;
};

// Properties of the first audio tag, from its first data byte.
struct AudioFormat {
  int codecId = 0;        // SoundFormat, high 4 bits
  int sampleRate = 0;     // 5500, 11000, 22000 or 44100 by SoundRate
  int sampleSize = 0;     // 16 or 8 bits
  bool stereo = false;
};
AudioFormat ParseAudioFormat(std::uint8_t firstDataByte);

struct PictureSize {
  int width = 0;  // 0 when the codec's header gives none
  int height = 0;
};
// The picture size coded in the first video tag, by its codec id (the low
// 4 bits of the first data byte): Sorenson H.263, screen video 1 and 2, VP6,
// VP6 with alpha, and H.264 from the sequence parameter set of an AVC
// sequence header. Other codecs give no size.
PictureSize ParsePictureSize(const Tag& videoTag);

}  // namespace clipmill::flv
