#include "filters/items/EmailFilter.h"

#include "filters/items/MonitorRequest.h"
#include "framework/CoString.h"
#include "platform/mime/MailAttachments.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/StampedCache.h"
#include "platform/win32/Strings.h"

namespace {
constexpr PROPID kNumAttachments = 9;
constexpr PROPID kAttachmentInfo = 10;
constexpr PROPID kMessageSize = 13;
constexpr char kLabel[] = ".\\EmailFilter.cpp";
}  // namespace

HRESULT CEmailFilter::GetClassID(CLSID* pClassID) {
  if (!pClassID) return E_POINTER;
  *pClassID = CLSID_EmailFilter;
  return S_OK;
}

std::u16string CEmailFilter::getProxiedFilterClsid() {
  // Up to five registry reads per message otherwise; a registration that
  // moves the ".eml" filter changes the registry's stamp and is read anew.
  static auto* saved = new ZYT::StampedCache<int, std::u16string>;
  return saved->Get(0, [this] { return findSavedFilterClsid(kEmlFilterRow); });
}

void CEmailFilter::FinalRelease() noexcept {
  CAbstractProxyFilter::FinalRelease();
  DeleteTempFile(true);
}

void CEmailFilter::DeleteTempFile(bool logFailure) {
  if (!deleteTempFile(m_tempFilePath) && logFailure) m_log.LogWin32Failure(u"DeleteFile", kLabel, __LINE__);
  m_tempFilePath.clear();
}

void CEmailFilter::releaseDocument() {
  // A second Load on the same object starts from nothing: the first
  // message's file goes now, not at release.
  if (!m_tempFilePath.empty()) DeleteTempFile(true);
  m_fileSize = 0;
  m_numAttachments.assign(1, u'0');
  m_attachmentInfo.clear();
}

HRESULT CEmailFilter::RefuseLongPath(const char* what, const std::u16string& path) {
  m_logStream << "Load: the " << what << " path has " << static_cast<ULONG>(path.size())
              << " characters; a monitor request holds " << static_cast<ULONG>(CMonitorRequest::kPathChars)
              << " without a zero, and a cut path would name another file\n";
  m_log.Write(m_logStream);
  return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
}

HRESULT CEmailFilter::loadDocument(IPersistFile* proxied, const std::u16string& path, DWORD mode) {
  if (!CMonitorRequest::PathFits(path)) return RefuseLongPath("document", path);
  m_tempFilePath = getTempFile(u"qhm");
  if (!CMonitorRequest::PathFits(m_tempFilePath)) {
    HRESULT hr = RefuseLongPath("temporary file", m_tempFilePath);
    DeleteTempFile(false);
    return hr;
  }
  m_log.Log(u"Load: fetching message\n");
  HRESULT hr = CMonitorRequest::FetchMessage(path, m_tempFilePath, 1, 0, [this](DWORD waited) {
    if (waited == 0)
      m_log.Log(u"Load: waiting for the monitor's message server to run\n");
    else {
      m_logStream << "Load: still waiting for the monitor's message server after " << waited << " s\n";
      m_log.Write(m_logStream);
    }
  });
  if (FAILED(hr)) {
    m_log.LogComError(_com_error(hr), kLabel, __LINE__);
    DeleteTempFile(false);
    return hr;
  }
  copyFileTime(path, m_tempFilePath);
  m_fileSize = getFileSize(m_tempFilePath);
  m_logStream << "Load: message size = " << m_fileSize << "\n";
  m_log.Write(m_logStream);
  ZYT::MailAttachments attachments = ZYT::ParseMailAttachments(readFileBytes(m_tempFilePath));
  m_numAttachments = attachments.count;
  m_attachmentInfo = attachments.names;
  if (attachments.count != u"0") {
    m_logStream << "num-attachments: " << m_numAttachments << "\n";
    m_log.Write(m_logStream);
    m_logStream << "attachment-info: " << m_attachmentInfo << "\n";
    m_log.Write(m_logStream);
  }
  CCoString copy(m_tempFilePath);
  if (!copy.get()) {
    m_log.Log(u"Load: returning E_OUTOFMEMORY\n");
    DeleteTempFile(false);
    return E_OUTOFMEMORY;
  }
  if (!proxied) ZYT::ThrowHResult(E_POINTER);
  hr = proxied->Load(copy.get(), mode);
  if (FAILED(hr)) {
    m_logStream << "Load: MIME filter returned " << ZYT::Hex(hr) << "\n";
    m_log.Write(m_logStream);
    DeleteTempFile(false);
  }
  return hr;
}

HRESULT CEmailFilter::getPropertyChunk(ULONG ordinal, STAT_CHUNK& chunk) {
  static constexpr PROPID ids[] = {kNumAttachments, kAttachmentInfo, kMessageSize};
  if (ordinal < 1 || ordinal > 3) {
    m_log.Log(u"GetChunk: returning FILTER_E_END_OF_CHUNKS\n");
    return FILTER_E_END_OF_CHUNKS;
  }
  chunk.attribute.guidPropSet = m_propertySetId;
  chunk.attribute.psProperty.ulKind = PRSPEC_PROPID;
  chunk.attribute.psProperty.propid = ids[ordinal - 1];
  m_logStream << "GetChunk: returning chunk for propid " << ZYT::Hex(ids[ordinal - 1]) << "\n";
  m_log.Write(m_logStream);
  return S_OK;
}

HRESULT CEmailFilter::getPropertyValue(const STAT_CHUNK& chunk, PROPVARIANT& value) {
  PROPID id = chunk.attribute.psProperty.propid;
  if (id == kNumAttachments || id == kAttachmentInfo) {
    value.pwszVal = ZYT::CoTaskStrDup(id == kNumAttachments ? m_numAttachments : m_attachmentInfo);
    if (!value.pwszVal) ZYT::ThrowHResult(E_OUTOFMEMORY);
    value.vt = VT_LPWSTR;
  } else if (id == kMessageSize) {
    value.vt = VT_UI4;
    value.ulVal = m_fileSize;
  }
  m_logStream << "GetValue: returning value for propid " << ZYT::Hex(id) << ", value = " << ZYT::RenderPropVariant(value)
              << "\n";
  m_log.Write(m_logStream);
  return S_OK;
}
