// The Vorbis comment header of an Ogg Vorbis file: the vendor text and every
// comment, read from the second Ogg page on.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "filters/media/ByteSource.h"
#include "filters/media/TagLimits.h"

struct OggComments {
  // Vendor text and comment values, in file order.
  std::vector<std::u16string> items;
  // The first TITLE, ARTIST and GENRE comments (keys compared case-sensitively).
  std::map<std::u16string, std::u16string> fields;
  // 4 when the comment list was read to its end or to a limit; 0 when the
  // file cut it short.
  int valueChunks = 0;
  // Whether a limit stopped the reading: the items are the first ones, the
  // last of them possibly shortened, and the fields come from those.
  bool cut = false;
};

// False when the file does not start with two Ogg pages and a comment packet;
// a comment list cut short is still a success. Lengths in the file never make
// it read or allocate past the end of the source, and what it keeps is
// bounded by the limits, however many comments the file declares.
bool ReadOggComments(const IByteSource& source, OggComments& comments, const TagLimits& limits = TagLimits());

// Each byte becomes the character of the same code; at every "=" the text so
// far becomes the key and gathering restarts; what remains is the value.
void SplitComment(const BYTE* bytes, size_t length, std::u16string& key, std::u16string& value);
