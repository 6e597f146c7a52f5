#include "filters/media/Mp3Tag.h"

namespace {

// Seven bits a byte by intent; a byte with its high bit set is taken whole,
// as the module always has, so a damaged size only grows (and is then bounded
// by the file's length).
uint32_t TagSize(const BYTE* b) {
  return ((uint32_t(b[0]) * 128 + b[1]) * 128 + b[2]) * 128 + b[3];
}

// Latin-1 text of [start, end) read through the window, up to the first byte
// below 0x20 and at most room characters; *more when text went past room.
std::u16string Latin1Text(CByteWindow& tag, uint64_t start, uint64_t end, size_t room, bool* more) {
  std::u16string text;
  *more = false;
  BYTE piece[512];
  for (uint64_t at = start; at < end;) {
    size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof piece, end - at));
    if (!tag.Read(at, piece, n)) break;
    for (size_t i = 0; i < n; ++i) {
      if (piece[i] < 0x20) return text;
      if (text.size() == room) {
        *more = true;
        return text;
      }
      text += static_cast<char16_t>(piece[i]);
    }
    at += n;
  }
  return text;
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

CMp3Tag::CMp3Tag(const IByteSource& source, const TagLimits& limits) : m_limits(limits) {
  // One window serves the header and the frames: a tag's text frames come in
  // its first kilobytes; a cover is skipped, not read.
  CByteWindow file(source, 16 * 1024, 4 * 1024);
  BYTE header[10];
  if (file.Read(0, header, 10) && header[0] == 'I' && header[1] == 'D' && header[2] == '3') ReadId3v2(file, header);
  if (m_titleFound && m_artistFound && m_genreFound) return;
  uint64_t size = file.Size();
  BYTE block[128];
  if (size >= 128 && file.Read(size - 128, block, 128) && block[0] == 'T' && block[1] == 'A' && block[2] == 'G')
    ReadId3v1(block);
}

size_t CMp3Tag::Room() const {
  if (m_items.size() >= m_limits.maxItems || m_textKept >= m_limits.maxText) return 0;
  return m_limits.maxText - m_textKept;
}

void CMp3Tag::Keep(std::u16string text) {
  size_t room = Room();
  if (m_items.size() >= m_limits.maxItems || text.size() > room) m_cut = true;
  if (m_items.size() >= m_limits.maxItems) return;
  if (text.size() > room) text.resize(room);
  m_textKept += text.size();
  m_items.push_back(std::move(text));
}

void CMp3Tag::ReadId3v2(CByteWindow& file, const BYTE header[10]) {
  if (header[3] >= 5) return;
  uint64_t tagSize = TagSize(header + 6);
  if (header[5] & 0x10) tagSize += 10;
  // A tag that does not fit in its file gives nothing, as a short read of it
  // would; the frames themselves are read one by one, only those used.
  if (file.Size() < 10 || tagSize > file.Size() - 10) return;
  const uint64_t base = 10;
  uint64_t position = 0;
  BYTE extended[4];
  if ((header[5] & 0x40) && tagSize >= 4) {
    if (!file.Read(base, extended, 4)) return;
    position = TagSize(extended);
  }
  while (position < tagSize) {
    // A frame header that does not fit in what is left of the tag ends it.
    if (tagSize - position < 10) break;
    BYTE frame[10];
    if (!file.Read(base + position, frame, 10)) break;
    std::u16string id = Latin1Field(frame, 10, 0, 4, 0);
    if (frame[0] == 0 || id.empty()) break;
    uint64_t frameSize = (uint32_t(frame[4]) << 24) | (uint32_t(frame[5]) << 16) | (uint32_t(frame[6]) << 8) | frame[7];
    if (frame[9] & (0x08 | 0x04 | 0x01)) break;
    if (id[0] == u'T' || id[0] == u'W') {
      if (position + 10 >= tagSize) break;
      BYTE encoding = 0;
      if (!file.Read(base + position + 10, &encoding, 1)) break;
      if (encoding >= 1 && encoding <= 25) break;
      if (encoding == 0) {
        uint64_t end = std::min(position + 10 + frameSize, tagSize);
        bool more = false;
        std::u16string value = Latin1Text(file, base + position + 11, base + end, Room(), &more);
        if (!value.empty()) {
          m_textKept += value.size();
          m_items.push_back(value);
          if (id == u"TIT2") {
            m_title = std::move(value);
            m_titleFound = true;
          } else if (id == u"TPE1") {
            m_artist = std::move(value);
            m_artistFound = true;
          } else if (id == u"TCON") {
            m_genre = std::move(value);
            m_genreFound = true;
          }
        }
        // Text beyond what the limits let keep: the rest of the tag is left unread.
        if (more) {
          m_cut = true;
          break;
        }
      }
    }
    position += 10 + frameSize;
  }
}

void CMp3Tag::ReadId3v1(const BYTE block[128]) {
  // The fields come whatever the limits; the items only while they fit.
  if (!m_genreFound) {
    if (const char16_t* genre = Id3v1Genre(block[127])) {
      m_genre = genre;
      m_genreFound = true;
      Keep(m_genre);
    }
  }
  if (!m_titleFound) {
    m_title = Latin1Field(block, 128, 3, 33, 0);
    m_titleFound = true;
    Keep(m_title);
  }
  if (!m_artistFound) {
    m_artist = Latin1Field(block, 128, 33, 63, 0);
    m_artistFound = true;
    Keep(m_artist);
  }
  Keep(Latin1Field(block, 128, 63, 93, 0));
  Keep(Latin1Field(block, 128, 93, 97, 0));
  Keep(Latin1Field(block, 128, 97, 127, 0));
}
