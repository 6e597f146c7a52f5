#include "framework/TempFileLock.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <memory>
#include <mutex>
#include <set>

#include "framework/PathUtilities.h"
#include "framework/SettingsAccess.h"
#include "platform/win32/PathMap.h"

namespace ZYT {

namespace {

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Opens a regular file of this user without following a link and without
// blocking on anything else that may sit under the name.
int OpenOwnRegularFile(const std::string& path, struct stat& st) {
  struct stat named;
  if (lstat(path.c_str(), &named) != 0 || !S_ISREG(named.st_mode) || named.st_uid != geteuid()) return -1;
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return -1;
  if (fstat(fd, &st) != 0 || !SameFile(st, named)) {
    close(fd);
    return -1;
  }
  return fd;
}

// The file at path is still the one open as st (nobody unlinked or replaced it).
bool StillNamed(const std::string& path, const struct stat& st) {
  struct stat now;
  return lstat(path.c_str(), &now) == 0 && SameFile(now, st);
}

}  // namespace

CTempFileLock& CTempFileLock::operator=(CTempFileLock&& other) noexcept {
  if (this != &other) {
    Release();
    m_fd = other.m_fd;
    other.m_fd = -1;
  }
  return *this;
}

bool CTempFileLock::Lock(const std::u16string& path) {
  Release();
  std::string posix;
  DWORD error = 0;
  if (!MapToPosixPath(path, posix, error)) return false;
  struct stat st;
  int fd = OpenOwnRegularFile(posix, st);
  if (fd < 0) return false;
  // flock, not fcntl: its lock belongs to this descriptor, so another filter
  // object of the same process sees the file as held too. Shared, because
  // only a sweep needs the file to itself; a reader may lock it as well.
  if (flock(fd, LOCK_SH | LOCK_NB) != 0) {
    bool busy = errno == EWOULDBLOCK;
    close(fd);
    // On a file system without flock no sweep can take the file either.
    return !busy && StillNamed(posix, st);
  }
  // A sweep unlinks only while it holds the lock, so once the lock is ours
  // a file still under the name is ours for good.
  if (!StillNamed(posix, st)) {
    close(fd);
    return false;
  }
  m_fd = fd;
  return true;
}

void CTempFileLock::Release() noexcept {
  if (m_fd >= 0) close(m_fd);
  m_fd = -1;
}

bool IsProxyTempFileName(std::string_view name) {
  static constexpr std::string_view prefixes[] = {"qhm", "pim", "htp", "zyt"};
  constexpr std::string_view suffix = ".tmp";
  if (name.size() < 3 + 1 + suffix.size() || name.size() > 3 + 4 + suffix.size()) return false;
  bool ours = false;
  for (std::string_view prefix : prefixes) ours = ours || name.substr(0, 3) == prefix;
  if (!ours || name.substr(name.size() - suffix.size()) != suffix) return false;
  for (char c : name.substr(3, name.size() - 3 - suffix.size()))
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

size_t SweepDeadTempFiles(const std::u16string& folder) {
  std::string posix;
  DWORD error = 0;
  if (folder.empty() || !MapToPosixPath(folder, posix, error)) return 0;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(posix.c_str()), closedir);
  if (!dir) return 0;
  size_t removed = 0;
  while (dirent* entry = readdir(dir.get())) {
    if (!IsProxyTempFileName(entry->d_name)) continue;
    std::string path = posix + "/" + entry->d_name;
    struct stat st;
    int fd = OpenOwnRegularFile(path, st);
    if (fd < 0) continue;
    // A live filter holds its file locked; only a dead one's is free. The
    // lock is kept until the name is gone, so that a maker that locks later
    // finds its file unlinked and makes another.
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(path, st) && unlink(path.c_str()) == 0) ++removed;
    close(fd);
  }
  return removed;
}

std::u16string RepositoryTempFolder() {
  try {
    CVariant answer;
    QuerySettings(u"/*/repository/user/@location", OmittedArgument(), answer);
    if (answer.IsString() && !answer.Text().empty()) return MakePath(answer.Text(), u"temp", u"");
  } catch (const _com_error&) {
    // No settings server: nothing to sweep.
  }
  return {};
}

void SweepDeadTempFilesOnce(const std::u16string& folder) {
  static std::mutex lock;
  static std::set<std::u16string> swept;
  {
    std::lock_guard<std::mutex> guard(lock);
    if (!swept.insert(folder).second) return;
  }
  SweepDeadTempFiles(folder);
}

}  // namespace ZYT
