// libFuzzer target: the whole metadata rewrite over arbitrary input bytes.
// Besides crashes and sanitizer reports it stops on any output that is not a
// complete, consistent FLV file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "control/FlvMetadataWriter.h"
#include "tests/flv/FlvTestFiles.h"

namespace {

[[noreturn]] void Fault(const std::string& what) {
  std::fprintf(stderr, "inconsistent output: %s\n", what.c_str());
  std::abort();
}

std::string ReadBack(int descriptor) {
  std::string bytes;
  char buffer[65536];
  off_t at = 0;
  ssize_t read;
  while ((read = ::pread(descriptor, buffer, sizeof buffer, at)) > 0) {
    bytes.append(buffer, static_cast<std::size_t>(read));
    at += read;
  }
  return bytes;
}

void CheckOutput(const std::string& input, const std::string& output) {
  const flvtest::ParsedFlv parsed = flvtest::ParseFlv(output);
  if (!parsed.error.empty()) Fault(parsed.error);
  if (!parsed.metadata) Fault("no onMetaData tag first");
  const flvtest::AmfValue& metadata = *parsed.metadata;
  if (metadata.declaredCount != metadata.properties.size()) Fault("ECMA count");
  const flvtest::AmfValue* fileSize = metadata.Find("filesize");
  if (!fileSize || fileSize->number != static_cast<double>(output.size())) Fault("filesize");
  const auto media = flvtest::CompleteMediaTags(input);
  if (parsed.tags.size() != media.size() + 1) Fault("copied tag count");
  for (std::size_t i = 0; i < media.size(); ++i) {
    if (parsed.tags[i + 1].data != media[i].data) Fault("copied tag data");
  }
  if (const flvtest::AmfValue* keyframes = metadata.Find("keyframes")) {
    const flvtest::AmfValue* positions = keyframes->Find("filepositions");
    if (!positions) Fault("no filepositions");
    std::size_t tag = 0;
    for (const flvtest::AmfValue& position : positions->elements) {
      while (tag < parsed.tags.size() && static_cast<double>(parsed.tags[tag].offset) < position.number) ++tag;
      if (tag == parsed.tags.size() || static_cast<double>(parsed.tags[tag].offset) != position.number ||
          parsed.tags[tag].type != 9) {
        Fault("file position not at a video tag");
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const int output = ::memfd_create("flv-output", MFD_CLOEXEC);
  if (output < 0 || ::ftruncate(output, 0) != 0 || ::lseek(output, 0, SEEK_SET) != 0) std::abort();
  const auto result = clipmill::FlvMetadataWriter::Rewrite(clipmill::flv::Bytes(data, size), output);
  if (result == clipmill::FlvRewriteResult::Written) {
    CheckOutput(std::string(reinterpret_cast<const char*>(data), size), ReadBack(output));
  }
  return 0;
}
