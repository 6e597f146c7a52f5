#include "platform/win32/Registry.h"

#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
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
  void Prepare(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &m_stmt, nullptr) != SQLITE_OK)
      m_stmt = nullptr;
  }
  sqlite3_stmt* Use() {
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
    return m_stmt;
  }
  explicit operator bool() const { return m_stmt != nullptr; }

 private:
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

class Store {
 public:
  static Store& Instance() {
    static Store* store = new Store;  // outlives handles closed by static destructors
    return *store;
  }

  std::recursive_mutex& Lock() { return m_lock; }

  // Opens the database on first use (and again in a forked child).
  LONG Ensure() {
    if (m_db && m_pid == getpid()) return ERROR_SUCCESS;
    if (m_db) Abandon();
    std::string path = ZYT::RegistryStorePath();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK) {
      sqlite3_close(db);
      return ERROR_CANTOPEN;
    }
    sqlite3_busy_timeout(db, 30000);
    sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
    if (sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr) != SQLITE_OK) {
      sqlite3_close(db);
      return ERROR_BADDB;
    }
    m_db = db;
    m_pid = getpid();
    ++m_generation;
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
    m_info.Prepare(db,
                   "SELECT (SELECT count(*) FROM keys WHERE parent=?1),"
                   "(SELECT coalesce(max(wlen),0) FROM keys WHERE parent=?1),"
                   "(SELECT count(*) FROM vals WHERE key=?1),"
                   "(SELECT coalesce(max(wlen),0) FROM vals WHERE key=?1),"
                   "(SELECT coalesce(max(length(data)),0) FROM vals WHERE key=?1),"
                   "(SELECT written FROM keys WHERE id=?1)");
    for (int i = 0; i < kRootCount; ++i) {
      int64_t id = 0;
      LONG rc = Transaction([&] { return CreateChild(0, Widen(kRootNames[i]), id, nullptr); });
      if (rc != ERROR_SUCCESS) {
        Close();
        return rc;
      }
      m_rootIds[i] = id;
    }
    int64_t software = 0, classes = 0;
    LONG rc = Transaction([&] {
      LONG r = CreateChild(m_rootIds[0], u"SOFTWARE", software, nullptr);
      return r == ERROR_SUCCESS ? CreateChild(software, u"Classes", classes, nullptr) : r;
    });
    if (rc != ERROR_SUCCESS) {
      Close();
      return rc;
    }
    m_classesId = classes;
    return ERROR_SUCCESS;
  }

  void Close() {
    FinalizeAll();
    if (m_db) sqlite3_close(m_db);
    m_db = nullptr;
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

  bool ReadOnly(int root) const { return m_readOnly[root]; }
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
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : ERROR_CANTREAD;
  }

  LONG CreateChild(int64_t parent, std::u16string_view name, int64_t& id, bool* created) {
    LONG rc = FindChild(parent, name, id);
    if (created) *created = false;
    if (rc != ERROR_FILE_NOT_FOUND) return rc;
    Query q(m_insertKey);
    q.Bind(1, parent).Bind(2, ZYT::WideToUtf8(name)).Bind(3, Fold(name));
    q.Bind(4, static_cast<int64_t>(name.size())).Bind(5, NowAsFileTime());
    if (q.Step() != SQLITE_DONE) return ERROR_CANTWRITE;
    id = sqlite3_last_insert_rowid(m_db);
    if (created) *created = true;
    return ERROR_SUCCESS;
  }

  // Walks a relative path below `from`; creates missing keys when asked.
  LONG Walk(int64_t from, std::u16string_view path, bool create, int64_t& id, bool* created) {
    if (!path.empty() && path.front() == u'\\') return ERROR_BAD_PATHNAME;
    id = from;
    if (created) *created = false;
    size_t pos = 0;
    while (pos < path.size()) {
      size_t end = path.find(u'\\', pos);
      if (end == std::u16string_view::npos) end = path.size();
      std::u16string_view part = path.substr(pos, end - pos);
      pos = end + 1;
      if (part.empty()) continue;
      if (part.size() > 255) return ERROR_INVALID_PARAMETER;
      LONG rc = create ? CreateChild(id, part, id, created) : FindChild(id, part, id);
      if (rc != ERROR_SUCCESS) return rc;
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
      if (rc != SQLITE_DONE) return ERROR_CANTREAD;
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
    if (q.Step() != SQLITE_DONE) return ERROR_CANTWRITE;
    return Touch(key);
  }

  LONG DeleteValue(int64_t key, std::u16string_view name) {
    if (!KeyExists(key)) return ERROR_KEY_DELETED;
    Query q(m_deleteValue);
    q.Bind(1, key).Bind(2, Fold(name));
    if (q.Step() != SQLITE_DONE) return ERROR_CANTWRITE;
    if (sqlite3_changes(m_db) == 0) return ERROR_FILE_NOT_FOUND;
    return Touch(key);
  }

  LONG Touch(int64_t key) {
    Query q(m_touch);
    return q.Bind(1, NowAsFileTime()).Bind(2, key).Step() == SQLITE_DONE ? ERROR_SUCCESS
                                                                          : ERROR_CANTWRITE;
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
      if (rc != SQLITE_DONE) return ERROR_CANTREAD;
    }
    ids.push_back(key);
    // HKCR is a view of HKLM\SOFTWARE\Classes, which therefore stays.
    for (int64_t id : ids)
      if (IsRoot(id) && (deleteKey || id != key)) return ERROR_ACCESS_DENIED;
    for (int64_t id : ids) {
      {
        Query q(m_deleteKeyValues);
        if (q.Bind(1, id).Step() != SQLITE_DONE) return ERROR_CANTWRITE;
      }
      if (id == key && !deleteKey) continue;
      Query q(m_deleteKeyRow);
      if (q.Bind(1, id).Step() != SQLITE_DONE) return ERROR_CANTWRITE;
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
    if (rc != SQLITE_DONE) return ERROR_CANTREAD;
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
    if (rc != SQLITE_DONE) return ERROR_CANTREAD;
    return KeyExists(key) ? ERROR_NO_MORE_ITEMS : ERROR_KEY_DELETED;
  }

  LONG Info(int64_t key, DWORD out[5], int64_t& written) {
    if (!KeyExists(key)) return ERROR_KEY_DELETED;
    Query q(m_info);
    q.Bind(1, key);
    if (q.Step() != SQLITE_ROW) return ERROR_CANTREAD;
    for (int i = 0; i < 5; ++i) out[i] = static_cast<DWORD>(q.Int(i));
    written = q.Int(5);
    return ERROR_SUCCESS;
  }

  // Runs body in one write transaction; rolls back unless it succeeds.
  template <class Body>
  LONG Transaction(Body&& body) {
    if (sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
      return ERROR_CANTWRITE;
    LONG rc = body();
    if (rc == ERROR_SUCCESS && sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
      rc = ERROR_CANTWRITE;
    if (rc == ERROR_SUCCESS) ++m_localCommits;
    if (rc != ERROR_SUCCESS) sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
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
    Statement* all[] = {&m_dataVersion, &m_findChild, &m_keyExists,   &m_insertKey,   &m_getValue,
                        &m_setValue,  &m_touch,       &m_deleteValue, &m_enumKey,
                        &m_enumValue, &m_hasChildren, &m_deleteKeyRow, &m_deleteKeyValues,
                        &m_subtree,   &m_info};
    for (Statement* s : all) {
      s->~Statement();
      new (s) Statement();
    }
  }

  // In a forked child the parent's connection must not be touched; leave it.
  void Abandon() {
    Statement* all[] = {&m_dataVersion, &m_findChild, &m_keyExists,   &m_insertKey,   &m_getValue,
                        &m_setValue,  &m_touch,       &m_deleteValue, &m_enumKey,
                        &m_enumValue, &m_hasChildren, &m_deleteKeyRow, &m_deleteKeyValues,
                        &m_subtree,   &m_info};
    for (Statement* s : all) new (s) Statement();
    m_db = nullptr;
  }

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
  std::unordered_set<HKEY> m_handles;
  Statement m_dataVersion, m_findChild, m_keyExists, m_insertKey, m_getValue, m_setValue, m_touch, m_deleteValue,
      m_enumKey, m_enumValue, m_hasChildren, m_deleteKeyRow, m_deleteKeyValues, m_subtree, m_info;
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
  std::lock_guard guard(s.Lock());
  return s.Stamp(stamp);
}

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
