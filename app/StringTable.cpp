#include "app/StringTable.h"

#include <iterator>

namespace app {
namespace {

struct Entry {
  unsigned id;
  const char* text;
};

// Sorted by number; one line per string.
constexpr Entry kStrings[] = {
    {IDS_OPEN_FAILED, "Open failed"},
    {IDS_EXTRACT_FAILED, "Extract failed"},
};

}  // namespace

std::string LoadString(unsigned id) {
  for (const Entry& entry : kStrings) {
    if (entry.id == id) return entry.text;
  }
  return {};
}

}  // namespace app
