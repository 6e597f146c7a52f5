#include <gtest/gtest.h>

#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "platform/win32/Sync.h"
#include "platform/win32/SysInfo.h"
#include "tests/support/TestEnvironment.h"

namespace {

class SysInfoTest : public ZYT::Test::MachineTest {};

bool IsXPOrLater() {
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  info.dwMajorVersion = 5;
  info.dwMinorVersion = 1;
  ULONGLONG mask = VerSetConditionMask(0, VER_MAJORVERSION, VER_EQUAL);
  mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION, mask);
}

TEST_F(SysInfoTest, VersionIsWindows2000UnlessConfigured) {
  EXPECT_FALSE(IsXPOrLater());
  EXPECT_EQ(GetLastError(), ERROR_OLD_WIN_VERSION);
  const std::u16string key = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
  ZYT::Test::SetRegistryString(HKEY_LOCAL_MACHINE, key, u"CurrentVersion", u"5.1");
  EXPECT_TRUE(IsXPOrLater());
  ZYT::Test::SetRegistryString(HKEY_LOCAL_MACHINE, key, u"CurrentVersion", u"6.0");
  EXPECT_FALSE(IsXPOrLater()) << "the check asks for major version 5 exactly";
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(GetVersionExW(&info));
  EXPECT_EQ(info.dwMajorVersion, 6u);
  EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
}

TEST_F(SysInfoTest, EnvironmentExpansion) {
  setenv("ZYT_SAMPLE", "/data", 1);
  WCHAR out[64];
  DWORD need = ExpandEnvironmentStringsW(u"%ZYT_SAMPLE%\\x %UNSET_ZYT% 100%", out, 64);
  EXPECT_EQ(std::u16string(out), u"/data\\x %UNSET_ZYT% 100%");
  EXPECT_EQ(need, std::char_traits<char16_t>::length(out) + 1);
  EXPECT_EQ(ExpandEnvironmentStringsW(u"%ZYT_SAMPLE%", out, 2), 6u) << "a short buffer gets the size needed";
  unsetenv("ZYT_SAMPLE");
  ASSERT_GT(ExpandEnvironmentStringsW(u"%TEMP%", out, 64), 0u);
  EXPECT_EQ(std::u16string(out), ZYT::Utf8ToWide(PathIn("tmp"))) << "TEMP answers from TMPDIR";
  EXPECT_EQ(GetEnvironmentVariableW(u"ZYT_NOT_SET_ANYWHERE", out, 64), 0u);
  EXPECT_EQ(GetLastError(), ERROR_ENVVAR_NOT_FOUND);
}

TEST_F(SysInfoTest, FileTimesConvertBothWays) {
  SYSTEMTIME st{2004, 2, 0, 29, 23, 59, 58, 123};
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  SYSTEMTIME back{};
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
  EXPECT_EQ(back.wYear, 2004);
  EXPECT_EQ(back.wMonth, 2);
  EXPECT_EQ(back.wDay, 29);
  EXPECT_EQ(back.wDayOfWeek, 0) << "29 February 2004 was a Sunday";
  EXPECT_EQ(back.wMilliseconds, 123);
  FILETIME epoch{};
  ASSERT_TRUE(FileTimeToSystemTime(&epoch, &back));
  EXPECT_EQ(back.wYear, 1601);
  st.wMonth = 13;
  EXPECT_FALSE(SystemTimeToFileTime(&st, &ft));
}

TEST_F(SysInfoTest, ModuleFileNameTruncatesLikeWindows) {
  WCHAR full[4096];
  DWORD n = GetModuleFileNameW(nullptr, full, 4096);
  ASSERT_GT(n, 0u);
  EXPECT_NE(ZYT::WideToUtf8(full).find("platform_tests"), std::string::npos);
  WCHAR small[5];
  EXPECT_EQ(GetModuleFileNameW(nullptr, small, 5), 5u);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(small[4], 0);
  EXPECT_EQ(std::u16string(small), std::u16string(full, 4));
}

TEST_F(SysInfoTest, KnownFoldersFollowTheEnvironment) {
  setenv("XDG_DATA_HOME", PathIn("data").c_str(), 1);
  WCHAR path[MAX_PATH];
  EXPECT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, 0, path), E_FAIL) << "missing and not to be created";
  ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_APPDATA | CSIDL_FLAG_CREATE, nullptr, 0, path), S_OK);
  EXPECT_EQ(std::u16string(path), ZYT::Utf8ToWide(PathIn("data")));
  EXPECT_TRUE(Exists(PathIn("data")));
  EXPECT_EQ(SHGetFolderPathW(nullptr, 0x77, nullptr, 0, path), E_INVALIDARG);
  unsetenv("XDG_DATA_HOME");
}

TEST(SyncTest, CriticalSectionIsRecursiveAndInterlockedIsExact) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EXPECT_TRUE(TryEnterCriticalSection(&cs)) << "the owner may enter again";
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  DeleteCriticalSection(&cs);
  volatile LONG v = 5;
  EXPECT_EQ(InterlockedIncrement(&v), 6);
  EXPECT_EQ(InterlockedCompareExchange(&v, 9, 5), 6) << "no exchange when the comparand differs";
  EXPECT_EQ(InterlockedCompareExchange(&v, 9, 6), 6);
  EXPECT_EQ(v, 9);
}

}  // namespace
