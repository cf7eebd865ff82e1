#include "control/FlvOutput.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstring>

namespace clipmill::flv {

namespace {

constexpr std::size_t kBufferSize = 64 * 1024;

enum AmfMarker : std::uint8_t {
  kAmfNumber = 0x00,
  kAmfBoolean = 0x01,
  kAmfString = 0x02,
  kAmfObject = 0x03,
  kAmfEcmaArray = 0x08,
  kAmfObjectEnd = 0x09,
  kAmfStrictArray = 0x0A,
};

}  // namespace

OutputFile::OutputFile(int descriptor) : descriptor_(descriptor) { buffer_.reserve(kBufferSize); }

void OutputFile::Write(const void* data, std::size_t size) {
  if (failed_) return;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  bytesWritten_ += size;
  if (buffer_.size() + size <= kBufferSize) {
    buffer_.insert(buffer_.end(), bytes, bytes + size);
    return;
  }
  Flush();
  if (size < kBufferSize) {
    buffer_.insert(buffer_.end(), bytes, bytes + size);
  } else {
    WriteToDescriptor(bytes, size);
  }
}

void OutputFile::WriteByte(std::uint8_t value) { Write(&value, 1); }

void OutputFile::WriteBigEndian(std::uint32_t value, int width) {
  std::uint8_t bytes[4];
  for (int i = 0; i < width; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (8 * (width - 1 - i)));
  Write(bytes, width);
}

void OutputFile::WriteDouble(double value) {
  const auto bits = std::bit_cast<std::uint64_t>(value);
  std::uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(bits >> (8 * (7 - i)));
  Write(bytes, 8);
}

bool OutputFile::Flush() {
  if (!failed_ && !buffer_.empty()) WriteToDescriptor(buffer_.data(), buffer_.size());
  buffer_.clear();
  return !failed_;
}

void OutputFile::WriteToDescriptor(const std::uint8_t* data, std::size_t size) {
  while (size > 0 && !failed_) {
    const ssize_t written = ::write(descriptor_, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      failed_ = true;
    } else if (written == 0) {
      failed_ = true;
    } else {
      data += written;
      size -= static_cast<std::size_t>(written);
    }
  }
}

void AmfWriter::RawString(std::string_view text) {
  // AMF0 short strings carry a 16-bit length; longer text is cut, never wrapped.
  const std::size_t length = std::min<std::size_t>(text.size(), 0xFFFF);
  output_.WriteBigEndian(static_cast<std::uint32_t>(length), 2);
  output_.Write(text.data(), length);
}

void AmfWriter::Key(std::string_view key) { RawString(key); }

void AmfWriter::Number(double value) {
  output_.WriteByte(kAmfNumber);
  output_.WriteDouble(value);
}

void AmfWriter::Boolean(bool value) {
  output_.WriteByte(kAmfBoolean);
  output_.WriteByte(value ? 1 : 0);
}

void AmfWriter::String(std::string_view value) {
  output_.WriteByte(kAmfString);
  RawString(value);
}

void AmfWriter::BeginObject() { output_.WriteByte(kAmfObject); }

void AmfWriter::BeginEcmaArray(std::uint32_t propertyCount) {
  output_.WriteByte(kAmfEcmaArray);
  output_.WriteBigEndian(propertyCount, 4);
}

void AmfWriter::EndObject() {
  // An empty key followed by the object-end marker.
  output_.WriteBigEndian(0, 2);
  output_.WriteByte(kAmfObjectEnd);
}

void AmfWriter::NumberArray(std::span<const double> values) {
  output_.WriteByte(kAmfStrictArray);
  output_.WriteBigEndian(static_cast<std::uint32_t>(values.size()), 4);
  for (double value : values) Number(value);
}

}  // namespace clipmill::flv
