// The limits zytfilt index and its workers share.
#pragma once

#include <algorithm>
#include <cstddef>

#include "platform/win32/Limits.h"

namespace ZYT::Zytfilt {

// Text and property values kept of one file, in UTF-8 bytes; the rest of a
// larger file is not indexed. The ceiling bounds what a worker's frames may
// make the parent hold whatever the registry says.
inline size_t IndexTextLimit() {
  return std::clamp<size_t>(GetLimit(u"MaxIndexTextBytes", 8u << 20), 4096, 256u << 20);
}

// What a frame may add to the limit: an attribute's name and framing.
inline constexpr size_t kFrameSlack = 64 * 1024;

}  // namespace ZYT::Zytfilt
