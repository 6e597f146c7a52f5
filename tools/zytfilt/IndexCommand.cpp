// zytfilt index: keeps a catalog's search index in step with its folders.
// The walk and the store are this process's; filtering happens in worker
// processes (zytfilt index-worker), so a filter that hangs or crashes costs
// one worker and one file, not the run.
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/file.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <deque>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/com/ComError.h"
#include "platform/indexer/Catalogs.h"
#include "platform/indexer/FilterWalk.h"
#include "platform/win32/Limits.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"
#include "tools/zytfilt/Commands.h"
#include "tools/zytfilt/FileWalk.h"
#include "tools/zytfilt/IndexLimits.h"
#include "tools/zytfilt/IndexProtocol.h"
#include "tools/zytfilt/IndexStore.h"

extern char** environ;

namespace {

namespace Proto = ZYT::Zytfilt::IndexProtocol;
using ZYT::Index::Document;
using ZYT::Index::Failure;
using ZYT::Index::FileKey;
using ZYT::Index::Store;
using Clock = std::chrono::steady_clock;

const char kIndexUsage[] =
    "usage: zytfilt index [--catalog NAME] [--jobs N] [--file-seconds N] [--json] [--] [FOLDER...]\n"
    "       zytfilt index --status [--catalog NAME] [--json]\n"
    "Filters every regular file below a catalog's folders and keeps the text and\n"
    "properties in the catalog's search index (see 'zytfilt search'). FOLDER...\n"
    "are added to the catalog's folders (the default catalog, System, unless\n"
    "--catalog) and indexed; without them every folder of the catalog is.\n"
    "Unchanged files (same size and change time) are skipped, changed ones\n"
    "filtered again, removed ones dropped; a file whose filter failed is tried\n"
    "again once it changes.\n"
    "  --catalog NAME      the catalog (default System)\n"
    "  --jobs N            filter in N worker processes (default: the processors)\n"
    "  --file-seconds N    a worker still on one file after N seconds is killed and\n"
    "                      the file recorded as failed (default: the limit\n"
    "                      IndexFileSeconds, 60 unless set)\n"
    "  --json              the summary as one JSON object\n"
    "  --status            per catalog: files, failures by step, index size, last run\n";

constexpr unsigned kMaxJobs = 256;
// Store writes are committed in transactions of this many files or seconds:
// a killed run loses no more than that. Each commit leaves FTS5 a segment to
// merge later: fewer, larger ones cost less.
constexpr size_t kFilesPerTransaction = 1000;
constexpr auto kTransactionTime = std::chrono::seconds(2);
constexpr auto kProgressInterval = std::chrono::milliseconds(250);
// Paths a worker holds at once: the one it filters and the next ones, so that
// it goes on while this process writes what it sent.
constexpr size_t kQueuedPerWorker = 3;

int Usage(const std::string& message) {
  std::fprintf(stderr, "zytfilt index: %s (see 'zytfilt index --help')\n", message.c_str());
  return 2;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "zytfilt index: %s\n", message.c_str());
  return 1;
}

bool ParseCount(const std::string& text, unsigned long& value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  value = std::strtoul(text.c_str(), nullptr, 10);
  return true;
}

std::string Utf8(const std::u16string& s) { return ZYT::WideToUtf8(s); }

