#include "platform/win32/FileApi.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "platform/win32/KernelObject.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"
#include "platform/win32/Sync.h"

namespace ZYT {

namespace {
// The handle table, in shards: every ReadFile looks its handle up, and
// threads that each read their own files should not wait for one another.
struct alignas(64) HandleShard {
  std::mutex lock;
  std::unordered_set<HANDLE> handles;
};
constexpr size_t kHandleShards = 64;
HandleShard& ShardOf(HANDLE handle) {
  static auto* shards = new HandleShard[kHandleShards];
  // Heap addresses: the low bits are alignment, the next ones vary.
  return shards[(reinterpret_cast<uintptr_t>(handle) >> 4) % kHandleShards];
}
}  // namespace

BOOL KernelObject::Read(void*, DWORD, DWORD&, const OVERLAPPED*) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

BOOL KernelObject::Write(const void*, DWORD, DWORD&, const OVERLAPPED*) {
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}

DWORD KernelObject::Wait(DWORD) {
  SetLastError(ERROR_INVALID_HANDLE);
  return WAIT_FAILED;
}

HANDLE RegisterHandle(KernelObject* object) {
  HandleShard& shard = ShardOf(object);
  std::lock_guard guard(shard.lock);
  shard.handles.insert(object);
  return object;
}

KernelObject* LookupHandle(HANDLE handle) {
  HandleShard& shard = ShardOf(handle);
  std::lock_guard guard(shard.lock);
  return shard.handles.count(handle) ? static_cast<KernelObject*>(handle) : nullptr;
}

void SetInvalidHandleError() { SetLastError(ERROR_INVALID_HANDLE); }

bool DestroyHandle(HANDLE handle) {
  {
    HandleShard& shard = ShardOf(handle);
    std::lock_guard guard(shard.lock);
    if (!shard.handles.erase(handle)) return false;
  }
  delete static_cast<KernelObject*>(handle);
  return true;
}

DWORD Win32ErrorFromErrno(int error, const char* path) {
  switch (error) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: {
      if (path) {
        std::string parent(path);
        size_t slash = parent.find_last_of('/');
        if (slash != std::string::npos && slash > 0) {
          parent.resize(slash);
          struct stat st;
          if (stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return ERROR_PATH_NOT_FOUND;
        }
      }
      return ERROR_FILE_NOT_FOUND;
    }
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_FILE_EXISTS;
    case ENOSPC: return ERROR_DISK_FULL;
    case EMFILE:
    case ENFILE: return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    case EBUSY:
    case ETXTBSY: return ERROR_SHARING_VIOLATION;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EPIPE: return ERROR_BROKEN_PIPE;
    case ENXIO: return ERROR_ACCESS_DENIED;  // a socket, or a FIFO nobody reads
    case ELOOP: return ERROR_INVALID_NAME;
    default: return ERROR_INVALID_PARAMETER;
  }
}

namespace {
// Its address tells OwnerOnlySecurity's attributes from a caller's own.
char g_ownerOnlyTag;
SECURITY_ATTRIBUTES g_ownerOnly{sizeof(SECURITY_ATTRIBUTES), &g_ownerOnlyTag, FALSE};

bool IsOwnerOnly(const SECURITY_ATTRIBUTES* attributes) {
  return attributes && attributes->lpSecurityDescriptor == &g_ownerOnlyTag;
}

// Opening a FIFO waits for a writer, a device may act on being opened, and a
// file can be swapped for either between a stat and an open: the type is
// checked before, the open never waits (O_NONBLOCK), and the descriptor's own
// type is checked after.
// checked: the caller has just looked at the path's type itself (a filter
// opens a file per object: each system call counts).
int OpenChecked(const std::string& path, int flags, mode_t mode, bool allowDirectory, DWORD& error,
                bool checked = false) {
  struct stat st;
  if (!checked && stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !(allowDirectory && S_ISDIR(st.st_mode))) {
    error = ERROR_ACCESS_DENIED;
    return -1;
  }
  int fd = open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
  if (fd < 0) {
    // EWOULDBLOCK: another process holds a lease and would have made us wait.
    error = errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : Win32ErrorFromErrno(errno, path.c_str());
    return -1;
  }
  if (fstat(fd, &st) != 0 || (!S_ISREG(st.st_mode) && !(allowDirectory && S_ISDIR(st.st_mode)))) {
    close(fd);
    error = ERROR_ACCESS_DENIED;
    return -1;
  }
  // F_SETFL changes only the status flags (O_APPEND, O_NONBLOCK, ...): those
  // of the open, without O_NONBLOCK.
  fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

}  // namespace

LPSECURITY_ATTRIBUTES OwnerOnlySecurity() { return &g_ownerOnly; }

int OpenRegularFile(const std::string& posixPath, DWORD& error) {
  return OpenChecked(posixPath, O_RDONLY, 0, false, error);
}

bool ReadRegularFile(const std::string& posixPath, std::string& bytes, DWORD& error, size_t maxBytes) {
  bytes.clear();
  int fd = OpenRegularFile(posixPath, error);
  if (fd < 0) return false;
  std::string data;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = Win32ErrorFromErrno(errno);
      close(fd);
      return false;
    }
    if (n == 0) break;
    if (static_cast<size_t>(n) > maxBytes - data.size()) {
      error = ERROR_FILE_TOO_LARGE;
      close(fd);
      return false;
    }
    data.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  bytes = std::move(data);
  return true;
}

uint32_t UnpredictableNumber() {
  uint32_t value = 0;
  if (getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value)) return value;
  // Only before the kernel's pool is ready: an engine of this thread, seeded
  // from what differs between threads and runs.
  thread_local std::mt19937 engine(static_cast<uint32_t>(
      std::chrono::steady_clock::now().time_since_epoch().count() ^
      std::hash<std::thread::id>()(std::this_thread::get_id()) ^ reinterpret_cast<uintptr_t>(&value)));
  return engine();
}

}  // namespace ZYT

