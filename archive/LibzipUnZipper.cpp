#include "archive/LibzipUnZipper.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "platform/win32/Limits.h"
#include "platform/win32/WinError.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"

namespace {

uint64_t Limit(const char16_t* name, DWORD defaultValue, DWORD lowest, DWORD highest) {
  return std::clamp(ZYT::GetLimit(name, defaultValue), lowest, highest);
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Opens a folder of this user below parentFd without following a link.
int OpenOwnFolderAt(int parentFd, const char* name) {
  int fd = openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != geteuid()) {
    close(fd);
    return -1;
  }
  return fd;
}

// Empties the folder open as fd: files of any attribute, folders recursively.
// Nothing is followed: a link is removed as a name. False when something stayed.
bool EmptyFolder(int fd, int depth = 0) {
  if (depth > 4096) return false;
  // Our own folders may have lost their write bit to an extracted member's
  // attributes; the folder is ours, so it gets it back.
  fchmod(fd, 0700);
  int listFd = dup(fd);
  if (listFd < 0) return false;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(fdopendir(listFd), closedir);
  if (!dir) {
    close(listFd);
    return false;
  }
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir.get())) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.emplace_back(entry->d_name);
  }
  bool all = true;
  for (const std::string& name : names) {
    if (unlinkat(fd, name.c_str(), 0) == 0) continue;
    int child = OpenOwnFolderAt(fd, name.c_str());
    if (child < 0) {
      all = false;
      continue;
    }
    all = EmptyFolder(child, depth + 1) && all;
    close(child);
    if (unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0) all = false;
  }
  return all;
}

