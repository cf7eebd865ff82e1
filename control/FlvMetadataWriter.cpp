#include "control/FlvMetadataWriter.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>
#include <vector>

#include "control/FlvOutput.h"

namespace clipmill {

using flv::AmfWriter;
using flv::Bytes;
using flv::OutputFile;
using flv::Tag;
using flv::TagWalker;

namespace {

constexpr char kMetadataCreator[] = "Quolrix Software 1.0";

// Lengths and offsets of input and output are 32-bit.
constexpr std::uint64_t kMaxFileLength = std::numeric_limits<std::uint32_t>::max();
// DataSize is a 24-bit field.
constexpr std::uint32_t kMaxDataSize = 0xFFFFFF;
// Each keyframe costs at least two AMF numbers (9 bytes each) in the payload;
// more keyframes than this can never fit in one script tag, so the index is
// refused before it is allocated.
constexpr std::uint64_t kMaxKeyframes = kMaxDataSize / 18;

// FLV file header: "FLV", version 1, flags, header size 9.
constexpr std::uint32_t kFileHeaderSize = 9;
constexpr std::uint8_t kHasAudioFlag = 0x04;
constexpr std::uint8_t kHasVideoFlag = 0x01;

// What the metadata says about the input, gathered by the walks.
struct MetadataRecord {
  bool hasKeyframes = false;
  bool hasVideo = false;
  bool hasAudio = false;
  bool hasMetadata = true;
  bool canSeekToEnd = false;
  bool stereo = false;
  double audioCodecId = 0, audioSampleRate = 0, audioSampleSize = 0;
  double videoCodecId = 0, width = 0, height = 0;
  double dataSize = 0, audioSize = 0, videoSize = 0;  // bytes
  std::uint32_t audioBytes = 0, videoBytes = 0;       // payload bytes
  std::uint32_t videoTagCount = 0, keyframeCount = 0;
  double lastTimestamp = 0, lastKeyframeTimestamp = 0, duration = 0;  // seconds
  double frameRate = 0, videoDataRate = 0, audioDataRate = 0;        // kbit/s for the rates
  std::vector<double> keyframePositions, keyframeTimes;
  double lastKeyframeLocation = 0, fileSize = 0;
  std::uint32_t propertyCount = 0;
  std::uint32_t payloadLength = 0;
};

// Kilobits per second. When every tag is at time 0 the duration is 0 and no
// rate can be formed; the metadata then says 0 rather than infinity or NaN,
// which players read as "unknown".
double PerSecond(double amount, double duration) { return duration != 0 ? amount / duration : 0; }

void GatherStatistics(Bytes input, MetadataRecord& record) {
  TagWalker walker(input);
  Tag tag;
  while (walker.Next(tag)) {
    if (tag.type == flv::kAudioTag) {
      record.dataSize += static_cast<double>(tag.TotalLength());
      record.audioSize += static_cast<double>(tag.TotalLength() - flv::kPreviousTagSizeSize);
      record.audioBytes += tag.dataSize;
      if (!record.hasAudio) {
        record.hasAudio = true;
        const flv::AudioFormat format = flv::ParseAudioFormat(tag.FirstDataByte());
        record.audioCodecId = format.codecId;
        record.audioSampleRate = format.sampleRate;
        record.audioSampleSize = format.sampleSize;
        record.stereo = format.stereo;
      }
    } else if (tag.type == flv::kVideoTag) {
      record.dataSize += static_cast<double>(tag.TotalLength());
      record.videoSize += static_cast<double>(tag.TotalLength() - flv::kPreviousTagSizeSize);
      record.videoBytes += tag.dataSize;
      record.videoTagCount += 1;
      if (!record.hasVideo) {
        record.hasVideo = true;
        record.videoCodecId = tag.FirstDataByte() & 0x0F;
        const flv::PictureSize size = flv::ParsePictureSize(tag);
        if (size.width != 0) record.width = size.width;
        if (size.height != 0) record.height = size.height;
      }
      // Only the keyframe bit decides, not the whole frame type: a
      // disposable frame (type 3) counts as a keyframe too.
      if (tag.IsKeyframe()) {
        record.keyframeCount += 1;
        record.canSeekToEnd = true;
        record.lastKeyframeTimestamp = tag.TimeSeconds();
      } else {
        record.canSeekToEnd = false;
      }
    }
    record.lastTimestamp = tag.TimeSeconds();
  }

  record.duration = record.lastTimestamp;
  record.hasKeyframes = record.keyframeCount > 0;
  if (record.videoTagCount != 0) record.frameRate = PerSecond(record.videoTagCount, record.duration);
  // The byte sums fit in 32 bits (the input does), their bit counts may not:
  // the rates are formed in double.
  if (record.videoBytes != 0) record.videoDataRate = PerSecond(record.videoBytes * 8.0 / 1024.0, record.duration);
  if (record.audioBytes != 0) record.audioDataRate = PerSecond(record.audioBytes * 8.0 / 1024.0, record.duration);
}

// Writes the whole script tag (header, payload, PreviousTagSize) with the
// record's property count and payload length, and answers how many
// top-level properties it wrote.
std::uint32_t WriteMetadataTag(OutputFile& output, const MetadataRecord& record) {
  output.WriteByte(flv::kScriptTag);
  output.WriteBigEndian(record.payloadLength, 3);
  output.WriteBigEndian(0, 3);  // time
  output.WriteByte(0);          // time extension
  output.WriteBigEndian(0, 3);  // stream id

  AmfWriter amf(output);
  amf.String("onMetaData");
  amf.BeginEcmaArray(record.propertyCount);
  std::uint32_t count = 0;
  auto number = [&](const char* key, double value) {
    amf.Key(key);
    amf.Number(value);
    ++count;
  };
  auto boolean = [&](const char* key, bool value) {
    amf.Key(key);
    amf.Boolean(value);
    ++count;
  };

  amf.Key("metadatacreator");
  amf.String(kMetadataCreator);
  ++count;
  boolean("hasKeyframes", record.hasKeyframes);
  boolean("hasVideo", record.hasVideo);
  boolean("hasAudio", record.hasAudio);
  boolean("hasMetadata", record.hasMetadata);
  boolean("canSeekToEnd", record.canSeekToEnd);
  number("duration", record.duration);
  number("datasize", record.dataSize);
  if (record.hasVideo) {
    number("videosize", record.videoSize);
    number("videocodecid", record.videoCodecId);
    if (record.width != 0) number("width", record.width);
    if (record.height != 0) number("height", record.height);
    number("framerate", record.frameRate);
    number("videodatarate", record.videoDataRate);
  }
  if (record.hasAudio) {
    number("audiosize", record.audioSize);
    number("audiocodecid", record.audioCodecId);
    number("audiosamplerate", record.audioSampleRate);
    number("audiosamplesize", record.audioSampleSize);
    boolean("stereo", record.stereo);
    number("audiodatarate", record.audioDataRate);
  }
  number("filesize", record.fileSize);
  number("lasttimestamp", record.lastTimestamp);
  if (record.hasKeyframes) {
    number("lastkeyframetimestamp", record.lastKeyframeTimestamp);
    number("lastkeyframelocation", record.lastKeyframeLocation);
    amf.Key("keyframes");
    amf.BeginObject();
    amf.Key("filepositions");
    amf.NumberArray(record.keyframePositions);
    amf.Key("times");
    amf.NumberArray(record.keyframeTimes);
    amf.EndObject();
    ++count;
  }
  amf.EndObject();

  output.WriteBigEndian(flv::kTagHeaderSize + record.payloadLength, 4);
  return count;
}

// Learns the payload length by writing the tag to the null device: once to
// count the properties, once more with that count. Every value that changes
// afterwards is a fixed-size number, so the length holds for the real tag.
bool MeasureMetadataTag(MetadataRecord& record) {
  const int nullDevice = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (nullDevice < 0) return false;
  OutputFile output(nullDevice);
  while (record.propertyCount == 0) {
    record.propertyCount = WriteMetadataTag(output, record);
    const std::uint64_t before = output.BytesWritten();
    WriteMetadataTag(output, record);
    const std::uint64_t tagLength = output.BytesWritten() - before - flv::kTagOverhead;
    record.payloadLength = static_cast<std::uint32_t>(std::min<std::uint64_t>(tagLength, kMaxDataSize + 1ull));
  }
  const bool written = output.Flush();
  ::close(nullDevice);
  return written;
}

// Positions of the keyframe tags in the output: the input's audio and video
// tags lie back to back there, starting at `firstTagOffset`.
void IndexKeyframes(Bytes input, MetadataRecord& record, std::uint64_t firstTagOffset) {
  TagWalker walker(input);
  Tag tag;
  std::uint64_t offset = 0;
  std::size_t index = 0;
  while (walker.Next(tag)) {
    if (tag.IsKeyframe() && index < record.keyframePositions.size()) {
      record.keyframePositions[index] = static_cast<double>(offset + firstTagOffset);
      record.keyframeTimes[index] = tag.TimeSeconds();
      ++index;
    }
    if (tag.IsAudioOrVideo()) offset += tag.TotalLength();
  }
  record.lastKeyframeLocation = record.keyframePositions.back();
}

// Copies the audio and video tags whole; runs of adjacent tags go out in
// one write straight from the mapping. A tag whose trailing PreviousTagSize
// is wrong (a damaged input) gets the right one, so that the output can be
// walked backwards too.
void CopyMediaTags(Bytes input, OutputFile& output) {
  TagWalker walker(input);
  Tag tag;
  std::uint64_t runStart = 0;
  std::uint64_t runEnd = 0;
  auto flushRun = [&] { output.Write(input.data() + runStart, runEnd - runStart); };
  while (walker.Next(tag)) {
    if (!tag.IsAudioOrVideo()) continue;
    if (tag.offset != runEnd) {
      flushRun();
      runStart = tag.offset;
    }
    const std::uint64_t trailerOffset = tag.offset + flv::kTagHeaderSize + tag.dataSize;
    const std::uint32_t previousTagSize = flv::kTagHeaderSize + tag.dataSize;
    if (flv::BigEndianAt(input, trailerOffset, 4) == previousTagSize) {
      runEnd = tag.offset + tag.TotalLength();
    } else {
      runEnd = trailerOffset;
      flushRun();
      output.WriteBigEndian(previousTagSize, 4);
      runStart = runEnd = tag.offset + tag.TotalLength();
    }
  }
  flushRun();
}

// Owns a read-only mapping of a whole file.
class MappedFile {
 public:
  MappedFile(int descriptor, std::size_t length) : length_(length) {
    void* address = ::mmap(nullptr, length, PROT_READ, MAP_PRIVATE | MAP_POPULATE, descriptor, 0);
    if (address == MAP_FAILED) return;
    address_ = address;
    // The walks read it front to back.
    ::madvise(address_, length_, MADV_SEQUENTIAL);
  }
  ~MappedFile() {
    if (address_) ::munmap(address_, length_);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  bool IsMapped() const { return address_ != nullptr; }
  Bytes bytes() const { return {static_cast<const std::uint8_t*>(address_), length_}; }

 private:
  void* address_ = nullptr;
  std::size_t length_;
};

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int descriptor) : descriptor_(descriptor) {}
  ~Descriptor() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return descriptor_; }
  bool IsOpen() const { return descriptor_ >= 0; }
  // Closes now; false when closing reported an error (lost delayed writes).
  bool Close() {
    const int descriptor = descriptor_;
    descriptor_ = -1;
    return descriptor < 0 || ::close(descriptor) == 0;
  }

