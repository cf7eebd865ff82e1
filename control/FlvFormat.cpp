#include "control/FlvFormat.h"

namespace clipmill::flv {

std::uint8_t ByteAt(Bytes bytes, std::uint64_t offset) {
  return offset < bytes.size() ? bytes[offset] : 0;
}

std::uint32_t BigEndianAt(Bytes bytes, std::uint64_t offset, int width) {
  std::uint32_t value = 0;
  for (int i = 0; i < width; ++i) value = (value << 8) | ByteAt(bytes, offset + i);
  return value;
}

// The file header keeps its own size at bytes 5 to 8; PreviousTagSize0 follows it.
TagWalker::TagWalker(Bytes file) : file_(file), position_(std::uint64_t{BigEndianAt(file, 5, 4)} + 4) {}

bool TagWalker::Next(Tag& tag) {
  if (position_ > file_.size() || file_.size() - position_ < kTagHeaderSize) return false;
  tag.offset = position_;
  tag.type = file_[position_];
  tag.dataSize = BigEndianAt(file_, position_ + 1, 3);
  const std::uint32_t low = BigEndianAt(file_, position_ + 4, 3);
  const std::uint32_t high = file_[position_ + 7];
  tag.timeMs = static_cast<std::int32_t>((high << 24) | low);
  if (tag.TotalLength() > file_.size() - position_) {
    // A tag cut off by the end of the file (an interrupted write) ends the walk.
    position_ = file_.size() + 1;
    return false;
  }
  tag.data = file_.subspan(position_ + kTagHeaderSize, tag.dataSize);
  position_ += tag.TotalLength();
  return true;
}

AudioFormat ParseAudioFormat(std::uint8_t firstDataByte) {
  // The nominal rates of the four SoundRate codes, as players expect them
  // in the metadata (not the exact 5512.5, 11025 and 22050).
  static constexpr int kSampleRates[4] = {5500, 11000, 22000, 44100};
  AudioFormat format;
  format.codecId = firstDataByte >> 4;
  format.sampleRate = kSampleRates[(firstDataByte >> 2) & 3];
  format.sampleSize = (firstDataByte & 0x02) ? 16 : 8;
  format.stereo = (firstDataByte & 0x01) != 0;
  return format;
}

namespace {

enum VideoCodec {
  kSorensonH263 = 2,
  kScreenVideo = 3,
  kVp6 = 4,
  kVp6Alpha = 5,
  kScreenVideo2 = 6,
  kAvc = 7,
};

// The Sorenson H.263 picture header: a 17-bit start code ending in a 1 bit,
// 5 bits version, 8 bits temporal reference, then a 3-bit picture size code
// that either names a standard size or announces an explicit 8- or 16-bit
// width and height.
PictureSize ParseH263Size(Bytes header) {
  auto b = [&](int i) -> int { return ByteAt(header, i); };
  if (b(0) != 0 || b(1) != 0 || (b(2) & 0x80) == 0) return {};
  switch (((b(3) & 0x03) << 1) | (b(4) >> 7)) {
    case 0:
      return {((b(4) << 1) & 0xFF) | (b(5) >> 7), ((b(5) << 1) & 0xFF) | (b(6) >> 7)};
    case 1:
      return {((b(4) & 0x7F) << 9) | (b(5) << 1) | (b(6) >> 7), ((b(6) & 0x7F) << 9) | (b(7) << 1) | (b(8) >> 7)};
    case 2: return {352, 288};
    case 3: return {176, 144};
    case 4: return {128, 96};
    case 5: return {320, 240};
    case 6: return {160, 120};
    default: return {};
  }
}

// Screen video: 4 bits block width and 12 bits image width, then the same
// for the height.
PictureSize ParseScreenVideoSize(Bytes header) {
  auto b = [&](int i) -> int { return ByteAt(header, i); };
  return {((b(0) & 0x0F) << 8) | b(1), ((b(2) & 0x0F) << 8) | b(3)};
}

// VP6: the FLV adjustment byte (pixels to crop off the width in its high
// nibble, off the height in its low one), then the frame header whose
// macroblock rows and columns sit at `rowsAt` and `rowsAt + 1`.
PictureSize ParseVp6Size(Bytes header, int rowsAt) {
  auto b = [&](int i) -> int { return ByteAt(header, i); };
  return {b(rowsAt + 1) * 16 - (b(0) >> 4), b(rowsAt) * 16 - (b(0) & 0x0F)};
}

// Reads the bits of an H.264 NAL unit payload, dropping its emulation
// prevention bytes (00 00 03). Past the end every bit reads as 0.
class NalBitReader {
 public:
  explicit NalBitReader(Bytes payload) : payload_(payload) {}

