#include "filters/items/PimFilter.h"

#include <algorithm>

#include "filters/items/MonitorRequest.h"
#include "filters/xml/XmlText.h"
#include "interfaces/ClassIds.h"
#include "platform/com/ComError.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Limits.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"
#include "platform/xml/XmlDocument.h"

namespace {

constexpr PROPID kDocumentSize = 15;
constexpr PROPID kStatus = 18;
constexpr PROPID kSummary = 6;
constexpr PROPID kTitle = 11;
constexpr PROPID kOwnChunks[] = {kDocumentSize, kStatus, kSummary, kTitle};
constexpr char kLabel[] = ".\\PimFilter.cpp";

}  // namespace

CPimFilter::CPimFilter() : CItemProxyFilter(u"PIM", kLabel, kOwnChunks) {}

HRESULT CPimFilter::GetClassID(CLSID* pClassID) {
  if (!pClassID) return E_POINTER;
  *pClassID = CLSID_PimFilter;
  return S_OK;
}

void CPimFilter::clearItem() {
  m_fileSize = 0;
  m_status.clear();
  m_summary.clear();
  m_title.clear();
}

HRESULT CPimFilter::loadDocument(IPersistFile* proxied, const std::u16string& path, DWORD mode) {
  if (!CMonitorRequest::PathFits(path)) {
    m_logStream << "Load: the document path has " << static_cast<ULONG>(path.size())
                << " characters; a monitor request holds " << static_cast<ULONG>(CMonitorRequest::kPathChars)
                << " without a zero, and a cut path would name another file\n";
    m_log.Write(m_logStream);
    return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  }
  if (HRESULT hr = MakeTempFile(u"pim", true); FAILED(hr)) return hr;
  m_log.Log(u"Load: fetching XML\n");
  HRESULT hr = CMonitorRequest::FetchPimItem(path, m_tempFilePath, 1, 0, [this](DWORD waited) {
    if (waited == 0)
      m_log.Log(u"Load: waiting for the monitor's PIM server to run\n");
    else {
      m_logStream << "Load: still waiting for the monitor's PIM server after " << waited << " s\n";
      m_log.Write(m_logStream);
    }
  });
  if (FAILED(hr)) {
    m_log.LogComError(_com_error(hr), kLabel, __LINE__);
    DeleteTempFile(false);
    return hr;
  }
  try {
    copyFileTime(path, m_tempFilePath);
    m_fileSize = getFileSize(m_tempFilePath);
    LogFileSize(m_fileSize);
    ReadItem();
  } catch (...) {
    // The base logs and answers the failure; the item goes now, not at release.
    DeleteTempFile(false);
    throw;
  }
  return LoadTempFile(proxied, mode, "XML");
}

// The item as the XML filter will read it; a file it cannot read or parse
// leaves the members empty (the XML filter then indexes its own error).
void CPimFilter::ReadItem() {
  const size_t maxBytes = std::clamp<DWORD>(ZYT::GetLimit(u"MaxXmlFileBytes", 268435456), 1048576, 1073741824);
  const unsigned maxDepth = std::clamp<DWORD>(ZYT::GetLimit(u"MaxXmlDepth", 256), 1, 256);
  std::string bytes;
  DWORD error = ERROR_SUCCESS;
  ZYT::XmlDocument document;
  if (ZYT::ReadRegularFile(ZYT::ToPosixPath(m_tempFilePath.c_str()), bytes, error, maxBytes)) {
    std::string text = ZYT::HasUtf16Mark(bytes) ? ZYT::Utf16LeToUtf8(std::string_view(bytes).substr(2))
                                                : ZYT::WideToUtf8(ZYT::CodePageToWide(GetACP(), bytes));
    document.LoadXmlText(text, nullptr, maxDepth);
  }
  m_status = ZYT::Utf8ToWide(document.SelectSingleNode("/*/status/text()").Text());
  m_summary = ZYT::Utf8ToWide(document.Xml());
  m_title = ZYT::Utf8ToWide(document.SelectSingleNode("/*/title/text()").Text());
}

void CPimFilter::fillValue(PROPID id, PROPVARIANT& value) {
  switch (id) {
    case kDocumentSize:
      value.vt = VT_UI4;
      value.ulVal = m_fileSize;
      break;
    case kStatus: SetString(value, m_status); break;
    case kSummary: SetString(value, m_summary); break;
    case kTitle: SetString(value, m_title); break;
    default: break;
  }
}