// "arc" and 1 to 4 upper-case hex digits: the extract folders the archive
// filter makes from GetTempFileNameW's names.
bool IsExtractFolderName(std::string_view name) {
  if (name.size() < 4 || name.size() > 7 || name.substr(0, 3) != "arc") return false;
  return std::all_of(name.begin() + 3, name.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

// The same followed by ".tmp": the file that reserved the folder's name.
bool IsReservationName(std::string_view name) {
  return name.size() > 4 && name.substr(name.size() - 4) == ".tmp" && IsExtractFolderName(name.substr(0, name.size() - 4));
}

bool IsWindowsReserved(unsigned char c) {
  return c < 0x20 || c == 0x7F || std::strchr("<>:\"|?*", c) != nullptr;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

int32_t Clamp32(uint64_t value) { return static_cast<int32_t>(std::min<uint64_t>(value, 0x7FFFFFFF)); }

}  // namespace

UnZipLimits UnZipLimits::FromRegistry() {
  UnZipLimits limits;
  limits.maxMemberBytes = Limit(u"MaxArchiveMemberMegabytes", 1024, 1, 1048576) << 20;
  limits.maxRatio = Limit(u"MaxArchiveMemberRatio", 100, 2, 100000);
  limits.ratioFreeBytes = Limit(u"ArchiveRatioFreeKilobytes", 1024, 0, 1048576) << 10;
  limits.maxNameBytes = Limit(u"MaxArchiveNameBytes", 1024, 64, 4096);
  return limits;
}

std::string SafeEntryPath(std::string_view name, size_t maxBytes) {
  std::string result;
  bool first = true;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    std::string component(name.substr(start, end - start));
    start = end + 1;
    // "C:" as the first component is a drive, not a folder.
    bool drive = first && component.size() == 2 && component[1] == ':' &&
                 ((component[0] | 0x20) >= 'a' && (component[0] | 0x20) <= 'z');
    first = false;
    if (component.empty() || component == "." || component == ".." || drive) continue;
    for (char& c : component)
      if (IsWindowsReserved(static_cast<unsigned char>(c))) c = '_';
    ZYT::CutUtf8(component, 255);
    // A component made only of dots and cut to ".." or "." by the limit above.
    if (component == "." || component == "..") component = "_";
    std::string joined = result.empty() ? component : result + "/" + component;
    if (joined.size() > maxBytes) {
      if (result.empty()) {
        ZYT::CutUtf8(joined, maxBytes);
        result = joined;
      }
      break;
    }
    result = std::move(joined);
  }
  return result;
}

LibzipUnZipper::~LibzipUnZipper() {
  m_archive.reset();
  // The filter cleans up at its final release; an unzipper dropped without
  // that must not leave its folder behind either.
  if (m_folderFd >= 0) cleanUp();
}

void LibzipUnZipper::CloseFolder() noexcept {
  if (m_folderFd >= 0) close(m_folderFd);
  m_folderFd = -1;
}

bool LibzipUnZipper::setExtractPath(std::u16string folder) {
  if (m_folderFd >= 0) return false;
  std::string posix;
  DWORD error = 0;
  if (folder.empty() || !ZYT::MapToPosixPath(folder, posix, error)) return false;
  if (mkdir(posix.c_str(), 0700) != 0) return false;
  int fd = open(posix.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat opened, named;
  if (fd < 0) return false;
  if (fstat(fd, &opened) != 0 || opened.st_uid != geteuid() || (opened.st_mode & 0077) != 0) {
    close(fd);
    return false;
  }
  // A sweep removes a folder only while it holds the lock exclusively: once
  // the shared lock is ours, a folder still under the name stays ours.
  if (flock(fd, LOCK_SH | LOCK_NB) != 0 || lstat(posix.c_str(), &named) != 0 || !SameFile(opened, named)) {
    close(fd);
    return false;
  }
  m_folderFd = fd;
  m_extractPath = std::move(folder);
  m_extractPosix = std::move(posix);
  return true;
}

bool LibzipUnZipper::openFile(std::u16string archivePath) {
  m_archive.reset();
  m_next = m_entries = 0;
  m_archivePath = std::move(archivePath);
  std::string posix;
  DWORD error = 0;
  if (!ZYT::MapToPosixPath(m_archivePath, posix, error)) return false;
  // O_NONBLOCK: a FIFO under the name must not hang the open.
  int fd = open(posix.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, 0) != 0) {
    close(fd);
    return false;
  }
  int zipError = 0;
  zip_t* archive = zip_fdopen(fd, ZIP_RDONLY, &zipError);
  if (!archive) {
    close(fd);  // zip_fdopen keeps the descriptor only when it succeeds
    return false;
  }
  m_archive.reset(archive);
  zip_int64_t entries = zip_get_num_entries(archive, 0);
  m_entries = entries > 0 ? static_cast<zip_uint64_t>(entries) : 0;
  return true;
}

bool LibzipUnZipper::extractAll() {
  while (hasMoreFiles())
    if (extractNextFile().empty()) return false;
  return true;
}

bool LibzipUnZipper::cleanUp() {
  if (m_folderFd < 0) return true;
  bool emptied = EmptyFolder(m_folderFd);
  struct stat opened, named;
  bool removed = emptied && fstat(m_folderFd, &opened) == 0 && lstat(m_extractPosix.c_str(), &named) == 0 &&
                 SameFile(opened, named) && rmdir(m_extractPosix.c_str()) == 0;
  CloseFolder();
  return removed;
}

bool LibzipUnZipper::hasMoreFiles() { return m_archive && m_folderFd >= 0 && m_next < m_entries; }

std::u16string LibzipUnZipper::extractNextFile() {
  if (!hasMoreFiles()) return {};
  try {
    std::string relative = Extract(m_next++);
    if (relative.empty()) return {};
    const char16_t separator = !m_extractPath.empty() && m_extractPath[0] == u'/' ? u'/' : u'\\';
    std::u16string path = m_extractPath;
    if (path.back() != u'/' && path.back() != u'\\') path += separator;
    for (char16_t c : ZYT::Utf8ToWide(relative)) path += c == u'/' ? separator : c;
    return path;
  } catch (...) {
    return {};
  }
}

void LibzipUnZipper::Withhold(const char16_t* why) {
  m_withheld = true;
  m_note = why;
}

std::string LibzipUnZipper::Extract(zip_uint64_t index) {
  m_withheld = false;
  m_note.clear();
  zip_stat_t st;
  zip_stat_init(&st);
  if (zip_stat_index(m_archive.get(), index, 0, &st) != 0 || !(st.valid & ZIP_STAT_NAME) || !st.name) {
    Withhold(u"its entry cannot be read");
    return "_";
  }
  std::string_view name(st.name);
  bool folder = !name.empty() && (name.back() == '/' || name.back() == '\\');
  zip_uint8_t opsys = 0;
  zip_uint32_t attributes = 0;
  mode_t type = 0;
  if (zip_file_get_external_attributes(m_archive.get(), index, 0, &opsys, &attributes) == 0 &&
      opsys == ZIP_OPSYS_UNIX)
    type = static_cast<mode_t>(attributes >> 16) & S_IFMT;
  folder = folder || type == S_IFDIR;

  std::string relative = SafeEntryPath(name, m_limits.maxNameBytes);
  if (relative.empty()) {
    if (folder) return ".";
    relative = "_";
  }
  // Folders on the way are made one at a time below the extract folder,
  // never through a link.
  std::vector<std::string> parts;
  for (size_t start = 0;;) {
    size_t end = relative.find('/', start);
    parts.emplace_back(relative.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  const size_t folders = folder ? parts.size() : parts.size() - 1;
  int parent = dup(m_folderFd);
  if (parent < 0) {
    Withhold(u"no descriptor is left");
    return relative;
  }
  for (size_t i = 0; i < folders; ++i) {
    if (mkdirat(parent, parts[i].c_str(), 0700) != 0 && errno != EEXIST) {
      close(parent);
      Withhold(u"its folder cannot be made");
      return relative;
    }
    int child = OpenOwnFolderAt(parent, parts[i].c_str());
    close(parent);
    parent = child;
    if (parent < 0) {
      Withhold(u"a file of the archive already has its folder's name");
      return relative;
    }
  }
  if (folder) {
    close(parent);
    return relative;
  }
  if (type != 0 && type != S_IFREG) {
    Withhold(type == S_IFLNK ? u"it is a symbolic link" : u"it is a device, pipe or socket");
  } else if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE) {
    Withhold(u"it is encrypted");
  } else if ((st.valid & ZIP_STAT_COMP_METHOD) && !zip_compression_method_supported(st.comp_method, 0)) {
    Withhold(u"its compression method is not supported");
  } else if ((st.valid & ZIP_STAT_SIZE) && st.size > m_limits.maxMemberBytes) {
    Withhold(u"its declared size is over MaxArchiveMemberMegabytes");
  } else {
    WriteContent(index, st, parent, parts.back());
  }
  close(parent);
  return relative;
}

bool LibzipUnZipper::WriteContent(zip_uint64_t index, const zip_stat_t& st, int parentFd, const std::string& leaf) {
  // A duplicate name replaces the earlier member, which is gone already when
  // the filter took it; a folder under the name stays.
  if (unlinkat(parentFd, leaf.c_str(), 0) != 0 && errno != ENOENT) {
    Withhold(u"a folder of the archive already has its name");
    return false;
  }
  int fd = openat(parentFd, leaf.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) {
    Withhold(u"it cannot be created");
    return false;
  }
  zip_file_t* file = zip_fopen_index(m_archive.get(), index, 0);
  const uint64_t compressed = (st.valid & ZIP_STAT_COMP_SIZE) ? std::max<uint64_t>(st.comp_size, 1) : 1;
  const uint64_t ratioCap = compressed > UINT64_MAX / m_limits.maxRatio ? UINT64_MAX : compressed * m_limits.maxRatio;
  std::vector<char> buffer(1 << 16);
  uint64_t written = 0;
  uint64_t nextClockCheck = 1 << 20;
  const char16_t* cut = file ? nullptr : u"it cannot be read";
  while (!cut) {
    zip_int64_t n = zip_fread(file, buffer.data(), buffer.size());
    if (n == 0) break;
    if (n < 0) {
      cut = u"its data is damaged";
      break;
    }
    written += static_cast<uint64_t>(n);
    if (written > m_limits.maxMemberBytes) {
      cut = u"it inflates past MaxArchiveMemberMegabytes";
    } else if (written > m_limits.ratioFreeBytes && written > ratioCap) {
      cut = u"it inflates past MaxArchiveMemberRatio times its compressed size";
    } else if (!WriteAll(fd, buffer.data(), static_cast<size_t>(n))) {
      cut = u"it cannot be written (disk full?)";
    } else if (written >= nextClockCheck) {
      nextClockCheck = written + (1 << 20);
      if (m_deadline != 0 && time(nullptr) > m_deadline) cut = u"the time ran out while it was written";
    }
  }
  if (file) zip_fclose(file);
  if (close(fd) != 0 && !cut) cut = u"it cannot be written (disk full?)";
  if (cut) {
    unlinkat(parentFd, leaf.c_str(), 0);
    Withhold(cut);
    return false;
  }
  return true;
}

int32_t LibzipUnZipper::getFileCount() {
  if (!m_archive) throw E_UNEXPECTED;
  uint64_t files = 0;
  for (zip_uint64_t i = 0; i < m_entries; ++i) {
    const char* name = zip_get_name(m_archive.get(), i, 0);
    if (name && *name && name[std::strlen(name) - 1] != '/') ++files;
  }
  return Clamp32(files);
}

int32_t LibzipUnZipper::getUncompressedSize() {
  if (!m_archive) throw E_UNEXPECTED;
  uint64_t total = 0;
  zip_stat_t st;
  for (zip_uint64_t i = 0; i < m_entries; ++i)
    if (zip_stat_index(m_archive.get(), i, 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE)) total += st.size;
  return Clamp32(total);
}

int32_t LibzipUnZipper::getCompressedSize() {
  if (!m_archive) throw E_UNEXPECTED;
  uint64_t total = 0;
  zip_stat_t st;
  for (zip_uint64_t i = 0; i < m_entries; ++i)
    if (zip_stat_index(m_archive.get(), i, 0, &st) == 0 && (st.valid & ZIP_STAT_COMP_SIZE)) total += st.comp_size;
  return Clamp32(total);
}

size_t SweepDeadExtractFolders(const std::u16string& folder) {
  std::string posix;
  DWORD error = 0;
  if (folder.empty() || !ZYT::MapToPosixPath(folder, posix, error)) return 0;
  int parent = open(posix.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (parent < 0) return 0;
  std::vector<std::string> names;
  {
    int listFd = dup(parent);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(listFd >= 0 ? fdopendir(listFd) : nullptr, closedir);
    if (!dir && listFd >= 0) close(listFd);
    while (dir && (errno = 0, true)) {
      dirent* entry = readdir(dir.get());
      if (!entry) break;
      if (IsExtractFolderName(entry->d_name) || IsReservationName(entry->d_name)) names.emplace_back(entry->d_name);
    }
  }
  size_t removed = 0;
  for (const std::string& name : names) {
    if (IsReservationName(name)) {
      // The empty file GetTempFileNameW made to reserve a folder's name, left
      // by a host killed before it deleted it. A live one only loses the
      // reservation, which it drops a moment later anyway.
      struct stat st;
      if (fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) && st.st_size == 0 &&
          st.st_uid == geteuid() && unlinkat(parent, name.c_str(), 0) == 0)
        ++removed;
      continue;
    }
    int fd = OpenOwnFolderAt(parent, name.c_str());
    if (fd < 0) continue;
    struct stat opened, named;
    // A live filter holds its folder; the exclusive lock is kept until the
    // name is gone, so that a maker that locks later finds it gone and
    // makes another.
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && fstat(fd, &opened) == 0 &&
        fstatat(parent, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(opened, named) &&
        EmptyFolder(fd) && unlinkat(parent, name.c_str(), AT_REMOVEDIR) == 0)
      ++removed;
    close(fd);
  }
  close(parent);
  return removed;
}

void SweepDeadExtractFoldersOnce(const std::u16string& folder) {
  static std::mutex lock;
  static std::set<std::u16string> swept;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (!swept.insert(folder).second) return;
  }
  SweepDeadExtractFolders(folder);
}
