// Test-side FLV tools, written apart from the production code so that they
// can judge it: a builder of synthetic FLV files and a strict reader that
// checks a whole file (header, every tag, every PreviousTagSize, the AMF0
// metadata) and reports the first fault it finds.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace flvtest {

// Builds an FLV file tag by tag; each tag gets a correct PreviousTagSize.
class FlvBuilder {
 public:
  // The 9-byte header (flags as given) and PreviousTagSize0.
  explicit FlvBuilder(std::uint8_t flags = 0x05);
  FlvBuilder& Tag(std::uint8_t type, std::int64_t timeMs, const std::string& data);
  FlvBuilder& Audio(std::int64_t timeMs, std::uint8_t format, std::size_t payload = 20);
  FlvBuilder& Video(std::int64_t timeMs, std::uint8_t frameAndCodec, std::size_t payload = 30);
  // A script tag holding an onMetaData of its own (as writers put first).
  FlvBuilder& OwnMetadata(std::int64_t timeMs = 0);
  std::string& bytes() { return bytes_; }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

struct AmfProperty;

struct AmfValue {
  enum class Kind { Number, Boolean, String, Object, EcmaArray, StrictArray };
  Kind kind = Kind::Number;
  double number = 0;
  bool boolean = false;
  std::string text;
  std::vector<AmfProperty> properties;  // objects and ECMA arrays, in file order
  std::vector<AmfValue> elements;                            // strict arrays
  std::uint32_t declaredCount = 0;                           // ECMA arrays

  const AmfValue* Find(const std::string& key) const;
  std::vector<std::string> Keys() const;
};

struct AmfProperty {
  std::string key;
  AmfValue value;
};

struct FlvTagInfo {
  std::uint64_t offset = 0;
  std::uint8_t type = 0;
  std::uint32_t dataSize = 0;
  std::int32_t timeMs = 0;
  std::string data;
};

struct ParsedFlv {
  std::string error;  // empty when the whole file is well formed
  std::uint8_t flags = 0;
  std::vector<FlvTagInfo> tags;
  std::optional<AmfValue> metadata;  // the ECMA array of the first tag, when it is onMetaData
  std::uint32_t metadataPayloadLength = 0;
};

// Reads a complete FLV file strictly: every tag must fit and be followed by
// its exact PreviousTagSize, and the file must end with the last tag.
ParsedFlv ParseFlv(const std::string& file);

// The audio and video tags of an input as the injector must copy them: the
// complete ones in order, stopping at the first tag that runs past the end.
std::vector<FlvTagInfo> CompleteMediaTags(const std::string& file);

}  // namespace flvtest
