// reeltool flvmeta IN OUT: the control's FLV metadata rewrite on any file.
#include <cstdio>

#include "control/FlvMetadataWriter.h"
#include "tools/reeltool/ReelToolCommand.h"

namespace reeltool {

int RunFlvMeta(const Arguments& arguments) {
  if (arguments.size() != 2) {
    std::fputs("usage: reeltool flvmeta IN OUT\n", stderr);
    return kUsageError;
  }
  const clipmill::FlvRewriteResult result = clipmill::FlvMetadataWriter::Rewrite(arguments[0], arguments[1]);
  if (result != clipmill::FlvRewriteResult::Written) {
    std::fprintf(stderr, "reeltool flvmeta: %s: %s\n", arguments[0].c_str(), clipmill::DescribeFlvRewriteResult(result));
    return kFailure;
  }
  return kSuccess;
}

}  // namespace reeltool
