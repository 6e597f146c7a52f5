#include "components/ThumbnailService.h"

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>

#include "platform/com/ComVariant.h"
#include "platform/com/Guid.h"
#include "platform/win32/Strings.h"

namespace {

std::string DatabasePath() {
  if (const char* p = std::getenv("ZYT_THUMBNAILS"); p && *p) return p;
  const char* data = std::getenv("XDG_DATA_HOME");
  std::string base = data && *data ? data : std::string(std::getenv("HOME") ? std::getenv("HOME") : "/tmp") + "/.local/share";
  return base + "/zyt/thumbnails.db";
}

// Resets a cached statement when the call is done with it.
struct Use {
  sqlite3_stmt* s;
  ~Use() {
    sqlite3_reset(s);
    sqlite3_clear_bindings(s);
  }
};

// One connection per process, with its two statements, reopened when the
// database's path changes: the indexer asks for every file it filters, and
// opening the file each time costs more than the query.
class Database {
 public:
  ~Database() { Close(); }
  std::mutex& Lock() { return m_lock; }
  // False when the database cannot be opened.
  bool Open(const std::string& path) {
    if (m_db && path == m_path) return true;
    Close();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    if (sqlite3_open(path.c_str(), &m_db) != SQLITE_OK) {
      Close();
      return false;
    }
    sqlite3_busy_timeout(m_db, 10000);
    // WAL with NORMAL syncing: an id lost in a power cut is made again.
    sqlite3_exec(m_db,
                 "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
                 "CREATE TABLE IF NOT EXISTS items(path TEXT NOT NULL, type TEXT NOT NULL, id TEXT NOT NULL,"
                 " forced INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(path, type))",
                 nullptr, nullptr, nullptr);
    // The first id given for a pair stays; a forced thumbnail is remembered.
    if (sqlite3_prepare_v3(m_db, "SELECT id, forced FROM items WHERE path=?1 AND type=?2", -1,
                           SQLITE_PREPARE_PERSISTENT, &select, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v3(m_db,
                           "INSERT INTO items(path,type,id,forced) VALUES(?1,?2,?3,?4) ON CONFLICT(path,type) DO "
                           "UPDATE SET forced=max(forced,excluded.forced) RETURNING id",
                           -1, SQLITE_PREPARE_PERSISTENT, &upsert, nullptr) != SQLITE_OK) {
      Close();
      return false;
    }
    m_path = path;
    return true;
  }

  sqlite3_stmt* select = nullptr;
  sqlite3_stmt* upsert = nullptr;

 private:
  void Close() {
    sqlite3_finalize(select);
    sqlite3_finalize(upsert);
    sqlite3_close(m_db);
    select = upsert = nullptr;
    m_db = nullptr;
    m_path.clear();
  }
  std::mutex m_lock;
  sqlite3* m_db = nullptr;
  std::string m_path;
};

Database& TheDatabase() {
  static Database database;
  return database;
}

BSTR IdOf(sqlite3_stmt* statement) {
  const char* id = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
  return ZYT::CBstr(ZYT::Utf8ToWide(id ? id : "")).Detach();
}

}  // namespace

HRESULT CThumbnailService::ItemId(BSTR path, BSTR catalogType, LONG forceThumbnail, BSTR* itemId) {
  return ZYT::ComBoundary("ItemId", [&]() -> HRESULT {
    if (!itemId) return E_POINTER;
    *itemId = nullptr;
    // The path's own bytes, so that two names differing only in bytes that are
    // not UTF-8 keep two ids.
    std::string file = ZYT::WideToPosixName(path ? path : u""), type = ZYT::WideToUtf8(catalogType ? catalogType : u"");
    if (file.empty()) return E_INVALIDARG;
    Database& database = TheDatabase();
    std::lock_guard<std::mutex> guard(database.Lock());
    if (!database.Open(DatabasePath())) return HRESULT_FROM_WIN32(ERROR_CANTOPEN);
    {
      // Most files were seen before: a read answers them.
      Use known{database.select};
      sqlite3_bind_text(known.s, 1, file.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(known.s, 2, type.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(known.s) == SQLITE_ROW && (sqlite3_column_int(known.s, 1) || !forceThumbnail)) {
        *itemId = IdOf(known.s);
        return S_OK;
      }
    }
    GUID fresh{};
    CoCreateGuid(&fresh);
    std::string candidate = ZYT::WideToUtf8(ZYT::GuidToString(fresh));
    Use upsert{database.upsert};
    sqlite3_bind_text(upsert.s, 1, file.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(upsert.s, 2, type.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(upsert.s, 3, candidate.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(upsert.s, 4, forceThumbnail ? 1 : 0);
    if (sqlite3_step(upsert.s) != SQLITE_ROW) return HRESULT_FROM_WIN32(ERROR_CANTWRITE);
    *itemId = IdOf(upsert.s);
    return S_OK;
  });
}
