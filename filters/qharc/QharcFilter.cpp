#include "filters/qharc/QharcFilter.h"

#include <algorithm>

#include "filters/qharc/QharcItem.h"
#include "framework/AbstractProxyFilter.h"
#include "framework/CoString.h"
#include "framework/PersistentHandler.h"
#include "interfaces/DocTypeManager.h"
#include "platform/com/ComVariant.h"
#include "platform/com/ObjBase.h"
#include "platform/com/TaskAllocator.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Limits.h"
#include "platform/win32/PathFunctions.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"
#include "platform/win32/Volume.h"

namespace {

constexpr char kLabel[] = ".\\QharcFilter.cpp";
// The archive name in the product's property set.
constexpr PROPID kArchiveNamePropId = 21;

const char* EndCodeName(HRESULT hr) {
  switch (hr) {
    case FILTER_E_END_OF_CHUNKS: return "FILTER_E_END_OF_CHUNKS";
    case FILTER_E_ACCESS: return "FILTER_E_ACCESS";
    case FILTER_E_EMBEDDING_UNAVAILABLE: return "FILTER_E_EMBEDDING_UNAVAILABLE";
    case FILTER_E_LINK_UNAVAILABLE: return "FILTER_E_LINK_UNAVAILABLE";
    case FILTER_E_PASSWORD: return "FILTER_E_PASSWORD";
    default: return nullptr;
  }
}

DWORD Limit(const char16_t* name, DWORD fallback, DWORD low, DWORD high) {
  return std::clamp(ZYT::GetLimit(name, fallback), low, high);
}

}  // namespace

CQharcFilter::CQharcFilter() : EasyIFilterBase(u"AAP", CLSID_QharcFilter) {
  CLSIDFromString(u"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}", &m_productPropSet);
}

HRESULT CQharcFilter::FinalConstruct() {
  m_spIFilter.Reset();
  m_spPersist.Reset();
  return FinalConstructStep();
}

void CQharcFilter::FinalRelease() noexcept {
  m_log.Log(u"Final Release");
  m_spPersist.Reset();
  m_spIFilter.Reset();
}

HRESULT CQharcFilter::Load(LPCOLESTR pszFileName, DWORD dwMode) {
  HRESULT hr = ZYT::ComBoundary("Load", &m_log, [&] {
    if (!pszFileName) return E_POINTER;
    return LoadItem(pszFileName, dwMode);
  });
  if (FAILED(hr)) {
    // A filter whose file did not load serves no chunks.
    m_spPersist.Reset();
    m_spIFilter.Reset();
  }
  m_logStream << "QHArch proxy load returning: " << ZYT::Hex(hr) << "\n";
  m_log.Write(m_logStream);
  return hr;
}

