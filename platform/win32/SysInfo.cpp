#include "platform/win32/SysInfo.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "platform/win32/FileApi.h"
#include "platform/win32/KernelObject.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Resources.h"
#include "platform/win32/Strings.h"

namespace {

constexpr int64_t kEpochDifference = 11644473600LL;

uint64_t ToUInt64(const FILETIME& ft) { return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime; }
FILETIME FromUInt64(uint64_t v) { return {static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)}; }

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

std::string DataHome() {
  std::string x = Env("XDG_DATA_HOME");
  if (!x.empty()) return x;
  return Env("HOME") + "/.local/share";
}

// Windows names that Linux does not set, answered from their Linux counterparts.
bool WellKnownVariable(const std::u16string& name, std::u16string& value) {
  std::u16string upper = ZYT::ToUpper(name);
  std::string v;
  if (upper == u"TEMP" || upper == u"TMP") {
    v = Env("TMPDIR");
    if (v.empty()) v = "/tmp";
  } else if (upper == u"USERPROFILE" || upper == u"HOMEPATH") {
    v = Env("HOME");
  } else if (upper == u"APPDATA" || upper == u"LOCALAPPDATA") {
    v = DataHome();
  } else if (upper == u"USERNAME") {
    v = Env("USER");
  } else {
    return false;
  }
  if (v.empty()) return false;
  value = ZYT::Utf8ToWide(v);
  return true;
}

bool LookupVariable(const std::u16string& name, std::u16string& value) {
  if (const char* v = std::getenv(ZYT::WideToUtf8(name).c_str())) {
    value = ZYT::Utf8ToWide(v);
    return true;
  }
  return WellKnownVariable(name, value);
}

DWORD CopyOut(const std::u16string& text, DWORD size, LPWSTR buffer) {
  if (!buffer || size < text.size() + 1) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
  return static_cast<DWORD>(text.size());
}

void ReadVersion(DWORD& major, DWORD& minor, DWORD& build) {
  major = 5;
  minor = 0;
  build = 2195;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_READ,
                    &key) != ERROR_SUCCESS)
    return;
  WCHAR buffer[32] = {};
  DWORD cb = sizeof buffer - sizeof(WCHAR);
  DWORD type = 0;
  if (RegQueryValueExW(key, u"CurrentVersion", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &cb) ==
          ERROR_SUCCESS &&
      type == REG_SZ) {
    std::string text = ZYT::WideToUtf8(std::u16string(buffer, cb / 2).c_str());
    unsigned a = 0, b = 0;
    if (std::sscanf(text.c_str(), "%u.%u", &a, &b) == 2) {
      major = a;
      minor = b;
    }
  }
  std::memset(buffer, 0, sizeof buffer);
  cb = sizeof buffer - sizeof(WCHAR);
  if (RegQueryValueExW(key, u"CurrentBuildNumber", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &cb) ==
          ERROR_SUCCESS &&
      type == REG_SZ)
    build = static_cast<DWORD>(std::strtoul(ZYT::WideToUtf8(buffer).c_str(), nullptr, 10));
  RegCloseKey(key);
}

bool Compare(DWORD actual, DWORD wanted, BYTE condition) {
  switch (condition) {
    case VER_EQUAL: return actual == wanted;
    case VER_GREATER: return actual > wanted;
    case VER_GREATER_EQUAL: return actual >= wanted;
    case VER_LESS: return actual < wanted;
    case VER_LESS_EQUAL: return actual <= wanted;
    default: return false;
  }
}

BYTE ConditionFor(ULONGLONG mask, DWORD bit) {
  int index = 0;
  while (bit > 1) {
    bit >>= 1;
    ++index;
  }
  return static_cast<BYTE>((mask >> (index * 3)) & 7);
}

}  // namespace

DWORD GetTickCount() { return static_cast<DWORD>(GetTickCount64()); }

ULONGLONG GetTickCount64() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<ULONGLONG>(ts.tv_sec) * 1000 + static_cast<ULONGLONG>(ts.tv_nsec / 1000000);
}

