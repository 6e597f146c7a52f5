#include "framework/AbstractProxyFilter.h"

#include <vector>

#include "framework/AutoHandle.h"
#include "framework/EasyIFilterBase.h"
#include "framework/PathUtilities.h"
#include "framework/SettingsAccess.h"
#include "framework/TempFileLock.h"
#include "platform/com/ObjBase.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Registry.h"
#include "platform/win32/SysInfo.h"

namespace {

constexpr char kLabel[] = ".\\AbstractProxyFilter.cpp";

const char* FilterCodeName(HRESULT hr) {
  switch (hr) {
    case FILTER_E_END_OF_CHUNKS: return "FILTER_E_END_OF_CHUNKS";
    case FILTER_E_ACCESS: return "FILTER_E_ACCESS";
    case FILTER_E_EMBEDDING_UNAVAILABLE: return "FILTER_E_EMBEDDING_UNAVAILABLE";
    case FILTER_E_LINK_UNAVAILABLE: return "FILTER_E_LINK_UNAVAILABLE";
    case FILTER_E_PASSWORD: return "FILTER_E_PASSWORD";
    case FILTER_E_NO_MORE_TEXT: return "FILTER_E_NO_MORE_TEXT";
    case FILTER_E_NO_TEXT: return "FILTER_E_NO_TEXT";
    case FILTER_S_LAST_TEXT: return "FILTER_S_LAST_TEXT";
    case FILTER_E_NO_MORE_VALUES: return "FILTER_E_NO_MORE_VALUES";
    case FILTER_E_NO_VALUES: return "FILTER_E_NO_VALUES";
    default: return nullptr;
  }
}

}  // namespace

HRESULT CreateFilterFromText(const std::u16string& text, ZYT::ComPtr<IFilter>& filter) {
  filter.Reset();
  CLSID clsid{};
  HRESULT hr = !text.empty() && text[0] == u'{' ? CLSIDFromString(text.c_str(), &clsid)
                                                 : CLSIDFromProgID(text.c_str(), &clsid);
  if (FAILED(hr)) return hr;
  // The context names out-of-process servers too, so the object is made for
  // IUnknown and put into its running state before it is asked for IFilter.
  ZYT::ComPtr<IUnknown> unknown;
  hr = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, unknown.put_void());
  if (FAILED(hr)) return hr;
  hr = OleRun(unknown.get());
  if (FAILED(hr)) return hr;
  return unknown.As(filter);
}

CAbstractProxyFilter::CAbstractProxyFilter(const char16_t* tag) : m_log(tag, true, true) {
  m_log.SetFolder(FilterLogFolder());
  CLSIDFromString(u"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}", &m_propertySetId);
}

HRESULT CAbstractProxyFilter::FinalConstruct() {
  return ZYT::ComBoundary("FinalConstruct", &m_log, [&] {
    m_log.Log(u"FinalConstruct\n");
    return S_OK;
  });
}

void CAbstractProxyFilter::FinalRelease() noexcept {
  m_log.Log(u"FinalRelease\n");
  m_spProxiedFilter.Reset();
}

void CAbstractProxyFilter::LogProxied(const char* method, HRESULT hr) {
  if (const char* name = FilterCodeName(hr))
    m_logStream << method << ": proxied filter returned " << name << "\n";
  else
    m_logStream << method << ": proxied filter returned " << ZYT::Hex(hr) << "\n";
  m_log.Write(m_logStream);
}

HRESULT CAbstractProxyFilter::Load(LPCOLESTR pszFileName, DWORD dwMode) {
  return ZYT::ComBoundary("Load", &m_log, [&] {
    std::u16string path = pszFileName ? pszFileName : u"";
    m_logStream << "Load: " << path << "\n";
    m_log.Write(m_logStream);
    m_spProxiedFilter.Reset();
    releaseDocument();
    m_loadFilePath = path;
    HRESULT hr = CreateFilterFromText(getProxiedFilterClsid(), m_spProxiedFilter);
    if (FAILED(hr)) {
      m_log.Log(u"Load: failed to instanstiate proxied filter\n");
      return hr;
    }
    ZYT::ComPtr<IPersistFile> persist;
    m_spProxiedFilter.As(persist);
    return loadDocument(persist.get(), m_loadFilePath, dwMode);
  });
}

HRESULT CAbstractProxyFilter::Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) {
  return ZYT::ComBoundary("Init", &m_log, [&] {
    if (!m_spProxiedFilter) {
      m_log.Log(u"Init: no proxied filter\n");
      return E_FAIL;
    }
    m_ownChunkCount = 0;
    m_ownValueCount = 0;
    m_lastChunkId = 0;
    HRESULT hr = m_spProxiedFilter->Init(grfFlags, cAttributes, aAttributes, pFlags);
    if (FAILED(hr)) LogProxied("Init", hr);
    // The own chunks come whatever the proxied filter made of Init.
    return S_OK;
  });
}