HRESULT CQharcFilter::LoadItem(const std::u16string& itemPath, DWORD mode) {
  m_spPersist.Reset();
  m_spIFilter.Reset();
  m_itemPath = itemPath;
  m_logStream << "Load: " << m_itemPath << "\n";
  m_log.Write(m_logStream);

  std::string posixPath, bytes;
  DWORD error = ERROR_SUCCESS;
  const size_t maxBytes = Limit(u"MaxQharcItemBytes", 1048576, 4096, 67108864);
  if (!ZYT::MapToPosixPath(m_itemPath, posixPath, error) || !ZYT::ReadRegularFile(posixPath, bytes, error, maxBytes))
    throw HRESULT_FROM_WIN32(error);

  QharcItem item;
  ZYT::XmlParseError parseError;
  QharcItemResult read = ReadQharcItem(bytes, Limit(u"MaxXmlDepth", 256, 1, 256), item, parseError);
  switch (read) {
    case QharcItemResult::Read: break;
    case QharcItemResult::NotXml:
      m_logStream << "XML parse error at line " << parseError.line << ", character " << parseError.column
                  << " (file position " << static_cast<int64_t>(parseError.offset)
                  << "): " << ZYT::Utf8ToWide(parseError.reason) << "\n";
      m_log.Write(m_logStream, kLabel, __LINE__);
      return E_FAIL;
    case QharcItemResult::NoFileElement: _com_issue_error(E_POINTER);
    case QharcItemResult::MissingValue:
    case QharcItemResult::SerialNotNumber: _com_issue_error(DISP_E_TYPEMISMATCH);
    case QharcItemResult::SerialTooLarge: _com_issue_error(DISP_E_OVERFLOW);
  }
  m_archiveName = item.archiveName;
  m_filePath = item.rippedPath;
  m_logStream << m_itemPath << " loaded. xml=" << item.xml << " Actual file name=" << m_filePath << "\n";
  m_log.Write(m_logStream);
  m_logStream << "Original Volume  sn: " << item.volumeSerialNumber << " vol: " << item.volumeLabel << "\n";
  m_log.Write(m_logStream);

  if (!MediumMatches(item.originalRootPath, item.volumeLabel, item.volumeSerialNumber)) return E_FAIL;

  std::u16string filterClass = RealFilterClass(ZYT::ExtensionOf(m_filePath));
  m_logStream << "Actual IFilter GUID: " << filterClass << "\n";
  m_log.Write(m_logStream);

  HRESULT hr = CreateFilterFromText(filterClass, m_spIFilter);
  if (FAILED(hr)) return hr;
  hr = m_spIFilter.As(m_spPersist);
  if (FAILED(hr)) return hr;
  m_log.Log(u"Calling actual filter's IPersistFile::load method.\n");
  CCoString path(m_filePath);
  hr = m_spPersist->Load(path.get(), mode);
  m_logStream << "Actual filter's IPersistFile::load method returns: " << ZYT::Hex(hr) << "\n";
  m_log.Write(m_logStream);
  return hr;
}

bool CQharcFilter::MediumMatches(const std::u16string& root, const std::u16string& label, DWORD serial) {
  // An empty drive must fail the call, not ask the user for a medium.
  UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
  WCHAR volumeName[64] = {};
  DWORD mountedSerial = 0;
  SetLastError(ERROR_SUCCESS);
  GetVolumeInformationW(root.c_str(), volumeName, 64, &mountedSerial, nullptr, nullptr, nullptr, 0);
  DWORD error = GetLastError();
  SetErrorMode(previousMode);
  m_logStream << "Mounted Volume  sn: " << mountedSerial << " vol: " << volumeName << "\n";
  m_log.Write(m_logStream);
  if (error == ERROR_SUCCESS && mountedSerial == serial && label == volumeName) return true;
  m_logStream << "<<<MEDIA ERROR>>> Mismatch or last error: " << error << "\n";
  m_log.Write(m_logStream);
  return false;
}

std::u16string CQharcFilter::RealFilterClass(const std::u16string& extension) {
  ZYT::ComPtr<IOrreryDocTypeManager> manager;
  ZYT::ThrowIfFailed(
      CoCreateInstance(CLSID_DocTypeManager, nullptr, CLSCTX_ALL, IOrreryDocTypeManager::iid, manager.put_void()));
  ZYT::CBstr handler;
  ZYT::ThrowIfFailed(manager->GetFilter(ZYT::CBstr(u"." + extension).get(), handler.put()));
  // Behind the catalog proxy the native filter is saved beside it.
  std::u16string saved = ZYT::SavedFilterOfHandler(handler.str());
  return saved.empty() ? handler.str() : saved;
}

HRESULT CQharcFilter::Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) {
  return ZYT::ComBoundary("Init", &m_log, [&] {
    m_forwarding = true;
    m_archiveChunkEmitted = false;
    m_archiveValueReturned = false;
    HRESULT hr = BaseInit(grfFlags, cAttributes, aAttributes, pFlags);
    if (FAILED(hr)) return hr;
    if (!m_spIFilter) _com_issue_error(E_POINTER);
    return m_spIFilter->Init(grfFlags, cAttributes, aAttributes, pFlags);
  });
}

