#include "components/ThumbnailService.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <utility>

#include "platform/com/ComVariant.h"
#include "platform/com/Guid.h"
#include "platform/win32/Limits.h"
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

std::string IdText(sqlite3_stmt* statement) {
  const char* id = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
  return id ? id : "";
}

// The database file and its write-ahead log as stat sees them: every commit,
// by this process or another, appends to the log or (at a checkpoint)
// rewrites the database, and so changes one of them. The one commit it can
// miss is one that restarts the log at its start, ends at the same size and
// falls in the same clock tick of the file system's times as the change
// before it; ids are only added, so what that costs is a forced flag or a
// deleted row seen one change late.
struct StoreStamp {
  struct File {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};
    bool operator==(const File& o) const {
      return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
             modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
             changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
    }
  };
  std::string path;
  File database, log;
  bool operator==(const StoreStamp& o) const { return path == o.path && database == o.database && log == o.log; }

  static File Of(const std::string& path) {
    File f;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return f;
    f = {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    return f;
  }
  static StoreStamp Now(const std::string& path) { return {path, Of(path), Of(path + "-wal")}; }
};

// Ids already read, kept while the store's stamp is unchanged: the indexer
// asks for every file it filters, and a stat of the two files costs much less
// than a read transaction. Readers share the lock.
class KnownIds {
 public:
  struct Known {
    std::string id;
    bool forced;
  };
  bool Find(const StoreStamp& now, const std::pair<std::string, std::string>& key, Known& known) {
    {
      std::shared_lock guard(m_lock);
      if (m_valid && now == m_stamp) {
        auto it = m_ids.find(key);
        if (it == m_ids.end()) return false;
        known = it->second;
        return true;
      }
    }
    std::unique_lock guard(m_lock);
    if (!m_valid || !(now == m_stamp)) {
      m_ids.clear();
      m_stamp = now;
      m_valid = true;
    }
    return false;
  }
  // What a read found, when the stamp is still the one it was read under:
  // the read saw the store at least as new as that stamp.
  void Keep(const StoreStamp& readUnder, std::pair<std::string, std::string> key, Known known) {
    const size_t limit = ZYT::GetLimit(u"ThumbnailIdCacheEntries", 65536);
    std::unique_lock guard(m_lock);
    if (!m_valid || !(readUnder == m_stamp) || limit == 0) return;
    if (m_ids.size() >= limit) m_ids.clear();
    m_ids.insert_or_assign(std::move(key), std::move(known));
  }
  // This process wrote: what is kept is read again under the next stamp.
  void Forget() {
    std::unique_lock guard(m_lock);
    m_ids.clear();
    m_valid = false;
  }

 private:
  std::shared_mutex m_lock;
  bool m_valid = false;
  StoreStamp m_stamp;
  std::map<std::pair<std::string, std::string>, Known> m_ids;
};

KnownIds& TheKnownIds() {
  static auto* ids = new KnownIds;
  return *ids;
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
    const std::string databasePath = DatabasePath();
    const StoreStamp stamp = StoreStamp::Now(databasePath);
    KnownIds& ids = TheKnownIds();
    KnownIds::Known kept;
    auto key = std::make_pair(file, type);
    if (stamp.database.exists && ids.Find(stamp, key, kept) && (kept.forced || !forceThumbnail)) {
      *itemId = ZYT::CBstr(ZYT::Utf8ToWide(kept.id)).Detach();
      return S_OK;
    }
    Database& database = TheDatabase();
    std::lock_guard<std::mutex> guard(database.Lock());
    if (!database.Open(databasePath)) return HRESULT_FROM_WIN32(ERROR_CANTOPEN);
    {
      // Most files were seen before: a read answers them.
      Use known{database.select};
      sqlite3_bind_text(known.s, 1, file.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(known.s, 2, type.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(known.s) == SQLITE_ROW) {
        KnownIds::Known found{IdText(known.s), sqlite3_column_int(known.s, 1) != 0};
        ids.Keep(stamp, std::move(key), found);
        if (found.forced || !forceThumbnail) {
          *itemId = ZYT::CBstr(ZYT::Utf8ToWide(found.id)).Detach();
          return S_OK;
        }
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
    ids.Forget();
    if (sqlite3_step(upsert.s) != SQLITE_ROW) return HRESULT_FROM_WIN32(ERROR_CANTWRITE);
    *itemId = ZYT::CBstr(ZYT::Utf8ToWide(IdText(upsert.s))).Detach();
    return S_OK;
  });
}
