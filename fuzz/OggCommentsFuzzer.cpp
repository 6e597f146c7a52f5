// libFuzzer target: the Vorbis comment reader on arbitrary bytes, with the
// default limits and, for odd sizes, tiny ones taken from the input.
#include <cstddef>
#include <cstdint>

#include "filters/media/OggComments.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CMemoryByteSource source(std::string_view(reinterpret_cast<const char*>(data), size));
  TagLimits limits;
  if (size % 2 == 1) {
    limits.maxItems = 1 + data[0] % 8;
    limits.maxText = 1 + data[size - 1];
  }
  OggComments comments;
  bool read = ReadOggComments(source, comments, limits);
  size_t total = 0;
  for (const auto& item : comments.items) total += item.size();
  // Values are bytes of the input, one character each, and no more than the limits keep.
  if (total > size || total > limits.maxText || comments.items.size() > limits.maxItems) __builtin_trap();
  if (!read && comments.valueChunks != 0) __builtin_trap();
  if (comments.cut && comments.valueChunks != 4) __builtin_trap();
  return 0;
}
