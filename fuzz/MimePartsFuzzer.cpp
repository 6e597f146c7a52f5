// libFuzzer target: the message splitter (top-level parts and their names),
// with the default limits and, for odd sizes, tiny ones taken from the input;
// the parts alone (content off) must be the parts of the full parse.
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
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  ZYT::MimeMessage message;
  const bool full = message.Parse(bytes, limits);
  if (full) {
    for (const auto& part : message.Parts())
      if (part.dispositionFilename && part.dispositionFilename->size() > 4 * size + 16) __builtin_trap();
    // Every top-level part after the first began at a delimiter the limit counted.
    if (message.Parts().size() > limits.maxParts) __builtin_trap();
    if (message.subject.size() > 4 * limits.maxHeaderBytes + 16) __builtin_trap();
  }
  ZYT::MimeLimits partsOnly = limits;
  partsOnly.content = false;
  ZYT::MimeMessage bare;
  if (bare.Parse(bytes, partsOnly) != full) __builtin_trap();
  if (full) {
    if (bare.Parts().size() != message.Parts().size()) __builtin_trap();
    for (size_t i = 0; i < bare.Parts().size(); ++i)
      if (bare.Parts()[i].contentType != message.Parts()[i].contentType ||
          bare.Parts()[i].dispositionFilename != message.Parts()[i].dispositionFilename)
        __builtin_trap();
  }
  return 0;
}
