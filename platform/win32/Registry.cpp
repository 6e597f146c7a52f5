#include "platform/win32/Registry.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <vector>

#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"

// A key handle handed out by RegOpenKeyExW/RegCreateKeyExW.
struct HKEY__ {
  int64_t id;
  int root;  // index into the roots: 0 HKLM, 1 HKCU, 2 HKU
  REGSAM access;
  uint64_t generation;
};

namespace {

constexpr const char* kRootNames[] = {"HKEY_LOCAL_MACHINE", "HKEY_CURRENT_USER", "HKEY_USERS"};
constexpr int kRootCount = 3;

const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER NOT NULL,
  name TEXT NOT NULL,
  folded TEXT NOT NULL,
  wlen INTEGER NOT NULL,
  written INTEGER NOT NULL,
  UNIQUE(parent, folded));
CREATE TABLE IF NOT EXISTS vals(
  seq INTEGER PRIMARY KEY AUTOINCREMENT,
  key INTEGER NOT NULL,
  name TEXT NOT NULL,
  folded TEXT NOT NULL,
  wlen INTEGER NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  UNIQUE(key, folded));
)sql";

constexpr int kBusyTimeoutMs = 30000;
// Windows refuses keys deeper than this below their hive's root.
constexpr int64_t kMaxKeyDepth = 512;

// Creates the missing folders of a path ending in '/', private to the user.
bool MakeFolders(const std::string& folder) {
  for (size_t pos = 1; pos < folder.size(); ++pos) {
    if (folder[pos] != '/') continue;
    std::string part = folder.substr(0, pos);
    if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

// Errors that mean "this user may not write here", after which the store is
// worth opening for reading only.
bool CannotWrite(int rc) {
  int primary = rc & 0xff;
  return primary == SQLITE_READONLY || primary == SQLITE_CANTOPEN || primary == SQLITE_PERM;
}

// An I/O error whose cause is the disk (or the process's file size limit):
// the user must free space, so it is reported as a full disk.
bool IsDiskFull(sqlite3* db) {
  int e = db ? sqlite3_system_errno(db) : 0;
  // A write cut short without an error number: the file system or the file
  // size limit took no more bytes.
  if (e == 0 && db && sqlite3_extended_errcode(db) == SQLITE_IOERR_WRITE) return true;
  return e == ENOSPC || e == EDQUOT || e == EFBIG;
}

int Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

// Runs a statement that answers one text or number; rc and the first column.
int QueryText(sqlite3* db, const char* sql, std::string& text) {
  sqlite3_stmt* stmt = nullptr;
  int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
  if (rc == SQLITE_OK) {
    rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
      auto p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
      text = p ? p : "";
      rc = SQLITE_OK;
    } else if (rc == SQLITE_DONE) {
      text.clear();
      rc = SQLITE_OK;
    }
  }
  sqlite3_finalize(stmt);
  return rc;
}

std::string UriOf(const std::string& path) {
  std::string uri = "file:";
  const char* hex = "0123456789ABCDEF";
  for (unsigned char c : path) {
    if (std::isalnum(c) || c == '/' || c == '.' || c == '-' || c == '_' || c == '~') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += hex[c >> 4];
      uri += hex[c & 15];
    }
  }
  return uri;
}

int64_t NowAsFileTime() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return static_cast<int64_t>((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

std::string Fold(std::u16string_view name) { return ZYT::WideToUtf8(ZYT::ToUpper(name)); }

class Statement {
 public:
  Statement() = default;
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  ~Statement() { sqlite3_finalize(m_stmt); }
  // Compiled on first use: a process that only reads a few keys (zytfilt
  // search) pays for the statements it runs, not for all of them.
  void Prepare(sqlite3* db, const char* sql) {
    m_db = db;
    m_sql = sql;
  }
  // Compiles now; false when the connection's tables cannot run it.
  bool PrepareNow(sqlite3* db, const char* sql) {
    Prepare(db, sql);
    return Compile();
  }
  sqlite3_stmt* Use() {
    if (!Compile()) return nullptr;
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
    return m_stmt;
  }

 private:
  bool Compile() {
    if (m_stmt || !m_db) return m_stmt != nullptr;
    if (sqlite3_prepare_v3(m_db, m_sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr) != SQLITE_OK) {
      sqlite3_finalize(m_stmt);
      m_stmt = nullptr;  // its use fails (SQLITE_MISUSE); the next one tries again
    }
    return m_stmt != nullptr;
  }

  sqlite3* m_db = nullptr;
  const char* m_sql = nullptr;
  sqlite3_stmt* m_stmt = nullptr;
};

// Resets the statement when a query is done with it, whatever path it leaves by.
class Query {
 public:
  explicit Query(Statement& s) : m_stmt(s.Use()) {}
  ~Query() { sqlite3_reset(m_stmt); }
  Query& Bind(int i, int64_t v) {
    sqlite3_bind_int64(m_stmt, i, v);
    return *this;
  }
  Query& Bind(int i, const std::string& v) {
    sqlite3_bind_text(m_stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    return *this;
  }
  Query& BindBlob(int i, const void* p, size_t n) {
    sqlite3_bind_blob(m_stmt, i, n ? p : "", static_cast<int>(n), SQLITE_TRANSIENT);
    return *this;
  }
  int Step() { return sqlite3_step(m_stmt); }
  sqlite3_stmt* Raw() { return m_stmt; }
  int64_t Int(int c) { return sqlite3_column_int64(m_stmt, c); }
  std::string Text(int c) {
    auto p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, c));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(m_stmt, c))) : std::string();
  }
  std::vector<BYTE> Blob(int c) {
    auto p = static_cast<const BYTE*>(sqlite3_column_blob(m_stmt, c));
    return p ? std::vector<BYTE>(p, p + sqlite3_column_bytes(m_stmt, c)) : std::vector<BYTE>();
  }

 private:
  sqlite3_stmt* m_stmt;
};

struct ValueRow {
  std::u16string name;
  DWORD type = 0;
  std::vector<BYTE> data;
};

// Depth of this thread's CPrivilegedRegistryWrites scopes.
thread_local int t_privilegedWrites = 0;

class Store {
 public:
  static Store& Instance() {
    static Store* store = new Store;  // outlives handles closed by static destructors
    return *store;
  }

  std::recursive_mutex& Lock() { return m_lock; }

