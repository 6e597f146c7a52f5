#include "filters/xml/XMLProxyFilter.h"

#include <algorithm>
#include <vector>

#include "framework/AutoHandle.h"
#include "framework/CoString.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Limits.h"
#include "platform/win32/Process.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "platform/win32/Sync.h"
#include "platform/win32/SysInfo.h"

namespace {

constexpr char kLabel[] = ".\\XMLProxyFilter.cpp";
const std::u16string kDefinitionKey = u"Software\\ZYT\\Orrery\\Filters\\XMLProxyFilter\\.";
// The longest command line Windows takes; a longer definition is no command.
constexpr DWORD kMaxCommandChars = 32767;

[[noreturn]] void ThrowLastError() {
  DWORD error = GetLastError();
  ZYT::ThrowHResult(error ? HRESULT_FROM_WIN32(error) : E_FAIL);
}

std::u16string Expand(const std::u16string& text) {
  std::vector<WCHAR> buffer(text.size() + 1);
  DWORD need = ExpandEnvironmentStringsW(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  if (need > buffer.size()) {
    if (need > kMaxCommandChars + 1) ZYT::ThrowHResult(HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE));
    buffer.resize(need);
    need = ExpandEnvironmentStringsW(text.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
  }
  if (need == 0 || need > buffer.size()) ThrowLastError();
  return std::u16string(buffer.data());
}

}  // namespace

HRESULT CXMLProxyFilter::GetClassID(CLSID* pClassID) {
  if (!pClassID) return E_POINTER;
  *pClassID = CLSID_XMLProxyFilter;
  return S_OK;
}

void CXMLProxyFilter::FinalRelease() noexcept {
  CAbstractProxyFilter::FinalRelease();
  DeleteTempFile();
}

void CXMLProxyFilter::DeleteTempFile() {
  if (m_tempFilePath.empty()) return;
  if (!deleteTempFile(m_tempFilePath)) m_log.LogWin32Failure(u"DeleteFile", kLabel, __LINE__);
  m_tempFilePath.clear();
}

HRESULT CXMLProxyFilter::Save(LPCOLESTR, BOOL) {
  DeleteTempFile();
  return S_OK;
}

HRESULT CXMLProxyFilter::Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) {
  return ZYT::ComBoundary("Init", &m_log, [&] {
    if (!m_spProxiedFilter) {
      m_log.Log(u"Init: no XML filter\n");
      return E_FAIL;
    }
    m_ownChunkCount = 0;
    m_ownValueCount = 0;
    m_lastChunkId = 0;
    HRESULT hr = m_spProxiedFilter->Init(grfFlags, cAttributes, aAttributes, pFlags);
    if (FAILED(hr)) {
      m_logStream << "Init: XML filter returned " << ZYT::Hex(hr) << "\n";
      m_log.Write(m_logStream);
      return hr;
    }
    if (pFlags) *pFlags = IFILTER_FLAGS_OLE_PROPERTIES;
    return hr;
  });
}

HRESULT CXMLProxyFilter::getPropertyChunk(ULONG, STAT_CHUNK&) {
  m_log.Log(u"GetChunk: returning FILTER_E_END_OF_CHUNKS\n");
  return FILTER_E_END_OF_CHUNKS;
}

HRESULT CXMLProxyFilter::getPropertyValue(const STAT_CHUNK&, PROPVARIANT&) { return FILTER_E_NO_MORE_VALUES; }

std::u16string CXMLProxyFilter::BuildCommandLine(const std::u16string& definition, const std::u16string& path) {
  std::u16string expanded = Expand(definition);
  std::u16string line;
  for (size_t i = 0; i < expanded.size(); ++i) {
    if (expanded[i] == u'%' && i + 1 < expanded.size() && expanded[i + 1] == u'1') {
      line += path;
      ++i;
    } else if (expanded[i] == u'%' && i + 1 < expanded.size() && expanded[i + 1] == u'%') {
      line += u'%';
      ++i;
    } else {
      line += expanded[i];
    }
  }
  return line;
}

std::u16string CXMLProxyFilter::ReadDefinition(const std::u16string& path) {
  size_t slash = path.find_last_of(u"\\/");
  size_t dot = path.rfind(u'.');
  std::u16string extension = dot != std::u16string::npos && (slash == std::u16string::npos || dot > slash)
                                 ? path.substr(dot + 1)
                                 : std::u16string();
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, (kDefinitionKey + extension).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
    return {};
  std::vector<WCHAR> buffer(kMaxCommandChars + 1);
  DWORD cb = static_cast<DWORD>(buffer.size() * sizeof(WCHAR)), type = 0;
  LONG rc = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &cb);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
  std::u16string text(buffer.data(), cb / sizeof(WCHAR));
  while (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

void CXMLProxyFilter::RunConverter(const std::u16string& input, const std::u16string& output) {
  std::u16string line = BuildCommandLine(ReadDefinition(input), input);
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  ZYT::CAutoHandle out(CreateFileW(output.c_str(), GENERIC_WRITE, 0, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                   nullptr));
  if (!out.IsValid()) ThrowLastError();
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = out.get();
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr, nullptr, &si, &pi)) {
    m_logStream << "Load: cannot start the converter: " << line << "\n";
    m_log.Write(m_logStream);
    ThrowLastError();
  }
  CloseHandle(pi.hThread);
  ZYT::CAutoHandle process(pi.hProcess);
  // By default Load waits for the converter however long it takes, as the
  // indexer expects of it; a machine can bound the wait (0: no bound).
  DWORD seconds = std::min<DWORD>(ZYT::GetLimit(u"XMLProxyConverterSeconds", 0), 86400);
  DWORD waited = WaitForSingleObject(process.get(), seconds == 0 ? INFINITE : seconds * 1000);
  if (waited == WAIT_TIMEOUT) {
    TerminateProcess(process.get(), ERROR_TIMEOUT);
    WaitForSingleObject(process.get(), INFINITE);
    m_logStream << "Load: the converter did not end within " << seconds
                << " s (limit XMLProxyConverterSeconds) and was stopped\n";
    m_log.Write(m_logStream);
    ZYT::ThrowHResult(HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  }
  if (waited != WAIT_OBJECT_0) ThrowLastError();
}

HRESULT CXMLProxyFilter::loadDocument(IPersistFile* proxied, const std::u16string& path, DWORD mode) {
  // The file goes on every failing path, whatever threw.
  struct Guard {
    CXMLProxyFilter* self;
    bool keep = false;
    ~Guard() {
      if (!keep) self->DeleteTempFile();
    }
  } guard{this};
  m_tempFilePath = getTempFile(u"XML");
  RunConverter(path, m_tempFilePath);
  LPOLESTR copy = ZYT::CoTaskStrDup(m_tempFilePath);
  if (!copy) {
    m_log.Log(u"Load: returning E_OUTOFMEMORY\n");
    return E_OUTOFMEMORY;
  }
  HRESULT hr = proxied ? proxied->Load(copy, mode) : E_NOINTERFACE;
  CoTaskMemFree(copy);
  if (FAILED(hr)) {
    m_logStream << "Load: XML filter returned " << ZYT::Hex(hr) << "\n";
    m_log.Write(m_logStream);
    return hr;
  }
  guard.keep = true;
  return S_OK;
}
