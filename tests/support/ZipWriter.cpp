#include "tests/support/ZipWriter.h"

#include <zlib.h>

#include "tests/archive/ZipBuilder.h"

namespace ZYT::Test {

uint32_t Crc32(const std::string& bytes) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

std::string ZipArchive(const std::vector<ZipMember>& members) {
  std::vector<ZipEntry> entries;
  for (const ZipMember& m : members)
    entries.push_back({.name = m.name,
                       .content = m.data,
                       .deflate = false,
                       .declaredSize = m.keepDeclaredSize ? int64_t{m.declaredSize} : -1,
                       .unixMode = m.externalAttributes >> 16,
                       .flags = m.flags,
                       .method = m.method});
  return BuildZip(entries);
}

}  // namespace ZYT::Test
