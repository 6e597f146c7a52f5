// Small PDF documents written byte by byte for the PDF filter's tests: pages
// of text in the standard Helvetica font, an information dictionary, a
// cross-reference table whose offsets are counted, and, when asked, the
// standard security handler (RC4, 40 bits, revision 2) with its keys worked
// out as a PDF writer works them out.
#pragma once

#include <glib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace ZYT::Test {

struct PdfSample {
  // Each page is its lines; each line is drawn below the one before.
  std::vector<std::vector<std::string>> pages;
  // Info dictionary entries as written, string syntax included:
  // {"Title", "(A title)"} or {"Author", "<FEFF00E9>"}. Empty: no dictionary.
  std::vector<std::pair<std::string, std::string>> info;
  bool encrypted = false;
  std::string userPassword;  // with encrypted: empty opens the document to anyone
  std::string ownerPassword = "owner";
  size_t padding = 0;  // bytes of a comment line after the header (0, or 2 and more)
};

namespace pdf_detail {

inline const unsigned char kPadding[32] = {0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E,
                                           0x56, 0xFF, 0xFA, 0x01, 0x08, 0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68,
                                           0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

inline std::string Padded(const std::string& password) {
  std::string out = password.substr(0, 32);
  out.append(reinterpret_cast<const char*>(kPadding), 32 - out.size());
  return out;
}

inline std::string Md5(const std::string& bytes) {
  GChecksum* sum = g_checksum_new(G_CHECKSUM_MD5);
  g_checksum_update(sum, reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  guint8 digest[16];
  gsize length = sizeof digest;
  g_checksum_get_digest(sum, digest, &length);
  g_checksum_free(sum);
  return std::string(reinterpret_cast<const char*>(digest), length);
}

inline std::string Rc4(const std::string& key, const std::string& data) {
  unsigned char s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<unsigned char>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + static_cast<unsigned char>(key[i % key.size()])) & 0xFF;
    std::swap(s[i], s[j]);
  }
  std::string out = data;
  for (size_t n = 0, i = 0, j = 0; n < out.size(); ++n) {
    i = (i + 1) & 0xFF;
    j = (j + s[i]) & 0xFF;
    std::swap(s[i], s[j]);
    out[n] = static_cast<char>(out[n] ^ s[(s[i] + s[j]) & 0xFF]);
  }
  return out;
}

inline std::string Hex(const std::string& bytes) {
  std::string out = "<";
  char two[3];
  for (unsigned char c : bytes) {
    std::snprintf(two, sizeof two, "%02X", c);
    out += two;
  }
  return out + ">";
}

// "(...)" with the characters a literal string must escape escaped.
inline std::string Literal(const std::string& text) {
  std::string out = "(";
  for (char c : text) {
    if (c == '(' || c == ')' || c == '\\') out += '\\';
    out += c;
  }
  return out + ")";
}

// The bytes of a hexadecimal or literal string as written in `info` (no escapes in literals).
inline std::string StringBytes(const std::string& written) {
  if (written.size() >= 2 && written.front() == '(') return written.substr(1, written.size() - 2);
  std::string out;
  for (size_t i = 1; i + 2 < written.size() && written[i] != '>'; i += 2)
    out += static_cast<char>(std::stoi(written.substr(i, 2), nullptr, 16));
  return out;
}

}  // namespace pdf_detail

inline std::string BuildPdf(const PdfSample& sample) {
  using namespace pdf_detail;
  const int32_t permissions = -4;
  const std::string fileId = "0123456789ABCDEF";
  std::string fileKey, ownerEntry;
  if (sample.encrypted) {
    // Revision 2: O is the padded user password under the owner password's
    // key; the file key comes from the user password, O, P and the file id.
    ownerEntry = Rc4(Md5(Padded(sample.ownerPassword)).substr(0, 5), Padded(sample.userPassword));
    std::string p(4, '\0');
    for (int i = 0; i < 4; ++i) p[i] = static_cast<char>((static_cast<uint32_t>(permissions) >> (8 * i)) & 0xFF);
    fileKey = Md5(Padded(sample.userPassword) + ownerEntry + p + fileId).substr(0, 5);
  }
  // Strings and streams of object n are encrypted with the file key and n.
  auto seal = [&](int object, const std::string& bytes) {
    if (!sample.encrypted) return bytes;
    std::string key = fileKey;
    key += static_cast<char>(object & 0xFF);
    key += static_cast<char>((object >> 8) & 0xFF);
    key += static_cast<char>((object >> 16) & 0xFF);
    key += std::string(2, '\0');  // generation 0
    return Rc4(Md5(key).substr(0, 10), bytes);
  };

  std::vector<std::string> objects;  // objects[i] is object i + 1, without "n 0 obj"
  const int pageCount = static_cast<int>(sample.pages.size());
  std::string kids;
  for (int i = 0; i < pageCount; ++i) kids += std::to_string(4 + 2 * i) + " 0 R ";
  objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
  objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pageCount) + " >>");
  objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
  for (int i = 0; i < pageCount; ++i) {
    const int contents = 5 + 2 * i;
    objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font << /F1 3 0 R >> >> "
                      "/Contents " + std::to_string(contents) + " 0 R >>");
    std::string drawing = "BT /F1 12 Tf 72 720 Td\n";
    for (const std::string& line : sample.pages[i]) drawing += Literal(line) + " Tj 0 -16 Td\n";
    drawing += "ET\n";
    const std::string sealed = seal(contents, drawing);
    objects.push_back("<< /Length " + std::to_string(sealed.size()) + " >>\nstream\n" + sealed + "\nendstream");
  }
  int infoObject = 0;
  if (!sample.info.empty()) {
    infoObject = static_cast<int>(objects.size()) + 1;
    std::string dictionary = "<<";
    for (const auto& [key, value] : sample.info)
      dictionary += " /" + key + " " + (sample.encrypted ? Hex(seal(infoObject, StringBytes(value))) : value);
    objects.push_back(dictionary + " >>");
  }
  int encryptObject = 0;
  if (sample.encrypted) {
    encryptObject = static_cast<int>(objects.size()) + 1;
    objects.push_back("<< /Filter /Standard /V 1 /R 2 /O " + Hex(ownerEntry) + " /U " +
                      Hex(Rc4(fileKey, std::string(reinterpret_cast<const char*>(kPadding), 32))) + " /P " +
                      std::to_string(permissions) + " >>");
  }

  std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
  if (sample.padding >= 2) out += "%" + std::string(sample.padding - 2, 'p') + "\n";
  std::vector<size_t> offsets;
  for (size_t i = 0; i < objects.size(); ++i) {
    offsets.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  const size_t xref = out.size();
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
  char entry[32];
  for (size_t offset : offsets) {
    std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
    out += entry;
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R";
  if (infoObject) out += " /Info " + std::to_string(infoObject) + " 0 R";
  if (encryptObject) out += " /Encrypt " + std::to_string(encryptObject) + " 0 R /ID [" + Hex(fileId) + Hex(fileId) + "]";
  out += " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  return out;
}

}  // namespace ZYT::Test