namespace {

constexpr DWORD kDosMask =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
constexpr const char* kDosAttrib = "user.DOSATTRIB";
constexpr int64_t kEpochDifference = 11644473600LL;  // seconds from 1601 to 1970

bool Fail(DWORD error) {
  SetLastError(error);
  return false;
}

bool FailErrno(const char* path = nullptr) { return Fail(ZYT::Win32ErrorFromErrno(errno, path)); }

class FileObject final : public ZYT::KernelObject {
 public:
  FileObject(int fd, std::string path, bool deleteOnClose)
      : m_fd(fd), m_path(std::move(path)), m_deleteOnClose(deleteOnClose) {}
  ~FileObject() override {
    if (m_fd >= 0) close(m_fd);
    if (m_deleteOnClose) unlink(m_path.c_str());
  }
  int fd() const { return m_fd; }
  int Descriptor() const override { return m_fd; }

  BOOL Read(void* buffer, DWORD toRead, DWORD& done, const OVERLAPPED* at) override {
    done = 0;
    while (done < toRead) {
      ssize_t n = at ? ::pread(m_fd, static_cast<char*>(buffer) + done, toRead - done,
                               static_cast<off_t>((uint64_t(at->OffsetHigh) << 32 | at->Offset) + done))
                     : ::read(m_fd, static_cast<char*>(buffer) + done, toRead - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return FailErrno();
      }
      if (n == 0) break;
      done += static_cast<DWORD>(n);
    }
    return TRUE;
  }

  BOOL Write(const void* buffer, DWORD toWrite, DWORD& done, const OVERLAPPED* at) override {
    done = 0;
    while (done < toWrite) {
      ssize_t n = at ? ::pwrite(m_fd, static_cast<const char*>(buffer) + done, toWrite - done,
                                static_cast<off_t>((uint64_t(at->OffsetHigh) << 32 | at->Offset) + done))
                     : ::write(m_fd, static_cast<const char*>(buffer) + done, toWrite - done);
      if (n < 0) {
        if (errno == EINTR) continue;
        return FailErrno();
      }
      done += static_cast<DWORD>(n);
    }
    return TRUE;
  }

