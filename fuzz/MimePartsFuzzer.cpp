// libFuzzer target: the message splitter (top-level parts and their names).
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/mime/MimeMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ZYT::MimeMessage message;
  if (message.Parse(std::string_view(reinterpret_cast<const char*>(data), size))) {
    for (const auto& part : message.Parts())
      if (part.dispositionFilename && part.dispositionFilename->size() > 4 * size + 16) __builtin_trap();
  }
  return 0;
}
