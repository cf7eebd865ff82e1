// Turns the FLV file that the Flash writer produced into the final output:
// a fresh onMetaData script tag (duration, sizes, codecs, data rates and a
// keyframe index for seeking) followed by the input's audio and video tags,
// copied unchanged. The input's own script tags are dropped.
#pragma once

#include <string>

#include "control/FlvFormat.h"

namespace clipmill {

enum class FlvRewriteResult {
  Written,
  OutputNotCreated,      // no output file was made
  InputUnreadable,       // missing, empty or unmappable input; the output is left empty
  SameFile,              // input and output name one file; nothing was touched
  InputTooLarge,         // 4 GiB or more; no output file was made
  MetadataTooLarge,      // the keyframe index does not fit in one tag; no output file
  OutputTooLarge,        // the output would reach 4 GiB; no output file
  OutOfMemory,           // the keyframe index could not be allocated; the output is left empty
  MeasuringFailed,       // the null device could not be written; the output is left empty
  WriteFailed,           // writing the output failed; the partial output was removed
};

const char* DescribeFlvRewriteResult(FlvRewriteResult result);

class FlvMetadataWriter {
 public:
  // Reads `temporaryFile` and creates or truncates `outputFile`. The caller
  // learns nothing of the outcome and deletes the temporary file afterwards.
  void InjectMetadata(const std::string& temporaryFile, const std::string& outputFile);

  // The same rewrite, telling how it ended.
  static FlvRewriteResult Rewrite(const std::string& temporaryFile, const std::string& outputFile);

  // The rewrite of a file already in memory into an open, empty output
  // descriptor (which is left open). On failure the descriptor may hold a
  // partial file.
  static FlvRewriteResult Rewrite(flv::Bytes input, int outputDescriptor);
};

}  // namespace clipmill
