#include "framework/PathUtilities.h"

#include <cstdio>

#include "platform/win32/FileApi.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"

namespace ZYT {

bool IsWindowsXPOrLater() {
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  info.dwMajorVersion = 5;
  info.dwMinorVersion = 1;
  ULONGLONG mask = VerSetConditionMask(0, VER_MAJORVERSION, VER_EQUAL);
  mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION, mask) != FALSE;
}

std::u16string GetAppDataFolder(bool perUser, bool create) {
  WCHAR base[MAX_PATH];
  // On Linux the data folder itself may not exist yet; Windows always has it.
  int which = (perUser ? CSIDL_APPDATA : CSIDL_COMMON_APPDATA) | (create ? CSIDL_FLAG_CREATE : 0);
  if (SUCCEEDED(SHGetFolderPathW(nullptr, which, nullptr, 0, base))) {
    std::u16string folder = MakePath(MakePath(base, u"Halvorine", u""), u"Orrery", u"");
    if (!IsDirectory(folder) && create) CreateDirectoryTree(folder);
    if (IsDirectory(folder)) return folder;
  }
  return ToLower(LongPathOf(DirectoryOf(ModuleFileName(nullptr))));
}

void DeleteDirectoryContents(const std::u16string& directory, const std::u16string& pattern, bool removeDirectory,
                             bool removeSubdirectories, bool recurse, bool includeReadOnly) {
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(MakePath(directory, pattern, u"").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      std::u16string name = data.cFileName;
      std::u16string full = MakePath(directory, name, u"");
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        if (name == u"." || name == u"..") continue;
        if (recurse)
          DeleteDirectoryContents(full, pattern, removeSubdirectories, removeSubdirectories, true, includeReadOnly);
        else if (removeSubdirectories)
          RemoveDirectoryW(full.c_str());
      } else {
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) && !includeReadOnly) continue;
        SetFileAttributesW(full.c_str(), data.dwFileAttributes & ~(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                                                    FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NORMAL));
        DeleteFileW(full.c_str());
      }
    } while (FindNextFileW(find, &data));
    FindClose(find);
  }
  if (removeDirectory) RemoveDirectoryW(directory.c_str());
}

std::u16string MakeUniqueTempPath(const std::u16string& directory, const std::u16string& prefix,
                                  const std::u16string& extension, bool makeDirectory) {
  std::u16string dir = directory;
  if (dir.empty()) {
    WCHAR temp[MAX_PATH];
    DWORD n = GetTempPathW(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH) return {};
    dir.assign(temp, n);
  }
  std::u16string pre = prefix.empty() ? u"tmp" : prefix;
  std::u16string ext = extension.empty() ? u"tmp" : extension;
  // Unpredictable, and safe from any thread (rand() is neither).
  const unsigned start = UnpredictableNumber() & 0xFFFF;
  unsigned number = start;
  do {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04x", number);
    std::u16string path = MakePath(dir, pre + Utf8ToWide(hex), ext);
    if (makeDirectory) {
      if (CreateDirectoryW(path.c_str(), OwnerOnlySecurity())) return path;
    } else {
      HANDLE h =
          CreateFileW(path.c_str(), GENERIC_WRITE, 0, OwnerOnlySecurity(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return path;
      }
    }
    number = (number + 1) & 0xFFFF;
  } while (number != start);
  return {};
}

}  // namespace ZYT
