// ZIP archives written byte by byte for the tests, so that an archive can
// lie in every way a hostile one does: sizes, names, attributes, flags,
// entries sharing their data, a cut central directory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ZYT::Test {

struct ZipEntry {
  std::string name;
  std::string content;  // what the entry holds, uncompressed
  bool deflate = true;
  // Replaces the true sizes in both headers (a member that lies about its size).
  int64_t declaredSize = -1;
  // Bytes after the compressed data counted in its compressed size.
  size_t padding = 0;
  uint32_t unixMode = 0100644;  // the external attributes' high half (made by Unix)
  uint16_t flags = 0;           // bit 0: encrypted
  uint16_t method = 0xFFFF;     // overrides the compression method when set
  int sharesDataOf = -1;        // the central entry points at this entry's local header
};

// Raw deflate of text, as a ZIP member holds it.
std::string Deflate(const std::string& text);
std::string BuildZip(const std::vector<ZipEntry>& entries);

}  // namespace ZYT::Test
