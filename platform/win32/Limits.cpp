#include "platform/win32/Limits.h"

#include <cstdint>
#include <string>

#include "platform/win32/Registry.h"
#include "platform/win32/StampedCache.h"

namespace ZYT {

namespace {

// The limit's REG_DWORD, or -1 when it is missing, of another type or unreadable.
int64_t ReadLimit(LPCWSTR name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kLimitsKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return -1;
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD size = sizeof value;
  const LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
  RegCloseKey(key);
  return rc == ERROR_SUCCESS && type == REG_DWORD && size == sizeof value ? int64_t{value} : -1;
}

}  // namespace

DWORD GetLimit(LPCWSTR name, DWORD defaultValue) {
  // Every filter object reads its limits when it starts; on an unchanged
  // registry they are what the last object read.
  static auto* cache = new StampedCache<std::u16string, int64_t>;
  const int64_t value = name ? cache->Get(name, [&] { return ReadLimit(name); }) : ReadLimit(name);
  return value < 0 ? defaultValue : static_cast<DWORD>(value);
}

}  // namespace ZYT
