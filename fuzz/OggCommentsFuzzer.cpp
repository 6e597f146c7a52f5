// libFuzzer target: the Vorbis comment reader on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "filters/media/OggComments.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CMemoryByteSource source(std::string_view(reinterpret_cast<const char*>(data), size));
  OggComments comments;
  bool read = ReadOggComments(source, comments);
  size_t total = 0;
  for (const auto& item : comments.items) total += item.size();
  // Values are bytes of the input, one character each.
  if (total > size) __builtin_trap();
  if (!read && comments.valueChunks != 0) __builtin_trap();
  return 0;
}