 private:
  int m_fd;
  std::string m_path;
  bool m_deleteOnClose;
};

class FindObject final : public ZYT::KernelObject {
 public:
  std::vector<WIN32_FIND_DATAW> entries;
  size_t next = 0;
};

// Maps a path and records the error when it cannot be mapped.
bool Map(LPCWSTR path, std::string& posix) {
  if (!path) return Fail(ERROR_INVALID_PARAMETER);
  DWORD error = ERROR_SUCCESS;
  if (!ZYT::MapToPosixPath(path, posix, error)) return Fail(error);
  return true;
}

FILETIME ToFileTime(const struct timespec& ts) {
  uint64_t v = static_cast<uint64_t>(ts.tv_sec + kEpochDifference) * 10000000ULL +
               static_cast<uint64_t>(ts.tv_nsec / 100);
  return {static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
}

struct timespec ToTimespec(const FILETIME& ft) {
  uint64_t v = (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(static_cast<int64_t>(v / 10000000ULL) - kEpochDifference);
  ts.tv_nsec = static_cast<long>((v % 10000000ULL) * 100);
  return ts;
}

// The DOS attributes kept in the extended attribute; -1 when there are none.
long ReadDosAttrib(const std::string& path) {
  char buffer[64] = {};
  ssize_t n = getxattr(path.c_str(), kDosAttrib, buffer, sizeof buffer - 1);
  if (n < 3 || buffer[0] != '0' || (buffer[1] != 'x' && buffer[1] != 'X')) return -1;
  buffer[n] = 0;  // Samba's binary form starts with this text, NUL-terminated
  return static_cast<long>(std::strtoul(buffer + 2, nullptr, 16));
}

bool IsHiddenName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return name.size() > 1 && name[0] == '.' && name != "..";
}

DWORD AttributesOf(const std::string& path, const struct stat& st) {
  DWORD attrs = 0;
  bool dir = S_ISDIR(st.st_mode);
  if (dir) attrs |= FILE_ATTRIBUTE_DIRECTORY;
  long dos = ReadDosAttrib(path);
  if (dos >= 0) attrs |= static_cast<DWORD>(dos) & kDosMask;
  if (!dir && !(st.st_mode & S_IWUSR)) attrs |= FILE_ATTRIBUTE_READONLY;
  if (IsHiddenName(path)) attrs |= FILE_ATTRIBUTE_HIDDEN;
  return attrs ? attrs : FILE_ATTRIBUTE_NORMAL;
}

bool ApplyAttributes(const std::string& path, DWORD attributes) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return FailErrno(path.c_str());
  if (!S_ISDIR(st.st_mode)) {
    mode_t mode = st.st_mode & 07777;
    mode_t wanted = (attributes & FILE_ATTRIBUTE_READONLY) ? (mode & ~mode_t(0222))
                    : (mode & S_IWUSR)                      ? mode
                                                            : (mode | S_IWUSR);
    if (wanted != mode && chmod(path.c_str(), wanted) != 0) return FailErrno(path.c_str());
  }
  DWORD dos = attributes & kDosMask;
  if (dos) {
    char text[16];
    int n = std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(dos));
    // File systems without user attributes keep only what the permissions can say.
    setxattr(path.c_str(), kDosAttrib, text, static_cast<size_t>(n), 0);
  } else {
    removexattr(path.c_str(), kDosAttrib);
  }
  return true;
}

bool IsReadOnly(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return false;
  return !S_ISDIR(st.st_mode) && (AttributesOf(path, st) & FILE_ATTRIBUTE_READONLY);
}

void FillFindData(const std::string& path, const std::string& name, const struct stat& st,
                  WIN32_FIND_DATAW& data) {
  std::memset(&data, 0, sizeof data);
  data.dwFileAttributes = AttributesOf(path, st);
  data.ftCreationTime = ToFileTime(st.st_ctim);
  data.ftLastAccessTime = ToFileTime(st.st_atim);
  data.ftLastWriteTime = ToFileTime(st.st_mtim);
  if (!S_ISDIR(st.st_mode)) {
    data.nFileSizeHigh = static_cast<DWORD>(static_cast<uint64_t>(st.st_size) >> 32);
    data.nFileSizeLow = static_cast<DWORD>(st.st_size);
  }
  std::u16string wide = ZYT::PosixNameToWide(name);
  size_t n = std::min<size_t>(wide.size(), MAX_PATH - 1);
  std::memcpy(data.cFileName, wide.data(), n * sizeof(WCHAR));
}

