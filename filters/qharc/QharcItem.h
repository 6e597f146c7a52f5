// The item file the product writes beside each file ripped from a medium: an
// XML document (UTF-16 after a byte order mark, else 8-bit text in the
// system code page) whose document element has a child "file" naming the
// archive, the file's path on the medium and the medium's root, label and
// serial number. Bytes in, a plain struct out.
#pragma once

#include <string>
#include <string_view>

#include "platform/win32/WinTypes.h"
#include "platform/xml/XmlDocument.h"

struct QharcItem {
  std::u16string archiveName;
  std::u16string rippedPath;
  std::u16string volumeLabel;
  DWORD volumeSerialNumber = 0;
  std::u16string originalRootPath;
  std::u16string xml;  // the whole document as parsed, for the log
};

enum class QharcItemResult {
  Read,
  NotXml,          // the parse error is filled
  NoFileElement,   // no element "/*/file"
  MissingValue,    // an attribute is missing (the serial number among them)
  SerialNotNumber, // the serial number is no number
  SerialTooLarge,  // a number that no 32 bits hold
};

// maxDepth: elements nested deeper are a parse error.
QharcItemResult ReadQharcItem(std::string_view bytes, unsigned maxDepth, QharcItem& item,
                              ZYT::XmlParseError& error);

// A serial number as written: decimal, optionally signed, spaces around it
// allowed; a negative one is its 32-bit two's complement, as tools that keep
// it in a signed integer write it.
QharcItemResult ParseSerialNumber(std::string_view text, DWORD& serial);
