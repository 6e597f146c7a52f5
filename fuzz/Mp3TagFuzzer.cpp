// libFuzzer target: the ID3 tag reader on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "filters/media/Mp3Tag.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CMemoryByteSource source(std::string_view(reinterpret_cast<const char*>(data), size));
  CMp3Tag tag(source);
  // Every text is bytes of the input or a genre name, so none is longer than both.
  const size_t longest = size > 22 ? size : 22;
  for (const auto& item : tag.Items())
    if (item.size() > longest) __builtin_trap();
  if (tag.Title().size() > longest || tag.Artist().size() > longest || tag.Genre().size() > longest) __builtin_trap();
  return 0;
}
