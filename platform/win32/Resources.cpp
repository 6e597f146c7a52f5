#include "platform/win32/Resources.h"

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/win32/FileApi.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"

struct HRSRC__ {
  std::string type;
  std::string name;
  std::string data;
};

namespace {

struct DataFile {
  std::string path;
};

using ResourceSet = std::vector<HRSRC__>;

std::mutex g_lock;
std::map<std::string, std::shared_ptr<ResourceSet>>& Cache() {
  static auto* cache = new std::map<std::string, std::shared_ptr<ResourceSet>>;
  return *cache;
}

bool ReadAt(int fd, uint64_t offset, void* out, size_t size, uint64_t fileSize) {
  if (offset > fileSize || size > fileSize - offset) return false;
  for (size_t done = 0; done < size;) {
    ssize_t n = pread(fd, static_cast<char*>(out) + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// A module file's descriptor, closed with it.
struct FileDescriptor {
  int fd;
  ~FileDescriptor() {
    if (fd >= 0) close(fd);
  }
};

uint32_t Get32(const std::string& s, size_t& pos, bool& ok) {
  if (!ok || pos > s.size() || s.size() - pos < 4) {
    ok = false;
    return 0;
  }
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t(static_cast<unsigned char>(s[pos + static_cast<size_t>(i)])) << (8 * i);
  pos += 4;
  return v;
}

std::string GetField(const std::string& s, size_t& pos, bool& ok) {
  uint32_t n = Get32(s, pos, ok);
  if (!ok || s.size() - pos < n) {
    ok = false;
    return {};
  }
  std::string field = s.substr(pos, n);
  pos += n;
  return field;
}

// Reads the ".zytres" section of an ELF64 file; an empty set when it has none.
std::shared_ptr<ResourceSet> ReadResources(const std::string& path) {
  auto set = std::make_shared<ResourceSet>();
  DWORD error = ERROR_SUCCESS;
  FileDescriptor file{ZYT::OpenRegularFile(path, error)};
  struct stat st;
  if (file.fd < 0 || fstat(file.fd, &st) != 0) return nullptr;
  const int in = file.fd;
  uint64_t fileSize = static_cast<uint64_t>(st.st_size);
  Elf64_Ehdr header;
  if (!ReadAt(in, 0, &header, sizeof header, fileSize) || std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 ||
      header.e_ident[EI_CLASS] != ELFCLASS64 || header.e_shentsize != sizeof(Elf64_Shdr) ||
      header.e_shstrndx >= header.e_shnum)
    return nullptr;
  std::vector<Elf64_Shdr> sections(header.e_shnum);
  if (!ReadAt(in, header.e_shoff, sections.data(), sections.size() * sizeof(Elf64_Shdr), fileSize)) return nullptr;
  const Elf64_Shdr& names = sections[header.e_shstrndx];
  std::string nameTable(names.sh_size, '\0');
  if (!ReadAt(in, names.sh_offset, nameTable.data(), nameTable.size(), fileSize)) return nullptr;
  for (const Elf64_Shdr& s : sections) {
    if (s.sh_name >= nameTable.size() || std::strcmp(nameTable.c_str() + s.sh_name, ".zytres") != 0) continue;
    std::string blob(s.sh_size, '\0');
    if (!ReadAt(in, s.sh_offset, blob.data(), blob.size(), fileSize) || blob.compare(0, 8, "ZYTRES01") != 0)
      return nullptr;
    size_t pos = 8;
    bool ok = true;
    uint32_t count = Get32(blob, pos, ok);
    for (uint32_t i = 0; ok && i < count; ++i) {
      HRSRC__ r;
      r.type = GetField(blob, pos, ok);
      r.name = GetField(blob, pos, ok);
      r.data = GetField(blob, pos, ok);
      if (ok) set->push_back(std::move(r));
    }
    if (!ok) return nullptr;
  }
  return set;
}

std::string ModulePath(HMODULE module) {
  if (ZYT::IsDataFileModule(module)) return ZYT::DataFileModulePath(module);
  struct link_map* map = nullptr;
  if (!module || dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map || !map->l_name) return {};
  return map->l_name;
}

std::shared_ptr<ResourceSet> ResourcesOf(HMODULE module) {
  std::string path = ModulePath(module);
  if (path.empty()) return nullptr;
  std::lock_guard guard(g_lock);
  auto it = Cache().find(path);
  if (it != Cache().end()) return it->second;
  auto set = ReadResources(path);
  if (set) Cache()[path] = set;
  return set;
}

std::string KeyOf(LPCWSTR id) {
  if (IS_INTRESOURCE(id)) return "#" + std::to_string(reinterpret_cast<uintptr_t>(id));
  std::string key = ZYT::WideToUtf8(ZYT::ToUpper(id));
  if (key.size() > 1 && key[0] == '#') key = "#" + std::to_string(std::stoul(key.substr(1)));
  return key;
}

}  // namespace

namespace ZYT {

HMODULE LoadDataFileModule(const std::string& posixPath) {
  DWORD error = ERROR_SUCCESS;
  int probe = OpenRegularFile(posixPath, error);
  if (probe < 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  close(probe);
  auto* file = new DataFile{posixPath};
  return reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(file) | 1);
}

bool IsDataFileModule(HMODULE module) { return (reinterpret_cast<uintptr_t>(module) & 1) != 0; }

std::string DataFileModulePath(HMODULE module) {
  return reinterpret_cast<DataFile*>(reinterpret_cast<uintptr_t>(module) & ~uintptr_t(1))->path;
}

void FreeDataFileModule(HMODULE module) {
  delete reinterpret_cast<DataFile*>(reinterpret_cast<uintptr_t>(module) & ~uintptr_t(1));
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

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
  if (!name || !type) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto set = ResourcesOf(module);
  if (!set) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  std::string typeKey = KeyOf(type), nameKey = KeyOf(name);
  bool typeSeen = false;
  for (HRSRC__& r : *set) {
    if (r.type != typeKey) continue;
    typeSeen = true;
    if (r.name == nameKey) return &r;
  }
  SetLastError(typeSeen ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
  return nullptr;
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  return resource ? const_cast<char*>(resource->data.data()) : nullptr;
}

LPVOID LockResource(HGLOBAL data) { return data; }

DWORD SizeofResource(HMODULE, HRSRC resource) { return resource ? static_cast<DWORD>(resource->data.size()) : 0; }

int LoadStringW(HMODULE module, UINT id, LPWSTR buffer, int bufferMax) {
  HRSRC r = FindResourceW(module, MAKEINTRESOURCEW(static_cast<WORD>(id)), RT_STRING);
  if (!r || !buffer || bufferMax <= 0) return 0;
  std::u16string text = ZYT::Utf8ToWide(r->data);
  size_t n = std::min(text.size(), static_cast<size_t>(bufferMax - 1));
  std::memcpy(buffer, text.data(), n * sizeof(WCHAR));
  buffer[n] = 0;
  return static_cast<int>(n);
}