void GetSystemTimeAsFileTime(FILETIME* time) {
  if (!time) return;
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  *time = FromUInt64(static_cast<uint64_t>(ts.tv_sec + kEpochDifference) * 10000000ULL +
                     static_cast<uint64_t>(ts.tv_nsec / 100));
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* st) {
  if (!fileTime || !st) return FALSE;
  uint64_t v = ToUInt64(*fileTime);
  if (v >> 63) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  time_t seconds = static_cast<time_t>(static_cast<int64_t>(v / 10000000ULL) - kEpochDifference);
  struct tm tm;
  if (!gmtime_r(&seconds, &tm)) return FALSE;
  st->wYear = static_cast<WORD>(tm.tm_year + 1900);
  st->wMonth = static_cast<WORD>(tm.tm_mon + 1);
  st->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
  st->wDay = static_cast<WORD>(tm.tm_mday);
  st->wHour = static_cast<WORD>(tm.tm_hour);
  st->wMinute = static_cast<WORD>(tm.tm_min);
  st->wSecond = static_cast<WORD>(tm.tm_sec);
  st->wMilliseconds = static_cast<WORD>((v % 10000000ULL) / 10000);
  return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* fileTime) {
  if (!st || !fileTime) return FALSE;
  if (st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 || st->wDay > 31 || st->wHour > 23 ||
      st->wMinute > 59 || st->wSecond > 59 || st->wMilliseconds > 999 || st->wYear < 1601) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  struct tm tm = {};
  tm.tm_year = st->wYear - 1900;
  tm.tm_mon = st->wMonth - 1;
  tm.tm_mday = st->wDay;
  tm.tm_hour = st->wHour;
  tm.tm_min = st->wMinute;
  tm.tm_sec = st->wSecond;
  time_t seconds = timegm(&tm);
  *fileTime = FromUInt64(static_cast<uint64_t>(seconds + kEpochDifference) * 10000000ULL +
                         static_cast<uint64_t>(st->wMilliseconds) * 10000ULL);
  return TRUE;
}

namespace {
int64_t LocalOffsetSeconds(time_t at) {
  struct tm tm;
  localtime_r(&at, &tm);
  return tm.tm_gmtoff;
}
}  // namespace


BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, FILETIME* localFileTime) {
  if (!fileTime || !localFileTime) return FALSE;
  uint64_t v = ToUInt64(*fileTime);
  time_t seconds = static_cast<time_t>(static_cast<int64_t>(v / 10000000ULL) - kEpochDifference);
  *localFileTime = FromUInt64(v + static_cast<uint64_t>(LocalOffsetSeconds(seconds) * 10000000LL));
  return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* localFileTime, FILETIME* fileTime) {
  if (!localFileTime || !fileTime) return FALSE;
  uint64_t v = ToUInt64(*localFileTime);
  time_t seconds = static_cast<time_t>(static_cast<int64_t>(v / 10000000ULL) - kEpochDifference);
  *fileTime = FromUInt64(v - static_cast<uint64_t>(LocalOffsetSeconds(seconds) * 10000000LL));
  return TRUE;
}

LONG CompareFileTime(const FILETIME* a, const FILETIME* b) {
  uint64_t x = ToUInt64(*a), y = ToUInt64(*b);
  return x < y ? -1 : x > y ? 1 : 0;
}

void GetSystemTime(SYSTEMTIME* time) {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  FileTimeToSystemTime(&ft, time);
}

void GetLocalTime(SYSTEMTIME* time) {
  FILETIME ft, local;
  GetSystemTimeAsFileTime(&ft);
  FileTimeToLocalFileTime(&ft, &local);
  FileTimeToSystemTime(&local, time);
}

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size) {
  if (!name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string value;
  if (!LookupVariable(name, value)) {
    SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
  }
  return CopyOut(value, size, buffer);
}

BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::string n = ZYT::WideToUtf8(name);
  int rc = value ? setenv(n.c_str(), ZYT::WideToUtf8(value).c_str(), 1) : unsetenv(n.c_str());
  if (rc != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return TRUE;
}

DWORD ExpandEnvironmentStringsW(LPCWSTR src, LPWSTR dst, DWORD size) {
  if (!src) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string in(src), out;
  size_t pos = 0;
  while (pos < in.size()) {
    size_t open = in.find(u'%', pos);
    if (open == std::u16string::npos) {
      out.append(in, pos);
      break;
    }
    out.append(in, pos, open - pos);
    size_t close = in.find(u'%', open + 1);
    if (close == std::u16string::npos) {
      out.append(in, open);
      break;
    }
    std::u16string value;
    if (close > open + 1 && LookupVariable(in.substr(open + 1, close - open - 1), value)) {
      out += value;
      pos = close + 1;
    } else {
      // Unknown: keep the first "%" and rescan from the second, as Windows does.
      out.append(in, open, close - open);
      pos = close;
    }
  }
  DWORD need = static_cast<DWORD>(out.size() + 1);
  if (dst && size >= need) std::memcpy(dst, out.c_str(), need * sizeof(WCHAR));
  return need;
}

BOOL GetVersionExW(OSVERSIONINFOEXW* info) {
  if (!info || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOEXW) &&
                info->dwOSVersionInfoSize != offsetof(OSVERSIONINFOEXW, wServicePackMajor))) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  DWORD size = info->dwOSVersionInfoSize;
  std::memset(info, 0, size);
  info->dwOSVersionInfoSize = size;
  ReadVersion(info->dwMajorVersion, info->dwMinorVersion, info->dwBuildNumber);
  info->dwPlatformId = VER_PLATFORM_WIN32_NT;
  return TRUE;
}