  // Opens the database on first use (and again in a forked child). When it
  // cannot be opened, Problem() says why, naming the file.
  LONG Ensure() {
    if (m_db && m_pid == getpid()) return ERROR_SUCCESS;
    if (m_db) Abandon();
    std::string path = ZYT::RegistryStorePath();
    m_problem.clear();
    m_dbReadOnly = false;
    auto fail = [&](LONG rc, const std::string& why) {
      m_problem = path + ": " + why;
      return rc;
    };
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
      // A FIFO or device would block or feed SQLite endless bytes.
      if (!S_ISREG(st.st_mode)) return fail(ERROR_BADDB, "is not a registry database (not a regular file)");
    } else if (errno == ENOENT) {
      if (!MakeFolders(path.substr(0, path.find_last_of('/') + 1)))
        return fail(ERROR_CANTOPEN, std::string("cannot create its folder: ") + std::strerror(errno));
    }
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc == SQLITE_OK) rc = Prepare(db, false);
    if (rc != SQLITE_OK && CannotWrite(rc) && stat(path.c_str(), &st) == 0) {
      // A registry that this user may read but not change (a read-only file
      // or folder) is read as it is; writes then fail with ERROR_ACCESS_DENIED.
      std::string why = sqlite3_errmsg(db);
      sqlite3_close(db);
      db = nullptr;
      rc = OpenReadOnly(path, db);
      if (rc != SQLITE_OK && CannotWrite(rc)) {
        sqlite3_close(db);
        std::string folder = path.substr(0, path.find_last_of('/') + 1);
        if (access(folder.empty() ? "." : folder.c_str(), W_OK) != 0 && stat((path + "-wal").c_str(), &st) == 0)
          why = "its folder is read-only for this user, and reading its write-ahead log (" + path +
                "-wal) needs a " + path.substr(folder.size()) + "-shm beside it";
        return fail(ERROR_CANTOPEN, "cannot be opened: " + why);
      }
    }
    if (rc != SQLITE_OK) {
      LONG error = rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT || rc == SQLITE_FORMAT ? ERROR_BADDB
                   : rc == SQLITE_FULL || IsDiskFull(db)                               ? ERROR_DISK_FULL
                   : rc == SQLITE_BUSY                                                 ? ERROR_BUSY
                                                                                       : ERROR_CANTOPEN;
      std::string why = rc == SQLITE_ERROR && m_foreignSchema ? "is not a registry database (it holds other tables)"
                        : error == ERROR_BADDB ? std::string("is not a registry database (") + sqlite3_errmsg(db) + ")"
                                               : std::string("cannot be opened: ") + sqlite3_errmsg(db);
      sqlite3_close(db);
      return fail(error, why);
    }
    m_db = db;
    m_pid = getpid();
    ++m_generation;
    Unpublish();
    if (sqlite3_db_readonly(db, "main") == 1) m_dbReadOnly = true;  // a read-only file in a writable folder
    m_dataVersion.Prepare(db, "PRAGMA data_version");
    m_findChild.Prepare(db, "SELECT id FROM keys WHERE parent=? AND folded=?");
    m_keyExists.Prepare(db, "SELECT 1 FROM keys WHERE id=?");
    m_insertKey.Prepare(db, "INSERT INTO keys(parent,name,folded,wlen,written) VALUES(?,?,?,?,?)");
    m_getValue.Prepare(db, "SELECT type,data FROM vals WHERE key=? AND folded=?");
    m_setValue.Prepare(db,
                       "INSERT INTO vals(key,name,folded,wlen,type,data) VALUES(?,?,?,?,?,?) "
                       "ON CONFLICT(key,folded) DO UPDATE SET type=excluded.type,data=excluded.data");
    m_touch.Prepare(db, "UPDATE keys SET written=? WHERE id=?");
    m_deleteValue.Prepare(db, "DELETE FROM vals WHERE key=? AND folded=?");
    m_enumKey.Prepare(db, "SELECT name,written FROM keys WHERE parent=? ORDER BY folded LIMIT 1 OFFSET ?");
    m_enumValue.Prepare(db, "SELECT name,type,data FROM vals WHERE key=? ORDER BY seq LIMIT 1 OFFSET ?");
    m_hasChildren.Prepare(db, "SELECT 1 FROM keys WHERE parent=? LIMIT 1");
    m_deleteKeyRow.Prepare(db, "DELETE FROM keys WHERE id=?");
    m_deleteKeyValues.Prepare(db, "DELETE FROM vals WHERE key=?");
    m_subtree.Prepare(db,
                      "WITH RECURSIVE sub(id) AS (SELECT id FROM keys WHERE parent=? UNION ALL "
                      "SELECT k.id FROM keys k JOIN sub ON k.parent=sub.id) SELECT id FROM sub");
    // Levels above a key up to its root (a root is level 0).
    m_depth.Prepare(db,
                    "WITH RECURSIVE up(id,n) AS (SELECT parent,0 FROM keys WHERE id=? UNION ALL "
                    "SELECT k.parent,up.n+1 FROM keys k JOIN up ON k.id=up.id) SELECT max(n) FROM up");
    // Compiled now: it names every column, so it tells a registry from other tables.
    bool ours = m_info.PrepareNow(db,
                                  "SELECT (SELECT count(*) FROM keys WHERE parent=?1),"
                                  "(SELECT coalesce(max(wlen),0) FROM keys WHERE parent=?1),"
                                  "(SELECT count(*) FROM vals WHERE key=?1),"
                                  "(SELECT coalesce(max(wlen),0) FROM vals WHERE key=?1),"
                                  "(SELECT coalesce(max(length(data)),0) FROM vals WHERE key=?1),"
                                  "(SELECT written FROM keys WHERE id=?1)");
    if (!ours) {
      Close();
      return fail(ERROR_BADDB, "is not a registry database (its tables are not the registry's)");
    }
    LONG result = FindRoots();
    if (result == ERROR_FILE_NOT_FOUND) {
      // A new store: the roots are made once, by whichever process comes first.
      result = m_dbReadOnly ? ERROR_ACCESS_DENIED : Transaction([&] { return MakeRoots(); });
      if (result == ERROR_SUCCESS) result = FindRoots();
    }
    if (result != ERROR_SUCCESS) {
      std::string why = result == ERROR_ACCESS_DENIED ? "is read-only and holds no registry yet"
                                                      : "cannot be read: " + std::string(sqlite3_errmsg(m_db));
      Close();
      return fail(result, why);
    }
    return ERROR_SUCCESS;
  }

  const std::string& Problem() const { return m_problem; }
  bool DatabaseReadOnly() const { return m_db && m_dbReadOnly; }

  // The Win32 error for a failed SQLite call; `fallback` when nothing closer fits.
  LONG Error(int rc, LONG fallback) const {
    switch (rc & 0xff) {
      case SQLITE_FULL: return ERROR_DISK_FULL;
      case SQLITE_IOERR: return IsDiskFull(m_db) ? ERROR_DISK_FULL : fallback;
      case SQLITE_READONLY:
      case SQLITE_PERM: return ERROR_ACCESS_DENIED;
      case SQLITE_BUSY:
      case SQLITE_LOCKED: return ERROR_BUSY;
      case SQLITE_CORRUPT:
      case SQLITE_NOTADB: return ERROR_BADDB;
      case SQLITE_NOMEM: return ERROR_NOT_ENOUGH_MEMORY;
      default: return fallback;
    }
  }

  // Readies a fresh connection: WAL, and the registry's tables when the file
  // is new. A database of something else is left exactly as it is.
  int Prepare(sqlite3* db, bool readOnly) {
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    m_foreignSchema = false;
    // Both counts in one statement, so that they come from one snapshot even
    // while another process is making the tables.
    const char* const countTables =
        "SELECT (SELECT count(*) FROM sqlite_master WHERE type='table' AND name IN ('keys','vals')) || ',' || "
        "(SELECT count(*) FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%')";
    std::string counts;
    int rc = QueryText(db, countTables, counts);
    if (rc != SQLITE_OK) return rc;
    if (counts != "2,2" && counts != "0,0") {
      m_foreignSchema = true;
      return SQLITE_ERROR;
    }
    const bool ours = counts == "2,2";
    if (readOnly) return ours ? SQLITE_OK : SQLITE_READONLY;
    // Switching to WAL needs the file to itself; another process that opens
    // a new store at the same moment holds it briefly, which the busy
    // handler does not cover.
    for (int attempt = 0;; ++attempt) {
      std::string mode;
      rc = QueryText(db, "PRAGMA journal_mode=WAL", mode);
      if (rc == SQLITE_OK && mode == "wal") break;
      if (rc != SQLITE_OK && (rc & 0xff) != SQLITE_BUSY && (rc & 0xff) != SQLITE_LOCKED) return rc;
      if (attempt == 1500) return rc == SQLITE_OK ? SQLITE_BUSY : rc;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Exec(db, "PRAGMA synchronous=NORMAL");
    if (ours) return SQLITE_OK;
    // Made under the write lock, so that two new processes do not race.
    if ((rc = Exec(db, "BEGIN IMMEDIATE")) != SQLITE_OK) return rc;
    rc = QueryText(db, countTables, counts);
    if (rc == SQLITE_OK && counts == "0,0") rc = Exec(db, kSchema);
    if (rc == SQLITE_OK) rc = QueryText(db, countTables, counts);
    if (rc == SQLITE_OK && counts != "2,2") {
      m_foreignSchema = true;  // another program made its tables first
      rc = SQLITE_ERROR;
    }
    if (rc == SQLITE_OK) rc = Exec(db, "COMMIT");
    if (rc != SQLITE_OK) Exec(db, "ROLLBACK");
    return rc;
  }

  // Opens a store this user may not write. Without write access to its folder
  // SQLite cannot make the shared-memory file that WAL readers use; when no
  // writer has left a log behind, the file is read as it stands.
  int OpenReadOnly(const std::string& path, sqlite3*& db) {
    const int flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2((UriOf(path) + "?mode=ro").c_str(), &db, flags, nullptr);
    if (rc == SQLITE_OK) rc = Prepare(db, true);
    struct stat st;
    if (rc != SQLITE_OK && CannotWrite(rc) && !m_foreignSchema && stat((path + "-wal").c_str(), &st) != 0) {
      sqlite3_close(db);
      db = nullptr;
      rc = sqlite3_open_v2((UriOf(path) + "?mode=ro&immutable=1").c_str(), &db, flags, nullptr);
      if (rc == SQLITE_OK) rc = Prepare(db, true);
    }
    if (rc == SQLITE_OK) m_dbReadOnly = true;
    return rc;
  }

  LONG FindRoots() {
    for (int i = 0; i < kRootCount; ++i) {
      LONG rc = FindChild(0, Widen(kRootNames[i]), m_rootIds[i]);
      if (rc != ERROR_SUCCESS) return rc;
    }
    int64_t software = 0;
    LONG rc = FindChild(m_rootIds[0], u"SOFTWARE", software);
    return rc == ERROR_SUCCESS ? FindChild(software, u"Classes", m_classesId) : rc;
  }

  LONG MakeRoots() {
    int64_t id = 0;
    for (int i = 0; i < kRootCount; ++i) {
      LONG rc = CreateChild(0, Widen(kRootNames[i]), id, nullptr);
      if (rc != ERROR_SUCCESS) return rc;
      m_rootIds[i] = id;
    }
    int64_t software = 0, classes = 0;
    LONG rc = CreateChild(m_rootIds[0], u"SOFTWARE", software, nullptr);
    return rc == ERROR_SUCCESS ? CreateChild(software, u"Classes", classes, nullptr) : rc;
  }

  // Levels between a key and its root (a root is level 0).
  LONG Depth(int64_t key, int64_t& depth) {
    Query q(m_depth);
    int rc = q.Bind(1, key).Step();
    if (rc != SQLITE_ROW) return Error(rc, ERROR_CANTREAD);
    depth = q.Int(0);
    return ERROR_SUCCESS;
  }

  // A transaction that a thread opened with BeginRegistryTransaction; the
  // thread holds the store's lock from its begin to its end, so that other
  // threads of this process see no more of it than other processes do.
  bool OwnsTransaction() const { return m_txDepth > 0 && m_txOwner.load() == std::this_thread::get_id(); }

  LONG BeginTransaction() {
    LONG rc = Ensure();
    if (rc != ERROR_SUCCESS) return rc;
    if (m_txDepth == 0) {
      if (m_dbReadOnly) return ERROR_ACCESS_DENIED;
      int r = Exec(m_db, "BEGIN IMMEDIATE");
      if (r != SQLITE_OK) return Error(r, ERROR_CANTWRITE);
      m_txError = ERROR_SUCCESS;
      m_txOwner = std::this_thread::get_id();
    } else {
      int r = Exec(m_db, ("SAVEPOINT t" + std::to_string(m_txDepth)).c_str());
      if (r != SQLITE_OK) return Error(r, ERROR_CANTWRITE);
    }
    ++m_txDepth;
    return ERROR_SUCCESS;
  }

  LONG EndTransaction(bool commit) {
    --m_txDepth;
    ++m_localCommits;  // whatever the outcome, cached reads of this thread may be stale
    Unpublish();
    LONG rc = m_txError;
    if (m_txDepth > 0) {
      std::string name = "t" + std::to_string(m_txDepth);
      if (rc == ERROR_SUCCESS && commit) {
        int r = Exec(m_db, ("RELEASE " + name).c_str());
        if (r != SQLITE_OK) rc = Error(r, ERROR_CANTWRITE);
      }
      if (rc != ERROR_SUCCESS || !commit) {
        Exec(m_db, ("ROLLBACK TO " + name).c_str());
        Exec(m_db, ("RELEASE " + name).c_str());
      }
      return rc;
    }
    if (rc == ERROR_SUCCESS && commit) {
      int r = Exec(m_db, "COMMIT");
      if (r != SQLITE_OK) rc = Error(r, ERROR_CANTWRITE);
    }
    if ((rc != ERROR_SUCCESS || !commit) && !sqlite3_get_autocommit(m_db)) Exec(m_db, "ROLLBACK");
    m_txOwner = std::thread::id();
    m_txError = ERROR_SUCCESS;
    return rc;
  }

  // Gives back the lock levels that an open transaction of this thread holds,
  // when the connection goes away under it.
  void DropTransaction() {
    if (m_txDepth == 0) return;
    bool mine = m_txOwner.load() == std::this_thread::get_id();
    int depth = m_txDepth;
    m_txDepth = 0;
    m_txError = ERROR_SUCCESS;
    m_txOwner = std::thread::id();
    if (mine)
      for (int i = 0; i < depth; ++i) m_lock.unlock();
  }

  void Close() {
    FinalizeAll();
    DropTransaction();  // closing rolls it back
    if (m_db) sqlite3_close(m_db);
    m_db = nullptr;
    Unpublish();
  }

  uint64_t Generation() const { return m_generation; }

  // Changes whenever this process or another one commits to the store.
  bool Stamp(ZYT::RegistryStamp& stamp) {
    if (Ensure() != ERROR_SUCCESS) return false;
    // Asking SQLite whether another process wrote costs a read transaction;
    // callers ask several times per filtered file, so the answer is reused
    // for a millisecond. This process's own writes count at once.
    auto now = std::chrono::steady_clock::now();
    if (m_externalGeneration != m_generation || now - m_externalCheck > std::chrono::milliseconds(1)) {
      Query q(m_dataVersion);
      if (q.Step() != SQLITE_ROW) return false;
      m_external = static_cast<uint64_t>(q.Int(0));
      m_externalCheck = now;
      m_externalGeneration = m_generation;
    }
    stamp = {m_generation, m_external, m_localCommits};
    Publish(stamp, m_externalCheck);
    return true;
  }

  // The stamp as last published, without the lock: what every filter object
  // asks several times while the registry stays as it is. False when none is
  // published, when it is older than the millisecond during which another
  // process's write may go unseen, or while a writer is changing it; the
  // caller then takes the lock. This process's writes unpublish it (under
  // the lock) before anyone can read what they wrote.
  bool PublishedStamp(ZYT::RegistryStamp& stamp) const {
    uint64_t before = m_seq.load(std::memory_order_acquire);
    if (before & 1) return false;
    bool valid = m_pubValid.load(std::memory_order_relaxed);
    ZYT::RegistryStamp read{m_pubGeneration.load(std::memory_order_relaxed),
                            m_pubExternal.load(std::memory_order_relaxed),
                            m_pubLocal.load(std::memory_order_relaxed)};
    auto checked = m_pubChecked.load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (m_seq.load(std::memory_order_relaxed) != before || !valid) return false;
    auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    if (now - checked > std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::milliseconds(1)).count())
      return false;
    stamp = read;
    return true;
  }

  // Resolves a handle to its key id and root; predefined keys included.
  LONG Resolve(HKEY key, HKEY__& out) {
    auto v = reinterpret_cast<uintptr_t>(key);
    if (v >= 0x80000000u && v <= 0x80000003u) {
      LONG rc = Ensure();
      if (rc != ERROR_SUCCESS) return rc;
      switch (v) {
        case 0x80000000u: out = {m_classesId, 0, KEY_ALL_ACCESS, m_generation}; break;
        case 0x80000001u: out = {m_rootIds[1], 1, KEY_ALL_ACCESS, m_generation}; break;
        case 0x80000002u: out = {m_rootIds[0], 0, KEY_ALL_ACCESS, m_generation}; break;
        default: out = {m_rootIds[2], 2, KEY_ALL_ACCESS, m_generation}; break;
      }
      return ERROR_SUCCESS;
    }
    if (!key || !m_handles.count(key)) return ERROR_INVALID_HANDLE;
    LONG rc = Ensure();
    if (rc != ERROR_SUCCESS) return rc;
    if (key->generation != m_generation) return ERROR_INVALID_HANDLE;
    out = *key;
    return ERROR_SUCCESS;
  }

  HKEY NewHandle(const HKEY__& h) {
    auto* key = new HKEY__(h);
    m_handles.insert(key);
    return key;
  }
  LONG CloseHandle(HKEY key) {
    auto v = reinterpret_cast<uintptr_t>(key);
    if (v >= 0x80000000u && v <= 0x80000003u) return ERROR_SUCCESS;
    if (!m_handles.erase(key)) return ERROR_INVALID_HANDLE;
    delete key;
    return ERROR_SUCCESS;
  }

  bool ReadOnly(int root) const { return (m_readOnly[root] && t_privilegedWrites == 0) || m_dbReadOnly; }
  void SetReadOnly(int root, bool value) { m_readOnly[root] = value; }

  bool KeyExists(int64_t id) {
    Query q(m_keyExists);
    return q.Bind(1, id).Step() == SQLITE_ROW;
  }

  LONG FindChild(int64_t parent, std::u16string_view name, int64_t& id) {
    Query q(m_findChild);
    q.Bind(1, parent).Bind(2, Fold(name));
    int rc = q.Step();
    if (rc == SQLITE_ROW) {
      id = q.Int(0);
      return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Error(rc, ERROR_CANTREAD);
  }

  LONG CreateChild(int64_t parent, std::u16string_view name, int64_t& id, bool* created) {
    LONG rc = FindChild(parent, name, id);
    if (created) *created = false;
    if (rc != ERROR_FILE_NOT_FOUND) return rc;
    rc = InsertKey(parent, name, id);
    if (rc == ERROR_SUCCESS && created) *created = true;
    return rc;
  }

  LONG InsertKey(int64_t parent, std::u16string_view name, int64_t& id) {
    Query q(m_insertKey);
    q.Bind(1, parent).Bind(2, ZYT::WideToUtf8(name)).Bind(3, Fold(name));
    q.Bind(4, static_cast<int64_t>(name.size())).Bind(5, NowAsFileTime());
    if (int rc = q.Step(); rc != SQLITE_DONE) return Error(rc, ERROR_CANTWRITE);
    id = sqlite3_last_insert_rowid(m_db);
    return ERROR_SUCCESS;
  }

  // Walks a relative path below `from`; creates missing keys when asked, as
  // deep as Windows allows (ERROR_INVALID_PARAMETER beyond).
  LONG Walk(int64_t from, std::u16string_view path, bool create, int64_t& id, bool* created) {
    if (!path.empty() && path.front() == u'\\') return ERROR_BAD_PATHNAME;
    id = from;
    if (created) *created = false;
    int64_t depth = -1;  // of id, known once a key had to be made
    size_t pos = 0;
    while (pos < path.size()) {
      size_t end = path.find(u'\\', pos);
      if (end == std::u16string_view::npos) end = path.size();
      std::u16string_view part = path.substr(pos, end - pos);
      pos = end + 1;
      if (part.empty()) continue;
      if (part.size() > 255) return ERROR_INVALID_PARAMETER;
      int64_t child = 0;
      LONG rc = FindChild(id, part, child);
      if (created) *created = false;
      if (rc == ERROR_FILE_NOT_FOUND && create) {
        if (depth < 0 && (rc = Depth(id, depth)) != ERROR_SUCCESS) return rc;
        if (depth >= kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
        rc = InsertKey(id, part, child);
        if (rc == ERROR_SUCCESS && created) *created = true;
      }
      if (rc != ERROR_SUCCESS) return rc;
      id = child;
      if (depth >= 0) ++depth;
    }
    if (!create && id == from && !KeyExists(id)) return ERROR_KEY_DELETED;
    return ERROR_SUCCESS;
  }

  // Copies the value straight into the caller's buffer: the hot path of every read.
  LONG QueryValue(int64_t key, std::u16string_view name, LPDWORD type, LPBYTE data, LPDWORD cb) {
    Query q(m_getValue);
    q.Bind(1, key).Bind(2, Fold(name));
    int rc = q.Step();
    if (rc != SQLITE_ROW) {
      if (rc != SQLITE_DONE) return Error(rc, ERROR_CANTREAD);
      return KeyExists(key) ? ERROR_FILE_NOT_FOUND : ERROR_KEY_DELETED;
    }
    if (type) *type = static_cast<DWORD>(q.Int(0));
    DWORD size = static_cast<DWORD>(sqlite3_column_bytes(q.Raw(), 1));
    if (data) {
      if (*cb < size) {
        *cb = size;
        return ERROR_MORE_DATA;
      }
      if (size) std::memcpy(data, sqlite3_column_blob(q.Raw(), 1), size);
    }
    if (cb) *cb = size;
    return ERROR_SUCCESS;
  }

  LONG SetValue(int64_t key, std::u16string_view name, DWORD type, const BYTE* data, DWORD cb) {
    if (!KeyExists(key)) return ERROR_KEY_DELETED;
    Query q(m_setValue);
    q.Bind(1, key).Bind(2, ZYT::WideToUtf8(name)).Bind(3, Fold(name));
    q.Bind(4, static_cast<int64_t>(name.size())).Bind(5, type).BindBlob(6, data, cb);
    if (int rc = q.Step(); rc != SQLITE_DONE) return Error(rc, ERROR_CANTWRITE);
    return Touch(key);
  }

  LONG DeleteValue(int64_t key, std::u16string_view name) {
    if (!KeyExists(key)) return ERROR_KEY_DELETED;
    Query q(m_deleteValue);
    q.Bind(1, key).Bind(2, Fold(name));
    if (int rc = q.Step(); rc != SQLITE_DONE) return Error(rc, ERROR_CANTWRITE);
    if (sqlite3_changes(m_db) == 0) return ERROR_FILE_NOT_FOUND;
    return Touch(key);
  }

  LONG Touch(int64_t key) {
    Query q(m_touch);
    int rc = q.Bind(1, NowAsFileTime()).Bind(2, key).Step();
    return rc == SQLITE_DONE ? ERROR_SUCCESS : Error(rc, ERROR_CANTWRITE);
  }

  bool HasChildren(int64_t key) {
    Query q(m_hasChildren);
    return q.Bind(1, key).Step() == SQLITE_ROW;
  }

  bool IsRoot(int64_t key) const {
    for (int64_t r : m_rootIds)
      if (r == key) return true;
    return key == m_classesId;
  }

  // Deletes the key's values and everything below it; the key itself too when asked.
  LONG DeleteSubtree(int64_t key, bool deleteKey) {
    std::vector<int64_t> ids;
    {
      Query q(m_subtree);
      q.Bind(1, key);
      int rc;
      while ((rc = q.Step()) == SQLITE_ROW) ids.push_back(q.Int(0));
      if (rc != SQLITE_DONE) return Error(rc, ERROR_CANTREAD);
    }
    ids.push_back(key);
    // HKCR is a view of HKLM\SOFTWARE\Classes, which therefore stays.
    for (int64_t id : ids)
      if (IsRoot(id) && (deleteKey || id != key)) return ERROR_ACCESS_DENIED;
    for (int64_t id : ids) {
      {
        Query q(m_deleteKeyValues);
        if (int rc = q.Bind(1, id).Step(); rc != SQLITE_DONE) return Error(rc, ERROR_CANTWRITE);
      }
      if (id == key && !deleteKey) continue;
      Query q(m_deleteKeyRow);
      if (int rc = q.Bind(1, id).Step(); rc != SQLITE_DONE) return Error(rc, ERROR_CANTWRITE);
    }
    return deleteKey ? ERROR_SUCCESS : Touch(key);
  }

  LONG EnumKey(int64_t key, DWORD index, std::u16string& name, int64_t& written) {
    Query q(m_enumKey);
    q.Bind(1, key).Bind(2, index);
    int rc = q.Step();
    if (rc == SQLITE_ROW) {
      name = ZYT::Utf8ToWide(q.Text(0));
      written = q.Int(1);
      return ERROR_SUCCESS;
    }
    if (rc != SQLITE_DONE) return Error(rc, ERROR_CANTREAD);
    return KeyExists(key) ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
  }

  LONG EnumValue(int64_t key, DWORD index, ValueRow& row) {
    Query q(m_enumValue);
    q.Bind(1, key).Bind(2, index);
    int rc = q.Step();
    if (rc == SQLITE_ROW) {
      row.name = ZYT::Utf8ToWide(q.Text(0));
      row.type = static_cast<DWORD>(q.Int(1));
      row.data = q.Blob(2);
      return ERROR_SUCCESS;
    }
    if (rc != SQLITE_DONE) return Error(rc, ERROR_CANTREAD);
    return KeyExists(key) ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
  }

  LONG Info(int64_t key, DWORD out[5], int64_t& written) {
    if (!KeyExists(key)) return ERROR_KEY_DELETED;
    Query q(m_info);
    q.Bind(1, key);
    if (int rc = q.Step(); rc != SQLITE_ROW) return Error(rc, ERROR_CANTREAD);
    for (int i = 0; i < 5; ++i) out[i] = static_cast<DWORD>(q.Int(i));
    written = q.Int(5);
    return ERROR_SUCCESS;
  }

  // Runs one write: in a transaction of its own, or inside this thread's open
  // transaction as a savepoint, which undoes a failed write and nothing else.
  template <class Body>
  LONG Transaction(Body&& body) {
    if (m_txDepth > 0) {
      if (m_txError != ERROR_SUCCESS) return m_txError;
      int r = Exec(m_db, "SAVEPOINT op");
      if (r != SQLITE_OK) return Error(r, ERROR_CANTWRITE);
      LONG rc = body();
      if (rc == ERROR_SUCCESS && (r = Exec(m_db, "RELEASE op")) != SQLITE_OK) rc = Error(r, ERROR_CANTWRITE);
      ++m_localCommits;
      Unpublish();
      if (rc == ERROR_SUCCESS) return rc;
      if (sqlite3_get_autocommit(m_db)) {
        // SQLite gave up the whole transaction (a full disk, an I/O error):
        // every later write of it fails alike, and so does its commit.
        m_txError = rc;
      } else {
        Exec(m_db, "ROLLBACK TO op");
        Exec(m_db, "RELEASE op");
      }
      return rc;
    }
    int r = Exec(m_db, "BEGIN IMMEDIATE");
    if (r != SQLITE_OK) return Error(r, ERROR_CANTWRITE);
    LONG rc = body();
    if (rc == ERROR_SUCCESS && (r = Exec(m_db, "COMMIT")) != SQLITE_OK) rc = Error(r, ERROR_CANTWRITE);
    if (rc == ERROR_SUCCESS) {
      ++m_localCommits;
      Unpublish();
    }
    if (rc != ERROR_SUCCESS && !sqlite3_get_autocommit(m_db)) Exec(m_db, "ROLLBACK");
    return rc;
  }

 private:
  Store() {
    if (const char* ro = std::getenv("ZYT_REGISTRY_READONLY")) {
      std::string s = ro;
      m_readOnly[0] = s.find("HKLM") != std::string::npos;
      m_readOnly[1] = s.find("HKCU") != std::string::npos;
      m_readOnly[2] = s.find("HKU,") != std::string::npos || s.ends_with("HKU");
    }
  }

  static std::u16string Widen(const char* s) { return ZYT::Utf8ToWide(s); }

  void FinalizeAll() {
    Statement* all[] = {&m_dataVersion, &m_findChild, &m_keyExists,   &m_insertKey,       &m_getValue,
                        &m_setValue,    &m_touch,     &m_deleteValue, &m_enumKey,         &m_enumValue,
                        &m_hasChildren, &m_deleteKeyRow, &m_deleteKeyValues, &m_subtree, &m_depth, &m_info};
    for (Statement* s : all) {
      s->~Statement();
      new (s) Statement();
    }
  }

  // In a forked child the parent's connection must not be touched; leave it.
  void Abandon() {
    Statement* all[] = {&m_dataVersion, &m_findChild, &m_keyExists,   &m_insertKey,       &m_getValue,
                        &m_setValue,    &m_touch,     &m_deleteValue, &m_enumKey,         &m_enumValue,
                        &m_hasChildren, &m_deleteKeyRow, &m_deleteKeyValues, &m_subtree, &m_depth, &m_info};
    for (Statement* s : all) new (s) Statement();
    DropTransaction();
    m_db = nullptr;
    Unpublish();
  }

  // Writers (under m_lock) of the published stamp: a sequence lock, odd while writing.
  void Publish(const ZYT::RegistryStamp& stamp, std::chrono::steady_clock::time_point checked) {
    uint64_t seq = m_seq.load(std::memory_order_relaxed);
    m_seq.store(seq + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    m_pubGeneration.store(stamp.generation, std::memory_order_relaxed);
    m_pubExternal.store(stamp.external, std::memory_order_relaxed);
    m_pubLocal.store(stamp.local, std::memory_order_relaxed);
    m_pubChecked.store(checked.time_since_epoch().count(), std::memory_order_relaxed);
    m_pubValid.store(true, std::memory_order_relaxed);
    m_seq.store(seq + 2, std::memory_order_release);
  }
  void Unpublish() {
    uint64_t seq = m_seq.load(std::memory_order_relaxed);
    m_seq.store(seq + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    m_pubValid.store(false, std::memory_order_relaxed);
    m_seq.store(seq + 2, std::memory_order_release);
  }

  std::atomic<uint64_t> m_seq{0};
  std::atomic<bool> m_pubValid{false};
  std::atomic<uint64_t> m_pubGeneration{0}, m_pubExternal{0}, m_pubLocal{0};
  std::atomic<std::chrono::steady_clock::rep> m_pubChecked{0};

  std::recursive_mutex m_lock;
  sqlite3* m_db = nullptr;
  pid_t m_pid = 0;
  uint64_t m_generation = 0;
  uint64_t m_localCommits = 0;
  uint64_t m_external = 0;
  uint64_t m_externalGeneration = ~uint64_t{0};
  std::chrono::steady_clock::time_point m_externalCheck;
  int64_t m_rootIds[kRootCount] = {};
  int64_t m_classesId = 0;
  bool m_readOnly[kRootCount] = {};
  bool m_dbReadOnly = false;     // the file or its folder is not writable
  bool m_foreignSchema = false;  // the file is a database of something else
  std::string m_problem;
  int m_txDepth = 0;
  LONG m_txError = ERROR_SUCCESS;  // the open transaction was lost to this error
  std::atomic<std::thread::id> m_txOwner;
  std::unordered_set<HKEY> m_handles;
  Statement m_dataVersion, m_findChild, m_keyExists, m_insertKey, m_getValue, m_setValue, m_touch, m_deleteValue,
      m_enumKey, m_enumValue, m_hasChildren, m_deleteKeyRow, m_deleteKeyValues, m_subtree, m_depth, m_info;
};

std::u16string_view View(LPCWSTR s) { return s ? std::u16string_view(s) : std::u16string_view(); }

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

}  // namespace

namespace ZYT {

void ResetRegistryStore() {
  Store& s = Store::Instance();
  std::lock_guard guard(s.Lock());
  s.Close();
  ResetCodePageCache();
  ZytResetLocaleCache();
}

std::string RegistryStorePath() {
  if (const char* p = std::getenv("ZYT_REGISTRY"); p && *p) return p;
  std::string base;
  if (const char* x = std::getenv("XDG_DATA_HOME"); x && *x)
    base = x;
  else if (const char* h = std::getenv("HOME"); h && *h)
    base = std::string(h) + "/.local/share";
  else
    base = "/tmp";
  return base + "/zyt/registry.db";
}

bool GetRegistryStamp(RegistryStamp& stamp) {
  Store& s = Store::Instance();
  if (s.PublishedStamp(stamp)) return true;
  std::lock_guard guard(s.Lock());
  return s.Stamp(stamp);
}

LONG OpenRegistryStore(std::string& problem) {
  Store& s = Store::Instance();
  std::lock_guard guard(s.Lock());
  LONG rc = s.Ensure();
  problem = rc == ERROR_SUCCESS ? std::string() : s.Problem();
  return rc;
}

bool RegistryStoreIsReadOnly() {
  Store& s = Store::Instance();
  std::lock_guard guard(s.Lock());
  return s.Ensure() == ERROR_SUCCESS && s.DatabaseReadOnly();
}

LONG BeginRegistryTransaction() {
  Store& s = Store::Instance();
  s.Lock().lock();  // held until the matching commit or rollback
  LONG rc = s.BeginTransaction();
  if (rc != ERROR_SUCCESS) s.Lock().unlock();
  return rc;
}

LONG CommitRegistryTransaction() {
  Store& s = Store::Instance();
  if (!s.OwnsTransaction()) return ERROR_INVALID_FUNCTION;
  LONG rc = s.EndTransaction(true);
  s.Lock().unlock();
  return rc;
}

void RollbackRegistryTransaction() {
  Store& s = Store::Instance();
  if (!s.OwnsTransaction()) return;
  s.EndTransaction(false);
  s.Lock().unlock();
}

CRegistrySetupLock::~CRegistrySetupLock() {
  if (m_fd >= 0) close(m_fd);  // closing releases the lock
}

LONG CRegistrySetupLock::Acquire(DWORD timeoutSeconds, std::string& problem) {
  problem.clear();
  if (m_fd >= 0) return ERROR_SUCCESS;
  std::string path = RegistryStorePath() + ".lock";
  MakeFolders(path.substr(0, path.find_last_of('/') + 1));
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    problem = path + ": " + (fd < 0 ? std::strerror(errno) : "is not a regular file");
    if (fd >= 0) close(fd);
    return ERROR_CANTOPEN;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      problem = path + ": " + std::strerror(errno);
      close(fd);
      return ERROR_LOCK_VIOLATION;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      problem = path + ": still held by another set-up after " + std::to_string(timeoutSeconds) + " s";
      close(fd);
      return ERROR_TIMEOUT;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  m_fd = fd;
  return ERROR_SUCCESS;
}

CPrivilegedRegistryWrites::CPrivilegedRegistryWrites() { ++t_privilegedWrites; }
CPrivilegedRegistryWrites::~CPrivilegedRegistryWrites() { --t_privilegedWrites; }

void SetRegistryRootReadOnly(HKEY root, bool readOnly) {
  Store& s = Store::Instance();
  std::lock_guard guard(s.Lock());
  auto v = reinterpret_cast<uintptr_t>(root);
  int index = v == 0x80000001u ? 1 : v == 0x80000003u ? 2 : 0;
  s.SetReadOnly(index, readOnly);
}

}  // namespace ZYT

LONG RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, REGSAM samDesired, PHKEY phkResult) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  Store& s = Store::Instance();
  std::lock_guard guard(s.Lock());
  HKEY__ base;
  LONG rc = s.Resolve(hKey, base);
  if (rc != ERROR_SUCCESS) return rc;
  if ((samDesired & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY | DELETE_ACCESS)) && s.ReadOnly(base.root))
    return ERROR_ACCESS_DENIED;
  int64_t id;
  rc = s.Walk(base.id, View(lpSubKey), false, id, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  *phkResult = s.NewHandle({id, base.root, samDesired, s.Generation()});
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD, LPWSTR, DWORD, REGSAM samDesired,
                     const SECURITY_ATTRIBUTES*, PHKEY phkResult, LPDWORD lpdwDisposition) {
  if (!phkResult) return ERROR_INVALID_PARAMETER;
  *phkResult = nullptr;
  Store& s = Store::Instance();
  std::lock_guard guard(s.Lock());
  HKEY__ base;
  LONG rc = s.Resolve(hKey, base);
  if (rc != ERROR_SUCCESS) return rc;
  int64_t id;
  bool created = false;
  // Opening an existing key needs no write access to the root.
  rc = s.Walk(base.id, View(lpSubKey), false, id, nullptr);
  if (rc == ERROR_FILE_NOT_FOUND) {
    if (s.ReadOnly(base.root) || !(base.access & KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    rc = s.Transaction([&] { return s.Walk(base.id, View(lpSubKey), true, id, &created); });
  }
  if (rc != ERROR_SUCCESS) return rc;
  if ((samDesired & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) && s.ReadOnly(base.root))
    return ERROR_ACCESS_DENIED;
  *phkResult = s.NewHandle({id, base.root, samDesired, s.Generation()});
  if (lpdwDisposition) *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY hKey) {
  Store& s = Store::Instance();
  std::lock_guard guard(s.Lock());
  return s.CloseHandle(hKey);
}

LONG RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD, LPDWORD lpType, LPBYTE lpData,
                      LPDWORD lpcbData) {
  if (lpData && !lpcbData) return ERROR_INVALID_PARAMETER;
  Store& s = Store::Instance();
  std::lock_guard guard(s.Lock());
  HKEY__ key;
  LONG rc = s.Resolve(hKey, key);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(key.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  return s.QueryValue(key.id, View(lpValueName), lpType, lpData, lpcbData);
}

LONG RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD, DWORD dwType, const BYTE* lpData,
                    DWORD cbData) {
  if (!lpData && cbData) return ERROR_NOACCESS;
  if (IsStringType(dwType) && (cbData % 2) != 0) cbData &= ~1u;  // a half character is dropped
  Store& s = Store::Instance();
  std::lock_guard guard(s.Lock());
  HKEY__ key;
  LONG rc = s.Resolve(hKey, key);
  if (rc != ERROR_SUCCESS) return rc;
  if (s.ReadOnly(key.root) || !(key.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return s.Transaction([&] { return s.SetValue(key.id, View(lpValueName), dwType, lpData, cbData); });
}

LONG RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName) {
  Store& s = Store::Instance();
  std::lock_guard guard(s.Lock());
  HKEY__ key;
  LONG rc = s.Resolve(hKey, key);
  if (rc != ERROR_SUCCESS) return rc;
  if (s.ReadOnly(key.root) || !(key.access & KEY_SET_VALUE)) return ERROR_ACCESS_DENIED;
  return s.Transaction([&] { return s.DeleteValue(key.id, View(lpValueName)); });
}

LONG RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey) {
  if (!lpSubKey) return ERROR_INVALID_PARAMETER;
  Store& s = Store::Instance();
  std::lock_guard guard(s.Lock());
  HKEY__ base;
  LONG rc = s.Resolve(hKey, base);
  if (rc != ERROR_SUCCESS) return rc;
  int64_t id;
  rc = s.Walk(base.id, View(lpSubKey), false, id, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  if (s.ReadOnly(base.root) || s.IsRoot(id) || s.HasChildren(id)) return ERROR_ACCESS_DENIED;
  return s.Transaction([&] { return s.DeleteSubtree(id, true); });
}

LONG RegDeleteTreeW(HKEY hKey, LPCWSTR lpSubKey) {
  Store& s = Store::Instance();
  std::lock_guard guard(s.Lock());
  HKEY__ base;
  LONG rc = s.Resolve(hKey, base);
  if (rc != ERROR_SUCCESS) return rc;
  int64_t id;
  rc = s.Walk(base.id, View(lpSubKey), false, id, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  bool deleteKey = lpSubKey && *lpSubKey;
  if (s.ReadOnly(base.root) || (deleteKey && s.IsRoot(id))) return ERROR_ACCESS_DENIED;
  return s.Transaction([&] { return s.DeleteSubtree(id, deleteKey); });
}

LONG RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName, LPDWORD, LPWSTR lpClass,
                   LPDWORD lpcchClass, FILETIME* lpftLastWriteTime) {
  if (!lpName || !lpcchName) return ERROR_INVALID_PARAMETER;
  Store& s = Store::Instance();
  std::lock_guard guard(s.Lock());
  HKEY__ key;
  LONG rc = s.Resolve(hKey, key);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(key.access & KEY_ENUMERATE_SUB_KEYS)) return ERROR_ACCESS_DENIED;
  std::u16string name;
  int64_t written = 0;
  rc = s.EnumKey(key.id, dwIndex, name, written);
  if (rc != ERROR_SUCCESS) return rc;
  if (name.size() + 1 > *lpcchName) return ERROR_MORE_DATA;
  std::memcpy(lpName, name.c_str(), (name.size() + 1) * sizeof(WCHAR));
  *lpcchName = static_cast<DWORD>(name.size());
  if (lpClass && lpcchClass && *lpcchClass) *lpClass = 0;
  if (lpcchClass) *lpcchClass = 0;
  if (lpftLastWriteTime) {
    lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(written);
    lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(written) >> 32);
  }
  return ERROR_SUCCESS;
}

