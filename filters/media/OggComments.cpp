#include "filters/media/OggComments.h"

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

// Sequential reads over a byte source, as the reader walks the file.
class Cursor {
 public:
  explicit Cursor(const IByteSource& source) : m_window(source) {}
  bool Read(void* buffer, size_t n) {
    if (n > Remaining() || !m_window.Read(m_position, buffer, n)) return false;
    m_position += n;
    return true;
  }
  // The next bytes as they lie in the window, at most n (n set to how many).
  const BYTE* Take(size_t& n) {
    if (n > Remaining()) return nullptr;
    const BYTE* bytes = m_window.Peek(m_position, n);
    if (bytes) m_position += n;
    return bytes;
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
  uint64_t Remaining() const { return m_position < m_window.Size() ? m_window.Size() - m_position : 0; }

 private:
  CByteWindow m_window;
  uint64_t m_position = 0;
};

// Each byte as the character of the same code. In blocks of a fixed count,
// which the compiler turns into vector instructions: a picture comment is
// 100 KB of them.
void Widen(const BYTE* __restrict in, char16_t* __restrict out, size_t n) {
  size_t i = 0;
  for (; i + 16 <= n; i += 16)
    for (size_t j = 0; j < 16; ++j) out[i + j] = in[i + j];
  for (; i < n; ++i) out[i] = in[i];
}

// SplitComment over a comment fed in pieces, keeping at most room characters
// of its value: a comment may be as long as the file. A key is kept up to the
// length of the longest field name even when less room is left.
class CCommentSplitter {
 public:
  explicit CCommentSplitter(size_t room) : m_room(room), m_capacity(std::max<size_t>(room, 6)) {}
  // The comment's length, so that its value is allocated once.
  void Expect(size_t length) {
    m_left = length;
    m_value.reserve(std::min(length, m_capacity));
  }
  void Add(const BYTE* bytes, size_t n) {
    // Runs between "=" signs are widened whole: a picture comment is 100 KB
    // of base64 with no "=" until its padding.
    while (n > 0) {
      const void* sign = std::memchr(bytes, '=', n);
      size_t run = sign ? static_cast<size_t>(static_cast<const BYTE*>(sign) - bytes) : n;
      size_t take = std::min(run, m_capacity - std::min(m_capacity, m_value.size()));
      // Widened on the stack and appended: a resize would fill first.
      char16_t wide[1024];
      for (size_t done = 0; done < take;) {
        size_t k = std::min(take - done, std::size(wide));
        Widen(bytes + done, wide, k);
        m_value.append(wide, k);
        done += k;
      }
      if (take < run) m_valueCut = true;
      if (!sign) {
        m_left -= std::min(m_left, n);
        return;
      }
      m_key = std::move(m_value);
      m_keyCut = m_valueCut;
      m_value = std::u16string();
      m_valueCut = false;
      bytes += run + 1;
      n -= run + 1;
      m_left -= std::min(m_left, run + 1);
      if (m_left > m_value.capacity()) m_value.reserve(std::min(m_left, m_capacity));
    }
  }
  // After the last piece: the value within its room.
  void Finish() {
    if (m_value.size() > m_room) {
      m_value.resize(m_room);
      m_valueCut = true;
    }
  }
  std::u16string& Key() { return m_key; }
  std::u16string& Value() { return m_value; }
  // A shortened key names none of the fields.
  bool KeyCut() const { return m_keyCut; }
  bool ValueCut() const { return m_valueCut; }

 private:
  size_t m_room, m_capacity;
  size_t m_left = 0;  // bytes of the comment not yet added, when Expect told
  std::u16string m_key, m_value;
  bool m_keyCut = false, m_valueCut = false;
};

// Reads a length-prefixed comment; a length beyond the file is a short read.
bool ReadComment(Cursor& in, CCommentSplitter& split) {
  uint32_t length = 0;
  if (!in.ReadUInt32(length) || length > in.Remaining()) return false;
  split.Expect(length);
  while (length > 0) {
    size_t n = length;
    const BYTE* bytes = in.Take(n);
    if (!bytes) return false;
    split.Add(bytes, n);
    length -= static_cast<uint32_t>(n);
  }
  split.Finish();
  return true;
}

bool IsCapturePattern(const BYTE b[4]) { return b[0] == 'O' && b[1] == 'g' && b[2] == 'g' && b[3] == 'S'; }

}  // namespace

void SplitComment(const BYTE* bytes, size_t length, std::u16string& key, std::u16string& value) {
  CCommentSplitter split(length);
  split.Add(bytes, length);
  split.Finish();
  key = std::move(split.Key());
  value = std::move(split.Value());
}

bool ReadOggComments(const IByteSource& source, OggComments& comments, const TagLimits& limits) {
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

  size_t textKept = 0;
  auto room = [&] { return limits.maxText - std::min(textKept, limits.maxText); };
  // Keeps a value; false when a limit cut it, which ends the reading.
  auto keep = [&](CCommentSplitter& split) {
    textKept += split.Value().size();
    comments.items.push_back(std::move(split.Value()));
    return !split.ValueCut();
  };
  if (limits.maxItems == 0) {
    comments.cut = true;
    comments.valueChunks = 4;
    return true;
  }
  CCommentSplitter vendor(room());
  if (!ReadComment(in, vendor)) return false;
  bool whole = keep(vendor);
  uint32_t count = 0;
  if (!in.ReadUInt32(count)) return false;
  for (uint32_t i = 0; i < count && whole; ++i) {
    if (comments.items.size() >= limits.maxItems) {
      whole = false;
      break;
    }
    CCommentSplitter split(room());
    // A list cut short keeps what was read, without value chunks.
    if (!ReadComment(in, split)) return true;
    std::u16string& key = split.Key();
    if (!split.KeyCut() && (key == u"TITLE" || key == u"ARTIST" || key == u"GENRE"))
      comments.fields.emplace(key, split.Value());
    whole = keep(split);
  }
  comments.cut = !whole;
  comments.valueChunks = 4;
  return true;
}
