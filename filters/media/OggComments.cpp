#include "filters/media/OggComments.h"

namespace {

// Sequential reads over a byte source, as the reader walks the file.
class Cursor {
 public:
  explicit Cursor(const IByteSource& source) : m_source(source), m_size(source.Size()) {}
  bool Read(void* buffer, size_t n) {
    if (n > Remaining()) return false;
    size_t got = m_source.ReadAt(m_position, buffer, n);
    m_position += got;
    return got == n;
  }
  bool Skip(uint64_t n) {
    if (n > Remaining()) return false;
    m_position += n;
    return true;
  }
  bool ReadUInt32(uint32_t& v) {
    BYTE b[4];
    if (!Read(b, 4)) return false;
    v = uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24);
    return true;
  }
  // Reads a length-prefixed text; a length beyond the file is a short read.
  bool ReadText(std::string& text) {
    uint32_t length = 0;
    if (!ReadUInt32(length) || length > Remaining()) return false;
    text.resize(length);
    return Read(text.data(), length);
  }
  uint64_t Remaining() const { return m_position < m_size ? m_size - m_position : 0; }

 private:
  const IByteSource& m_source;
  uint64_t m_size;
  uint64_t m_position = 0;
};

bool IsCapturePattern(const BYTE b[4]) { return b[0] == 'O' && b[1] == 'g' && b[2] == 'g' && b[3] == 'S'; }

}  // namespace

void SplitComment(const BYTE* bytes, size_t length, std::u16string& key, std::u16string& value) {
  key.clear();
  value.clear();
  for (size_t i = 0; i < length; ++i) {
    if (bytes[i] == '=') {
      key = value;
      value.clear();
    } else {
      value += static_cast<char16_t>(bytes[i]);
    }
  }
}

bool ReadOggComments(const IByteSource& source, OggComments& comments) {
  Cursor in(source);
  BYTE capture[4];
  if (!in.Read(capture, 4) || !IsCapturePattern(capture)) return false;
  BYTE segments = 0;
  if (!in.Skip(22) || !in.Read(&segments, 1)) return false;
  BYTE table[255];
  if (!in.Read(table, segments)) return false;
  uint64_t body = 0;
  for (BYTE i = 0; i < segments; ++i) body += table[i];
  if (!in.Skip(body)) return false;
  if (!in.Read(capture, 4) || !IsCapturePattern(capture)) return false;
  if (!in.Skip(22) || !in.Read(&segments, 1) || !in.Skip(uint64_t(segments) + 7)) return false;

  std::string text;
  std::u16string key, value;
  if (!in.ReadText(text)) return false;
  SplitComment(reinterpret_cast<const BYTE*>(text.data()), text.size(), key, value);
  comments.items.push_back(value);
  uint32_t count = 0;
  if (!in.ReadUInt32(count)) return false;
  for (uint32_t i = 0; i < count; ++i) {
    // A list cut short keeps what was read, without value chunks.
    if (!in.ReadText(text)) return true;
    SplitComment(reinterpret_cast<const BYTE*>(text.data()), text.size(), key, value);
    comments.items.push_back(value);
    if (key == u"TITLE" || key == u"ARTIST" || key == u"GENRE") comments.fields.emplace(key, value);
  }
  comments.valueChunks = 4;
  return true;
}
