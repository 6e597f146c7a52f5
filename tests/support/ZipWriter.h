// ZIP archives written byte by byte for tests: stored (uncompressed) members
// with their real CRC, so that unzip, libzip and our own readers accept them,
// and every header field reachable for building broken or hostile archives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace ZYT::Test {

uint32_t Crc32(const std::string& bytes);

struct ZipMember {
  std::string name;
  std::string data;                 // stored as is
  uint16_t flags = 0;               // general purpose bits (1: encrypted)
  uint16_t method = 0;              // written as declared; the data is never compressed here
  uint32_t externalAttributes = 0;  // upper 16 bits: Unix mode (a symlink is 0120777 << 16)
  bool keepDeclaredSize = false;    // write declaredSize instead of the data's size
  uint32_t declaredSize = 0;
};

// The archive's bytes: local headers and data in order, the central
// directory, the end record.
std::string ZipArchive(const std::vector<ZipMember>& members);

}  // namespace ZYT::Test
