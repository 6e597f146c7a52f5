// How much of a tag the readers keep. A hostile file declares millions of
// comments, or frames as large as itself; the filter passes the machine's
// limits in, and a reader that stops at one says so (its cut flag).
#pragma once

#include <cstddef>

struct TagLimits {
  size_t maxItems = 10000;       // text items kept (vendor text, comments, frames)
  size_t maxText = 1024 * 1024;  // characters kept, all items together
};