  std::uint32_t Bits(int count) {
    std::uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 1) | Bit();
    return value;
  }
  // Exp-Golomb codes; longer than 31 leading zeros is damage and reads as 0.
  std::uint32_t Unsigned() {
    int zeros = 0;
    while (Bit() == 0) {
      if (++zeros > 31 || overrun_) return 0;
    }
    return static_cast<std::uint32_t>((std::uint64_t{1} << zeros) - 1 + Bits(zeros));
  }
  std::int32_t Signed() {
    const std::uint32_t code = Unsigned();
    return (code & 1) ? static_cast<std::int32_t>((code + 1) / 2) : -static_cast<std::int32_t>(code / 2);
  }
  // True once a read went past the end of the payload.
  bool Overrun() const { return overrun_; }

 private:
  std::uint32_t Bit() {
    if (bitIndex_ == 0 && !LoadByte()) {
      overrun_ = true;
      return 0;
    }
    const std::uint32_t bit = (current_ >> (7 - bitIndex_)) & 1;
    bitIndex_ = (bitIndex_ + 1) % 8;
    return bit;
  }
  bool LoadByte() {
    if (byteIndex_ >= payload_.size()) return false;
    if (zeroRun_ >= 2 && payload_[byteIndex_] == 3) {
      ++byteIndex_;
      zeroRun_ = 0;
      if (byteIndex_ >= payload_.size()) return false;
    }
    current_ = payload_[byteIndex_++];
    zeroRun_ = current_ == 0 ? zeroRun_ + 1 : 0;
    return true;
  }