// "*" and "?" against a name, ignoring case; "*.*" matches names without a dot too.
bool WildcardMatch(std::u16string_view pattern, std::u16string_view name) {
  if (pattern == u"*.*") pattern = u"*";
  size_t p = 0, n = 0, star = std::u16string_view::npos, mark = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || ZYT::EqualsNoCase(pattern.substr(p, 1), name.substr(n, 1)))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      mark = n;
    } else if (star != std::u16string_view::npos) {
      p = star + 1;
      n = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

bool CopyContents(int in, int out) {
  char buffer[65536];
  for (;;) {
    ssize_t n = read(in, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    for (ssize_t done = 0; done < n;) {
      ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
      if (w < 0) {
        if (errno == EINTR) continue;
        return false;
      }
      done += w;
    }
  }
}

}  // namespace

BOOL CloseHandle(HANDLE handle) {
  if (!ZYT::DestroyHandle(handle)) return Fail(ERROR_INVALID_HANDLE);
  return TRUE;
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD, LPSECURITY_ATTRIBUTES securityAttributes,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE) {
  std::string path;
  if (!Map(fileName, path)) return INVALID_HANDLE_VALUE;
  bool wantRead = desiredAccess & (GENERIC_READ | GENERIC_ALL | FILE_READ_DATA);
  bool wantWrite = desiredAccess & (GENERIC_WRITE | GENERIC_ALL | FILE_WRITE_DATA | FILE_APPEND_DATA);
  bool allowDirectory = (flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) != 0;
  struct stat st;
  bool exists = stat(path.c_str(), &st) == 0;
  // A FIFO, socket or device is no file here, whatever its name says.
  if (exists && !S_ISREG(st.st_mode) && !(S_ISDIR(st.st_mode) && allowDirectory)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  int flags = 0;
  switch (creationDisposition) {
    case CREATE_NEW: flags |= O_CREAT | O_EXCL; break;
    case CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: flags |= O_CREAT; break;
    case TRUNCATE_EXISTING:
      if (!wantWrite) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
      }
      flags |= O_TRUNC;
      break;
    default: SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE;
  }
  if (exists && creationDisposition == CREATE_NEW) {
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
  }
  bool truncates = creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING;
  if (exists && (wantWrite || truncates) && IsReadOnly(path)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if ((creationDisposition == CREATE_ALWAYS || creationDisposition == TRUNCATE_EXISTING) && !wantWrite)
    flags |= O_WRONLY;  // truncation needs a writable descriptor
  else if (wantRead && wantWrite)
    flags |= O_RDWR;
  else if (wantWrite)
    flags |= O_WRONLY;
  else
    flags |= O_RDONLY;
  if (exists && S_ISDIR(st.st_mode)) flags = O_RDONLY | O_DIRECTORY;
  // A temporary file is its owner's alone from the moment it exists.
  mode_t mode = ZYT::IsOwnerOnly(securityAttributes) ? 0600 : 0666;
  DWORD error = ERROR_SUCCESS;
  int fd = ZYT::OpenChecked(path, flags, mode, allowDirectory, error, exists);
  if (fd < 0 && error == ERROR_ACCESS_DENIED && errno == EACCES && !wantRead && !wantWrite && exists) {
    // Attributes and times only: a path descriptor, which opens nothing.
    fd = open(path.c_str(), O_PATH | O_CLOEXEC);
    struct stat opened;
    if (fd >= 0 && (fstat(fd, &opened) != 0 || (!S_ISREG(opened.st_mode) && !S_ISDIR(opened.st_mode)))) {
      close(fd);
      fd = -1;
    }
  }
  if (fd < 0) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
  }
  if (!exists && (flagsAndAttributes & kDosMask)) ApplyAttributes(path, flagsAndAttributes & kDosMask);
  auto* file = new FileObject(fd, path, (flagsAndAttributes & FILE_FLAG_DELETE_ON_CLOSE) != 0);
  SetLastError(exists && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS)
                   ? ERROR_ALREADY_EXISTS
                   : ERROR_SUCCESS);
  return ZYT::RegisterHandle(file);
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
  if (read) *read = 0;
  auto* object = ZYT::HandleAs<ZYT::KernelObject>(handle);
  if (!object) return FALSE;
  if (!buffer && toRead) return Fail(ERROR_NOACCESS);
  DWORD done = 0;
  BOOL ok = object->Read(buffer, toRead, done, overlapped);
  if (read) *read = done;
  return ok;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
  if (written) *written = 0;
  auto* object = ZYT::HandleAs<ZYT::KernelObject>(handle);
  if (!object) return FALSE;
  if (!buffer && toWrite) return Fail(ERROR_NOACCESS);
  DWORD done = 0;
  BOOL ok = object->Write(buffer, toWrite, done, overlapped);
  if (written) *written = done;
  return ok;
}

