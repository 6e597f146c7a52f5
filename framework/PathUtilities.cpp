#include "framework/PathUtilities.h"

#include <cstdio>

#include "platform/win32/FileApi.h"
#include "platform/win32/Resources.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"

namespace ZYT {

namespace {

bool IsSep(char16_t c) { return c == u'\\' || c == u'/'; }

struct SplitPath {
  std::u16string drive, dir, name, ext;
};

// _wsplitpath: drive "X:", directory up to the last separator, name, extension with its dot.
SplitPath Split(const std::u16string& path) {
  SplitPath s;
  size_t pos = 0;
  if (path.size() >= 2 && path[1] == u':') {
    s.drive = path.substr(0, 2);
    pos = 2;
  }
  size_t lastSep = std::u16string::npos;
  for (size_t i = pos; i < path.size(); ++i)
    if (IsSep(path[i])) lastSep = i;
  size_t nameStart = pos;
  if (lastSep != std::u16string::npos) {
    s.dir = path.substr(pos, lastSep + 1 - pos);
    nameStart = lastSep + 1;
  }
  std::u16string file = path.substr(nameStart);
  size_t dot = file.rfind(u'.');
  if (dot == std::u16string::npos) {
    s.name = file;
  } else {
    s.name = file.substr(0, dot);
    s.ext = file.substr(dot);
  }
  return s;
}

}  // namespace

std::u16string DirectoryOf(const std::u16string& path) {
  SplitPath s = Split(path);
  if (s.dir.size() > 1 && IsSep(s.dir.back())) s.dir.pop_back();
  return s.drive + s.dir;
}

std::u16string FileNameOf(const std::u16string& path) {
  SplitPath s = Split(path);
  return s.name + s.ext;
}

std::u16string FileTitleOf(const std::u16string& path) { return Split(path).name; }

std::u16string ExtensionOf(const std::u16string& path) {
  std::u16string ext = Split(path).ext;
  return ext.empty() ? ext : ext.substr(1);
}

std::u16string MakePath(const std::u16string& directory, const std::u16string& name, const std::u16string& extension) {
  std::u16string out = directory;
  bool posix = !directory.empty() && directory[0] == u'/';
  if (!out.empty() && !IsSep(out.back()) && !(name.empty() && extension.empty()))
    out += posix ? u'/' : u'\\';
  out += name;
  if (!extension.empty()) {
    if (extension[0] != u'.') out += u'.';
    out += extension;
  }
  return out;
}

std::u16string LongPathOf(const std::u16string& path) {
  std::u16string out;
  size_t pos = 0;
  // The root stays as written: "X:\", "\\server\share\", "/".
  if (path.size() >= 2 && path[1] == u':') {
    pos = path.size() >= 3 && IsSep(path[2]) ? 3 : 2;
  } else if (path.size() >= 2 && IsSep(path[0]) && IsSep(path[1])) {
    size_t server = path.find_first_of(u"\\/", 2);
    size_t share = server == std::u16string::npos ? server : path.find_first_of(u"\\/", server + 1);
    pos = share == std::u16string::npos ? path.size() : share + 1;
  } else if (!path.empty() && IsSep(path[0])) {
    pos = 1;
  }
  out = path.substr(0, pos);
  bool missing = false;
  while (pos < path.size()) {
    size_t end = path.find_first_of(u"\\/", pos);
    if (end == std::u16string::npos) end = path.size();
    std::u16string part = path.substr(pos, end - pos);
    if (!missing && !part.empty() && part != u"." && part != u".." && part.find_first_of(u"*?") == std::u16string::npos) {
      WIN32_FIND_DATAW data;
      HANDLE find = FindFirstFileW((out + part).c_str(), &data);
      if (find != INVALID_HANDLE_VALUE) {
        part = data.cFileName;
        FindClose(find);
      } else {
        missing = true;  // below a missing component nothing can be looked up
      }
    }
    out += part;
    if (end < path.size()) out += path[end];
    pos = end + 1;
  }
  return out;
}

std::u16string ModuleFileName(HMODULE module) {
  WCHAR buffer[MAX_PATH];
  DWORD n = GetModuleFileNameW(module, buffer, MAX_PATH);
  return n ? std::u16string(buffer, n < MAX_PATH ? n : MAX_PATH - 1) : std::u16string();
}

bool IsDirectory(const std::u16string& path) {
  DWORD attrs = GetFileAttributesW(path.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsWindowsXPOrLater() {
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof info;
  info.dwMajorVersion = 5;
  info.dwMinorVersion = 1;
  ULONGLONG mask = VerSetConditionMask(0, VER_MAJORVERSION, VER_EQUAL);
  mask = VerSetConditionMask(mask, VER_MINORVERSION, VER_GREATER_EQUAL);
  return VerifyVersionInfoW(&info, VER_MAJORVERSION | VER_MINORVERSION, mask) != FALSE;
}

bool CreateDirectoryTree(const std::u16string& path) {
  if (path.empty()) return false;
  if (IsDirectory(path)) return true;
  std::u16string parent = DirectoryOf(path);
  if (!parent.empty() && parent != path && !CreateDirectoryTree(parent)) return false;
  // The module makes folders only for its own data and temporary files,
  // which hold copies of the user's mail and items: no one else's to read.
  CreateDirectoryW(path.c_str(), OwnerOnlySecurity());
  return IsDirectory(path);
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

std::u16string LoadModuleResourceText(const std::u16string& moduleFile, LPCWSTR type, LPCWSTR name) {
  HMODULE module = LoadLibraryExW(moduleFile.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (!module) return {};
  std::u16string text;
  if (HRSRC resource = FindResourceW(module, name, type)) {
    auto* bytes = static_cast<const char*>(LockResource(LoadResource(module, resource)));
    // The module's text resources are UTF-8, whatever the system code page.
    if (bytes) text = Utf8ToWide(std::string_view(bytes, SizeofResource(module, resource)));
  }
  FreeLibrary(module);
  return text;
}

}  // namespace ZYT
