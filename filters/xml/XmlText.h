// The XML filter's reading of a file's bytes as text: FF FE at the start of
// an even-sized file is the UTF-16 little-endian mark; anything else is text
// in the system code page, whatever encoding the document declares.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ZYT {

bool HasUtf16Mark(std::string_view bytes);
// UTF-16 little-endian units to UTF-8; a lone surrogate becomes U+FFFD.
std::string Utf16LeToUtf8(std::string_view bytes);
// Well-formed UTF-8: no overlong form, no surrogate, nothing past U+10FFFF,
// nothing cut off; exactly the text that decoding and encoding again keeps.
bool IsWellFormedUtf8(std::string_view bytes);

// The text nodes of a document, read once in order: each node's UTF-8 text
// ended by a NUL (which XML text never holds), in blocks that are released as
// the reading passes them, so a document's text is never held twice.
class XmlTextNodes {
 public:
  void Clear();
  void Add(const char* text);
  // False when every node was read.
  bool Next(std::string_view* text);

 private:
  static constexpr size_t kBlockBytes = 1 << 20;
  std::vector<std::string> m_blocks;
  size_t m_block = 0;
  size_t m_pos = 0;
};

}  // namespace ZYT