// A catalog's folder as this machine names it (a Windows-style name mapped).
std::string ScopePath(const std::u16string& scope) {
  std::string path;
  DWORD error = 0;
  if (!ZYT::MapToPosixPath(scope, path, error)) path = ZYT::WideToUtf8(scope);
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string Json(const std::string& utf8) { return ZYT::JsonString(ZYT::Utf8ToWide(utf8)); }

std::string Shown(const std::string& path) { return ZYT::Zytfilt::ShownPath(path); }

// Whether path is root or below it.
bool Under(const std::string& path, const std::string& root) {
  if (root == "/") return true;
  return path.compare(0, root.size(), root) == 0 && (path.size() == root.size() || path[root.size()] == '/');
}

std::string Folder(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == 0 ? "/" : slash == std::string::npos ? path : path.substr(0, slash);
}

FileKey KeyOf(const struct stat& st) {
  return {static_cast<int64_t>(st.st_size),
          static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + static_cast<int64_t>(st.st_ctim.tv_nsec)};
}

struct Job {
  std::string path;
  FileKey key;
};

// The regular files below the scopes, never through a symbolic link: each
// folder is opened relative to its parent with O_NOFOLLOW, each entry's type
// read without following before anything is opened.
class Walker {
 public:
  explicit Walker(const std::string& databaseFolder) {
    struct stat st;
    if (stat(databaseFolder.c_str(), &st) == 0) {
      m_skipDev = st.st_dev;
      m_skipIno = st.st_ino;
      m_skip = true;
    }
  }

  // False when root cannot be walked at all; folders below that cannot be
  // read are listed in unreadable (their files are kept as they are).
  bool Walk(const std::string& root, std::vector<Job>& files, std::string& error) {
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      int err = errno;
      struct stat st;
      error = Shown(root) + ": " +
              (err == ELOOP || (lstat(root.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
                   ? std::string("is a symbolic link, which is not followed; give its target")
                   : std::strerror(err));
      return false;
    }
    WalkFolder(fd, root, files);
    return true;
  }

  std::vector<std::string> unreadable;
  std::vector<std::string> tooLong;  // files and folders whose path is too long to open

 private:
  // Takes fd.
  void WalkFolder(int fd, const std::string& path, std::vector<Job>& files) {
    struct stat st;
    if (fstat(fd, &st) == 0 && m_skip && st.st_dev == m_skipDev && st.st_ino == m_skipIno) {
      close(fd);
      return;
    }
    DIR* dir = fdopendir(fd);
    if (!dir) {
      close(fd);
      unreadable.push_back(path);
      return;
    }
    std::vector<std::string> folders;
    // A folder whose entries cannot all be seen keeps its recorded files: an
    // unlisted file is not taken for a removed one.
    bool whole = true;
    for (;;) {
      errno = 0;
      dirent* entry = readdir(dir);
      if (!entry) {
        if (errno) whole = false;
        break;
      }
      const char* name = entry->d_name;
      if (!std::strcmp(name, ".") || !std::strcmp(name, "..")) continue;
      std::string child = path == "/" ? "/" + std::string(name) : path + "/" + name;
      if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) whole = false;  // gone since the listing is fine
        continue;
      }
      if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) continue;
      if (child.size() >= PATH_MAX) {
        // No filter can open it by name.
        tooLong.push_back(child);
        continue;
      }
      if (S_ISREG(st.st_mode))
        files.push_back({child, KeyOf(st)});
      else
        folders.push_back(name);
    }
    if (!whole) unreadable.push_back(path);
    // Subfolders after the listing, so that one descriptor per level is open.
    for (const std::string& name : folders) {
      std::string child = path == "/" ? "/" + name : path + "/" + name;
      int sub = openat(dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub < 0) {
        if (errno != ENOENT) unreadable.push_back(child);
        continue;
      }
      WalkFolder(sub, child, files);
    }
    closedir(dir);
  }

  bool m_skip = false;
  dev_t m_skipDev = 0;
  ino_t m_skipIno = 0;
};

int RemoveEntry(const char* path, const struct stat*, int type, struct FTW*) {
  return type == FTW_DP ? rmdir(path) : unlink(path);
}

// The temporary folders of workers whose zytfilt index was killed: named
// after that process, ours, and that process gone.
void RemoveStaleFolders(const std::string& tmpRoot) {
  DIR* dir = opendir(tmpRoot.c_str());
  if (!dir) return;
  std::vector<std::string> stale;
  while (dirent* entry = readdir(dir)) {
    unsigned long pid = 0;
    int used = 0;
    if (std::sscanf(entry->d_name, "zytfilt-index-%lu-%*6[A-Za-z0-9]%n", &pid, &used) != 1 ||
        entry->d_name[used] != '\0' || pid == 0 || pid > INT_MAX)
      continue;
    struct stat st;
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != getuid())
      continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    stale.push_back(tmpRoot + "/" + entry->d_name);
  }
  closedir(dir);
  for (const std::string& folder : stale) nftw(folder.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::string TempRoot() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp && *tmp == '/' ? tmp : "/tmp";
}

// A zytfilt index-worker child: requests on its fd 3, results from its fd 4,
// its own temporary folder (a killed filter's files go with it).
struct Worker {
  pid_t pid = -1;
  int request = -1, result = -1;
  std::string tmpDir;
  std::string input;  // bytes read, not yet a whole frame
  std::deque<Job> queue;  // sent, not yet answered; the first is being filtered
  Clock::time_point deadline;  // the first's
  Document document;
  size_t bytes = 0;
};

struct Outcome {
  bool failed = false;
  Document document;
  Failure failure;
};