LONG RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName, LPDWORD,
                   LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData) {
  if (!lpValueName || !lpcchValueName || (lpData && !lpcbData)) return ERROR_INVALID_PARAMETER;
  Store& s = Store::Instance();
  std::lock_guard guard(s.Lock());
  HKEY__ key;
  LONG rc = s.Resolve(hKey, key);
  if (rc != ERROR_SUCCESS) return rc;
  if (!(key.access & KEY_QUERY_VALUE)) return ERROR_ACCESS_DENIED;
  ValueRow row;
  rc = s.EnumValue(key.id, dwIndex, row);
  if (rc != ERROR_SUCCESS) return rc;
  DWORD size = static_cast<DWORD>(row.data.size());
  if (row.name.size() + 1 > *lpcchValueName) {
    if (lpcbData) *lpcbData = size;
    return ERROR_MORE_DATA;
  }
  std::memcpy(lpValueName, row.name.c_str(), (row.name.size() + 1) * sizeof(WCHAR));
  *lpcchValueName = static_cast<DWORD>(row.name.size());
  if (lpType) *lpType = row.type;
  if (lpData) {
    if (*lpcbData < size) {
      *lpcbData = size;
      return ERROR_MORE_DATA;
    }
    if (size) std::memcpy(lpData, row.data.data(), size);
  }
  if (lpcbData) *lpcbData = size;
  return ERROR_SUCCESS;
}

