#include "filters/qharc/QharcItem.h"

#include <cstdint>

#include "filters/xml/XmlText.h"
#include "platform/win32/Strings.h"

QharcItemResult ParseSerialNumber(std::string_view text, DWORD& serial) {
  auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && space(text.front())) text.remove_prefix(1);
  while (!text.empty() && space(text.back())) text.remove_suffix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return QharcItemResult::SerialNotNumber;
  uint64_t value = 0;
  bool tooLarge = false;
  for (char c : text) {
    if (c < '0' || c > '9') return QharcItemResult::SerialNotNumber;
    if (!tooLarge) value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > UINT32_MAX) tooLarge = true;
  }
  if (tooLarge || (negative && value > 0x80000000u)) return QharcItemResult::SerialTooLarge;
  serial = negative ? static_cast<DWORD>(0u - static_cast<uint32_t>(value)) : static_cast<DWORD>(value);
  return QharcItemResult::Read;
}

QharcItemResult ReadQharcItem(std::string_view bytes, unsigned maxDepth, QharcItem& item, ZYT::XmlParseError& error) {
  item = QharcItem{};
  std::string text = ZYT::HasUtf16Mark(bytes) ? ZYT::Utf16LeToUtf8(bytes.substr(2))
                                              : ZYT::WideToUtf8(ZYT::CodePageToWide(GetACP(), bytes));
  ZYT::XmlDocument document;
  if (!document.LoadXmlText(text, &error, maxDepth)) return QharcItemResult::NotXml;
  ZYT::XmlNode file = document.SelectSingleNode("/*/file");
  if (!file || !file.IsElement()) return QharcItemResult::NoFileElement;
  item.xml = ZYT::Utf8ToWide(document.DocumentElement().Xml());
  for (const char* name :
       {"archive-name", "ripped-path", "volume-label", "volume-serial-number", "original-root-path"}) {
    if (!file.HasAttribute(name)) return QharcItemResult::MissingValue;
  }
  item.archiveName = ZYT::Utf8ToWide(file.Attribute("archive-name"));
  item.rippedPath = ZYT::Utf8ToWide(file.Attribute("ripped-path"));
  item.volumeLabel = ZYT::Utf8ToWide(file.Attribute("volume-label"));
  item.originalRootPath = ZYT::Utf8ToWide(file.Attribute("original-root-path"));
  return ParseSerialNumber(file.Attribute("volume-serial-number"), item.volumeSerialNumber);
}