class WorkerPool {
 public:
  WorkerPool(unsigned count, std::chrono::seconds perFile)
      : m_workers(count), m_perFile(perFile), m_maxFrame(ZYT::Zytfilt::IndexTextLimit() + ZYT::Zytfilt::kFrameSlack) {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) throw std::runtime_error(std::string("cannot find this program: ") + std::strerror(errno));
    m_self.assign(self, static_cast<size_t>(n));
    m_tmpRoot = TempRoot();
    for (Worker& w : m_workers) Start(w);
  }
  ~WorkerPool() {
    for (Worker& w : m_workers) Stop(w, false);
  }
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  bool Idle() const {
    return std::all_of(m_workers.begin(), m_workers.end(), [](const Worker& w) { return w.queue.empty(); });
  }
  // The worker with the fewest files queued, when one has room.
  Worker* FreeWorker() {
    Worker* best = nullptr;
    for (Worker& w : m_workers)
      if (w.queue.size() < kQueuedPerWorker && (!best || w.queue.size() < best->queue.size())) best = &w;
    return best;
  }

  // Queues a file on a worker; a worker that cannot take it is replaced and
  // the file recorded as its crash.
  void Dispatch(Worker& w, const Job& job, std::vector<Outcome>& done) {
    bool idle = w.queue.empty();
    w.queue.push_back(job);
    if (idle) Begin(w);
    if (Proto::WriteFrame(w.request, Proto::kPath, job.path)) return;
    // A worker with files queued that cannot take more is dead: the end of
    // its results pipe blames the file it was on and queues the rest again.
    if (!idle) return;
    // A worker that died idle is not the file's fault: a fresh one gets it.
    w.queue.clear();
    Stop(w, true);
    Start(w);
    w.queue.push_back(job);
    Begin(w);
    if (!Proto::WriteFrame(w.request, Proto::kPath, job.path)) Lose(w, "crash", done);
  }

  // Waits up to wait for results; finished files go to done.
  void Pump(std::chrono::milliseconds wait, std::vector<Outcome>& done) {
    std::vector<pollfd> fds;
    std::vector<Worker*> owners;
    Clock::time_point now = Clock::now();
    for (Worker& w : m_workers) {
      if (w.queue.empty()) continue;
      fds.push_back({w.result, POLLIN, 0});
      owners.push_back(&w);
      wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(w.deadline - now) +
                                std::chrono::milliseconds(1));
    }
    wait = std::max(wait, std::chrono::milliseconds(0));
    int ready = poll(fds.data(), fds.size(), static_cast<int>(wait.count()));
    if (ready < 0 && errno != EINTR) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
    for (size_t i = 0; ready > 0 && i < fds.size(); ++i)
      if (fds[i].revents) Read(*owners[i], done);
    now = Clock::now();
    for (Worker& w : m_workers)
      if (!w.queue.empty() && now >= w.deadline) Lose(w, "timeout", done);
  }

 private:
  // The first queued file's turn: its document and its time start.
  void Begin(Worker& w) {
    const Job& job = w.queue.front();
    w.document = Document{job.path, job.key, {}, {}};
    w.bytes = 0;
    w.deadline = Clock::now() + m_perFile;
  }

  void Start(Worker& w) {
    char tmpl[PATH_MAX];
    int len = std::snprintf(tmpl, sizeof tmpl, "%s/zytfilt-index-%d-XXXXXX", m_tmpRoot.c_str(), getpid());
    if (len <= 0 || static_cast<size_t>(len) >= sizeof tmpl || !mkdtemp(tmpl))
      throw std::runtime_error("cannot create a worker's temporary folder in " + m_tmpRoot + ": " +
                               std::strerror(errno));
    w.tmpDir = tmpl;
    int request[2], result[2];
    if (pipe2(request, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    if (pipe2(result, O_CLOEXEC) != 0) {
      close(request[0]);
      close(request[1]);
      throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    }
    // Everything the child needs is made before fork: after it only
    // async-signal-safe calls.
    std::string parent = std::to_string(getpid());
    std::vector<std::string> env{"TMPDIR=" + w.tmpDir};
    for (char** e = environ; *e; ++e)
      if (std::strncmp(*e, "TMPDIR=", 7) != 0) env.emplace_back(*e);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string command = "index-worker";
    char* argv[] = {m_self.data(), command.data(), parent.data(), nullptr};
    pid_t pid = fork();
    if (pid < 0) {
      for (int fd : {request[0], request[1], result[0], result[1]}) close(fd);
      throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    }
    if (pid == 0) {
      // Its own process group: a Ctrl-C at the terminal stops the parent,
      // which ends its workers, rather than failing the files they are on.
      setpgid(0, 0);
      int in = fcntl(request[0], F_DUPFD, 10), out = fcntl(result[1], F_DUPFD, 10);
      int null = open("/dev/null", O_RDWR);
      if (in < 0 || out < 0 || null < 0 || dup2(in, Proto::kRequestFd) < 0 || dup2(out, Proto::kResultFd) < 0 ||
          dup2(null, 0) < 0 || dup2(null, 1) < 0)
        _exit(127);
      execve(m_self.c_str(), argv, envp.data());
      _exit(127);
    }
    close(request[0]);
    close(result[1]);
    w.pid = pid;
    w.request = request[1];
    w.result = result[0];
    fcntl(w.result, F_SETFL, fcntl(w.result, F_GETFL) | O_NONBLOCK);
    w.input.clear();
    w.queue.clear();
  }

  // Ends a worker: closing its request pipe lets it leave by itself; killed
  // when it must go now. Reaped either way, its temporary folder removed.
  void Stop(Worker& w, bool kill) {
    if (w.pid > 0) {
      // A worker in the middle of a file does not get to finish it.
      if (kill || !w.queue.empty()) ::kill(w.pid, SIGKILL);
      close(w.request);
      // An idle worker leaves at the end of its pipe; one that does not
      // within a while (a module's thread holding its exit) is killed.
      int status = 0;
      for (int waited = 0; waitpid(w.pid, &status, WNOHANG) == 0; ++waited) {
        if (waited == 200) ::kill(w.pid, SIGKILL);
        if (waited >= 200) {
          while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
          }
          break;
        }
        usleep(10000);
      }
      close(w.result);
    }
    w.pid = -1;
    w.request = w.result = -1;
    if (!w.tmpDir.empty()) nftw(w.tmpDir.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
    w.tmpDir.clear();
  }

  // The worker's file failed with it: recorded, the worker replaced, the
  // files queued behind it queued on the new one.
  void Lose(Worker& w, const char* step, std::vector<Outcome>& done) {
    std::deque<Job> queue = std::move(w.queue);
    w.queue.clear();
    Stop(w, true);
    if (!queue.empty()) {
      Outcome o;
      o.failed = true;
      o.failure = Failure{queue.front().path, queue.front().key, step, 0};
      done.push_back(std::move(o));
      queue.pop_front();
    }
    Start(w);
    for (const Job& job : queue) Dispatch(w, job, done);
  }

  void Read(Worker& w, std::vector<Outcome>& done) {
    char buffer[65536];
    for (;;) {
      ssize_t n = read(w.result, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) break;
      if (n <= 0) return Lose(w, "crash", done);
      w.input.append(buffer, static_cast<size_t>(n));
      if (!Frames(w, done)) return Lose(w, "crash", done);
      if (static_cast<size_t>(n) < sizeof buffer) break;
    }
  }

  // Takes the whole frames read so far; false when the worker broke the protocol.
  bool Frames(Worker& w, std::vector<Outcome>& done) {
    size_t at = 0;
    while (w.input.size() - at >= Proto::kHeaderBytes) {
      size_t size = Proto::FrameLength(w.input.data() + at);
      if (size > m_maxFrame || w.queue.empty()) return false;
      if (w.input.size() - at - Proto::kHeaderBytes < size) break;
      const char kind = w.input[at];
      std::string_view payload(w.input.data() + at + Proto::kHeaderBytes, size);
      at += Proto::kHeaderBytes + size;
      w.bytes += size;
      if (w.bytes > m_maxFrame) return false;
      if (kind == Proto::kText) {
        if (!w.document.text.empty()) w.document.text += '\n';
        w.document.text.append(payload);
      } else if (kind == Proto::kProperty) {
        size_t nul = payload.find('\0');
        if (nul == std::string_view::npos) return false;
        w.document.properties.push_back(
            {ZYT::Utf8ToWide(payload.substr(0, nul)), std::string(payload.substr(nul + 1))});
      } else if (kind == Proto::kDone || kind == Proto::kFailed) {
        Outcome o;
        if (kind == Proto::kFailed) {
          size_t nul = payload.find('\0');
          if (nul == std::string_view::npos || nul == 0 || nul > 16) return false;
          o.failed = true;
          o.failure = Failure{w.queue.front().path, w.queue.front().key, std::string(payload.substr(0, nul)),
                              static_cast<HRESULT>(std::strtol(std::string(payload.substr(nul + 1)).c_str(), nullptr, 10))};
        } else {
          o.document = std::move(w.document);
        }
        done.push_back(std::move(o));
        w.queue.pop_front();
        w.document = {};
        if (!w.queue.empty()) Begin(w);
      } else {
        return false;
      }
    }
    w.input.erase(0, at);
    return true;
  }

  std::vector<Worker> m_workers;
  std::chrono::seconds m_perFile;
  size_t m_maxFrame;
  std::string m_self, m_tmpRoot;
};

// The store's writes, committed every so many files or seconds.
class Writer {
 public:
  explicit Writer(Store& store) : m_store(store) {}
  ~Writer() {
    if (m_open) {
      try {
        m_store.Rollback();
      } catch (...) {
      }
    }
  }
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;
  void Put(const Outcome& o) {
    Open();
    if (o.failed)
      m_store.PutFailure(o.failure);
    else
      m_store.Put(o.document);
    Count();
  }
  void Remove(const std::string& path) {
    Open();
    m_store.Remove(path);
    Count();
  }
  void CommitIfDue() {
    if (m_open && Clock::now() - m_since >= kTransactionTime) Commit();
  }
  void Commit() {
    if (!m_open) return;
    m_store.Commit();
    m_open = false;
    m_pending = 0;
  }

 private:
  void Open() {
    if (m_open) return;
    m_store.Begin();
    m_open = true;
    m_since = Clock::now();
  }
  void Count() {
    if (++m_pending >= kFilesPerTransaction) Commit();
  }
  Store& m_store;
  bool m_open = false;
  size_t m_pending = 0;
  Clock::time_point m_since;
};

// The line on a terminal, rewritten in place.
class Progress {
 public:
  Progress() : m_tty(isatty(STDERR_FILENO)), m_start(Clock::now()) {}
  void Show(int64_t done, int64_t failed, const std::string& folder, bool force = false) {
    if (!m_tty) return;
    Clock::time_point now = Clock::now();
    if (!force && now - m_last < kProgressInterval) return;
    m_last = now;
    double seconds = std::chrono::duration<double>(now - m_start).count();
    std::string where = Shown(folder);
    if (where.size() > 50) where = "..." + where.substr(where.size() - 47);
    std::fprintf(stderr, "\r\033[K%lld files, %.1f files/s, %lld failed, %s", static_cast<long long>(done),
                 seconds > 0 ? static_cast<double>(done) / seconds : 0.0, static_cast<long long>(failed), where.c_str());
    m_shown = true;
  }
  void Clear() {
    if (m_shown) std::fputs("\r\033[K", stderr);
    m_shown = false;
  }

 private:
  bool m_tty;
  bool m_shown = false;
  Clock::time_point m_start, m_last;
};

volatile sig_atomic_t g_stop = 0;
void OnStop(int) { g_stop = 1; }

struct Options {
  std::string catalog;
  unsigned jobs = 0;
  unsigned fileSeconds = 0;
  bool json = false;
  bool status = false;
  std::vector<std::string> folders;
};

const ZYT::CatalogInfo* FindCatalog(const std::vector<ZYT::CatalogInfo>& catalogs, const std::string& name) {
  for (const ZYT::CatalogInfo& c : catalogs)
    if (Utf8(c.name) == name) return &c;
  return nullptr;
}

std::string FormatTime(int64_t seconds) {
  time_t t = static_cast<time_t>(seconds);
  struct tm tm;
  char text[64];
  if (!gmtime_r(&t, &tm) || !std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm)) return "?";
  return text;
}

