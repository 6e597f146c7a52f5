// libFuzzer target: the XML filter's reading of a file, from the bytes to the
// text nodes: the UTF-16 mark, the parse with its depth bound, "//text()".
// Input without the mark goes to the parser as it is (the system code page
// being UTF-8).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "filters/xml/XmlText.h"
#include "platform/win32/FileApi.h"
#include "platform/xml/XmlDocument.h"

// XmlDocument::Load reads files through the platform library, which this
// target does not link: the input never comes from a file here.
bool ZYT::ReadRegularFile(const std::string&, std::string&, DWORD&, size_t) { __builtin_trap(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const bool utf16 = ZYT::HasUtf16Mark(bytes);
  std::string text = utf16 ? ZYT::Utf16LeToUtf8(bytes.substr(2)) : std::string(bytes);
  // Every unit becomes at most three bytes; a pair four for two units.
  if (utf16 && text.size() > (size - 2) / 2 * 3) __builtin_trap();
  const unsigned maxDepth = size % 2 ? 1 + data[0] % 8 : 256;
  ZYT::XmlDocument document;
  ZYT::XmlParseError error;
  if (document.LoadXmlText(text, &error, maxDepth)) {
    size_t total = 0;
    for (const ZYT::XmlNode& node : document.SelectNodes("//text()")) total += node.Text().size();
    (void)total;
  } else {
    if (error.reason.empty() || error.line < 0) __builtin_trap();
  }
  return 0;
}
