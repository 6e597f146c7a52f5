#include "filters/url/URLFilter.h"

#include <vector>

#include "framework/AutoHandle.h"
#include "framework/PathUtilities.h"
#include "framework/SettingsAccess.h"
#include "platform/com/ComBoundary.h"
#include "platform/com/ObjBase.h"
#include "platform/com/TaskAllocator.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Profile.h"
#include "platform/win32/Registry.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/Strings.h"

namespace {

constexpr DWORD kShortcutValueChars = 2048;
constexpr REGSAM kHandlerKeyAccess = 0x2001F;
constexpr char16_t kDefaultHtmlHandler[] = u"{EEC97550-47A9-11CF-B952-00AA0051FE20}";
constexpr char16_t kFilterAddinKey[] = u"\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}";

std::u16string NormalisePath(std::u16string path) {
  // "\\?\UNC\server\share" is the long form of "\\server\share".
  if (path.starts_with(u"\\\\?\\UNC")) path.replace(0, 7, u"\\");
  if (path.starts_with(u"\\\\?\\")) path.erase(0, 4);
  return path;
}

// A file name may hold "<" or "&"; escaped, the HTML filter reads the name back.
std::u16string EscapeMarkup(const std::u16string& text) {
  std::u16string escaped;
  for (char16_t c : text) {
    if (c == u'<') escaped += u"&lt;";
    else if (c == u'>') escaped += u"&gt;";
    else if (c == u'&') escaped += u"&amp;";
    else escaped += c;
  }
  return escaped;
}

std::u16string ReadKeyString(const ZYT::CRegKey& key, LPCWSTR name, bool& ok) {
  std::vector<WCHAR> buffer(256);
  ULONG chars = static_cast<ULONG>(buffer.size());
  ok = key.QueryStringValue(name, buffer.data(), &chars) == ERROR_SUCCESS;
  return ok ? std::u16string(buffer.data()) : std::u16string();
}

}  // namespace

void CURLFilter::FinalRelease() noexcept {
  m_spIFilter = nullptr;
  m_spPersist = nullptr;
  DeletePlaceholder();
}

void CURLFilter::DeletePlaceholder() {
  if (!m_htmlFileIsTemporary) return;
  DeleteFileW(m_htmlFile.c_str());
  // Another shortcut of the same name may write the page again; this object
  // no longer owns it.
  m_htmlFileIsTemporary = false;
}

HRESULT CURLFilter::Init(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) {
  if (!m_spIFilter) return E_POINTER;
  return m_spIFilter->Init(grfFlags, cAttributes, aAttributes, pFlags);
}

HRESULT CURLFilter::GetChunk(STAT_CHUNK* pStat) {
  if (!m_spIFilter) return E_POINTER;
  return m_spIFilter->GetChunk(pStat);
}

HRESULT CURLFilter::GetText(ULONG* pcwcBuffer, WCHAR* awcBuffer) {
  if (!m_spIFilter) return E_POINTER;
  return m_spIFilter->GetText(pcwcBuffer, awcBuffer);
}

HRESULT CURLFilter::GetValue(PROPVARIANT** ppPropValue) {
  if (!m_spIFilter) return E_POINTER;
  return m_spIFilter->GetValue(ppPropValue);
}

HRESULT CURLFilter::BindRegion(FILTERREGION origPos, REFIID riid, void** ppunk) {
  if (!m_spIFilter) return E_POINTER;
  return m_spIFilter->BindRegion(origPos, riid, ppunk);
}

HRESULT CURLFilter::forceThumbnail(BOOL* force) {
  if (!force) return E_POINTER;
  *force = m_forceThumbnail ? TRUE : FALSE;
  return S_OK;
}

HRESULT CURLFilter::GetClassID(CLSID* pClassID) {
  if (!pClassID) return E_POINTER;
  *pClassID = CLSID_URLFilter;
  return S_OK;
}

HRESULT CURLFilter::Save(LPCOLESTR, BOOL) {
  DeletePlaceholder();
  return S_OK;
}

HRESULT CURLFilter::GetCurFile(LPOLESTR* ppszFileName) {
  if (!ppszFileName) return E_POINTER;
  *ppszFileName = nullptr;
  if (m_filePath.empty()) return E_FAIL;
  *ppszFileName = ZYT::CoTaskStrDup(m_filePath);
  return *ppszFileName ? S_OK : E_OUTOFMEMORY;
}