int Status(const Options& options) {
  std::vector<ZYT::CatalogInfo> catalogs = ZYT::ListCatalogs();
  if (!options.catalog.empty()) {
    const ZYT::CatalogInfo* c = FindCatalog(catalogs, options.catalog);
    if (!c) return Fail("no catalog named '" + options.catalog + "' (see 'zytfilt catalog list')");
    catalogs = {*c};
  }
  for (const ZYT::CatalogInfo& c : catalogs) {
    std::string name = Utf8(c.name), database = ZYT::Index::DatabasePath(c);
    ZYT::Index::Status s;
    struct stat st;
    if (stat(database.c_str(), &st) == 0) {
      try {
        Store store(database, false);
        s = store.GetStatus();
      } catch (const ZYT::Index::StoreError& e) {
        return Fail("catalog " + name + ": " + e.what());
      }
    }
    std::map<std::string, int64_t> failures(s.failuresByStep.begin(), s.failuresByStep.end());
    if (options.json) {
      std::string line = "{\"catalog\":" + Json(name) + ",\"database\":" + Json(database) +
                         ",\"files\":" + std::to_string(s.files) + ",\"failures\":{";
      bool first = true;
      for (const auto& [step, count] : failures) {
        line += (first ? "" : ",") + Json(step) + ":" + std::to_string(count);
        first = false;
      }
      line += "},\"databaseBytes\":" + std::to_string(s.databaseBytes) + ",\"lastRun\":";
      const ZYT::Index::RunSummary& r = s.lastRun;
      if (!r.startedAt)
        line += "null";
      else
        line += "{\"startedAt\":" + std::to_string(r.startedAt) + ",\"seconds\":" + std::to_string(r.seconds) +
                ",\"indexed\":" + std::to_string(r.indexed) + ",\"unchanged\":" + std::to_string(r.unchanged) +
                ",\"removed\":" + std::to_string(r.removed) + ",\"failed\":" + std::to_string(r.failed) + "}";
      std::printf("%s}\n", line.c_str());
      continue;
    }
    std::printf("%s\t%s\n", name.c_str(), database.c_str());
    int64_t failed = 0;
    for (const auto& [step, count] : failures) failed += count;
    std::printf("  %lld files, %lld failed, index %.1f MB\n", static_cast<long long>(s.files),
                static_cast<long long>(failed), static_cast<double>(s.databaseBytes) / 1e6);
    if (!failures.empty()) {
      std::printf("  failures:");
      for (const auto& [step, count] : failures) std::printf(" %s %lld", step.c_str(), static_cast<long long>(count));
      std::printf("\n");
    }
    const ZYT::Index::RunSummary& r = s.lastRun;
    if (!r.startedAt)
      std::printf("  never indexed\n");
    else
      std::printf("  last run %s: %lld indexed, %lld unchanged, %lld removed, %lld failed in %lld s\n",
                  FormatTime(r.startedAt).c_str(), static_cast<long long>(r.indexed),
                  static_cast<long long>(r.unchanged), static_cast<long long>(r.removed),
                  static_cast<long long>(r.failed), static_cast<long long>(r.seconds));
  }
  return 0;
}