LONG RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD, LPDWORD lpcSubKeys,
                      LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                      LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                      LPDWORD lpcbSecurityDescriptor, FILETIME* lpftLastWriteTime) {
  Store& s = Store::Instance();
  std::lock_guard guard(s.Lock());
  HKEY__ key;
  LONG rc = s.Resolve(hKey, key);
  if (rc != ERROR_SUCCESS) return rc;
  DWORD info[5];
  int64_t written = 0;
  rc = s.Info(key.id, info, written);
  if (rc != ERROR_SUCCESS) return rc;
  if (lpClass && lpcchClass && *lpcchClass) *lpClass = 0;
  if (lpcchClass) *lpcchClass = 0;
  if (lpcSubKeys) *lpcSubKeys = info[0];
  if (lpcbMaxSubKeyLen) *lpcbMaxSubKeyLen = info[1];
  if (lpcbMaxClassLen) *lpcbMaxClassLen = 0;
  if (lpcValues) *lpcValues = info[2];
  if (lpcbMaxValueNameLen) *lpcbMaxValueNameLen = info[3];
  if (lpcbMaxValueLen) *lpcbMaxValueLen = info[4];
  if (lpcbSecurityDescriptor) *lpcbSecurityDescriptor = 0;
  if (lpftLastWriteTime) {
    lpftLastWriteTime->dwLowDateTime = static_cast<DWORD>(written);
    lpftLastWriteTime->dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(written) >> 32);
  }
  return ERROR_SUCCESS;
}
