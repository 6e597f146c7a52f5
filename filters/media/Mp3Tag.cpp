#include "filters/media/Mp3Tag.h"

#include <memory>

namespace {

// Seven bits a byte by intent; a byte with its high bit set is taken whole,
// as the module always has, so a damaged size only grows (and is then bounded
// by the file's length).
uint32_t TagSize(const BYTE* b) {
  return ((uint32_t(b[0]) * 128 + b[1]) * 128 + b[2]) * 128 + b[3];
}

}  // namespace

std::u16string Latin1Field(const BYTE* bytes, size_t size, size_t start, size_t end, BYTE encoding) {
  std::u16string text;
  if (encoding != 0) return text;
  end = std::min(end, size);
  for (size_t i = start; i < end; ++i) {
    if (bytes[i] < 0x20) break;
    text += static_cast<char16_t>(bytes[i]);
  }
  return text;
}

CMp3Tag::CMp3Tag(const IByteSource& source) {
  BYTE header[10];
  if (source.ReadAt(0, header, 10) == 10 && header[0] == 'I' && header[1] == 'D' && header[2] == '3')
    ReadId3v2(source, header);
  if (m_titleFound && m_artistFound && m_genreFound) return;
  uint64_t size = source.Size();
  BYTE block[128];
  if (size >= 128 && source.ReadAt(size - 128, block, 128) == 128 && block[0] == 'T' && block[1] == 'A' &&
      block[2] == 'G')
    ReadId3v1(block);
}

void CMp3Tag::ReadId3v2(const IByteSource& source, const BYTE header[10]) {
  if (header[3] >= 5) return;
  uint64_t tagSize = TagSize(header + 6);
  if (header[5] & 0x10) tagSize += 10;
  // A tag cannot be larger than the file that holds it.
  if (tagSize > source.Size()) return;
  std::unique_ptr<BYTE[]> buffer(new (std::nothrow) BYTE[tagSize ? tagSize : 1]);
  if (!buffer || source.ReadAt(10, buffer.get(), tagSize) != tagSize) return;
  const BYTE* b = buffer.get();
  uint64_t position = 0;
  if ((header[5] & 0x40) && tagSize >= 4) position = TagSize(b);
  while (position < tagSize) {
    // A frame header that does not fit in what is left of the tag ends it.
    if (tagSize - position < 10) break;
    std::u16string id = Latin1Field(b, tagSize, position, position + 4, 0);
    if (b[position] == 0 || id.empty()) break;
    uint64_t frameSize = (uint32_t(b[position + 4]) << 24) | (uint32_t(b[position + 5]) << 16) |
                         (uint32_t(b[position + 6]) << 8) | b[position + 7];
    if (b[position + 9] & (0x08 | 0x04 | 0x01)) break;
    if (id[0] == u'T' || id[0] == u'W') {
      if (position + 10 >= tagSize) break;
      BYTE encoding = b[position + 10];
      if (encoding >= 1 && encoding <= 25) break;
      std::u16string value = Latin1Field(b, tagSize, position + 11, position + 10 + frameSize, encoding);
      if (!value.empty()) {
        m_items.push_back(value);
        if (id == u"TIT2") {
          m_title = value;
          m_titleFound = true;
        } else if (id == u"TPE1") {
          m_artist = value;
          m_artistFound = true;
        } else if (id == u"TCON") {
          m_genre = value;
          m_genreFound = true;
        }
      }
    }
    position += 10 + frameSize;
  }
}

void CMp3Tag::ReadId3v1(const BYTE block[128]) {
  if (!m_genreFound) {
    if (const char16_t* genre = Id3v1Genre(block[127])) {
      m_genre = genre;
      m_genreFound = true;
      m_items.push_back(m_genre);
    }
  }
  if (!m_titleFound) {
    m_title = Latin1Field(block, 128, 3, 33, 0);
    m_titleFound = true;
    m_items.push_back(m_title);
  }
  if (!m_artistFound) {
    m_artist = Latin1Field(block, 128, 33, 63, 0);
    m_artistFound = true;
    m_items.push_back(m_artist);
  }
  m_items.push_back(Latin1Field(block, 128, 63, 93, 0));
  m_items.push_back(Latin1Field(block, 128, 93, 97, 0));
  m_items.push_back(Latin1Field(block, 128, 97, 127, 0));
}