 private:
  int descriptor_;
};

}  // namespace

const char* DescribeFlvRewriteResult(FlvRewriteResult result) {
  switch (result) {
    case FlvRewriteResult::Written: return "written";
    case FlvRewriteResult::OutputNotCreated: return "the output file cannot be created";
    case FlvRewriteResult::InputUnreadable: return "the input file cannot be read (missing or empty)";
    case FlvRewriteResult::SameFile: return "input and output are the same file";
    case FlvRewriteResult::InputTooLarge: return "the input file is 4 GiB or larger";
    case FlvRewriteResult::MetadataTooLarge: return "the keyframe index does not fit in one metadata tag";
    case FlvRewriteResult::OutputTooLarge: return "the output file would be 4 GiB or larger";
    case FlvRewriteResult::OutOfMemory: return "not enough memory for the keyframe index";
    case FlvRewriteResult::MeasuringFailed: return "the null device cannot be written";
    case FlvRewriteResult::WriteFailed: return "writing the output file failed";
  }
  return "unknown result";
}

FlvRewriteResult FlvMetadataWriter::Rewrite(Bytes input, int outputDescriptor) {
  if (input.size() > kMaxFileLength) return FlvRewriteResult::InputTooLarge;

  MetadataRecord record;
  GatherStatistics(input, record);

  if (record.hasKeyframes) {
    if (record.keyframeCount > kMaxKeyframes) return FlvRewriteResult::MetadataTooLarge;
    try {
      record.keyframePositions.assign(record.keyframeCount, 0.0);
      record.keyframeTimes.assign(record.keyframeCount, 0.0);
    } catch (const std::bad_alloc&) {
      std::fputs("Not enough memory for the keyframe index.\n", stderr);
      return FlvRewriteResult::OutOfMemory;
    }
  }

  if (!MeasureMetadataTag(record)) return FlvRewriteResult::MeasuringFailed;
  if (record.payloadLength > kMaxDataSize) return FlvRewriteResult::MetadataTooLarge;

  const std::uint64_t metadataTagLength = std::uint64_t{record.payloadLength} + flv::kTagOverhead;
  const std::uint64_t firstTagOffset = kFileHeaderSize + flv::kPreviousTagSizeSize + metadataTagLength;
  if (record.hasKeyframes) IndexKeyframes(input, record, firstTagOffset);
  const std::uint64_t fileSize = firstTagOffset + static_cast<std::uint64_t>(record.dataSize);
  if (fileSize > kMaxFileLength) return FlvRewriteResult::OutputTooLarge;
  record.fileSize = static_cast<double>(fileSize);

  OutputFile output(outputDescriptor);
  output.Write("FLV", 3);
  output.WriteByte(1);
  output.WriteByte((record.hasAudio ? kHasAudioFlag : 0) | (record.hasVideo ? kHasVideoFlag : 0));
  output.WriteBigEndian(kFileHeaderSize, 4);
  output.WriteBigEndian(0, 4);  // PreviousTagSize0
  WriteMetadataTag(output, record);
  CopyMediaTags(input, output);
  if (!output.Flush() || output.BytesWritten() != fileSize) return FlvRewriteResult::WriteFailed;
  return FlvRewriteResult::Written;
}

