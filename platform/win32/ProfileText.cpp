#include "platform/win32/ProfileText.h"

namespace ZYT {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\v' || c == u'\f' || c == 0; }

std::u16string_view Trim(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

std::u16string Utf16(std::string_view bytes, bool bigEndian) {
  std::u16string text(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    auto hi = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 0 : 1)]);
    auto lo = static_cast<unsigned char>(bytes[2 * i + (bigEndian ? 1 : 0)]);
    text[i] = static_cast<char16_t>((hi << 8) | lo);
  }
  return text;
}

}  // namespace

std::u16string ProfileBytesToText(std::string_view bytes, const ProfileDecoder& decode) {
  if (bytes.starts_with("\xFF\xFE")) return Utf16(bytes.substr(2), false);
  if (bytes.starts_with("\xFE\xFF")) return Utf16(bytes.substr(2), true);
  if (bytes.starts_with("\xEF\xBB\xBF")) return decode(65001, bytes.substr(3));
  return decode(0, bytes);
}

std::vector<ProfileSection> ParseProfile(std::u16string_view text) {
  std::vector<ProfileSection> sections(1);
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find_first_of(u"\r\n", pos);
    if (end == std::u16string_view::npos) end = text.size();
    std::u16string_view line = Trim(text.substr(pos, end - pos));
    pos = end + 1;
    if (line.empty() || line.front() == u';') continue;
    if (line.front() == u'[') {
      size_t close = line.rfind(u']');
      if (close != std::u16string_view::npos) {
        sections.push_back({std::u16string(Trim(line.substr(1, close - 1))), {}});
        continue;
      }
      // Without its "]" the line is an entry like any other.
    }
    ProfileEntry entry;
    size_t equals = line.find(u'=');
    if (equals == std::u16string_view::npos) {
      entry.key = line;
    } else {
      entry.key = Trim(line.substr(0, equals));
      entry.value = Trim(line.substr(equals + 1));
      entry.hasValue = true;
    }
    sections.back().entries.push_back(std::move(entry));
  }
  return sections;
}

}  // namespace ZYT
