// libFuzzer target: the ID3 tag reader on arbitrary bytes, with the default
// limits and, for odd sizes, tiny ones taken from the input.
#include <cstddef>
#include <cstdint>

#include "filters/media/Mp3Tag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CMemoryByteSource source(std::string_view(reinterpret_cast<const char*>(data), size));
  TagLimits limits;
  if (size % 2 == 1) {
    limits.maxItems = 1 + data[0] % 8;
    limits.maxText = 1 + data[size - 1];
  }
  CMp3Tag tag(source, limits);
  // Every text is bytes of the input or a genre name, so none is longer than both.
  const size_t longest = size > 22 ? size : 22;
  size_t total = 0;
  for (const auto& item : tag.Items()) {
    if (item.size() > longest) __builtin_trap();
    total += item.size();
  }
  if (tag.Items().size() > limits.maxItems || total > limits.maxText) __builtin_trap();
  if (tag.Title().size() > longest || tag.Artist().size() > longest || tag.Genre().size() > longest) __builtin_trap();
  return 0;
}