void CURLFilter::WritePlaceholder(bool onShare) {
  m_htmlFile = ZYT::MakePath(ZYT::GetSettingsTempFolder(), ZYT::FileTitleOf(m_filePath), u"html");
  const char* message = kIndexingMessage;
  if (onShare) {
    ZYT::CAutoHandle shortcut(
        CreateFileW(m_filePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!shortcut.IsValid()) message = kUnreadableMessage;
  }
  std::string page = "<html>\n<head><title>" +
                     ZYT::WideToCodePage(CP_ACP, EscapeMarkup(ZYT::FileTitleOf(ZYT::LongPathOf(m_filePath)))) +
                     "</title></head>\n<body>\n" + message + "</body>\n</html>\n";
  ZYT::CAutoHandle file(CreateFileW(m_htmlFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, ZYT::OwnerOnlySecurity(),
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) return;
  DWORD written = 0;
  BOOL ok = WriteFile(file.get(), page.data(), static_cast<DWORD>(page.size()), &written, nullptr) &&
            written == page.size();
  file.Close();
  // A page cut short by a full disk would be indexed as this shortcut's text.
  if (!ok) {
    DeleteFileW(m_htmlFile.c_str());
    return;
  }
  m_htmlFileIsTemporary = true;
}

void CURLFilter::CreateHtmlFilter() {
  std::u16string handler = kDefaultHtmlHandler;
  ZYT::CRegKey handlerKey;
  if (handlerKey.Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.htm\\PersistentHandler", kHandlerKeyAccess) ==
      ERROR_SUCCESS) {
    bool ok = false;
    handler = ReadKeyString(handlerKey, nullptr, ok);
    if (!ok) return;  // no HTML filter: the Load that follows fails with E_POINTER
  }
  ZYT::CRegKey addinKey;
  if (addinKey.Open(HKEY_LOCAL_MACHINE, (u"SOFTWARE\\Classes\\CLSID\\" + handler + kFilterAddinKey).c_str(),
                    KEY_READ) != ERROR_SUCCESS)
    ZYT::ThrowHResult(E_FAIL);
  bool ok = false;
  std::u16string saved = ReadKeyString(addinKey, u"ZYTOrrerySavedFilterKey", ok);
  if (!ok || saved.empty()) ZYT::ThrowHResult(E_FAIL);
  CLSID clsid{};
  ZYT::ThrowIfFailed(CLSIDFromString(saved.c_str(), &clsid));
  ZYT::ThrowIfFailed(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IFilter, m_spIFilter.put_void()));
  // A filter without IPersistFile leaves the Load that follows to fail with E_POINTER.
  m_spIFilter.As(m_spPersist);
}

HRESULT CURLFilter::Load(LPCOLESTR pszFileName, DWORD dwMode) {
  return ZYT::ComBoundary("Load", [&] {
    m_htmlFileIsTemporary = false;
    m_forceThumbnail = false;
    m_spIFilter = nullptr;
    m_spPersist = nullptr;
    m_filePath = NormalisePath(pszFileName ? pszFileName : u"");
    const bool onShare = !(m_filePath.size() >= 2 && m_filePath[1] == u':') && m_filePath.starts_with(u"\\\\");

    std::vector<WCHAR> value(kShortcutValueChars);
    GetPrivateProfileStringW(u"Orrery", u"HTMLFILE", u"", value.data(), kShortcutValueChars, m_filePath.c_str());
    m_htmlFile = value.data();
    if (m_htmlFile.empty() || GetFileAttributesW(m_htmlFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
      // Without a page the shortcut is still found by its name.
      HRESULT written = ZYT::ComBoundary("Load", [&] {
        WritePlaceholder(onShare);
        return S_OK;
      });
      (void)written;
    }

    CreateHtmlFilter();
    if (!m_spPersist) return E_POINTER;
    LPOLESTR copy = ZYT::CoTaskStrDup(m_htmlFile);
    if (!copy) return E_OUTOFMEMORY;
    HRESULT hr = m_spPersist->Load(copy, dwMode);
    CoTaskMemFree(copy);
    return hr;
  });
}