BOOL FlushFileBuffers(HANDLE handle) {
  auto* file = ZYT::HandleAs<FileObject>(handle);
  if (!file) return FALSE;
  return fsync(file->fd()) == 0 ? TRUE : FailErrno();
}

BOOL SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance, LARGE_INTEGER* newPosition, DWORD method) {
  auto* file = ZYT::HandleAs<FileObject>(handle);
  if (!file) return FALSE;
  int whence = method == FILE_BEGIN ? SEEK_SET : method == FILE_CURRENT ? SEEK_CUR : method == FILE_END ? SEEK_END : -1;
  if (whence < 0) return Fail(ERROR_INVALID_PARAMETER);
  off_t current = lseek(file->fd(), 0, SEEK_CUR);
  off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? current : lseek(file->fd(), 0, SEEK_END);
  lseek(file->fd(), current, SEEK_SET);
  if (base + distance.QuadPart < 0) return Fail(ERROR_NEGATIVE_SEEK);
  off_t pos = lseek(file->fd(), static_cast<off_t>(distance.QuadPart), whence);
  if (pos < 0) return FailErrno();
  if (newPosition) newPosition->QuadPart = pos;
  return TRUE;
}

DWORD SetFilePointer(HANDLE handle, LONG distance, PLONG distanceHigh, DWORD method) {
  LARGE_INTEGER d;
  d.QuadPart = distanceHigh ? static_cast<LONGLONG>((uint64_t(uint32_t(*distanceHigh)) << 32) | uint32_t(distance))
                            : static_cast<LONGLONG>(distance);
  LARGE_INTEGER pos;
  if (!SetFilePointerEx(handle, d, &pos, method)) return INVALID_SET_FILE_POINTER;
  if (distanceHigh) *distanceHigh = pos.u.HighPart;
  SetLastError(ERROR_SUCCESS);
  return pos.u.LowPart;
}

BOOL SetEndOfFile(HANDLE handle) {
  auto* file = ZYT::HandleAs<FileObject>(handle);
  if (!file) return FALSE;
  off_t pos = lseek(file->fd(), 0, SEEK_CUR);
  return ftruncate(file->fd(), pos) == 0 ? TRUE : FailErrno();
}

BOOL GetFileSizeEx(HANDLE handle, LARGE_INTEGER* size) {
  auto* file = ZYT::HandleAs<FileObject>(handle);
  if (!file) return FALSE;
  if (!size) return Fail(ERROR_INVALID_PARAMETER);
  struct stat st;
  if (fstat(file->fd(), &st) != 0) return FailErrno();
  size->QuadPart = st.st_size;
  return TRUE;
}

DWORD GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
  LARGE_INTEGER size;
  if (!GetFileSizeEx(handle, &size)) return INVALID_FILE_SIZE;
  if (sizeHigh) *sizeHigh = static_cast<DWORD>(size.u.HighPart);
  SetLastError(ERROR_SUCCESS);
  return size.u.LowPart;
}

BOOL GetFileTime(HANDLE handle, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite) {
  auto* file = ZYT::HandleAs<FileObject>(handle);
  if (!file) return FALSE;
  struct stat st;
  if (fstat(file->fd(), &st) != 0) return FailErrno();
  if (creation) *creation = ToFileTime(st.st_ctim);
  if (lastAccess) *lastAccess = ToFileTime(st.st_atim);
  if (lastWrite) *lastWrite = ToFileTime(st.st_mtim);
  return TRUE;
}