ULONGLONG VerSetConditionMask(ULONGLONG mask, DWORD typeBitMask, BYTE condition) {
  for (DWORD bit = 1; bit <= VER_SERVICEPACKMAJOR; bit <<= 1) {
    if (!(typeBitMask & bit)) continue;
    int index = 0;
    for (DWORD b = bit; b > 1; b >>= 1) ++index;
    mask &= ~(ULONGLONG(7) << (index * 3));
    mask |= ULONGLONG(condition & 7) << (index * 3);
  }
  return mask;
}

BOOL VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, ULONGLONG conditionMask) {
  if (!info || !typeMask) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  DWORD major, minor, build;
  ReadVersion(major, minor, build);
  bool ok = true;
  // Major and minor compare as one version when both are asked for, as Windows does.
  if ((typeMask & VER_MAJORVERSION) && (typeMask & VER_MINORVERSION)) {
    BYTE cMajor = ConditionFor(conditionMask, VER_MAJORVERSION);
    BYTE cMinor = ConditionFor(conditionMask, VER_MINORVERSION);
    if (major != info->dwMajorVersion)
      ok = Compare(major, info->dwMajorVersion, cMajor);
    else
      ok = Compare(minor, info->dwMinorVersion, cMinor);
  } else {
    if (typeMask & VER_MAJORVERSION)
      ok = ok && Compare(major, info->dwMajorVersion, ConditionFor(conditionMask, VER_MAJORVERSION));
    if (typeMask & VER_MINORVERSION)
      ok = ok && Compare(minor, info->dwMinorVersion, ConditionFor(conditionMask, VER_MINORVERSION));
  }
  if (typeMask & VER_BUILDNUMBER)
    ok = ok && Compare(build, info->dwBuildNumber, ConditionFor(conditionMask, VER_BUILDNUMBER));
  if (typeMask & VER_PLATFORMID)
    ok = ok && Compare(VER_PLATFORM_WIN32_NT, info->dwPlatformId, ConditionFor(conditionMask, VER_PLATFORMID));
  if (typeMask & VER_SERVICEPACKMAJOR)
    ok = ok && Compare(0, info->wServicePackMajor, ConditionFor(conditionMask, VER_SERVICEPACKMAJOR));
  if (typeMask & VER_SERVICEPACKMINOR)
    ok = ok && Compare(0, info->wServicePackMinor, ConditionFor(conditionMask, VER_SERVICEPACKMINOR));
  if (!ok) SetLastError(ERROR_OLD_WIN_VERSION);
  return ok ? TRUE : FALSE;
}

HRESULT SHGetFolderPathW(HWND, int folder, HANDLE, DWORD, LPWSTR path) {
  if (!path) return E_INVALIDARG;
  path[0] = 0;
  std::string dir;
  switch (folder & 0xFF) {
    case CSIDL_APPDATA:
    case CSIDL_LOCAL_APPDATA: dir = DataHome(); break;
    case CSIDL_PERSONAL: dir = Env("HOME"); break;
    case CSIDL_COMMON_APPDATA:
      dir = Env("ZYT_COMMON_APPDATA");
      if (dir.empty()) dir = "/var/lib";
      break;
    default: return E_INVALIDARG;
  }
  if (dir.empty()) return E_FAIL;
  struct stat st;
  if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (!(folder & CSIDL_FLAG_CREATE)) return E_FAIL;
    std::string partial;
    for (size_t i = 1; i <= dir.size(); ++i) {
      if (i == dir.size() || dir[i] == '/') mkdir(dir.substr(0, i).c_str(), 0777);
    }
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
  }
  std::u16string wide = ZYT::FromPosixPath(dir);
  if (wide.size() >= MAX_PATH) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  std::memcpy(path, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
  return S_OK;
}

HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE, DWORD flags) {
  std::string path = ZYT::ToPosixPath(fileName);
  if (path.empty()) return nullptr;
  if (flags & LOAD_LIBRARY_AS_DATAFILE) return ZYT::LoadDataFileModule(path);
  // dlopen would wait on a FIFO as any reader does.
  struct stat st;
  if (path.find('/') != std::string::npos && stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) SetLastError(ERROR_MOD_NOT_FOUND);
  return handle;
}

HMODULE LoadLibraryW(LPCWSTR fileName) { return LoadLibraryExW(fileName, nullptr, 0); }

BOOL FreeLibrary(HMODULE module) {
  if (module && ZYT::IsDataFileModule(module)) {
    ZYT::FreeDataFileModule(module);
    return TRUE;
  }
  if (!module || dlclose(module) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

void* GetProcAddress(HMODULE module, LPCSTR name) {
  void* p = module && name ? dlsym(module, name) : nullptr;
  if (!p) SetLastError(ERROR_PROC_NOT_FOUND);
  return p;
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
  std::string path;
  if (module && ZYT::IsDataFileModule(module)) {
    path = ZYT::DataFileModulePath(module);
  } else if (module) {
    struct link_map* map = nullptr;
    if (dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    path = map->l_name ? map->l_name : "";
  }
  if (path.empty()) {
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) {
      SetLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    path.assign(buffer, static_cast<size_t>(n));
  }
  if (!fileName || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::u16string wide = ZYT::FromPosixPath(path);
  if (wide.size() + 1 > size) {
    std::memcpy(fileName, wide.data(), (size - 1) * sizeof(WCHAR));
    fileName[size - 1] = 0;
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(fileName, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(wide.size());
}

HMODULE ZytModuleFromAddress(const void* address) {
  Dl_info info;
  if (!dladdr(address, &info) || !info.dli_fname) return nullptr;
  void* handle = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
  if (handle) dlclose(handle);  // NOLOAD took a reference; the module stays loaded
  return handle;
}

std::u16string ZytModulePathFromAddress(const void* address) {
  Dl_info info;
  if (!dladdr(address, &info) || !info.dli_fname) return {};
  char resolved[4096];
  // The main program's name may be relative; modules' names are what dlopen was given.
  if (realpath(info.dli_fname, resolved)) return ZYT::FromPosixPath(resolved);
  return ZYT::FromPosixPath(info.dli_fname);
}

namespace {
const std::chrono::steady_clock::time_point g_processStart = std::chrono::steady_clock::now();
std::atomic<LCID> g_lcid{0};
}  // namespace

void ZytResetLocaleCache() { g_lcid.store(0); }

DWORD ZytProcessClock() {
  return static_cast<DWORD>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - g_processStart).count());
}

LCID GetSystemDefaultLCID() {
  LCID lcid = g_lcid.load(std::memory_order_relaxed);
  if (lcid) return lcid;
  lcid = 0x409;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\Nls\\Language", 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    WCHAR buffer[16] = {};
    DWORD cb = sizeof buffer - sizeof(WCHAR), type = 0;
    if (RegQueryValueExW(key, u"Default", nullptr, &type, reinterpret_cast<BYTE*>(buffer), &cb) == ERROR_SUCCESS &&
        type == REG_SZ) {
      unsigned long v = std::strtoul(ZYT::WideToUtf8(buffer).c_str(), nullptr, 16);
      if (v > 0 && v <= 0xFFFF) lcid = static_cast<LCID>(v);
    }
    RegCloseKey(key);
  }
  g_lcid.store(lcid, std::memory_order_relaxed);
  return lcid;
}

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }
DWORD GetCurrentThreadId() { return static_cast<DWORD>(syscall(SYS_gettid)); }
void Sleep(DWORD milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
