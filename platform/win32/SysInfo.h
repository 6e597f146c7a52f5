// Clock, time conversion, environment, version, known folders and modules.
#pragma once

#include <string>

#include "platform/win32/WinError.h"
#include "platform/win32/WinTypes.h"

// Milliseconds since the system started (CLOCK_MONOTONIC), wrapping at 2^32.
DWORD GetTickCount();
ULONGLONG GetTickCount64();
void GetSystemTimeAsFileTime(FILETIME* time);
void GetSystemTime(SYSTEMTIME* time);
void GetLocalTime(SYSTEMTIME* time);
BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime);
BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime);
BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, FILETIME* localFileTime);
BOOL LocalFileTimeToFileTime(const FILETIME* localFileTime, FILETIME* fileTime);
LONG CompareFileTime(const FILETIME* a, const FILETIME* b);

DWORD GetEnvironmentVariableW(LPCWSTR name, LPWSTR buffer, DWORD size);
BOOL SetEnvironmentVariableW(LPCWSTR name, LPCWSTR value);
// %NAME% is replaced by the variable's value; unknown names stay as written.
// Returns the characters needed including the terminator.
DWORD ExpandEnvironmentStringsW(LPCWSTR src, LPWSTR dst, DWORD size);

struct OSVERSIONINFOEXW {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  WCHAR szCSDVersion[128];
  WORD wServicePackMajor;
  WORD wServicePackMinor;
  WORD wSuiteMask;
  BYTE wProductType;
  BYTE wReserved;
};
constexpr DWORD VER_MINORVERSION = 0x1;
constexpr DWORD VER_MAJORVERSION = 0x2;
constexpr DWORD VER_BUILDNUMBER = 0x4;
constexpr DWORD VER_PLATFORMID = 0x8;
constexpr DWORD VER_SERVICEPACKMINOR = 0x10;
constexpr DWORD VER_SERVICEPACKMAJOR = 0x20;
constexpr BYTE VER_EQUAL = 1;
constexpr BYTE VER_GREATER = 2;
constexpr BYTE VER_GREATER_EQUAL = 3;
constexpr BYTE VER_LESS = 4;
constexpr BYTE VER_LESS_EQUAL = 5;
constexpr DWORD VER_PLATFORM_WIN32_NT = 2;

// The version this platform reports: "CurrentVersion" ("major.minor") and
// "CurrentBuildNumber" under HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion,
// 5.0 build 2195 when absent, so that the module takes the paths it takes on
// the systems it was first written for.
BOOL GetVersionExW(OSVERSIONINFOEXW* info);
ULONGLONG VerSetConditionMask(ULONGLONG mask, DWORD typeBitMask, BYTE condition);
// Fails with ERROR_OLD_WIN_VERSION when the comparison does not hold.
BOOL VerifyVersionInfoW(OSVERSIONINFOEXW* info, DWORD typeMask, ULONGLONG conditionMask);

constexpr int CSIDL_PERSONAL = 0x0005;
constexpr int CSIDL_APPDATA = 0x001A;
constexpr int CSIDL_LOCAL_APPDATA = 0x001C;
constexpr int CSIDL_COMMON_APPDATA = 0x0023;
constexpr int CSIDL_FLAG_CREATE = 0x8000;
// CSIDL_APPDATA and CSIDL_LOCAL_APPDATA: $XDG_DATA_HOME (~/.local/share);
// CSIDL_PERSONAL: $HOME; CSIDL_COMMON_APPDATA: $ZYT_COMMON_APPDATA, else
// /var/lib. E_INVALIDARG for other folders; E_FAIL when the folder is missing
// and CSIDL_FLAG_CREATE is not given.
HRESULT SHGetFolderPathW(HWND owner, int folder, HANDLE token, DWORD flags, LPWSTR path);

constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x2;
// Modules are shared objects loaded with dlopen; the handle is dlopen's.
HMODULE LoadLibraryW(LPCWSTR fileName);
HMODULE LoadLibraryExW(LPCWSTR fileName, HANDLE reserved, DWORD flags);
BOOL FreeLibrary(HMODULE module);
void* GetProcAddress(HMODULE module, LPCSTR name);
// null: the host executable. Truncates to size - 1 characters with
// ERROR_INSUFFICIENT_BUFFER and returns size.
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
// The module (dlopen handle) that contains an address, without adding a
// reference; null while that module's constructors are still running.
HMODULE ZytModuleFromAddress(const void* address);
// The file of the module that contains an address; works from its constructors too.
std::u16string ZytModulePathFromAddress(const void* address);

// Milliseconds since the process started (the C runtime's clock() on Windows).
DWORD ZytProcessClock();
// 0x409 unless HKLM\SYSTEM\CurrentControlSet\Control\Nls\Language "Default"
// names another locale (four hex digits, as Windows writes it).
LCID GetSystemDefaultLCID();
// Forgets the cached locale (after the registry changed under a test).
void ZytResetLocaleCache();

DWORD GetCurrentProcessId();
DWORD GetCurrentThreadId();
void Sleep(DWORD milliseconds);
