#include "platform/win32/PathMap.h"

#include <vector>

#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "platform/win32/WinError.h"

namespace {

bool IsSep(char16_t c) { return c == u'\\' || c == u'/'; }

// A value of a table key under HKLM\SOFTWARE\ZYT\Platform; false when absent.
bool LookupTable(const char16_t* table, const std::u16string& name, std::u16string& target) {
  HKEY key = nullptr;
  std::u16string path = std::u16string(u"SOFTWARE\\ZYT\\Platform\\") + table;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return false;
  std::vector<WCHAR> buffer(MAX_PATH * 4);
  DWORD cb = static_cast<DWORD>(buffer.size() * sizeof(WCHAR));
  DWORD type = 0;
  LONG rc = RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &cb);
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || type != REG_SZ) return false;
  target.assign(buffer.data(), cb / sizeof(WCHAR));
  while (!target.empty() && target.back() == 0) target.pop_back();
  return !target.empty();
}

// Joins a POSIX base directory with the rest of a Windows path.
std::u16string Join(std::u16string base, std::u16string_view rest) {
  while (!rest.empty() && IsSep(rest.front())) rest.remove_prefix(1);
  if (rest.empty()) return base;
  if (base.empty() || base.back() != u'/') base += u'/';
  base += rest;
  return base;
}

}  // namespace

namespace ZYT {

bool MapToPosixPath(std::u16string_view path, std::string& posix, DWORD& error) {
  posix.clear();
  if (path.empty()) {
    error = ERROR_PATH_NOT_FOUND;
    return false;
  }
  std::u16string out;
  if (path.size() >= 4 && IsSep(path[0]) && IsSep(path[1]) && path[2] == u'?' && IsSep(path[3])) {
    path.remove_prefix(4);
    if (path.size() >= 4 && EqualsNoCase(path.substr(0, 3), u"UNC") && IsSep(path[3])) {
      path.remove_prefix(3);  // leaves "\server\share" with one leading separator
      out = u"\\";
      out += path;
      return MapToPosixPath(out, posix, error);
    }
  }
  if (path.size() >= 2 && IsSep(path[0]) && IsSep(path[1]) && path[0] == u'\\') {
    // \\server\share\rest
    std::u16string_view rest = path.substr(2);
    size_t s1 = rest.find_first_of(u"\\/");
    if (s1 == std::u16string_view::npos || s1 == 0) {
      error = ERROR_BAD_NETPATH;
      return false;
    }
    size_t s2 = rest.find_first_of(u"\\/", s1 + 1);
    std::u16string_view share = rest.substr(0, s2);
    std::u16string name(share);
    name[s1] = u'\\';
    std::u16string target;
    if (s2 == s1 + 1 || !LookupTable(u"Shares", name, target)) {
      error = ERROR_BAD_NETPATH;
      return false;
    }
    out = Join(target, s2 == std::u16string_view::npos ? std::u16string_view() : rest.substr(s2));
  } else if (path.size() >= 2 && path[1] == u':' &&
             ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'))) {
    std::u16string drive{static_cast<char16_t>(path[0] & ~0x20), u':'};
    std::u16string target;
    if (!LookupTable(u"Drives", drive, target)) {
      if (drive != u"Z:") {
        error = ERROR_PATH_NOT_FOUND;
        return false;
      }
      target = u"/";
    }
    out = Join(target, path.substr(2));
  } else {
    out.assign(path);
  }
  for (auto& c : out)
    if (c == u'\\') c = u'/';
  posix = WideToPosixName(out);
  return true;
}

std::string ToPosixPath(LPCWSTR windowsPath) {
  std::string posix;
  DWORD error = ERROR_SUCCESS;
  if (!windowsPath || !MapToPosixPath(windowsPath, posix, error)) {
    SetLastError(windowsPath ? error : ERROR_INVALID_PARAMETER);
    return {};
  }
  return posix;
}

std::u16string FromPosixPath(const std::string& posixPath) { return PosixNameToWide(posixPath); }

}  // namespace ZYT
