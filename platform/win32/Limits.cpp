#include "platform/win32/Limits.h"

#include "platform/win32/Registry.h"

namespace ZYT {

DWORD GetLimit(LPCWSTR name, DWORD defaultValue) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLimitsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return defaultValue;
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD size = sizeof value;
  const LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value ? value : defaultValue;
}

}  // namespace ZYT
