#include "catalogproxy/ProxyText.h"

#include <exception>

#include "framework/PathUtilities.h"
#include "framework/SimpleLogger.h"

namespace {

// The C0 and C1 controls and DEL, as the wide-character control test of the
// indexer's platform classifies them.
bool IsControl(char16_t c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); }

bool Contains(const std::u16string& text, const char16_t* part) { return text.find(part) != std::u16string::npos; }

}  // namespace

std::u16string cleanseXMLText(const std::u16string& text, CSimpleLogger* log) {
  try {
    std::u16string cleansed = text;
    for (char16_t& c : cleansed) {
      if (IsControl(c) && c != u'\t' && c != u'\r' && c != u'\n') c = u' ';
    }
    return cleansed;
  } catch (const std::exception&) {
    if (log) log->Log(u"Unspecified exception in cleanseXMLText.\n");
    return text;
  }
}

std::u16string ProxyTitle(const std::u16string& capturedTitle, const std::u16string& capturedSubject,
                          const std::u16string& contentType, const std::u16string& filePath) {
  if (!capturedTitle.empty()) return capturedTitle;
  std::u16string longPath = ZYT::LongPathOf(filePath);
  if (Contains(contentType, u"rfc822")) return capturedSubject.empty() ? u"[No Subject]" : capturedSubject;
  if (Contains(contentType, u"x-orrery-contact")) return u"[No Name]";
  if (Contains(contentType, u"x-orrery-event") || Contains(contentType, u"x-orrery-note") ||
      Contains(contentType, u"x-orrery-task")) {
    return u"[No Subject]";
  }
  // Web pages, scratchpads and archive items are known by the file's title.
  if (contentType == u"text/html" || Contains(contentType, u"x-loomtrails-webpage") ||
      Contains(contentType, u"x-orrery-scratchpad") || Contains(contentType, u"x-orrery-archive-item")) {
    return ZYT::FileTitleOf(longPath);
  }
  return ZYT::FileNameOf(longPath);
}