  Bytes payload_;
  std::size_t byteIndex_ = 0;
  int bitIndex_ = 0;
  std::uint8_t current_ = 0;
  int zeroRun_ = 0;
  bool overrun_ = false;
};

void SkipScalingList(NalBitReader& bits, int size) {
  int last = 8;
  int next = 8;
  for (int j = 0; j < size; ++j) {
    if (next != 0) next = (last + bits.Signed() + 256) % 256;
    if (next != 0) last = next;
  }
}

// H.264 carries no size in its frames: the first video tag of an H.264 FLV is
// the AVC sequence header (packet type 0), whose decoder configuration record
// holds the sequence parameter set with the coded size and the cropping.
PictureSize ParseAvcSize(Bytes tagData) {
  // Frame/codec byte, packet type, 24-bit composition time, then the record:
  // version, profile, compatibility, level, NAL length size, SPS count, and
  // the first SPS with its 16-bit length.
  if (ByteAt(tagData, 1) != 0 || (ByteAt(tagData, 10) & 0x1F) == 0) return {};
  const std::uint32_t spsLength = BigEndianAt(tagData, 11, 2);
  if (spsLength < 2 || tagData.size() < 13 || spsLength > tagData.size() - 13) return {};
  const Bytes sps = tagData.subspan(13, spsLength);
  if ((sps[0] & 0x1F) != 7) return {};

  NalBitReader bits(sps.subspan(1));
  const std::uint32_t profile = bits.Bits(8);
  bits.Bits(16);  // constraint flags, level
  bits.Unsigned();  // parameter set id
  std::uint32_t chromaFormat = 1;
  bool separateColourPlanes = false;
  switch (profile) {
    case 100: case 110: case 122: case 244: case 44: case 83: case 86: case 118: case 128: case 138: case 139:
    case 134: case 135:
      chromaFormat = bits.Unsigned();
      if (chromaFormat > 3) return {};
      if (chromaFormat == 3) separateColourPlanes = bits.Bits(1);
      bits.Unsigned();  // luma bit depth
      bits.Unsigned();  // chroma bit depth
      bits.Bits(1);     // transform bypass
      if (bits.Bits(1)) {  // scaling matrices present
        for (int i = 0; i < (chromaFormat == 3 ? 12 : 8); ++i) {
          if (bits.Bits(1)) SkipScalingList(bits, i < 6 ? 16 : 64);
        }
      }
      break;
    default:
      break;
  }
  bits.Unsigned();  // frame number size
  const std::uint32_t pictureOrderCountType = bits.Unsigned();
  if (pictureOrderCountType == 0) {
    bits.Unsigned();
  } else if (pictureOrderCountType == 1) {
    bits.Bits(1);
    bits.Signed();
    bits.Signed();
    const std::uint32_t cycle = bits.Unsigned();
    if (cycle > 255) return {};
    for (std::uint32_t i = 0; i < cycle; ++i) bits.Signed();
  }
  bits.Unsigned();  // reference frames
  bits.Bits(1);     // gaps in frame numbers
  const std::uint64_t widthInMacroblocks = std::uint64_t{bits.Unsigned()} + 1;
  const std::uint64_t heightInMapUnits = std::uint64_t{bits.Unsigned()} + 1;
  const std::uint32_t frameMacroblocksOnly = bits.Bits(1);
  if (!frameMacroblocksOnly) bits.Bits(1);  // adaptive frame/field
  bits.Bits(1);  // direct 8x8 inference
  std::uint64_t cropLeft = 0, cropRight = 0, cropTop = 0, cropBottom = 0;
  if (bits.Bits(1)) {
    cropLeft = bits.Unsigned();
    cropRight = bits.Unsigned();
    cropTop = bits.Unsigned();
    cropBottom = bits.Unsigned();
  }
  if (bits.Overrun()) return {};  // the set ended before the size did

  const bool monochrome = chromaFormat == 0 || separateColourPlanes;
  const std::uint64_t cropUnitX = monochrome ? 1 : (chromaFormat == 3 ? 1 : 2);
  const std::uint64_t cropUnitY = (monochrome ? 1 : (chromaFormat == 1 ? 2 : 1)) * (2 - frameMacroblocksOnly);
  const std::uint64_t codedWidth = widthInMacroblocks * 16;
  const std::uint64_t codedHeight = heightInMapUnits * 16 * (2 - frameMacroblocksOnly);
  const std::uint64_t cropX = cropUnitX * (cropLeft + cropRight);
  const std::uint64_t cropY = cropUnitY * (cropTop + cropBottom);
  // Sizes beyond what H.264 levels allow are damage, not pictures.
  constexpr std::uint64_t kLargest = 16384;
  if (codedWidth > kLargest || codedHeight > kLargest || cropX >= codedWidth || cropY >= codedHeight) return {};
  return {static_cast<int>(codedWidth - cropX), static_cast<int>(codedHeight - cropY)};
}

}  // namespace

PictureSize ParsePictureSize(const Tag& videoTag) {
  const Bytes header = videoTag.data.empty() ? Bytes{} : videoTag.data.subspan(1);
  PictureSize size;
  switch (videoTag.FirstDataByte() & 0x0F) {
    case kSorensonH263: size = ParseH263Size(header); break;
    case kScreenVideo:
    case kScreenVideo2: size = ParseScreenVideoSize(header); break;
    case kVp6: size = ParseVp6Size(header, 3); break;
    // VP6 with alpha puts a 24-bit alpha offset before the frame header.
    case kVp6Alpha: size = ParseVp6Size(header, 6); break;
    case kAvc: size = ParseAvcSize(videoTag.data); break;
    default: break;
  }
  // A crop larger than the coded size (only a damaged header gives one)
  // is no size at all.
  if (size.width < 0) size.width = 0;
  if (size.height < 0) size.height = 0;
  return size;
}

}  // namespace clipmill::flv
