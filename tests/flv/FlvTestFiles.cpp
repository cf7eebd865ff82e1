#include "tests/flv/FlvTestFiles.h"

#include <bit>
#include <cstring>

namespace flvtest {

namespace {

void PutBigEndian(std::string& out, std::uint64_t value, int width) {
  for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint64_t GetBigEndian(const std::string& in, std::uint64_t offset, int width) {
  std::uint64_t value = 0;
  for (int i = 0; i < width; ++i) {
    const std::uint64_t at = offset + i;
    value = (value << 8) | (at < in.size() ? static_cast<std::uint8_t>(in[at]) : 0);
  }
  return value;
}

void PutAmfString(std::string& out, const std::string& text) {
  PutBigEndian(out, text.size(), 2);
  out += text;
}

void PutAmfNumber(std::string& out, double value) {
  out.push_back(0x00);
  PutBigEndian(out, std::bit_cast<std::uint64_t>(value), 8);
}

// Strict AMF0 decoding of the value kinds metadata uses.
class AmfReader {
 public:
  AmfReader(const std::string& bytes, std::uint64_t begin, std::uint64_t end) : bytes_(bytes), at_(begin), end_(end) {}

  bool Value(AmfValue& value, int depth = 0) {
    if (depth > 8) return Fail("nesting too deep");
    std::uint8_t marker = 0;
    if (!Byte(marker)) return false;
    switch (marker) {
      case 0x00: {
        std::uint64_t bits = 0;
        if (!Integer(bits, 8)) return false;
        value.kind = AmfValue::Kind::Number;
        value.number = std::bit_cast<double>(bits);
        return true;
      }
      case 0x01: {
        std::uint8_t flag = 0;
        if (!Byte(flag)) return false;
        if (flag > 1) return Fail("boolean byte not 0 or 1");
        value.kind = AmfValue::Kind::Boolean;
        value.boolean = flag == 1;
        return true;
      }
      case 0x02:
        value.kind = AmfValue::Kind::String;
        return String(value.text);
      case 0x03:
        value.kind = AmfValue::Kind::Object;
        return Properties(value, depth);
      case 0x08: {
        std::uint64_t count = 0;
        if (!Integer(count, 4)) return false;
        value.kind = AmfValue::Kind::EcmaArray;
        value.declaredCount = static_cast<std::uint32_t>(count);
        return Properties(value, depth);
      }
      case 0x0A: {
        std::uint64_t count = 0;
        if (!Integer(count, 4)) return false;
        if (count > end_ - at_) return Fail("strict array longer than the tag");
        value.kind = AmfValue::Kind::StrictArray;
        for (std::uint64_t i = 0; i < count; ++i) {
          AmfValue element;
          if (!Value(element, depth + 1)) return false;
          value.elements.push_back(std::move(element));
        }
        return true;
      }
      default:
        return Fail("unexpected AMF marker " + std::to_string(marker));
    }
  }

  bool String(std::string& text) {
    std::uint64_t length = 0;
    if (!Integer(length, 2)) return false;
    if (length > end_ - at_) return Fail("string runs past the tag");
    text = bytes_.substr(at_, length);
    at_ += length;
    return true;
  }

  bool AtEnd() const { return at_ == end_; }
  const std::string& error() const { return error_; }

 private:
  bool Properties(AmfValue& value, int depth) {
    for (;;) {
      std::string key;
      if (!String(key)) return false;
      if (key.empty()) {
        std::uint8_t marker = 0;
        if (!Byte(marker)) return false;
        if (marker != 0x09) return Fail("empty key without object end");
        return true;
      }
      AmfValue property;
      if (!Value(property, depth + 1)) return false;
      value.properties.push_back({std::move(key), std::move(property)});
    }
  }
  bool Byte(std::uint8_t& byte) {
    std::uint64_t value = 0;
    if (!Integer(value, 1)) return false;
    byte = static_cast<std::uint8_t>(value);
    return true;
  }
  bool Integer(std::uint64_t& value, int width) {
    if (static_cast<std::uint64_t>(width) > end_ - at_) return Fail("value runs past the tag");
    value = GetBigEndian(bytes_, at_, width);
    at_ += width;
    return true;
  }
  bool Fail(const std::string& why) {
    if (error_.empty()) error_ = why + " at " + std::to_string(at_);
    return false;
  }

  const std::string& bytes_;
  std::uint64_t at_;
  std::uint64_t end_;
  std::string error_;
};

}  // namespace

FlvBuilder::FlvBuilder(std::uint8_t flags) {
  bytes_ = "FLV";
  bytes_.push_back(1);
  bytes_.push_back(static_cast<char>(flags));
  PutBigEndian(bytes_, 9, 4);
  PutBigEndian(bytes_, 0, 4);
}

FlvBuilder& FlvBuilder::Tag(std::uint8_t type, std::int64_t timeMs, const std::string& data) {
  const auto time = static_cast<std::uint32_t>(timeMs);
  bytes_.push_back(static_cast<char>(type));
  PutBigEndian(bytes_, data.size(), 3);
  PutBigEndian(bytes_, time & 0xFFFFFF, 3);
  bytes_.push_back(static_cast<char>(time >> 24));
  PutBigEndian(bytes_, 0, 3);
  bytes_ += data;
  PutBigEndian(bytes_, data.size() + 11, 4);
  return *this;
}

FlvBuilder& FlvBuilder::Audio(std::int64_t timeMs, std::uint8_t format, std::size_t payload) {
  std::string data(payload, '\x5A');
  if (!data.empty()) data[0] = static_cast<char>(format);
  return Tag(8, timeMs, data);
}

FlvBuilder& FlvBuilder::Video(std::int64_t timeMs, std::uint8_t frameAndCodec, std::size_t payload) {
  std::string data(payload, '\x00');
  if (!data.empty()) data[0] = static_cast<char>(frameAndCodec);
  return Tag(9, timeMs, data);
}

FlvBuilder& FlvBuilder::OwnMetadata(std::int64_t timeMs) {
  std::string payload;
  payload.push_back(0x02);
  PutAmfString(payload, "onMetaData");
  payload.push_back(0x08);
  PutBigEndian(payload, 2, 4);
  PutAmfString(payload, "duration");
  PutAmfNumber(payload, 1234.5);
  PutAmfString(payload, "encoder");
  payload.push_back(0x02);
  PutAmfString(payload, "some other writer");
  PutBigEndian(payload, 0, 2);
  payload.push_back(0x09);
  return Tag(18, timeMs, payload);
}

const AmfValue* AmfValue::Find(const std::string& key) const {
  for (const auto& [name, value] : properties) {
    if (name == key) return &value;
  }
  return nullptr;
}

std::vector<std::string> AmfValue::Keys() const {
  std::vector<std::string> keys;
  for (const auto& property : properties) keys.push_back(property.key);
  return keys;
}

ParsedFlv ParseFlv(const std::string& file) {
  ParsedFlv parsed;
  auto fail = [&](const std::string& why) {
    parsed.error = why;
    return parsed;
  };
  if (file.size() < 13) return fail("shorter than a header");
  if (file.compare(0, 3, "FLV") != 0 || file[3] != 1) return fail("no FLV signature and version 1");
  parsed.flags = static_cast<std::uint8_t>(file[4]);
  if (GetBigEndian(file, 5, 4) != 9) return fail("header size not 9");
  if (GetBigEndian(file, 9, 4) != 0) return fail("PreviousTagSize0 not 0");

  std::uint64_t at = 13;
  while (at < file.size()) {
    if (file.size() - at < 15) return fail("trailing bytes at " + std::to_string(at));
    FlvTagInfo tag;
    tag.offset = at;
    tag.type = static_cast<std::uint8_t>(file[at]);
    tag.dataSize = static_cast<std::uint32_t>(GetBigEndian(file, at + 1, 3));
    tag.timeMs = static_cast<std::int32_t>((GetBigEndian(file, at + 7, 1) << 24) | GetBigEndian(file, at + 4, 3));
    if (tag.dataSize + 15ull > file.size() - at) return fail("tag runs past the end at " + std::to_string(at));
    if (GetBigEndian(file, at + 11 + tag.dataSize, 4) != tag.dataSize + 11ull) {
      return fail("wrong PreviousTagSize after the tag at " + std::to_string(at));
    }
    tag.data = file.substr(at + 11, tag.dataSize);
    parsed.tags.push_back(std::move(tag));
    at += parsed.tags.back().dataSize + 15ull;
  }

  if (!parsed.tags.empty() && parsed.tags.front().type == 18) {
    const FlvTagInfo& script = parsed.tags.front();
    AmfReader reader(file, script.offset + 11, script.offset + 11 + script.dataSize);
    AmfValue name;
    if (!reader.Value(name) || name.kind != AmfValue::Kind::String) return fail("script tag: " + reader.error());
    if (name.text == "onMetaData") {
      AmfValue metadata;
      if (!reader.Value(metadata)) return fail("onMetaData: " + reader.error());
      if (!reader.AtEnd()) return fail("bytes after the onMetaData array");
      parsed.metadata = std::move(metadata);
      parsed.metadataPayloadLength = script.dataSize;
    }
  }
  return parsed;
}

std::vector<FlvTagInfo> CompleteMediaTags(const std::string& file) {
  std::vector<FlvTagInfo> tags;
  std::uint64_t at = GetBigEndian(file, 5, 4) + 4;
  while (at + 11 <= file.size()) {
    FlvTagInfo tag;
    tag.offset = at;
    tag.type = static_cast<std::uint8_t>(file[at]);
    tag.dataSize = static_cast<std::uint32_t>(GetBigEndian(file, at + 1, 3));
    tag.timeMs = static_cast<std::int32_t>((GetBigEndian(file, at + 7, 1) << 24) | GetBigEndian(file, at + 4, 3));
    const std::uint64_t total = tag.dataSize + 15ull;
    if (at + total > file.size()) break;
    if (tag.type == 8 || tag.type == 9) {
      tag.data = file.substr(at + 11, tag.dataSize);
      tags.push_back(std::move(tag));
    }
    at += total;
  }
  return tags;
}

}  // namespace flvtest