BOOL SetFileTime(HANDLE handle, const FILETIME*, const FILETIME* lastAccess, const FILETIME* lastWrite) {
  auto* file = ZYT::HandleAs<FileObject>(handle);
  if (!file) return FALSE;
  auto unchanged = [](const FILETIME* t) {
    return !t || (t->dwLowDateTime == 0 && t->dwHighDateTime == 0) ||
           (t->dwLowDateTime == 0xFFFFFFFF && t->dwHighDateTime == 0xFFFFFFFF);
  };
  struct timespec times[2];
  times[0] = unchanged(lastAccess) ? timespec{0, UTIME_OMIT} : ToTimespec(*lastAccess);
  times[1] = unchanged(lastWrite) ? timespec{0, UTIME_OMIT} : ToTimespec(*lastWrite);
  return futimens(file->fd(), times) == 0 ? TRUE : FailErrno();
}

BOOL DeleteFileW(LPCWSTR fileName) {
  std::string path;
  if (!Map(fileName, path)) return FALSE;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return FailErrno(path.c_str());
  if (S_ISDIR(st.st_mode) || IsReadOnly(path)) return Fail(ERROR_ACCESS_DENIED);
  return unlink(path.c_str()) == 0 ? TRUE : FailErrno(path.c_str());
}

BOOL CopyFileW(LPCWSTR existing, LPCWSTR target, BOOL failIfExists) {
  std::string from, to;
  if (!Map(existing, from) || !Map(target, to)) return FALSE;
  DWORD error = ERROR_SUCCESS;
  int in = ZYT::OpenRegularFile(from, error);
  if (in < 0) return Fail(error);
  struct stat st;
  if (fstat(in, &st) != 0) {
    close(in);
    return FailErrno();
  }
  struct stat tst;
  if (stat(to.c_str(), &tst) == 0) {
    if (failIfExists) {
      close(in);
      return Fail(ERROR_FILE_EXISTS);
    }
    if (!S_ISREG(tst.st_mode) || IsReadOnly(to)) {
      close(in);
      return Fail(ERROR_ACCESS_DENIED);
    }
  }
  int out = ZYT::OpenChecked(to, O_WRONLY | O_CREAT | O_TRUNC | (failIfExists ? O_EXCL : 0),
                             st.st_mode & 0777 ? (st.st_mode & 0777) | S_IWUSR : 0666, false, error);
  if (out < 0) {
    close(in);
    return Fail(error);
  }
  bool ok = CopyContents(in, out);
  int savedErrno = errno;
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  if (ok) futimens(out, times);
  close(in);
  if (close(out) != 0 && ok) {
    ok = false;
    savedErrno = errno;
  }
  if (!ok) {
    unlink(to.c_str());
    errno = savedErrno;
    return FailErrno();
  }
  long dos = ReadDosAttrib(from);
  DWORD attrs = (dos >= 0 ? static_cast<DWORD>(dos) : 0) |
                (!(st.st_mode & S_IWUSR) ? FILE_ATTRIBUTE_READONLY : 0);
  if (attrs) ApplyAttributes(to, attrs);
  return TRUE;
}

BOOL MoveFileExW(LPCWSTR existing, LPCWSTR target, DWORD flags) {
  std::string from, to;
  if (!Map(existing, from) || !Map(target, to)) return FALSE;
  struct stat st;
  if (lstat(from.c_str(), &st) != 0) return FailErrno(from.c_str());
  if (lstat(to.c_str(), &st) == 0 && !(flags & MOVEFILE_REPLACE_EXISTING)) return Fail(ERROR_ALREADY_EXISTS);
  if (rename(from.c_str(), to.c_str()) == 0) return TRUE;
  if (errno == EXDEV && (flags & MOVEFILE_COPY_ALLOWED)) {
    if (!CopyFileW(existing, target, FALSE)) return FALSE;
    return unlink(from.c_str()) == 0 ? TRUE : FailErrno(from.c_str());
  }
  return FailErrno(to.c_str());
}

BOOL CreateDirectoryW(LPCWSTR pathName, LPSECURITY_ATTRIBUTES securityAttributes) {
  std::string path;
  if (!Map(pathName, path)) return FALSE;
  if (mkdir(path.c_str(), ZYT::IsOwnerOnly(securityAttributes) ? 0700 : 0777) == 0) return TRUE;
  if (errno == EEXIST) return Fail(ERROR_ALREADY_EXISTS);
  if (errno == ENOENT) return Fail(ERROR_PATH_NOT_FOUND);
  return FailErrno(path.c_str());
}

