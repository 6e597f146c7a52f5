// libFuzzer target: the message splitter (top-level parts and their names),
// with the default limits and, for odd sizes, tiny ones taken from the input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/mime/MimeMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ZYT::MimeLimits limits;
  if (size % 2 == 1) {
    limits.maxParts = 1 + data[0] % 4;
    limits.maxHeaders = 1 + data[size - 1] % 8;
    limits.maxHeaderBytes = 8 + data[size / 2];
  }
  ZYT::MimeMessage message;
  if (message.Parse(std::string_view(reinterpret_cast<const char*>(data), size), limits)) {
    for (const auto& part : message.Parts())
      if (part.dispositionFilename && part.dispositionFilename->size() > 4 * size + 16) __builtin_trap();
    // Every top-level part after the first began at a delimiter the limit counted.
    if (message.Parts().size() > limits.maxParts) __builtin_trap();
    if (message.subject.size() > 4 * limits.maxHeaderBytes + 16) __builtin_trap();
  }
  return 0;
}
