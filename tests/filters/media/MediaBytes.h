// Builders of tag bytes for the media tests, field by field.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ZYT::Test {

// An ID3v2 header: "ID3", version, revision 0, flags, size in 7-bit bytes.
inline std::string Id3v2(const std::string& body, uint8_t version = 3, uint8_t flags = 0) {
  uint32_t size = static_cast<uint32_t>(body.size());
  std::string tag = "ID3";
  tag += static_cast<char>(version);
  tag += '\0';
  tag += static_cast<char>(flags);
  for (int shift = 21; shift >= 0; shift -= 7) tag += static_cast<char>((size >> shift) & 0x7F);
  return tag + body;
}

// A frame: identifier, size as a 32-bit big-endian number, two flag bytes, body.
inline std::string Frame(const std::string& id, const std::string& body, uint8_t flags2 = 0) {
  uint32_t size = static_cast<uint32_t>(body.size());
  std::string frame = id;
  for (int shift = 24; shift >= 0; shift -= 8) frame += static_cast<char>((size >> shift) & 0xFF);
  frame += '\0';
  frame += static_cast<char>(flags2);
  return frame + body;
}

// A text frame body: the encoding byte, then the text.
inline std::string Text(const std::string& text, uint8_t encoding = 0) {
  return std::string(1, static_cast<char>(encoding)) + text;
}

inline std::string Padded(const std::string& text, size_t n) {
  std::string out = text.substr(0, n);
  out.resize(n, '\0');
  return out;
}

// The 128-byte ID3v1 block.
inline std::string Id3v1(const std::string& title, const std::string& artist, const std::string& album,
                         const std::string& year, const std::string& comment, uint8_t genre) {
  return "TAG" + Padded(title, 30) + Padded(artist, 30) + Padded(album, 30) + Padded(year, 4) + Padded(comment, 30) +
         std::string(1, static_cast<char>(genre));
}

// An Ogg page: capture pattern, 22 header bytes the reader skips, the segment
// table and the body. The CRC is not computed: the reader does not check it.
inline std::string OggPage(const std::string& body) {
  std::string page = "OggS";
  page += std::string(22, '\0');
  std::string table;
  size_t left = body.size();
  do {
    size_t lace = left > 255 ? 255 : left;
    table += static_cast<char>(lace);
    left -= lace;
  } while (left > 0 || static_cast<unsigned char>(table.back()) == 255);
  page += static_cast<char>(table.size());
  return page + table + body;
}

inline std::string Le32(uint32_t v) {
  std::string out;
  for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
  return out;
}

// The comment packet: type 3, "vorbis", the vendor, the comments, the framing bit.
inline std::string CommentPacket(const std::string& vendor, const std::vector<std::string>& comments) {
  std::string packet = "\x03vorbis" + Le32(static_cast<uint32_t>(vendor.size())) + vendor +
                       Le32(static_cast<uint32_t>(comments.size()));
  for (const std::string& c : comments) packet += Le32(static_cast<uint32_t>(c.size())) + c;
  return packet + "\x01";
}

inline std::string VorbisFile(const std::string& vendor, const std::vector<std::string>& comments) {
  std::string identification = std::string("\x01vorbis", 7) + std::string(23, '\0');
  return OggPage(identification) + OggPage(CommentPacket(vendor, comments));
}

}  // namespace ZYT::Test