// The catalog to index, FOLDER... added to its scopes; the roots to walk.
int ChooseCatalog(const Options& options, ZYT::CatalogInfo& catalog, std::vector<std::string>& roots) {
  if (options.catalog.empty()) {
    catalog = ZYT::Index::DefaultCatalog(!options.folders.empty());
    if (catalog.name.empty()) return Fail("no catalog to index: give folders, or --catalog NAME");
  } else {
    std::vector<ZYT::CatalogInfo> catalogs = ZYT::ListCatalogs();
    const ZYT::CatalogInfo* c = FindCatalog(catalogs, options.catalog);
    if (!c) return Fail("no catalog named '" + options.catalog + "' (see 'zytfilt catalog list')");
    catalog = *c;
  }
  const std::string name = Utf8(catalog.name);
  if (!catalog.machine.empty() && catalog.machine != u"." && catalog.machine != u"localhost")
    return Fail("catalog " + name + " is served by the machine " + Utf8(catalog.machine) + "; index it there");
  if (options.folders.empty()) {
    for (const std::u16string& scope : catalog.scopes) roots.push_back(ScopePath(scope));
    if (roots.empty()) return Fail("catalog " + name + " has no folders; give some: zytfilt index FOLDER...");
    return 0;
  }
  bool added = false;
  for (const std::string& folder : options.folders) {
    char real[PATH_MAX];
    struct stat st;
    if (!realpath(folder.c_str(), real)) return Fail(folder + ": " + std::strerror(errno));
    if (stat(real, &st) != 0 || !S_ISDIR(st.st_mode)) return Fail(folder + ": not a folder");
    roots.push_back(real);
    if (std::none_of(catalog.scopes.begin(), catalog.scopes.end(),
                     [&](const std::u16string& s) { return ScopePath(s) == real; })) {
      catalog.scopes.push_back(ZYT::PosixNameToWide(real));
      added = true;
    }
  }
  if (added) {
    LONG rc = ZYT::AddCatalog(catalog);
    if (rc != 0)
      return Fail("catalog " + name + ": cannot add the folders: " + ZYT::DescribeHResult(HRESULT_FROM_WIN32(rc)));
  }
  return 0;
}

