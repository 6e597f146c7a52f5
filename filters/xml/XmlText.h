// The XML filter's reading of a file's bytes as text: FF FE at the start of
// an even-sized file is the UTF-16 little-endian mark; anything else is text
// in the system code page, whatever encoding the document declares.
#pragma once

#include <string>
#include <string_view>

namespace ZYT {

bool HasUtf16Mark(std::string_view bytes);
// UTF-16 little-endian units to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(std::string_view bytes);

}  // namespace ZYT
