#include "filters/media/OggVorbisFilter.h"

bool COggVorbisFilter::ReadTags(const IByteSource& file, const TagLimits& limits) {
  // A second Init starts from an empty list, so it yields the same chunks again.
  m_comments = OggComments();
  m_read = ReadOggComments(file, m_comments, limits);
  m_valueChunks = m_comments.valueChunks;
  m_items = std::move(m_comments.items);
  return m_comments.cut;
}

std::u16string COggVorbisFilter::FieldOf(const char16_t* key) const {
  auto it = m_comments.fields.find(key);
  return it == m_comments.fields.end() ? std::u16string() : it->second;
}

std::u16string COggVorbisFilter::Field(ULONG idChunk) const {
  return FieldOf(idChunk == 3 ? u"ARTIST" : idChunk == 4 ? u"GENRE" : u"TITLE");
}

std::u16string COggVorbisFilter::Header() const {
  std::u16string header;
  // A comment that is present writes its line even when its value is empty.
  for (auto [key, label] : {std::pair{u"ARTIST", u"Artist: "}, std::pair{u"TITLE", u"Title: "},
                            std::pair{u"GENRE", u"Genre: "}}) {
    auto it = m_comments.fields.find(key);
    if (it != m_comments.fields.end()) header += label + it->second + u"\n";
  }
  if (!header.empty()) header += u"\n";
  return header;
}
