#include "platform/win32/PathFunctions.h"

#include "platform/win32/FileApi.h"
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

}  // namespace ZYT
