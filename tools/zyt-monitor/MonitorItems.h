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

// S_OK when the target holds the item; the error otherwise, and the target is
// then empty: E_ACCESSDENIED when it is not an empty regular file (it is never
// created, followed through a link or overwritten), ERROR_FILE_NOT_FOUND when
// the document or its item cannot be read (a document larger than the limit
// MonitorMaxDocumentBytes, an item file larger than MonitorMaxItemBytes, or
// anything but a regular file), ERROR_DISK_FULL when the target's file system
// is full, ERROR_FILE_TOO_LARGE past the process's file size limit, the
// write's own error otherwise.
HRESULT ProduceMessage(const std::string& document, const std::string& target);
HRESULT ProducePimItem(const std::string& document, const std::string& target);

// The XML item document of one vCard or iCalendar entry (exposed for tests).
// Empty when the file has no such entry.
std::string PimItemXml(const std::string& kind, const std::string& calendarText, const std::string& uid);

}  // namespace ZytMonitor