BOOL RemoveDirectoryW(LPCWSTR pathName) {
  std::string path;
  if (!Map(pathName, path)) return FALSE;
  if (rmdir(path.c_str()) == 0) return TRUE;
  if (errno == ENOTDIR) return Fail(ERROR_DIRECTORY);
  return FailErrno(path.c_str());
}

DWORD GetFileAttributesW(LPCWSTR fileName) {
  std::string path;
  if (!Map(fileName, path)) return INVALID_FILE_ATTRIBUTES;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    FailErrno(path.c_str());
    return INVALID_FILE_ATTRIBUTES;
  }
  return AttributesOf(path, st);
}

BOOL GetFileAttributesExW(LPCWSTR fileName, GET_FILEEX_INFO_LEVELS level, LPVOID info) {
  if (level != GetFileExInfoStandard || !info) return Fail(ERROR_INVALID_PARAMETER);
  std::string path;
  if (!Map(fileName, path)) return FALSE;
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return FailErrno(path.c_str());
  WIN32_FIND_DATAW data;
  FillFindData(path, "", st, data);
  auto* out = static_cast<WIN32_FILE_ATTRIBUTE_DATA*>(info);
  out->dwFileAttributes = data.dwFileAttributes;
  out->ftCreationTime = data.ftCreationTime;
  out->ftLastAccessTime = data.ftLastAccessTime;
  out->ftLastWriteTime = data.ftLastWriteTime;
  out->nFileSizeHigh = data.nFileSizeHigh;
  out->nFileSizeLow = data.nFileSizeLow;
  return TRUE;
}

BOOL SetFileAttributesW(LPCWSTR fileName, DWORD attributes) {
  std::string path;
  if (!Map(fileName, path)) return FALSE;
  return ApplyAttributes(path, attributes);
}

HANDLE FindFirstFileW(LPCWSTR fileName, LPWIN32_FIND_DATAW findData) {
  if (!findData) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return INVALID_HANDLE_VALUE;
  }
  std::string path;
  if (!Map(fileName, path)) return INVALID_HANDLE_VALUE;
  size_t slash = path.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  std::u16string pattern = ZYT::PosixNameToWide(slash == std::string::npos ? path : path.substr(slash + 1));
  if (pattern.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  DIR* d = opendir(dir.c_str());
  if (!d) {
    SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : ZYT::Win32ErrorFromErrno(errno));
    return INVALID_HANDLE_VALUE;
  }
  std::vector<std::pair<std::u16string, std::string>> names;
  while (dirent* e = readdir(d)) {
    std::u16string wide = ZYT::PosixNameToWide(e->d_name);
    if (WildcardMatch(pattern, wide)) names.emplace_back(ZYT::ToUpper(wide), e->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  auto find = std::make_unique<FindObject>();
  for (const auto& [key, name] : names) {
    std::string full = (dir == "/" ? "" : dir) + "/" + name;
    struct stat st;
    if (stat(full.c_str(), &st) != 0 && lstat(full.c_str(), &st) != 0) continue;
    WIN32_FIND_DATAW data;
    FillFindData(full, name, st, data);
    find->entries.push_back(data);
  }
  if (find->entries.empty()) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
  }
  *findData = find->entries[0];
  find->next = 1;
  SetLastError(ERROR_SUCCESS);
  return ZYT::RegisterHandle(find.release());
}

BOOL FindNextFileW(HANDLE handle, LPWIN32_FIND_DATAW findData) {
  auto* find = ZYT::HandleAs<FindObject>(handle);
  if (!find) return FALSE;
  if (!findData) return Fail(ERROR_INVALID_PARAMETER);
  if (find->next >= find->entries.size()) return Fail(ERROR_NO_MORE_FILES);
  *findData = find->entries[find->next++];
  return TRUE;
}

BOOL FindClose(HANDLE handle) {
  if (!ZYT::HandleAs<FindObject>(handle)) return FALSE;
  return CloseHandle(handle);
}