// One zytfilt index per catalog at a time: an exclusive flock on the
// database, held until the store is closed. SQLite's own locks are fcntl
// locks, which closing any descriptor of the file drops: this one is closed
// after the store.
class CatalogLock {
 public:
  CatalogLock() = default;
  ~CatalogLock() {
    if (m_fd >= 0) close(m_fd);
  }
  CatalogLock(const CatalogLock&) = delete;
  CatalogLock& operator=(const CatalogLock&) = delete;
  // An empty string when held, else why not.
  std::string Take(const std::string& database) {
    m_fd = open(database.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    if (m_fd < 0) return std::string("cannot open it to lock it: ") + std::strerror(errno);
    if (fstat(m_fd, &st) != 0 || !S_ISREG(st.st_mode)) return "is not a regular file";
    while (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EINTR) continue;
      if (errno == EWOULDBLOCK) return "another zytfilt index is indexing this catalog; try again when it is done";
      return std::string("cannot lock it: ") + std::strerror(errno);
    }
    return {};
  }

 private:
  int m_fd = -1;
};

int Index(const Options& options) {
  ZYT::CatalogInfo catalog;
  std::vector<std::string> roots;
  if (int rc = ChooseCatalog(options, catalog, roots)) return rc;
  const std::string name = Utf8(catalog.name);
  const std::string database = ZYT::Index::DatabasePath(catalog);
  const auto started = std::chrono::system_clock::now();
  const Clock::time_point start = Clock::now();

  // The store first: its folder exists before the walk that skips it.
  CatalogLock lock;
  Store store(database, true);
  if (std::string why = lock.Take(database); !why.empty())
    return Fail("catalog " + name + ": " + Shown(database) + ": " + why);
  Walker walker(Folder(database));
  std::vector<Job> files;
  std::vector<std::string> walked;
  bool incomplete = false;
  for (const std::string& root : roots) {
    std::string error;
    if (walker.Walk(root, files, error)) {
      walked.push_back(root);
    } else {
      std::fprintf(stderr, "zytfilt index: catalog %s: %s\n", name.c_str(), error.c_str());
      incomplete = true;
    }
  }
  for (const std::string& folder : walker.unreadable) {
    std::fprintf(stderr, "zytfilt index: %s: cannot read this folder; its files are left as they were\n",
                 Shown(folder).c_str());
    incomplete = true;
  }
  for (const std::string& path : walker.tooLong) {
    std::fprintf(stderr, "zytfilt index: %s: the path is longer than %d bytes; not indexed\n", Shown(path).c_str(),
                 PATH_MAX - 1);
    incomplete = true;
  }

  std::unordered_map<std::string, FileKey> known = store.Known();
  // Scopes can overlap: each file once.
  std::sort(files.begin(), files.end(), [](const Job& a, const Job& b) { return a.path < b.path; });
  files.erase(std::unique(files.begin(), files.end(), [](const Job& a, const Job& b) { return a.path == b.path; }),
              files.end());
  ZYT::Index::RunSummary run;
  run.startedAt = std::chrono::duration_cast<std::chrono::seconds>(started.time_since_epoch()).count();
  std::vector<Job> work;
  std::unordered_set<std::string> present;
  for (Job& f : files) {
    present.insert(f.path);
    auto k = known.find(f.path);
    if (k != known.end() && k->second == f.key)
      ++run.unchanged;
    else
      work.push_back(std::move(f));
  }
  // A recorded file not seen is dropped when the walk covered where it was:
  // below a walked root and not below a folder that could not be read; or
  // (a run over the whole catalog) below none of the catalog's folders.
  std::vector<std::string> gone, scopes;
  for (const std::u16string& scope : catalog.scopes) scopes.push_back(ScopePath(scope));
  for (const auto& [path, key] : known) {
    if (present.count(path)) continue;
    bool covered = std::any_of(walked.begin(), walked.end(), [&](const std::string& r) { return Under(path, r); });
    bool inScope = std::any_of(scopes.begin(), scopes.end(), [&](const std::string& s) { return Under(path, s); });
    bool unread = std::any_of(walker.unreadable.begin(), walker.unreadable.end(),
                              [&](const std::string& u) { return Under(path, u); });
    if ((covered && !unread) || (options.folders.empty() && !inScope)) gone.push_back(path);
  }

  Writer writer(store);
  for (const std::string& path : gone) writer.Remove(path);
  run.removed = static_cast<int64_t>(gone.size());

  unsigned jobs = options.jobs;
  if (!jobs) jobs = static_cast<unsigned>(std::clamp<long>(sysconf(_SC_NPROCESSORS_ONLN), 1, kMaxJobs));
  jobs = static_cast<unsigned>(std::min<size_t>(jobs, std::max<size_t>(work.size(), 1)));
  unsigned seconds = options.fileSeconds ? options.fileSeconds : std::max<DWORD>(ZYT::GetLimit(u"IndexFileSeconds", 60), 1);

  RemoveStaleFolders(TempRoot());
  Progress progress;
  std::string current;
  if (!work.empty()) {
    WorkerPool pool(jobs, std::chrono::seconds(seconds));
    std::vector<Outcome> done;
    size_t next = 0;
    while (!g_stop && (next < work.size() || !pool.Idle())) {
      while (next < work.size()) {
        Worker* w = pool.FreeWorker();
        if (!w) break;
        current = Folder(work[next].path);
        pool.Dispatch(*w, work[next++], done);
      }
      pool.Pump(kProgressInterval, done);
      for (const Outcome& o : done) {
        writer.Put(o);
        if (o.failed) {
          ++run.failed;
          if (o.failure.step == "timeout" || o.failure.step == "crash") {
            progress.Clear();
            std::fprintf(stderr, "zytfilt index: %s: %s\n", Shown(o.failure.path).c_str(),
                         o.failure.step == "timeout"
                             ? ("still filtering after " + std::to_string(seconds) + " s; the worker was killed").c_str()
                             : "the filter crashed its worker");
          }
        } else {
          ++run.indexed;
        }
      }
      done.clear();
      writer.CommitIfDue();
      progress.Show(run.indexed + run.failed, run.failed, current);
    }
  }
  writer.Commit();
  progress.Clear();
  if (g_stop) return Fail("catalog " + name + ": stopped; what was filtered is kept, the next run goes on");
  run.seconds = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
  store.Begin();
  store.RecordRun(run);
  store.Commit();

  double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  double rate = elapsed > 0 ? static_cast<double>(run.indexed + run.failed) / elapsed : 0;
  if (options.json) {
    std::printf("{\"catalog\":%s,\"database\":%s,\"indexed\":%lld,\"unchanged\":%lld,\"removed\":%lld,"
                "\"failed\":%lld,\"seconds\":%.3f,\"filesPerSecond\":%.1f}\n",
                Json(name).c_str(), Json(database).c_str(), static_cast<long long>(run.indexed),
                static_cast<long long>(run.unchanged), static_cast<long long>(run.removed),
                static_cast<long long>(run.failed), elapsed, rate);
  } else {
    std::printf("%s: %lld indexed, %lld unchanged, %lld removed, %lld failed in %.1f s (%.1f files/s)\n",
                name.c_str(), static_cast<long long>(run.indexed), static_cast<long long>(run.unchanged),
                static_cast<long long>(run.removed), static_cast<long long>(run.failed), elapsed, rate);
  }
  return incomplete ? 1 : 0;
}

}  // namespace

