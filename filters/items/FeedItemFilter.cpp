#include "filters/items/FeedItemFilter.h"

#include <algorithm>

#include "filters/items/FeedSummary.h"
#include "filters/xml/XmlText.h"
#include "interfaces/ClassIds.h"
#include "platform/com/ComError.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Limits.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"
#include "platform/xml/XmlDocument.h"

namespace {

constexpr PROPID kFeedName = 16;
constexpr PROPID kFeedUrl = 17;
constexpr PROPID kDocumentSize = 15;
constexpr PROPID kFrom = 12;
constexpr PROPID kSummary = 6;
constexpr PROPID kTitle = 11;
constexpr PROPID kOwnChunks[] = {kFeedName, kFeedUrl, kDocumentSize, kFrom, kSummary, kTitle};
constexpr char kLabel[] = ".\\FeedItemFilter.cpp";

}  // namespace

CFeedItemFilter::CFeedItemFilter() : CItemProxyFilter(u"ITM", kLabel, kOwnChunks) {}

HRESULT CFeedItemFilter::GetClassID(CLSID* pClassID) {
  if (!pClassID) return E_POINTER;
  *pClassID = CLSID_FeedItemFilter;
  return S_OK;
}

void CFeedItemFilter::clearItem() {
  m_fileSize = 0;
  m_feedName.clear();
  m_feedUrl.clear();
  m_summary.clear();
  m_title.clear();
}

HRESULT CFeedItemFilter::loadDocument(IPersistFile* proxied, const std::u16string& path, DWORD mode) {
  m_fileSize = getFileSize(path);
  LogFileSize(m_fileSize);
  ReadItem(path);
  if (!proxied) ZYT::ThrowHResult(E_POINTER);
  // The document itself: a feed item needs no temporary file.
  HRESULT hr = proxied->Load(path.c_str(), mode);
  if (FAILED(hr)) {
    m_logStream << "Load: XML filter returned " << ZYT::Hex(hr) << "\n";
    m_log.Write(m_logStream);
  }
  return hr;
}

// Read as the XML filter reads it (same limits, same decoding); a file it
// cannot read or parse leaves the members empty, and a missing element leaves
// only its own member empty.
void CFeedItemFilter::ReadItem(const std::u16string& path) {
  const size_t maxBytes = std::clamp<DWORD>(ZYT::GetLimit(u"MaxXmlFileBytes", 268435456), 1048576, 1073741824);
  const unsigned maxDepth = std::clamp<DWORD>(ZYT::GetLimit(u"MaxXmlDepth", 256), 1, 256);
  const std::u16string normalised = ZYT::NormaliseItemPath(path);
  std::string bytes;
  DWORD error = ERROR_SUCCESS;
  ZYT::XmlDocument document;
  if (ZYT::ReadRegularFile(ZYT::ToPosixPath(normalised.c_str()), bytes, error, maxBytes)) {
    std::string text = ZYT::HasUtf16Mark(bytes) ? ZYT::Utf16LeToUtf8(std::string_view(bytes).substr(2))
                                                : ZYT::WideToUtf8(ZYT::CodePageToWide(GetACP(), bytes));
    bytes = std::string();
    document.LoadXmlText(text, nullptr, maxDepth);
  }
  auto valueOf = [&](const char* xpath) { return ZYT::Utf8ToWide(document.SelectSingleNode(xpath).Text()); };
  m_feedName = valueOf("/*/feed-name/text()");
  m_feedUrl = valueOf("/*/feed-url/text()");
  m_title = valueOf("/*/title/text()");
  m_summary = ZYT::FeedSummaryOf(valueOf("/*/description/text()"));
  if (m_title.empty()) m_title = ZYT::ShortenText(m_summary, ZYT::kFeedTitleChars);
  if (m_title.empty()) m_title = m_feedName;
}

void CFeedItemFilter::fillValue(PROPID id, PROPVARIANT& value) {
  switch (id) {
    case kFeedName:
    case kFrom: SetString(value, m_feedName); break;
    case kFeedUrl: SetString(value, m_feedUrl); break;
    case kDocumentSize:
      value.vt = VT_UI4;
      value.ulVal = m_fileSize;
      break;
    case kSummary: SetString(value, m_summary); break;
    case kTitle: SetString(value, m_title); break;
    default: break;
  }
}
