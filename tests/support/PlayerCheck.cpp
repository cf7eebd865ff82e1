#include "tests/support/PlayerCheck.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <regex>

namespace reel::test {

namespace {

std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char character : text) {
    if (character == '\'')
      quoted += "'\\''";
    else
      quoted += character;
  }
  return quoted + "'";
}

}  // namespace

PlayerVerdict PlayInMpv(const std::string& file) {
  PlayerVerdict verdict;
  // No user configuration, no window, no sound device; decoding as fast as
  // it goes. mpv exits with 0 when the file played to its end.
  const std::string command = "mpv --no-config --vo=null --ao=null --untimed --msg-level=all=warn "
                              "--term-status-msg= " +
                              ShellQuoted(file) + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    verdict.log = "mpv could not be started";
    return verdict;
  }
  std::array<char, 4096> buffer;
  std::size_t count;
  while ((count = fread(buffer.data(), 1, buffer.size(), pipe)) > 0) verdict.log.append(buffer.data(), count);
  int status = pclose(pipe);
  bool exitedCleanly = status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  static const std::regex kError("error|invalid|corrupt|failed", std::regex::icase);
  verdict.played = exitedCleanly && !std::regex_search(verdict.log, kError);
  if (!exitedCleanly) verdict.log += "\n(mpv exit status " + std::to_string(status) + ")";
  return verdict;
}

}  // namespace reel::test
