#include "filters/xml/XmlText.h"

#include <algorithm>

namespace ZYT {

namespace {

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

bool HasUtf16Mark(std::string_view bytes) {
  return bytes.size() >= 2 && bytes.size() % 2 == 0 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
         static_cast<unsigned char>(bytes[1]) == 0xFE;
}

std::string Utf16LeToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  const size_t units = bytes.size() / 2;
  auto unit = [&](size_t i) -> char16_t {
    return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                 (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  };
  for (size_t i = 0; i < units; ++i) {
    char16_t c = unit(i);
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units && unit(i + 1) >= 0xDC00 && unit(i + 1) <= 0xDFFF) {
      AppendUtf8(out, 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (unit(i + 1) - 0xDC00));
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      AppendUtf8(out, 0xFFFD);
    } else {
      AppendUtf8(out, c);
    }
  }
  return out;
}

void XmlTextNodes::Clear() {
  std::vector<std::string>().swap(m_blocks);
  m_block = 0;
  m_pos = 0;
}

void XmlTextNodes::Add(const char* text) {
  const std::string_view s(text);
  if (m_blocks.empty() || m_blocks.back().size() + s.size() + 1 > m_blocks.back().capacity()) {
    m_blocks.emplace_back();
    m_blocks.back().reserve(std::max(kBlockBytes, s.size() + 1));
  }
  m_blocks.back().append(s).push_back('\0');
}

bool XmlTextNodes::Next(std::string_view* text) {
  while (m_block < m_blocks.size()) {
    std::string& block = m_blocks[m_block];
    if (m_pos < block.size()) {
      const char* start = block.data() + m_pos;
      *text = std::string_view(start);
      m_pos += text->size() + 1;
      return true;
    }
    std::string().swap(block);
    ++m_block;
    m_pos = 0;
  }
  return false;
}

bool IsWellFormedUtf8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const auto* end = p + bytes.size();
  auto trail = [](unsigned char c) { return c >= 0x80 && c <= 0xBF; };
  while (p < end) {
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    // The second byte's range per lead byte: no overlong forms, no surrogates, nothing past U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    size_t length;
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (static_cast<size_t>(end - p) < length || p[1] < low || p[1] > high) return false;
    for (size_t i = 2; i < length; ++i)
      if (!trail(p[i])) return false;
    p += length;
  }
  return true;
}

}  // namespace ZYT
