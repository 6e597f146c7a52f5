#include "tests/archive/ZipBuilder.h"

#include <zlib.h>

#include <stdexcept>

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

std::string Deflate(const std::string& text) {
  z_stream z{};
  if (deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&z, text.size()), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  z.avail_in = static_cast<uInt>(text.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  int rc = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate");
  return out;
}

std::string BuildZip(const std::vector<ZipEntry>& entries) {
  struct Written {
    uint32_t offset, crc, compressed, size;
    uint16_t method;
  };
  std::string zip;
  std::vector<Written> written;
  for (const ZipEntry& e : entries) {
    if (e.sharesDataOf >= 0) {
      written.push_back(written.at(static_cast<size_t>(e.sharesDataOf)));
      continue;
    }
    std::string data = e.deflate ? Deflate(e.content) : e.content;
    data.append(e.padding, '\0');
    Written w{};
    w.offset = static_cast<uint32_t>(zip.size());
    w.crc = static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(e.content.data()),
                                        static_cast<uInt>(e.content.size())));
    w.compressed = static_cast<uint32_t>(data.size());
    w.size = e.declaredSize >= 0 ? static_cast<uint32_t>(e.declaredSize) : static_cast<uint32_t>(e.content.size());
    w.method = e.method != 0xFFFF ? e.method : (e.deflate ? 8 : 0);
    Put32(zip, 0x04034b50);  // local file header
    Put16(zip, 20);          // version needed
    Put16(zip, e.flags);
    Put16(zip, w.method);
    Put32(zip, 0);  // time, date
    Put32(zip, w.crc);
    Put32(zip, w.compressed);
    Put32(zip, w.size);
    Put16(zip, static_cast<uint32_t>(e.name.size()));
    Put16(zip, 0);  // extra length
    zip += e.name;
    zip += data;
    written.push_back(w);
  }
  const uint32_t central = static_cast<uint32_t>(zip.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const ZipEntry& e = entries[i];
    const Written& w = written[i];
    Put32(zip, 0x02014b50);  // central directory header
    Put16(zip, (3 << 8) | 20);  // made by Unix, version 2.0
    Put16(zip, 20);
    Put16(zip, e.flags);
    Put16(zip, w.method);
    Put32(zip, 0);
    Put32(zip, w.crc);
    Put32(zip, w.compressed);
    Put32(zip, w.size);
    Put16(zip, static_cast<uint32_t>(e.name.size()));
    Put16(zip, 0);  // extra
    Put16(zip, 0);  // comment
    Put16(zip, 0);  // disk
    Put16(zip, 0);  // internal attributes
    Put32(zip, e.unixMode << 16);
    Put32(zip, w.offset);
    zip += e.name;
  }
  const uint32_t centralSize = static_cast<uint32_t>(zip.size()) - central;
  Put32(zip, 0x06054b50);  // end of central directory
  Put16(zip, 0);
  Put16(zip, 0);
  Put16(zip, static_cast<uint32_t>(entries.size()));
  Put16(zip, static_cast<uint32_t>(entries.size()));
  Put32(zip, centralSize);
  Put32(zip, central);
  Put16(zip, 0);
  return zip;
}

}  // namespace ZYT::Test