FlvRewriteResult FlvMetadataWriter::Rewrite(const std::string& temporaryFile, const std::string& outputFile) {
  // Non-blocking opens: a FIFO in place of either file must not hang the call.
  Descriptor input(::open(temporaryFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat inputStatus {};
  const bool inputKnown = input.IsOpen() && ::fstat(input.get(), &inputStatus) == 0;
  if (inputKnown) {
    if (static_cast<std::uint64_t>(inputStatus.st_size) > kMaxFileLength) return FlvRewriteResult::InputTooLarge;
    // Truncating the output would destroy the input.
    struct stat outputStatus {};
    if (::stat(outputFile.c_str(), &outputStatus) == 0 && outputStatus.st_dev == inputStatus.st_dev &&
        outputStatus.st_ino == inputStatus.st_ino) {
      return FlvRewriteResult::SameFile;
    }
  }

  Descriptor output(::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666));
  if (!output.IsOpen()) return FlvRewriteResult::OutputNotCreated;
  // Only a regular file can take the output (and be removed after a failure).
  struct stat outputStatus {};
  if (::fstat(output.get(), &outputStatus) != 0 || !S_ISREG(outputStatus.st_mode)) {
    return FlvRewriteResult::OutputNotCreated;
  }

  if (!inputKnown || !S_ISREG(inputStatus.st_mode) || inputStatus.st_size == 0) {
    return FlvRewriteResult::InputUnreadable;
  }
  const MappedFile mapping(input.get(), static_cast<std::size_t>(inputStatus.st_size));
  if (!mapping.IsMapped()) return FlvRewriteResult::InputUnreadable;

  FlvRewriteResult result = Rewrite(mapping.bytes(), output.get());
  if (!output.Close() && result == FlvRewriteResult::Written) result = FlvRewriteResult::WriteFailed;
  switch (result) {
    case FlvRewriteResult::Written:
    case FlvRewriteResult::OutOfMemory:
    case FlvRewriteResult::MeasuringFailed:
      break;
    default:
      // Never leave a file that looks like an FLV but is not a complete one.
      ::unlink(outputFile.c_str());
      break;
  }
  return result;
}

void FlvMetadataWriter::InjectMetadata(const std::string& temporaryFile, const std::string& outputFile) {
  Rewrite(temporaryFile, outputFile);
}

}  // namespace clipmill
