// libFuzzer target: the INI reader on arbitrary bytes (UTF-16 with either
// mark, UTF-8 with its mark, 8-bit text widened byte by byte).
#include <cstddef>
#include <cstdint>

#include "platform/win32/ProfileText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto widen = [](UINT, std::string_view eightBit) { return std::u16string(eightBit.begin(), eightBit.end()); };
  std::u16string text = ZYT::ProfileBytesToText(bytes, widen);
  if (text.size() > size) __builtin_trap();
  size_t kept = 0;
  for (const ZYT::ProfileSection& section : ZYT::ParseProfile(text)) {
    kept += section.name.size();
    for (const ZYT::ProfileEntry& entry : section.entries) {
      // Names and values are trimmed pieces of one line each.
      if (entry.key.find_first_of(u"\r\n") != std::u16string::npos) __builtin_trap();
      if (entry.value.find_first_of(u"\r\n") != std::u16string::npos) __builtin_trap();
      if (!entry.hasValue && !entry.value.empty()) __builtin_trap();
      if (!entry.key.empty() && (entry.key.front() == u' ' || entry.key.back() == u' ')) __builtin_trap();
      kept += entry.key.size() + entry.value.size();
    }
  }
  if (kept > text.size()) __builtin_trap();
  return 0;
}
