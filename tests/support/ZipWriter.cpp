#include "tests/support/ZipWriter.h"

#include <array>

namespace ZYT::Test {
namespace {

void Put16(std::string& out, uint32_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace

uint32_t Crc32(const std::string& bytes) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

std::string ZipArchive(const std::vector<ZipMember>& members) {
  std::string out, central;
  for (const ZipMember& m : members) {
    const uint32_t offset = static_cast<uint32_t>(out.size());
    const uint32_t crc = Crc32(m.data);
    const uint32_t size = m.keepDeclaredSize ? m.declaredSize : static_cast<uint32_t>(m.data.size());
    const uint32_t stored = static_cast<uint32_t>(m.data.size());
    Put32(out, 0x04034b50);
    Put16(out, 20);
    Put16(out, m.flags);
    Put16(out, m.method);
    Put16(out, 0);  // time
    Put16(out, 0x21);  // date: 1980-01-01
    Put32(out, crc);
    Put32(out, stored);
    Put32(out, size);
    Put16(out, static_cast<uint32_t>(m.name.size()));
    Put16(out, 0);
    out += m.name;
    out += m.data;

    Put32(central, 0x02014b50);
    Put16(central, (3u << 8) | 20);  // made by Unix, so the mode in the attributes counts
    Put16(central, 20);
    Put16(central, m.flags);
    Put16(central, m.method);
    Put16(central, 0);
    Put16(central, 0x21);
    Put32(central, crc);
    Put32(central, stored);
    Put32(central, size);
    Put16(central, static_cast<uint32_t>(m.name.size()));
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put32(central, m.externalAttributes);
    Put32(central, offset);
    central += m.name;
  }
  const uint32_t centralOffset = static_cast<uint32_t>(out.size());
  out += central;
  Put32(out, 0x06054b50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, static_cast<uint32_t>(members.size()));
  Put16(out, static_cast<uint32_t>(members.size()));
  Put32(out, static_cast<uint32_t>(central.size()));
  Put32(out, centralOffset);
  Put16(out, 0);
  return out;
}

}  // namespace ZYT::Test
