// reeltool COMMAND [ARGUMENTS...]: runs one subcommand of the table below.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/reeltool/ReelToolCommand.h"

namespace reeltool {
namespace {

constexpr Command kCommands[] = {
    {"flvmeta", "IN OUT", "write OUT as the FLV file IN behind a fresh onMetaData tag", RunFlvMeta},
    {"categories", "", "list the filter categories", RunCategories},
    {"filters", "[CATEGORY]", "list the registered filters", RunFilters},
    {"render", "FILE [--clock]", "render FILE to null renderers and report each stream", RunRender},
    {"transcode", "IN OUT [OPTIONS]",
     "convert IN to OUT.avi (--video NAME, --audio NAME) or OUT.wmv (--profile ID|FILE.prx, --size WxH)",
     RunTranscode},
};

void PrintHelp(std::FILE* stream) {
  std::fputs("usage: reeltool COMMAND [ARGUMENTS...]\n\ncommands:\n", stream);
  for (const Command& command : kCommands) {
    std::fprintf(stream, "  %-10s %-16s %s\n", command.name, command.usage, command.summary);
  }
}

}  // namespace
}  // namespace reeltool

int main(int argc, char** argv) {
  using namespace reeltool;
  // Filters that draw (the renderers, codec dialogs) start Qt; reeltool
  // shows no window and runs without a display too, unless told otherwise.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  if (argc < 2) {
    PrintHelp(stderr);
    return kUsageError;
  }
  if (std::strcmp(argv[1], "help") == 0 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    PrintHelp(stdout);
    return kSuccess;
  }
  for (const Command& command : kCommands) {
    if (std::strcmp(argv[1], command.name) == 0) return command.run(Arguments(argv + 2, argv + argc));
  }
  std::fprintf(stderr, "reeltool: unknown command '%s'\n\n", argv[1]);
  PrintHelp(stderr);
  return kUsageError;
}
