// Plays a media file in mpv with null outputs, as a listener's player would
// open it, and reports whether it played to its end without errors.
#pragma once

#include <string>

namespace reel::test {

struct PlayerVerdict {
  bool played = false;  // mpv exited normally and printed no error
  std::string log;      // what mpv printed, for the failure message
};

PlayerVerdict PlayInMpv(const std::string& file);

}  // namespace reel::test
