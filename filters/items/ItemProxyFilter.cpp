#include "filters/items/ItemProxyFilter.h"

#include "filters/items/MonitorRequest.h"
#include "framework/CoString.h"
#include "platform/com/ComError.h"
#include "platform/com/TaskAllocator.h"

void CItemProxyFilter::FinalRelease() noexcept {
  CAbstractProxyFilter::FinalRelease();
  DeleteTempFile(true);
}

void CItemProxyFilter::releaseDocument() {
  // A second Load on the same object starts from nothing: the first
  // document's file goes now, not at release.
  DeleteTempFile(true);
  clearItem();
}

void CItemProxyFilter::DeleteTempFile(bool logFailure) {
  if (m_tempFilePath.empty()) return;
  if (!deleteTempFile(m_tempFilePath) && logFailure) m_log.LogWin32Failure(u"DeleteFile", m_label, __LINE__);
  m_tempFilePath.clear();
}

HRESULT CItemProxyFilter::MakeTempFile(const std::u16string& prefix, bool forMonitor) {
  m_tempFilePath = getTempFile(prefix);
  if (forMonitor && !CMonitorRequest::PathFits(m_tempFilePath)) {
    m_logStream << "Load: the temporary file path has " << static_cast<ULONG>(m_tempFilePath.size())
                << " characters; a monitor request holds " << static_cast<ULONG>(CMonitorRequest::kPathChars)
                << " without a zero, and a cut path would name another file\n";
    m_log.Write(m_logStream);
    DeleteTempFile(false);
    return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  }
  return S_OK;
}

HRESULT CItemProxyFilter::LoadTempFile(IPersistFile* proxied, DWORD mode, const char* filterName) {
  CCoString copy(m_tempFilePath);
  if (!copy.get()) {
    m_log.Log(u"Load: returning E_OUTOFMEMORY\n");
    DeleteTempFile(false);
    return E_OUTOFMEMORY;
  }
  if (!proxied) {
    DeleteTempFile(false);
    ZYT::ThrowHResult(E_POINTER);
  }
  HRESULT hr = proxied->Load(copy.get(), mode);
  if (FAILED(hr)) {
    m_logStream << "Load: " << filterName << " filter returned " << ZYT::Hex(hr) << "\n";
    m_log.Write(m_logStream);
    DeleteTempFile(false);
  }
  return hr;
}

void CItemProxyFilter::LogFileSize(DWORD size) {
  m_logStream << "Load: file size = " << size << "\n";
  m_log.Write(m_logStream);
}

void CItemProxyFilter::SetString(PROPVARIANT& value, const std::u16string& text) {
  value.pwszVal = ZYT::CoTaskStrDup(text);
  if (!value.pwszVal) ZYT::ThrowHResult(E_OUTOFMEMORY);
  value.vt = VT_LPWSTR;
}

HRESULT CItemProxyFilter::getPropertyChunk(ULONG ordinal, STAT_CHUNK& chunk) {
  if (ordinal < 1 || ordinal > m_ownChunks.size()) {
    m_log.Log(u"GetChunk: returning FILTER_E_END_OF_CHUNKS\n");
    return FILTER_E_END_OF_CHUNKS;
  }
  const PROPID id = m_ownChunks[ordinal - 1];
  chunk.attribute.guidPropSet = m_propertySetId;
  chunk.attribute.psProperty.ulKind = PRSPEC_PROPID;
  chunk.attribute.psProperty.propid = id;
  m_logStream << "GetChunk: returning chunk for propid " << ZYT::Hex(id) << "\n";
  m_log.Write(m_logStream);
  return S_OK;
}

HRESULT CItemProxyFilter::getPropertyValue(const STAT_CHUNK& chunk, PROPVARIANT& value) {
  const PROPID id = chunk.attribute.psProperty.propid;
  fillValue(id, value);
  m_logStream << "GetValue: returning value for propid " << ZYT::Hex(id) << ", value = " << ZYT::RenderPropVariant(value)
              << "\n";
  m_log.Write(m_logStream);
  return S_OK;
}
