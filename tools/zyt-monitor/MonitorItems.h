// What the monitor makes of the product's item documents.
//
// An item document (".qhm", ".qhcontact", ".qhevent", ".qhnote", ".qhtask")
// is a short text file of "key: value" lines ("#" starts a comment):
//
//   message: Maildir/cur/1733412345.M1P2.host:2,S   (.qhm: an RFC 822 message
//                                                    file, .eml or Maildir)
//   item: contacts.vcf#4fa1-uid                      (PIM: a vCard or iCalendar
//                                                    file, optionally the UID
//                                                    of the entry; else the first)
//
// Relative paths are relative to the document's folder. The message server
// copies the message unchanged into the target file; the PIM server writes an
// XML item document: a root element named after the item kind (contact,
// event, note, task) with "title" and "status" children and one child per
// property of the entry (lower-case names, values unescaped).
#pragma once

#include <string>

#include "platform/win32/WinTypes.h"

namespace ZytMonitor {

// S_OK when the target holds the item; the error otherwise (the target file
// is then left as it was).
HRESULT ProduceMessage(const std::string& document, const std::string& target);
HRESULT ProducePimItem(const std::string& document, const std::string& target);

// The XML item document of one vCard or iCalendar entry (exposed for tests).
// Empty when the file has no such entry.
std::string PimItemXml(const std::string& kind, const std::string& calendarText, const std::string& uid);

}  // namespace ZytMonitor
