#include "platform/win32/Volume.h"

#include <blkid.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <memory>

#include "platform/win32/FileApi.h"
#include "platform/win32/KernelObject.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"

namespace {

std::atomic<UINT> g_errorMode{0};

constexpr DWORD FILE_CASE_SENSITIVE_SEARCH = 0x1;
constexpr DWORD FILE_CASE_PRESERVED_NAMES = 0x2;
constexpr DWORD FILE_UNICODE_ON_DISK = 0x4;
constexpr DWORD FILE_READ_ONLY_VOLUME = 0x80000;

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// "\ooo" as the kernel escapes white space and backslashes in mountinfo.
std::string Unescape(std::string_view field) {
  std::string out;
  out.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    auto octal = [&](size_t k) { return k < field.size() && field[k] >= '0' && field[k] <= '7'; };
    if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
      if (value < 256) {
        out += static_cast<char>(value);
        i += 3;
        continue;
      }
    }
    out += field[i];
  }
  return out;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && line[i] == ' ') ++i;
    size_t start = i;
    while (i < line.size() && line[i] != ' ') ++i;
    if (i > start) fields.push_back(line.substr(start, i - start));
  }
  return fields;
}

bool HasOption(std::string_view options, std::string_view name) {
  size_t i = 0;
  while (i <= options.size()) {
    size_t comma = options.find(',', i);
    if (comma == std::string_view::npos) comma = options.size();
    if (options.substr(i, comma - i) == name) return true;
    i = comma + 1;
  }
  return false;
}

std::u16string FileSystemName(const std::string& type) {
  if (type == "iso9660") return u"CDFS";
  if (type == "udf") return u"UDF";
  if (type == "vfat" || type == "msdos") return u"FAT";
  if (type == "ntfs" || type == "ntfs3") return u"NTFS";
  if (type == "exfat") return u"exFAT";
  return ZYT::ToUpper(ZYT::Utf8ToWide(type));
}

// The root as the volume table names it: without trailing separators, "D:"
// for a drive root.
std::u16string TableName(std::u16string root) {
  while (root.size() > 1 && (root.back() == u'\\' || root.back() == u'/')) root.pop_back();
  if (root.size() == 2 && root[1] == u':') root[0] = ZYT::ToUpper(root.substr(0, 1))[0];
  return root;
}

struct VolumeAnswer {
  std::u16string name;
  DWORD serial = 0;
  std::u16string fileSystem;
  DWORD flags = FILE_CASE_SENSITIVE_SEARCH | FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK;
};

std::u16string ReadString(HKEY key, const char16_t* name) {
  WCHAR buffer[256] = {};
  DWORD cb = sizeof buffer - sizeof(WCHAR), type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &cb) != ERROR_SUCCESS ||
      type != REG_SZ)
    return {};
  return std::u16string(buffer);
}

// The declared medium of a root; false when the table does not name it.
bool DeclaredVolume(const std::u16string& root, VolumeAnswer& answer) {
  HKEY key = nullptr;
  std::u16string path = std::u16string(ZYT::kVolumesKey) + u"\\" + TableName(root);
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  answer.name = ReadString(key, u"VolumeName");
  DWORD serial = 0, cb = sizeof serial, type = 0;
  if (RegQueryValueExW(key, u"SerialNumber", nullptr, &type, reinterpret_cast<BYTE*>(&serial), &cb) == ERROR_SUCCESS &&
      type == REG_DWORD)
    answer.serial = serial;
  answer.fileSystem = ReadString(key, u"FileSystem");
  if (answer.fileSystem.empty()) answer.fileSystem = u"CDFS";
  answer.flags |= FILE_READ_ONLY_VOLUME;
  RegCloseKey(key);
  return true;
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "\x20" and the like, as udev escapes names under /dev/disk/by-label.
std::string UnescapeUdev(const std::string& name) {
  std::string out;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' && isxdigit(static_cast<unsigned char>(name[i + 2])) &&
        isxdigit(static_cast<unsigned char>(name[i + 3]))) {
      out += static_cast<char>(std::stoi(name.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += name[i];
    }
  }
  return out;
}

// The name of the link in a /dev/disk folder that points at device; empty
// when none does. udev keeps these readable when the device itself is not.
std::string LinkNameFor(const char* folder, const std::string& device) {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder), closedir);
  if (!dir) return {};
  while (dirent* entry = readdir(dir.get())) {
    if (entry->d_name[0] == '.') continue;
    std::string link = std::string(folder) + "/" + entry->d_name;
    char target[PATH_MAX];
    if (realpath(link.c_str(), target) && device == target) return UnescapeUdev(entry->d_name);
  }
  return {};
}

