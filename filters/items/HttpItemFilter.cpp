#include "filters/items/HttpItemFilter.h"

#include <algorithm>
#include <cstdint>

#include "interfaces/ClassIds.h"
#include "platform/com/ComError.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Limits.h"

namespace {

constexpr PROPID kDocumentSize = 15;
constexpr PROPID kOwnChunks[] = {kDocumentSize};
constexpr char kLabel[] = ".\\HttpItemFilter.cpp";

}  // namespace

CHttpItemFilter::CHttpItemFilter() : CItemProxyFilter(u"HTP", kLabel, kOwnChunks) {}

HRESULT CHttpItemFilter::GetClassID(CLSID* pClassID) {
  if (!pClassID) return E_POINTER;
  *pClassID = CLSID_HttpItemFilter;
  return S_OK;
}

HRESULT CHttpItemFilter::loadDocument(IPersistFile* proxied, const std::u16string& path, DWORD mode) {
  // The copy costs the page's size again on disk: a page past the limit is
  // refused before anything is copied. (A page that cannot be looked at is
  // left to the copy, which says why.)
  const uint64_t maxBytes = std::max<DWORD>(ZYT::GetLimit(u"MaxWebItemBytes", 268435456), 1048576);
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    const uint64_t size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    if (size > maxBytes) {
      m_logStream << "Load: the page has " << size << " bytes, more than MaxWebItemBytes (" << maxBytes
                  << "); it is not copied\n";
      m_log.Write(m_logStream);
      return HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE);
    }
  }
  if (HRESULT hr = MakeTempFile(u"htp", false); FAILED(hr)) return hr;
  m_log.Log(u"Load: fetching HTML\n");
  if (!CopyFileW(path.c_str(), m_tempFilePath.c_str(), FALSE)) {
    DWORD error = GetLastError();
    m_log.LogWin32Failure(u"CopyFile", kLabel, __LINE__);
    DeleteTempFile(false);
    return HRESULT_FROM_WIN32(error);
  }
  m_fileSize = getFileSize(m_tempFilePath);
  LogFileSize(m_fileSize);
  return LoadTempFile(proxied, mode, "HTML");
}

void CHttpItemFilter::fillValue(PROPID id, PROPVARIANT& value) {
  if (id == kDocumentSize) {
    value.vt = VT_UI4;
    value.ulVal = m_fileSize;
  }
}
