// libFuzzer target: the CD archive item reader on arbitrary bytes: the UTF-16
// mark or the system code page (UTF-8 or Windows-1252, chosen by the input's
// first byte), the parse with its depth bound, the file element and its five
// attributes, the serial number.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "filters/qharc/QharcItem.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"

namespace {
bool g_windows1252 = false;
}

// The reader's code-page lookup is the only registry read; it answers from
// here. XmlDocument::Load reads files, which the reader never does.
LONG RegOpenKeyExW(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY key) {
  *key = reinterpret_cast<HKEY>(1);
  return ERROR_SUCCESS;
}
LONG RegQueryValueExW(HKEY, LPCWSTR name, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD cb) {
  if (!g_windows1252 || std::u16string_view(name) != u"ACP" || *cb < 10) return ERROR_FILE_NOT_FOUND;
  std::memcpy(data, u"1252", 10);
  *type = REG_SZ;
  *cb = 10;
  return ERROR_SUCCESS;
}
LONG RegCloseKey(HKEY) { return ERROR_SUCCESS; }
// The conversions report their failures here; the reader never asks for them.
void SetLastError(DWORD) {}
bool ZYT::ReadRegularFile(const std::string&, std::string&, DWORD&, size_t) { __builtin_trap(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  g_windows1252 = size > 0 && (data[0] & 1);
  ZYT::ResetCodePageCache();
  const unsigned maxDepth = size > 1 && (data[1] & 1) ? 1 + data[1] % 8 : 256;
  QharcItem item;
  ZYT::XmlParseError error;
  switch (ReadQharcItem(bytes, maxDepth, item, error)) {
    case QharcItemResult::Read:
      if (item.xml.empty()) __builtin_trap();
      break;
    case QharcItemResult::NotXml:
      if (error.reason.empty() || error.line < 0) __builtin_trap();
      break;
    default:
      break;
  }
  return 0;
}