void ProbeMountSource(const ZYT::MountEntry& mount, VolumeAnswer& answer) {
  struct stat st;
  if (stat(mount.source.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return;  // tmpfs, overlay, ...: no medium
  ZYT::ProbedVolume probed;
  DWORD error = 0;
  if (!ZYT::ProbeVolume(mount.source, probed, error)) {
    char device[PATH_MAX];
    if (!realpath(mount.source.c_str(), device)) return;
    probed.label = LinkNameFor("/dev/disk/by-label", device);
    probed.id = LinkNameFor("/dev/disk/by-uuid", device);
  }
  answer.name = ZYT::Utf8ToWide(probed.label);
  ZYT::VolumeSerialFromId(probed.id, answer.serial);
}

bool CopyOut(const std::u16string& text, LPWSTR buffer, DWORD size) {
  if (!buffer) return true;
  if (text.size() + 1 > size) return false;
  std::char_traits<char16_t>::copy(buffer, text.c_str(), text.size() + 1);
  return true;
}

}  // namespace

UINT SetErrorMode(UINT mode) { return g_errorMode.exchange(mode); }

UINT GetErrorMode() { return g_errorMode.load(); }

BOOL GetVolumeInformationW(LPCWSTR rootPathName, LPWSTR volumeNameBuffer, DWORD volumeNameSize,
                           LPDWORD volumeSerialNumber, LPDWORD maximumComponentLength, LPDWORD fileSystemFlags,
                           LPWSTR fileSystemNameBuffer, DWORD fileSystemNameSize) {
  std::u16string root = rootPathName ? std::u16string(rootPathName) : std::u16string(u"\\");
  if (root.empty()) return Fail(ERROR_INVALID_NAME);
  std::string posix;
  DWORD error = 0;
  if (!ZYT::MapToPosixPath(root, posix, error)) return Fail(error);

  VolumeAnswer answer;
  if (DeclaredVolume(root, answer)) {
    if (!IsDirectory(posix)) return Fail(ERROR_NOT_READY);
  } else {
    char canonical[PATH_MAX];
    if (!realpath(posix.c_str(), canonical) || !IsDirectory(canonical)) return Fail(ERROR_NOT_READY);
    std::string mountInfo;
    if (!ZYT::ReadRegularFile("/proc/self/mountinfo", mountInfo, error)) return Fail(error);
    auto mounts = ZYT::ParseMountInfo(mountInfo);
    const ZYT::MountEntry* mount = ZYT::FindMount(mounts, canonical);
    // A folder that is not a mount point is a drive without a medium.
    if (!mount || mount->mountPoint != canonical) return Fail(ERROR_NOT_READY);
    answer.fileSystem = FileSystemName(mount->fileSystem);
    if (mount->readOnly) answer.flags |= FILE_READ_ONLY_VOLUME;
    ProbeMountSource(*mount, answer);
  }
  if (!CopyOut(answer.name, volumeNameBuffer, volumeNameSize) ||
      !CopyOut(answer.fileSystem, fileSystemNameBuffer, fileSystemNameSize))
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  if (volumeSerialNumber) *volumeSerialNumber = answer.serial;
  if (maximumComponentLength) *maximumComponentLength = 255;
  if (fileSystemFlags) *fileSystemFlags = answer.flags;
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

namespace ZYT {

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> mounts;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    auto fields = Fields(text.substr(start, end - start));
    start = end + 1;
    // id parent major:minor root mount-point options [optional...] - type source super-options
    if (fields.size() < 9) continue;
    size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (dash + 2 >= fields.size()) continue;
    if (fields[4].empty() || fields[4][0] != '/') continue;
    MountEntry entry;
    entry.mountPoint = Unescape(fields[4]);
    entry.readOnly = HasOption(fields[5], "ro");
    entry.fileSystem = Unescape(fields[dash + 1]);
    entry.source = Unescape(fields[dash + 2]);
    mounts.push_back(std::move(entry));
  }
  return mounts;
}

const MountEntry* FindMount(const std::vector<MountEntry>& mounts, const std::string& posixPath) {
  const MountEntry* best = nullptr;
  for (const MountEntry& mount : mounts) {
    const std::string& point = mount.mountPoint;
    bool holds = point == "/" ? !posixPath.empty() && posixPath[0] == '/'
                              : posixPath.compare(0, point.size(), point) == 0 &&
                                    (posixPath.size() == point.size() || posixPath[point.size()] == '/');
    if (holds && (!best || point.size() >= best->mountPoint.size())) best = &mount;
  }
  return best;
}

bool VolumeSerialFromId(std::string_view id, DWORD& serial) {
  std::string digits;
  for (char c : id) {
    if (isxdigit(static_cast<unsigned char>(c)))
      digits += c;
    else if (c != '-')
      return false;
  }
  if (digits.size() < 8) return false;
  serial = static_cast<DWORD>(std::stoul(digits.substr(digits.size() - 8), nullptr, 16));
  return true;
}

bool ProbeVolume(const std::string& posixPath, ProbedVolume& volume, DWORD& error) {
  volume = ProbedVolume{};
  struct stat st;
  if (stat(posixPath.c_str(), &st) != 0) {
    error = Win32ErrorFromErrno(errno, posixPath.c_str());
    return false;
  }
  int fd = -1;
  if (S_ISREG(st.st_mode)) {
    fd = OpenRegularFile(posixPath, error);
  } else if (S_ISBLK(st.st_mode)) {
    // A device opens at once; the check after opening catches one swapped in.
    fd = open(posixPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    struct stat opened;
    if (fd >= 0 && (fstat(fd, &opened) != 0 || !S_ISBLK(opened.st_mode))) {
      close(fd);
      fd = -1;
      errno = EACCES;
    }
    if (fd < 0) error = Win32ErrorFromErrno(errno, posixPath.c_str());
  } else {
    error = ERROR_ACCESS_DENIED;
  }
  if (fd < 0) return false;
  std::unique_ptr<std::remove_pointer_t<blkid_probe>, void (*)(blkid_probe)> probe(blkid_new_probe(), blkid_free_probe);
  bool found = false;
  if (probe && blkid_probe_set_device(probe.get(), fd, 0, 0) == 0) {
    blkid_probe_enable_superblocks(probe.get(), 1);
    blkid_probe_set_superblocks_flags(probe.get(), BLKID_SUBLKS_LABEL | BLKID_SUBLKS_UUID | BLKID_SUBLKS_TYPE);
    if (blkid_do_safeprobe(probe.get()) == 0) {
      found = true;
      const char* data = nullptr;
      size_t length = 0;
      if (blkid_probe_lookup_value(probe.get(), "LABEL", &data, &length) == 0 && data) volume.label = data;
      if (blkid_probe_lookup_value(probe.get(), "UUID", &data, &length) == 0 && data) volume.id = data;
      if (blkid_probe_lookup_value(probe.get(), "TYPE", &data, &length) == 0 && data) volume.type = data;
    }
  }
  probe.reset();
  close(fd);
  if (!found) error = ERROR_INVALID_DATA;
  return found;
}

}  // namespace ZYT
