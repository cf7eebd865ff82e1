// The application's string table: user-visible texts by number, as the
// resource script of the Windows program numbers them.
#pragma once

#include <string>

namespace app {

enum StringId : unsigned {
  IDS_OPEN_FAILED = 112,
  IDS_EXTRACT_FAILED = 113,
};

// The text of a string table entry; empty for a number the table lacks.
std::string LoadString(unsigned id);

}  // namespace app
