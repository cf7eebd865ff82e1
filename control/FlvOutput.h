// Writing FLV output: a buffered file writer that counts what it wrote and
// keeps the first failure, and the AMF0 values of a script tag on top of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace clipmill::flv {

// Writes to a file descriptor it does not own. Small writes are gathered in
// a buffer; large ones go straight to the descriptor. After a failed write
// every later write is skipped and Failed() stays true.
class OutputFile {
 public:
  explicit OutputFile(int descriptor);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void Write(const void* data, std::size_t size);
  void WriteByte(std::uint8_t value);
  // The low `width` bytes (1 to 4) of `value`, most significant first.
  void WriteBigEndian(std::uint32_t value, int width);
  void WriteDouble(double value);  // IEEE 754, big-endian

  // Hands the buffer to the descriptor; false when any write failed.
  bool Flush();
  std::uint64_t BytesWritten() const { return bytesWritten_; }
  bool Failed() const { return failed_; }

 private:
  void WriteToDescriptor(const std::uint8_t* data, std::size_t size);

  int descriptor_;
  std::vector<std::uint8_t> buffer_;
  std::uint64_t bytesWritten_ = 0;
  bool failed_ = false;
};

// AMF0 as script tags carry it. Keys of object and ECMA array properties are
// bare strings (16-bit length and bytes, no type marker).
class AmfWriter {
 public:
  explicit AmfWriter(OutputFile& output) : output_(output) {}

  void Key(std::string_view key);
  void Number(double value);
  void Boolean(bool value);
  void String(std::string_view value);
  void BeginObject();
  void BeginEcmaArray(std::uint32_t propertyCount);
  void EndObject();  // closes an object or an ECMA array
  void NumberArray(std::span<const double> values);  // strict array of numbers

 private:
  void RawString(std::string_view text);

  OutputFile& output_;
};

}  // namespace clipmill::flv