namespace {
DWORD CopyOut(const std::u16string& text, DWORD bufferLength, LPWSTR buffer) {
  if (!buffer || bufferLength < text.size() + 1) return static_cast<DWORD>(text.size() + 1);
  std::memcpy(buffer, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
  return static_cast<DWORD>(text.size());
}
}  // namespace

DWORD GetTempPathW(DWORD bufferLength, LPWSTR buffer) {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = tmp && *tmp ? tmp : "/tmp";
  if (dir.back() != '/') dir += '/';
  return CopyOut(ZYT::PosixNameToWide(dir), bufferLength, buffer);
}

UINT GetTempFileNameW(LPCWSTR pathName, LPCWSTR prefix, UINT unique, LPWSTR tempFileName) {
  if (!pathName || !tempFileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  std::u16string base(pathName);
  if (base.size() > MAX_PATH - 14) {
    SetLastError(ERROR_BUFFER_OVERFLOW);
    return 0;
  }
  // A POSIX folder gets a POSIX separator, so that paths stay readable in logs.
  if (!base.empty() && base.back() != u'\\' && base.back() != u'/') base += base[0] == u'/' ? u'/' : u'\\';
  if (prefix) base.append(prefix, std::min<size_t>(3, WideLength(prefix)));
  auto nameFor = [&](UINT n) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%X", n);
    return base + ZYT::Utf8ToWide(hex) + u".tmp";
  };
  unique &= 0xFFFF;
  if (unique) {
    std::u16string name = nameFor(unique);
    std::memcpy(tempFileName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
    return unique;
  }
  // Names nobody can foresee, so that no one can take them first.
  UINT start = ZYT::UnpredictableNumber() & 0xFFFF;
  if (!start) start = 1;
  UINT n = start;
  do {
    std::u16string name = nameFor(n);
    HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, ZYT::OwnerOnlySecurity(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      CloseHandle(h);
      std::memcpy(tempFileName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
      SetLastError(ERROR_SUCCESS);
      return n;
    }
    DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return 0;
    n = (n + 1) & 0xFFFF;
    if (!n) n = 1;
  } while (n != start);
  SetLastError(ERROR_FILE_EXISTS);
  return 0;
}

DWORD GetCurrentDirectoryW(DWORD bufferLength, LPWSTR buffer) {
  char cwd[4096];
  if (!getcwd(cwd, sizeof cwd)) {
    FailErrno();
    return 0;
  }
  return CopyOut(ZYT::PosixNameToWide(cwd), bufferLength, buffer);
}

DWORD GetFullPathNameW(LPCWSTR fileName, DWORD bufferLength, LPWSTR buffer, LPWSTR* filePart) {
  if (!fileName || !*fileName) {
    SetLastError(ERROR_INVALID_NAME);
    return 0;
  }
  std::u16string in(fileName);
  bool rooted = in[0] == u'/' || in[0] == u'\\' || (in.size() >= 2 && in[1] == u':');
  if (!rooted) {
    WCHAR cwd[4096];
    GetCurrentDirectoryW(4096, cwd);
    in = std::u16string(cwd) + u"/" + in;
  }
  // Keep the root ("X:\", "\\server\share\", "/") and fold "." and ".." after it.
  size_t rootLen = 0;
  if (in.size() >= 2 && in[1] == u':') rootLen = in.size() >= 3 && (in[2] == u'\\' || in[2] == u'/') ? 3 : 2;
  else if (in.size() >= 2 && in[0] == u'\\' && in[1] == u'\\') rootLen = 2;
  else rootLen = 1;
  char16_t sep = in.find(u'\\') != std::u16string::npos && in[0] != u'/' ? u'\\' : u'/';
  std::vector<std::u16string> parts;
  size_t pos = rootLen;
  while (pos <= in.size()) {
    size_t end = in.find_first_of(u"\\/", pos);
    if (end == std::u16string::npos) end = in.size();
    std::u16string part = in.substr(pos, end - pos);
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(part);
    }
    pos = end + 1;
  }
  std::u16string out = in.substr(0, rootLen);
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? std::u16string(1, sep) : u"") + parts[i];
  if ((in.back() == u'\\' || in.back() == u'/') && !parts.empty()) out += sep;
  DWORD rc = CopyOut(out, bufferLength, buffer);
  if (filePart && buffer && rc < bufferLength) {
    size_t last = out.find_last_of(u"\\/");
    *filePart = (last == std::u16string::npos || last + 1 >= out.size()) ? nullptr : buffer + last + 1;
  }
  return rc;
}
