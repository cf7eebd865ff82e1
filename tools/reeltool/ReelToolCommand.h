// A reeltool subcommand: its name, its usage, and the function that runs it
// with the arguments after the name. Each subcommand lives in a file of its
// own and is listed once in the table of ReelTool.cpp.
#pragma once

#include <string>
#include <vector>

namespace reeltool {

using Arguments = std::vector<std::string>;

struct Command {
  const char* name;
  const char* usage;    // the arguments, as the help shows them
  const char* summary;  // one line
  int (*run)(const Arguments& arguments);  // answers the exit status
};

// Exit statuses shared by every subcommand.
constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsageError = 2;

int RunFlvMeta(const Arguments& arguments);
int RunCategories(const Arguments& arguments);
int RunFilters(const Arguments& arguments);
int RunRender(const Arguments& arguments);
int RunTranscode(const Arguments& arguments);

}  // namespace reeltool
