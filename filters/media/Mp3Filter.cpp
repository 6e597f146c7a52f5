#include "filters/media/Mp3Filter.h"

bool CMp3Filter::ReadTags(const IByteSource& file, const TagLimits& limits) {
  CMp3Tag tag(file, limits);
  m_title = tag.Title();
  m_artist = tag.Artist();
  m_genre = tag.Genre();
  m_items = tag.TakeItems();
  return tag.Cut();
}

std::u16string CMp3Filter::Field(ULONG idChunk) const {
  return idChunk == 3 ? m_artist : idChunk == 4 ? m_genre : m_title;
}

std::u16string CMp3Filter::Header() const {
  std::u16string header;
  if (!m_artist.empty()) header += u"Artist: " + m_artist + u"\n";
  if (!m_title.empty()) header += u"Title: " + m_title + u"\n";
  if (!m_genre.empty()) header += u"Genre: " + m_genre + u"\n";
  if (!header.empty()) header += u"\n";
  return header;
}
