// The ID3 tags of an MP3 file: version 2 at the start, version 1 in the last
// 128 bytes. Only Latin-1 text frames are read; the first frame in another
// encoding ends the version 2 reading (the version 1 tag then supplies what
// is still missing).
#pragma once

#include <string>
#include <vector>

#include "filters/media/ByteSource.h"
#include "filters/media/TagLimits.h"

class CMp3Tag {
 public:
  // Reads the tags at once. Never reads past the source, and reads only the
  // frames it uses: whatever sizes the file declares, what it holds in memory
  // is bounded by the limits.
  explicit CMp3Tag(const IByteSource& source, const TagLimits& limits = TagLimits());

  const std::u16string& Title() const { return m_title; }
  const std::u16string& Artist() const { return m_artist; }
  const std::u16string& Genre() const { return m_genre; }
  // Every text found, in the order found.
  const std::vector<std::u16string>& Items() const { return m_items; }
  std::vector<std::u16string> TakeItems() { return std::move(m_items); }
  // Whether a limit stopped the reading: the items are the tag's first ones,
  // the last of them possibly shortened.
  bool Cut() const { return m_cut; }

 private:
  void ReadId3v2(CByteWindow& file, const BYTE header[10]);
  void ReadId3v1(const BYTE block[128]);
  // Characters an item may still take; 0 once the item count is reached.
  size_t Room() const;
  // Appends an item within the limits, shortened or left out (and the cut flag set) when it does not fit.
  void Keep(std::u16string text);

  TagLimits m_limits;
  size_t m_textKept = 0;
  bool m_cut = false;

  std::u16string m_title, m_artist, m_genre;
  bool m_titleFound = false, m_artistFound = false, m_genreFound = false;
  std::vector<std::u16string> m_items;
};

// ISO-8859-1 bytes [start, end) up to the first byte below 0x20; empty for any
// encoding but 0. end is clamped to the buffer.
std::u16string Latin1Field(const BYTE* bytes, size_t size, size_t start, size_t end, BYTE encoding);
// The ID3v1 genre of a genre byte; null for 148 and above.
const char16_t* Id3v1Genre(BYTE index);
