#include "framework/TypeLibrary.h"

#include <sstream>
#include <vector>

#include "framework/PathUtilities.h"
#include "platform/com/Guid.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/Strings.h"

namespace ZYT {

namespace {

std::string Trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

LONG SetDefault(HKEY root, const std::u16string& path, const std::u16string& name, const std::u16string& value) {
  CRegKey key;
  LONG rc = key.Create(root, path.c_str(), KEY_ALL_ACCESS);
  return rc == ERROR_SUCCESS ? key.SetStringValue(name.empty() ? nullptr : name.c_str(), value) : rc;
}

}  // namespace

HRESULT RegisterTypeLibrary(const std::u16string& description, const std::u16string& modulePath) {
  std::u16string libid, version, lcid = u"0", help;
  std::vector<std::pair<std::u16string, std::u16string>> interfaces;  // name, iid
  std::istringstream lines(WideToUtf8(description));
  std::string line;
  while (std::getline(lines, line)) {
    line = Trim(line);
    if (line.empty() || line[0] == '#') continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    if (key == "libid") libid = Utf8ToWide(value);
    else if (key == "version") version = Utf8ToWide(value);
    else if (key == "lcid") lcid = Utf8ToWide(value);
    else if (key == "helpstring") help = Utf8ToWide(value);
    else if (key == "interface") {
      std::istringstream words(value);
      std::string name, iid;
      words >> name >> iid;
      interfaces.emplace_back(Utf8ToWide(name), Utf8ToWide(iid));
    }
  }
  GUID parsed;
  if (!GuidFromString(libid, parsed) || version.empty()) return E_INVALIDARG;
  std::u16string base = u"TypeLib\\" + GuidToString(parsed) + u"\\" + version;
  LONG rc = SetDefault(HKEY_CLASSES_ROOT, base, u"", help);
  if (rc == ERROR_SUCCESS) rc = SetDefault(HKEY_CLASSES_ROOT, base + u"\\" + lcid + u"\\win32", u"", modulePath);
  if (rc == ERROR_SUCCESS) rc = SetDefault(HKEY_CLASSES_ROOT, base + u"\\FLAGS", u"", u"0");
  if (rc == ERROR_SUCCESS) rc = SetDefault(HKEY_CLASSES_ROOT, base + u"\\HELPDIR", u"", DirectoryOf(modulePath));
  for (const auto& [name, iid] : interfaces) {
    if (rc != ERROR_SUCCESS) break;
    const std::u16string automation = u"{00020424-0000-0000-C000-000000000046}";
    std::u16string key = u"Interface\\" + iid;
    rc = SetDefault(HKEY_CLASSES_ROOT, key, u"", name);
    if (rc == ERROR_SUCCESS) rc = SetDefault(HKEY_CLASSES_ROOT, key + u"\\ProxyStubClsid", u"", automation);
    if (rc == ERROR_SUCCESS) rc = SetDefault(HKEY_CLASSES_ROOT, key + u"\\ProxyStubClsid32", u"", automation);
    if (rc == ERROR_SUCCESS) rc = SetDefault(HKEY_CLASSES_ROOT, key + u"\\TypeLib", u"", GuidToString(parsed));
    if (rc == ERROR_SUCCESS) rc = SetDefault(HKEY_CLASSES_ROOT, key + u"\\TypeLib", u"Version", version);
  }
  return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
}

}  // namespace ZYT
