#include "catalogproxy/ProxyText.h"

#include <exception>

#include "framework/PathUtilities.h"
#include "framework/SimpleLogger.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Strings.h"

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

std::u16string ProxyTitle(const std::u16string& capturedTitle, const std::u16string& capturedDocTitle,
                          const std::u16string& capturedSubject, const std::u16string& contentType,
                          const std::u16string& filePath) {
  if (!capturedTitle.empty()) return capturedTitle;
  std::u16string longPath = ZYT::LongPathOf(filePath);
  if (Contains(contentType, u"rfc822")) return capturedSubject.empty() ? u"[No Subject]" : capturedSubject;
  if (Contains(contentType, u"x-orrery-contact")) return u"[No Name]";
  if (Contains(contentType, u"x-orrery-event") || Contains(contentType, u"x-orrery-note") ||
      Contains(contentType, u"x-orrery-task")) {
    return u"[No Subject]";
  }
  // Web pages and scratchpads are known by their document title, archive
  // items by the file's title.
  if (contentType == u"text/html" || Contains(contentType, u"x-loomtrails-webpage") ||
      Contains(contentType, u"x-orrery-scratchpad")) {
    return capturedDocTitle.empty() ? ZYT::FileTitleOf(longPath) : capturedDocTitle;
  }
  if (Contains(contentType, u"x-orrery-archive-item")) return ZYT::FileTitleOf(longPath);
  return ZYT::FileNameOf(longPath);
}

std::u16string FileAttributeText(const std::u16string& path) {
  static constexpr struct {
    DWORD bit;
    const char16_t* name;
  } kNames[] = {{FILE_ATTRIBUTE_READONLY, u"read-only"},     {FILE_ATTRIBUTE_HIDDEN, u"hidden"},
                {FILE_ATTRIBUTE_SYSTEM, u"system"},          {FILE_ATTRIBUTE_DIRECTORY, u"directory"},
                {FILE_ATTRIBUTE_ARCHIVE, u"archive"},        {FILE_ATTRIBUTE_COMPRESSED, u"compressed"},
                {FILE_ATTRIBUTE_OFFLINE, u"offline"},        {FILE_ATTRIBUTE_ENCRYPTED, u"encrypted"}};
  DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) attributes = 0;  // gone since Load: nothing to name
  // Archives are written read-only by the product itself; that says nothing to the user.
  if (ZYT::ToLower(ZYT::ExtensionOf(path)) == u"qharc") attributes &= ~FILE_ATTRIBUTE_READONLY;
  std::u16string text;
  for (const auto& entry : kNames) {
    if (!(attributes & entry.bit)) continue;
    if (!text.empty()) text += u"; ";
    text += entry.name;
  }
  return text.empty() ? u"normal" : text;
}
