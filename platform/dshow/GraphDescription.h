// A readable description of a graph: each filter with its pins, their
// connections and media types. For diagnostics and the engineer's tool.
#pragma once

#include <string>

#include "platform/dshow/DShowInterfaces.h"

namespace reel {
std::string DescribeGraph(IFilterGraph* graph);
}  // namespace reel
