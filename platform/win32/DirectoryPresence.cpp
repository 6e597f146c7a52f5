#include "platform/win32/DirectoryPresence.h"

#include <pthread.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

namespace ZYT {

namespace {

bool StatIsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Watched on every folder of the path: a child created, removed, renamed or
// changed in its permissions, or the folder itself removed or renamed.
// Symbolic links are not followed, so a link on the way fails the watch.
constexpr uint32_t kMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF |
                           IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;
constexpr size_t kMaxPaths = 32;

enum State : int { kLook = -1, kAbsent = 0, kPresent = 1, kStatEachTime = 2 };

// A child made by fork shares the descriptor, and each process would take
// events the other needs: the child looks with stat.
std::atomic<bool> g_forked{false};

}  // namespace

struct CDirectoryPresence::Impl {
  explicit Impl(std::string p) : path(std::move(p)) {}
  const std::string path;
  // The folders from "/" down to the deepest one that exists (at most the
  // parent), each with the name of the next component of the path below it.
  struct Link {
    int wd;
    std::string child;
  };
  std::vector<Link> chain;  // under the watcher's lock
  std::atomic<int> state{kLook};
  std::atomic<bool> unwatchable{false};
};

namespace {

class Watcher {
 public:
  Watcher() : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    pthread_atfork(nullptr, nullptr, [] { g_forked.store(true); });
  }

  CDirectoryPresence::Impl* Find(const std::string& path) {
    size_t count = m_count.load(std::memory_order_acquire);
    for (size_t i = 0; i < count; ++i)
      if (m_table[i]->path == path) return m_table[i];
    if (m_fd < 0) return nullptr;
    std::lock_guard guard(m_lock);
    count = m_count.load(std::memory_order_relaxed);
    for (size_t i = 0; i < count; ++i)
      if (m_table[i]->path == path) return m_table[i];
    if (count == kMaxPaths) return nullptr;
    m_table[count] = new CDirectoryPresence::Impl(path);  // kept for the process's life
    m_count.store(count + 1, std::memory_order_release);
    return m_table[count];
  }

  bool Exists(CDirectoryPresence::Impl& entry) {
    if (entry.unwatchable.load() || g_forked.load()) return StatIsDirectory(entry.path);
    int queued = 1;
    // Nothing queued and nobody taking events off the queue: the kept answer
    // is still what stat would say.
    if (ioctl(m_fd, FIONREAD, &queued) == 0 && queued == 0 && m_busy.load() == 0) {
      int state = entry.state.load();
      if (state == kAbsent || state == kPresent) return state == kPresent;
      if (state == kStatEachTime) return StatIsDirectory(entry.path);
    }
    std::lock_guard guard(m_lock);
    m_busy.fetch_add(1);
    Drain();
    if (entry.state.load() == kLook) Look(entry);
    int state = entry.state.load();
    bool present = state == kStatEachTime || entry.unwatchable.load() ? StatIsDirectory(entry.path) : state == kPresent;
    m_busy.fetch_sub(1);
    return present;
  }

 private:
  // Takes every queued event off and sends the paths they concern back to
  // kLook. Under m_lock.
  void Drain() {
    alignas(inotify_event) char buffer[8192];
    for (;;) {
      ssize_t n = read(m_fd, buffer, sizeof buffer);
      if (n <= 0) return;
      for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        const char* name = event->len ? event->name : nullptr;
        size_t count = m_count.load();
        for (size_t i = 0; i < count; ++i) {
          CDirectoryPresence::Impl& entry = *m_table[i];
          for (const auto& link : entry.chain) {
            if ((event->mask & IN_Q_OVERFLOW) || (event->wd == link.wd && (!name || link.child == name))) {
              entry.state.store(kLook);
              break;
            }
          }
        }
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
  }

  // Watches the folders on the path again, then looks at the path itself:
  // a change after the look is an event. Under m_lock.
  void Look(CDirectoryPresence::Impl& entry) {
    const std::string& path = entry.path;
    entry.chain.clear();
    if (path.size() < 2 || path[0] != '/' || path.find("/./") != std::string::npos ||
        path.find("/../") != std::string::npos || path.find("//") != std::string::npos) {
      entry.unwatchable.store(true);
      return;
    }
    std::string end = path.back() == '/' ? path.substr(0, path.size() - 1) : path;
    size_t last = end.rfind('/');
    if (end.compare(last + 1, std::string::npos, ".") == 0 || end.compare(last + 1, std::string::npos, "..") == 0) {
      entry.unwatchable.store(true);
      return;
    }
    // Each folder from "/" to the parent, watched before it is looked into.
    size_t at = 0;
    for (;;) {
      std::string folder = at == 0 ? std::string("/") : end.substr(0, at);
      size_t next = end.find('/', at + 1);
      std::string child = end.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
      int wd = inotify_add_watch(m_fd, folder.c_str(), kMask);
      if (wd < 0) {
        struct stat st;
        if (errno == ENOENT || (errno == ENOTDIR && lstat(folder.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))) {
          // Missing (or not a folder): the folder above reports its arrival.
          entry.state.store(kAbsent);
          return;
        }
        // A link on the way, the watch limit, no permission: stat it is.
        entry.chain.clear();
        entry.unwatchable.store(true);
        return;
      }
      entry.chain.push_back({wd, child});
      if (next == std::string::npos) break;
      at = next;
    }
    struct stat st;
    if (lstat(end.c_str(), &st) != 0)
      entry.state.store(kAbsent);
    else if (S_ISLNK(st.st_mode))
      entry.state.store(kStatEachTime);  // its target may change unseen
    else
      entry.state.store(S_ISDIR(st.st_mode) ? kPresent : kAbsent);
  }

  const int m_fd;
  std::mutex m_lock;
  std::atomic<int> m_busy{0};
  std::atomic<size_t> m_count{0};
  CDirectoryPresence::Impl* m_table[kMaxPaths]{};
};

Watcher& TheWatcher() {
  static auto* watcher = new Watcher;  // its descriptor lives as long as the process
  return *watcher;
}

}  // namespace

CDirectoryPresence CDirectoryPresence::Of(const std::string& posixPath) {
  return CDirectoryPresence(posixPath, posixPath.empty() ? nullptr : TheWatcher().Find(posixPath));
}

bool CDirectoryPresence::Exists() const {
  if (m_path.empty()) return false;
  return m_impl ? TheWatcher().Exists(*m_impl) : StatIsDirectory(m_path);
}

}  // namespace ZYT
