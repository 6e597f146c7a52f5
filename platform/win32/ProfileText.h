// The reader of INI files (profiles) behind GetPrivateProfileStringW: bytes
// in, sections and entries out, nothing looked up, no case rules, no files.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/WinTypes.h"

namespace ZYT {

struct ProfileEntry {
  std::u16string key;
  std::u16string value;
  bool hasValue = false;  // false for a line without "="
};

struct ProfileSection {
  std::u16string name;  // empty for the lines before the first section header
  std::vector<ProfileEntry> entries;
};

// Decodes 8-bit text in a code page (65001 for a file that starts with the
// UTF-8 byte-order mark, 0 for the system code page otherwise).
using ProfileDecoder = std::function<std::u16string(UINT codePage, std::string_view bytes)>;

// A file's text: UTF-16 (either byte order) after its byte-order mark, UTF-8
// after its mark, else 8-bit text through decode. An odd last byte of UTF-16
// text is dropped.
std::u16string ProfileBytesToText(std::string_view bytes, const ProfileDecoder& decode);

// Sections in file order, as Windows reads them: blanks around names, keys and
// values are dropped; "[name]" runs to the last "]" of its line; a line
// starting with ";" is a comment; a line without "=" is a key without value;
// lines before the first header form the section with the empty name.
std::vector<ProfileSection> ParseProfile(std::u16string_view text);

}  // namespace ZYT