HRESULT CQharcFilter::GetChunk(STAT_CHUNK* pStat) {
  return ZYT::ComBoundary("GetChunk", &m_log, [&] {
    if ((!m_initFlags.property && !m_initFlags.list) || !m_spIFilter) return FILTER_E_END_OF_CHUNKS;
    if (m_forwarding) {
      HRESULT hr = m_spIFilter->GetChunk(pStat);
      if (SUCCEEDED(hr)) {
        m_chunkNumber = pStat->idChunk;
        return hr;
      }
      m_forwarding = false;
      if (const char* name = EndCodeName(hr))
        m_logStream << "GetChunk: proxied filter returned " << name << "\n";
      else
        m_logStream << "GetChunk: proxied filter returned " << ZYT::Hex(hr) << "\n";
      m_log.Write(m_logStream);
    }
    if (m_archiveChunkEmitted) return FILTER_E_END_OF_CHUNKS;
    if (!pStat) return E_POINTER;
    *pStat = STAT_CHUNK{};
    pStat->idChunk = ++m_chunkNumber;
    pStat->breakType = CHUNK_EOS;
    pStat->flags = CHUNK_VALUE;
    pStat->locale = GetSystemDefaultLCID();
    pStat->attribute.guidPropSet = m_productPropSet;
    pStat->attribute.psProperty.ulKind = PRSPEC_PROPID;
    pStat->attribute.psProperty.propid = kArchiveNamePropId;
    pStat->idChunkSource = pStat->idChunk;
    m_archiveChunkEmitted = true;
    m_log.Log(u"GetChunk: returning chunk for ORRERY_ARCHIVE_NAME");
    return S_OK;
  });
}

HRESULT CQharcFilter::GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) {
  return ZYT::ComBoundary("GetText", &m_log, [&] {
    if (!m_spIFilter) _com_issue_error(E_POINTER);
    return m_spIFilter->GetText(pcwcBuffer, awcBuffer);
  });
}

HRESULT CQharcFilter::BindRegion(FILTERREGION origPos, REFIID riid, void** ppunk) {
  return ZYT::ComBoundary("BindRegion", &m_log, [&] {
    if (!m_spIFilter) _com_issue_error(E_POINTER);
    return m_spIFilter->BindRegion(origPos, riid, ppunk);
  });
}

HRESULT CQharcFilter::GetValue(PROPVARIANT** ppPropValue) {
  return ZYT::ComBoundary("GetValue", &m_log, [&] {
    if (m_forwarding) {
      if (!m_spIFilter) _com_issue_error(E_POINTER);
      HRESULT hr = m_spIFilter->GetValue(ppPropValue);
      if (hr == FILTER_E_NO_MORE_VALUES) {
        m_log.Log(u"GetValue: proxied filter returned FILTER_E_NO_MORE_VALUES\n");
      } else if (hr == FILTER_E_NO_VALUES) {
        m_log.Log(u"GetValue: proxied filter returned FILTER_E_NO_VALUES\n");
      } else if (FAILED(hr)) {
        m_logStream << "GetValue: proxied filter returned " << ZYT::Hex(hr) << "\n";
        m_log.Write(m_logStream);
      }
      return hr;
    }
    if (!ppPropValue) return E_POINTER;
    *ppPropValue = nullptr;
    // Only the archive chunk has a value of this filter's own, and only once.
    if (m_archiveValueReturned || !m_archiveChunkEmitted) {
      m_log.Log(u"GetValue: returning FILTER_E_NO_MORE_VALUES\n");
      return FILTER_E_NO_MORE_VALUES;
    }
    auto* value = static_cast<PROPVARIANT*>(CoTaskMemAlloc(sizeof(PROPVARIANT)));
    LPWSTR text = value ? ZYT::CoTaskStrDup(m_archiveName) : nullptr;
    if (!text) {
      CoTaskMemFree(value);
      m_log.Log(u"GetValue: returning E_OUTOFMEMORY\n");
      return E_OUTOFMEMORY;
    }
    *value = PROPVARIANT{};
    value->vt = VT_LPWSTR;
    value->pwszVal = text;
    *ppPropValue = value;
    m_archiveValueReturned = true;
    m_logStream << "GetValue: returning archive name property: " << m_archiveName << "\n";
    m_log.Write(m_logStream);
    return S_OK;
  });
}