HRESULT CAbstractProxyFilter::GetChunk(STAT_CHUNK* pStat) {
  return ZYT::ComBoundary("GetChunk", &m_log, [&] {
    if (!m_spProxiedFilter) {
      m_log.Log(u"GetChunk: no proxied filter\n");
      return E_FAIL;
    }
    if (!pStat) return E_POINTER;
    if (m_ownChunkCount == 0) {
      HRESULT hr = m_spProxiedFilter->GetChunk(pStat);
      if (SUCCEEDED(hr)) {
        m_lastChunkId = pStat->idChunk;
        return hr;
      }
      LogProxied("GetChunk", hr);
    }
    STAT_CHUNK chunk{};
    chunk.idChunk = chunk.idChunkSource = ++m_lastChunkId;
    chunk.breakType = CHUNK_EOS;
    chunk.flags = CHUNK_VALUE;
    chunk.locale = GetSystemDefaultLCID();
    chunk.attribute.guidPropSet = m_propertySetId;
    chunk.attribute.psProperty.ulKind = PRSPEC_PROPID;
    m_ownValueCount = 0;
    ++m_ownChunkCount;
    HRESULT hr = getPropertyChunk(m_ownChunkCount, chunk);
    if (SUCCEEDED(hr)) {
      m_currentChunk = chunk;
      *pStat = chunk;
    }
    return hr;
  });
}

HRESULT CAbstractProxyFilter::GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) {
  return ZYT::ComBoundary("GetText", &m_log, [&] {
    if (!m_spProxiedFilter) {
      m_log.Log(u"GetText: no proxied filter\n");
      return E_FAIL;
    }
    HRESULT hr = m_spProxiedFilter->GetText(pcwcBuffer, awcBuffer);
    if (FAILED(hr) || hr == FILTER_S_LAST_TEXT) LogProxied("GetText", hr);
    return hr;
  });
}

HRESULT CAbstractProxyFilter::GetValue(PROPVARIANT** ppPropValue) {
  return ZYT::ComBoundary("GetValue", &m_log, [&] {
    if (!m_spProxiedFilter) {
      m_log.Log(u"GetValue: no proxied filter\n");
      return E_FAIL;
    }
    if (!ppPropValue) return E_POINTER;
    if (m_ownChunkCount == 0) {
      HRESULT hr = m_spProxiedFilter->GetValue(ppPropValue);
      if (FAILED(hr)) LogProxied("GetValue", hr);
      return hr;
    }
    *ppPropValue = nullptr;
    if (++m_ownValueCount > 1) {
      m_log.Log(u"GetValue: returning FILTER_E_NO_MORE_VALUES\n");
      return FILTER_E_NO_MORE_VALUES;
    }
    auto* value = static_cast<PROPVARIANT*>(CoTaskMemAlloc(sizeof(PROPVARIANT)));
    if (!value) {
      m_log.Log(u"GetValue: returning E_OUTOFMEMORY\n");
      return E_OUTOFMEMORY;
    }
    PropVariantInit(value);
    *ppPropValue = value;
    return getPropertyValue(m_currentChunk, *value);
  });
}

HRESULT CAbstractProxyFilter::BindRegion(FILTERREGION origPos, REFIID riid, void** ppunk) {
  return ZYT::ComBoundary("BindRegion", &m_log, [&] {
    if (!m_spProxiedFilter) {
      m_log.Log(u"BindRegion: no proxied filter\n");
      return E_FAIL;
    }
    HRESULT hr = m_spProxiedFilter->BindRegion(origPos, riid, ppunk);
    if (FAILED(hr)) {
      m_logStream << "BindRegion: proxied filter returned " << ZYT::Hex(hr) << "\n";
      m_log.Write(m_logStream);
    }
    return hr;
  });
}

HRESULT CAbstractProxyFilter::GetCurFile(LPOLESTR* ppszFileName) {
  if (!ppszFileName) return E_POINTER;
  *ppszFileName = nullptr;
  if (m_loadFilePath.empty()) {
    m_log.Log(u"GetCurFile: m_loadFilePath.empty()\n");
    return E_FAIL;
  }
  *ppszFileName = ZYT::CoTaskStrDup(m_loadFilePath);
  return *ppszFileName ? S_OK : E_OUTOFMEMORY;
}

std::u16string CAbstractProxyFilter::getTempFile(const std::u16string& prefix) {
  ZYT::CVariant answer;
  ZYT::QuerySettings(u"/*/repository/user/@location", ZYT::OmittedArgument(), answer);
  if (!answer.IsString()) ZYT::ThrowHResult(E_FAIL);
  std::u16string location = answer.Text();
  std::u16string directory = ZYT::MakePath(location, u"temp", u"");
  if (!ZYT::CreateDirectoryTree(directory)) {
    m_log.Log(u"getTempFile: Could not create temp directory.\n");
    directory = location;
  } else {
    // What a host killed before its release left behind.
    ZYT::SweepDeadTempFilesOnce(directory);
  }
  // A name that a concurrent sweep took before it was locked is given up
  // (the sweep has removed it) and another is made.
  for (int attempt = 0;; ++attempt) {
    WCHAR name[MAX_PATH];
    if (!GetTempFileNameW(directory.c_str(), prefix.empty() ? u"zyt" : prefix.c_str(), 0, name))
      ZYT::ThrowHResult(HRESULT_FROM_WIN32(GetLastError()));
    ZYT::CTempFileLock lock;
    if (lock.Lock(name)) {
      m_tempFileLocks.emplace_back(name, std::move(lock));
      return name;
    }
    if (attempt == 8) ZYT::ThrowHResult(HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION));
  }
}

