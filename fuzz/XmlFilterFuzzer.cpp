// libFuzzer target: the XML filter's reading of a file, from the bytes to the
// text nodes: the UTF-16 mark, the UTF-8 check that lets text through
// unconverted, the parse with its depth bound, "//text()". The streaming
// reader the filter uses must give what the whole tree gives: the same
// outcome, the same parse error, the same text nodes in the same order.
// Input without the mark goes to the parser as it is (the system code page
// being UTF-8).
#include <unicode/ustring.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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
  // Well-formed exactly when the code page conversion substitutes nothing.
  if (size < 0x7FFFFFFF) {
    int32_t units = 0, substitutions = 0;
    UErrorCode status = U_ZERO_ERROR;
    u_strFromUTF8WithSub(nullptr, 0, &units, bytes.data(), static_cast<int32_t>(size), 0xFFFD, &substitutions,
                         &status);
    if (ZYT::IsWellFormedUtf8(bytes) != (substitutions == 0)) __builtin_trap();
  }
  const unsigned maxDepth = size % 2 ? 1 + data[0] % 8 : 256;
  ZYT::XmlDocument document;
  ZYT::XmlParseError error, streamError;
  std::vector<std::string> texts, streamed;
  const bool parsed = document.LoadXmlText(text, &error, maxDepth);
  if (parsed) {
    for (const ZYT::XmlNode& node : document.SelectNodes("//text()")) texts.push_back(node.Text());
  } else {
    if (error.reason.empty() || error.line < 0) __builtin_trap();
  }
  ZYT::XmlTextNodes nodes;
  const bool streamParsed = ZYT::ReadXmlTextNodes(
      text, [&](const char* t) { nodes.Add(t); }, &streamError, maxDepth);
  if (streamParsed != parsed) __builtin_trap();
  if (!parsed) {
    if (streamError.line != error.line || streamError.column != error.column || streamError.offset != error.offset ||
        streamError.reason != error.reason)
      __builtin_trap();
    return 0;
  }
  for (std::string_view t; nodes.Next(&t);) streamed.emplace_back(t);
  if (streamed != texts) __builtin_trap();
  return 0;
}