int RunIndexCommand(const std::vector<std::string>& args) {
  Options options;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto next = [&](std::string& value) {
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    std::string value;
    unsigned long n = 0;
    if (a == "--help" || a == "-h") {
      std::fputs(kIndexUsage, stdout);
      return 0;
    } else if (a == "--json") {
      options.json = true;
    } else if (a == "--status") {
      options.status = true;
    } else if (a == "--catalog") {
      if (!next(options.catalog) || options.catalog.empty()) return Usage("--catalog needs a name");
    } else if (a == "--jobs") {
      if (!next(value) || !ParseCount(value, n) || n == 0 || n > kMaxJobs)
        return Usage("--jobs needs a number from 1 to " + std::to_string(kMaxJobs));
      options.jobs = static_cast<unsigned>(n);
    } else if (a == "--file-seconds") {
      if (!next(value) || !ParseCount(value, n) || n == 0 || n > 86400)
        return Usage("--file-seconds needs a number of seconds from 1 to 86400");
      options.fileSeconds = static_cast<unsigned>(n);
    } else if (a == "--") {
      options.folders.insert(options.folders.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
      break;
    } else if (a.size() > 1 && a[0] == '-') {
      return Usage("unknown option '" + a + "'");
    } else {
      options.folders.push_back(a);
    }
  }
  if (options.status && !options.folders.empty()) return Usage("--status takes no folders");
  try {
    if (options.status) return Status(options);
    if (!ZYT::Zytfilt::MachineIsSetUp() && Setup(true) != 0) return 1;
    // A worker that died leaves its pipe closed: an error, not a signal.
    signal(SIGPIPE, SIG_IGN);
    // A database past the file size limit is a write error to report, not
    // a death that leaves the workers' folders.
    signal(SIGXFSZ, SIG_IGN);
    struct sigaction stop {};
    stop.sa_handler = OnStop;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    return Index(options);
  } catch (const ZYT::Index::StoreError& e) {
    return Fail(e.what());
  } catch (const std::exception& e) {
    return Fail(e.what());
  }
}
