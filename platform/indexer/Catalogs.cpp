#include "platform/indexer/Catalogs.h"

#include <cstring>

#include "platform/win32/Registry.h"
#include "platform/win32/StampedCache.h"
#include "platform/win32/Strings.h"

namespace {

std::u16string ReadString(HKEY key, const char16_t* name) {
  WCHAR buffer[1024];
  DWORD cb = sizeof buffer - sizeof(WCHAR), type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &cb) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return {};
  std::u16string text(buffer, cb / sizeof(WCHAR));
  while (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

// Windows compares folders without case, with either separator.
std::u16string Normal(std::u16string path) {
  for (auto& c : path)
    if (c == u'\\') c = u'/';
  while (path.size() > 1 && path.back() == u'/') path.pop_back();
  return ZYT::ToLower(path);
}

bool Covers(const std::u16string& scope, const std::u16string& path) {
  std::u16string s = Normal(scope), p = Normal(path);
  if (s == u"/") return !p.empty() && p[0] == u'/';
  return p == s || (p.size() > s.size() && p.compare(0, s.size(), s) == 0 && p[s.size()] == u'/');
}

bool CopyOut(const std::u16string& text, LPWSTR buffer, ULONG* cc) {
  bool fits = buffer && cc && *cc > text.size();
  if (fits) std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
  if (cc) *cc = static_cast<ULONG>(fits ? text.size() : text.size() + 1);
  return fits;
}

}  // namespace

namespace ZYT {

std::vector<CatalogInfo> ListCatalogs() {
  std::vector<CatalogInfo> catalogs;
  HKEY root = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kCatalogsKey, 0, KEY_READ, &root) != ERROR_SUCCESS) return catalogs;
  for (DWORD i = 0;; ++i) {
    WCHAR name[256];
    DWORD cch = 256;
    if (RegEnumKeyExW(root, i, name, &cch, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, name, 0, KEY_READ, &key) != ERROR_SUCCESS) continue;
    CatalogInfo info{std::u16string(name, cch), ReadString(key, u"Location"), ReadString(key, u"Machine"), {}};
    if (info.machine.empty()) info.machine.assign(1, u'.');  // this machine
    HKEY scopes = nullptr;
    if (RegOpenKeyExW(key, u"Scopes", 0, KEY_READ, &scopes) == ERROR_SUCCESS) {
      for (DWORD v = 0;; ++v) {
        WCHAR folder[1024];
        DWORD cchFolder = 1024;
        if (RegEnumValueW(scopes, v, folder, &cchFolder, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        info.scopes.emplace_back(folder, cchFolder);
      }
      RegCloseKey(scopes);
    }
    RegCloseKey(key);
    catalogs.push_back(std::move(info));
  }
  RegCloseKey(root);
  return catalogs;
}

LONG AddCatalog(const CatalogInfo& catalog) {
  RemoveCatalog(catalog.name);
  std::u16string path = std::u16string(kCatalogsKey) + u"\\" + catalog.name;
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  auto set = [&](HKEY k, const std::u16string& name, const std::u16string& value) {
    return RegSetValueExW(k, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
  };
  rc = set(key, u"Location", catalog.location);
  if (rc == ERROR_SUCCESS && !catalog.machine.empty() && catalog.machine != u".") rc = set(key, u"Machine", catalog.machine);
  HKEY scopes = nullptr;
  if (rc == ERROR_SUCCESS)
    rc = RegCreateKeyExW(key, u"Scopes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &scopes, nullptr);
  for (const std::u16string& scope : catalog.scopes)
    if (rc == ERROR_SUCCESS) rc = set(scopes, scope, u"");
  if (scopes) RegCloseKey(scopes);
  RegCloseKey(key);
  return rc;
}

LONG RemoveCatalog(const std::u16string& name) {
  if (name.empty()) return ERROR_INVALID_PARAMETER;
  return RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::u16string(kCatalogsKey) + u"\\" + name).c_str());
}

}  // namespace ZYT

HRESULT LocateCatalogsW(LPCWSTR scope, ULONG bookmark, LPWSTR machine, ULONG* ccMachine, LPWSTR catalog,
                        ULONG* ccCatalog) {
  if (!scope || !ccMachine || !ccCatalog) return E_INVALIDARG;
  // The Indexing Service keeps its catalogs in memory; so do we, until the registry changes.
  static auto* cache = new ZYT::StampedCache<int, std::vector<ZYT::CatalogInfo>>;
  ULONG seen = 0;
  for (const ZYT::CatalogInfo& info : cache->Get(0, [] { return ZYT::ListCatalogs(); })) {
    bool covers = false;
    for (const std::u16string& s : info.scopes) covers = covers || Covers(s, scope);
    if (!covers || seen++ != bookmark) continue;
    bool machineFits = CopyOut(info.machine, machine, ccMachine);
    bool catalogFits = CopyOut(info.name, catalog, ccCatalog);
    return machineFits && catalogFits ? S_OK : HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
  }
  return HRESULT_FROM_WIN32(ERROR_NO_MORE_ITEMS);
}