bool CAbstractProxyFilter::deleteTempFile(const std::u16string& path) {
  BOOL deleted = DeleteFileW(path.c_str());
  DWORD error = GetLastError();
  // The lock goes after the name, so that no sweep can take the file first.
  std::erase_if(m_tempFileLocks, [&](const auto& held) { return held.first == path; });
  SetLastError(error);
  return deleted;
}

void CAbstractProxyFilter::copyFileTime(const std::u16string& source, const std::u16string& target) {
  auto fail = [&](const char16_t* what) {
    DWORD error = GetLastError();
    m_log.LogWin32Failure(what, kLabel, __LINE__);
    ZYT::ThrowHResult(HRESULT_FROM_WIN32(error));
  };
  ZYT::CAutoHandle from(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!from.IsValid()) fail(u"CreateFile");
  ZYT::CAutoHandle to(
      CreateFileW(target.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!to.IsValid()) fail(u"CreateFile");
  FILETIME written;
  if (!GetFileTime(from.get(), nullptr, nullptr, &written)) fail(u"GetFileTime");
  if (!SetFileTime(to.get(), &written, &written, &written)) fail(u"SetFileTime");
}

DWORD CAbstractProxyFilter::getFileSize(const std::u16string& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(path.c_str(), &data);
  if (find == INVALID_HANDLE_VALUE) {
    m_log.LogWin32Failure(u"FindFirstFile", kLabel, __LINE__);
    return 0;
  }
  FindClose(find);
  return data.nFileSizeLow;
}

std::string ReadWholeFile(const std::u16string& path) {
  ZYT::CAutoHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid()) ZYT::ThrowHResult(HRESULT_FROM_WIN32(GetLastError()));
  DWORD size = GetFileSize(file.get(), nullptr);
  if (size == INVALID_FILE_SIZE) ZYT::ThrowHResult(HRESULT_FROM_WIN32(GetLastError()));
  std::string bytes(size, '\0');
  DWORD read = 0;
  if (!ReadFile(file.get(), bytes.data(), size, &read, nullptr)) ZYT::ThrowHResult(HRESULT_FROM_WIN32(GetLastError()));
  bytes.resize(read);
  return bytes;
}

std::string CAbstractProxyFilter::readFileBytes(const std::u16string& path) { return ReadWholeFile(path); }

std::u16string CAbstractProxyFilter::readMachineString(const std::u16string& subKey, const std::u16string& valueName) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, subKey.c_str(), 0, KEY_READ, &key);
  if (rc != ERROR_SUCCESS) ZYT::ThrowHResult(HRESULT_FROM_WIN32(static_cast<DWORD>(rc)));
  WCHAR buffer[256];
  DWORD cb = sizeof buffer, type = 0;
  rc = RegQueryValueExW(key, valueName.empty() ? nullptr : valueName.c_str(), nullptr, &type,
                        reinterpret_cast<BYTE*>(buffer), &cb);
  RegCloseKey(key);
  if (rc == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ) rc = ERROR_INVALID_DATA;
  if (rc != ERROR_SUCCESS) ZYT::ThrowHResult(HRESULT_FROM_WIN32(static_cast<DWORD>(rc)));
  std::u16string text(buffer, cb / sizeof(WCHAR));
  while (!text.empty() && text.back() == 0) text.pop_back();
  if (text.empty()) ZYT::ThrowHResult(E_FAIL);
  return text;
}

std::u16string CAbstractProxyFilter::findSavedFilterClsid(const SavedFilterRow& row) {
  const std::u16string classes = u"SOFTWARE\\Classes\\";
  auto readOr = [](const std::u16string& key, const std::u16string& value, const char16_t* fallback) {
    try {
      return readMachineString(key, value);
    } catch (const ZYT::HResultException&) {
      return std::u16string(fallback);
    }
  };
  std::u16string handler;
  try {
    handler = readMachineString(classes + row.extension + u"\\PersistentHandler", u"");
  } catch (const ZYT::HResultException&) {
    std::u16string className = readOr(classes + row.extension, u"", row.className);
    std::u16string classId = readOr(classes + className + u"\\CLSID", u"", row.classId);
    handler = readOr(classes + u"CLSID\\" + classId + u"\\PersistentHandler", u"", row.handler);
  }
  return readOr(classes + u"CLSID\\" + handler + u"\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}",
                u"ZYTOrrerySavedFilterKey", row.filter);
}
