#include "components/ThumbnailService.h"

#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
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

struct Db {
  sqlite3* db = nullptr;
  ~Db() { sqlite3_close(db); }
};

struct Stmt {
  sqlite3_stmt* s = nullptr;
  ~Stmt() { sqlite3_finalize(s); }
};

}  // namespace

HRESULT CThumbnailService::ItemId(BSTR path, BSTR catalogType, LONG forceThumbnail, BSTR* itemId) {
  return ZYT::ComBoundary("ItemId", [&]() -> HRESULT {
    if (!itemId) return E_POINTER;
    *itemId = nullptr;
    std::string file = ZYT::WideToUtf8(path ? path : u""), type = ZYT::WideToUtf8(catalogType ? catalogType : u"");
    if (file.empty()) return E_INVALIDARG;
    std::string dbPath = DatabasePath();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(dbPath).parent_path(), ec);
    Db db;
    if (sqlite3_open(dbPath.c_str(), &db.db) != SQLITE_OK) return HRESULT_FROM_WIN32(ERROR_CANTOPEN);
    sqlite3_busy_timeout(db.db, 10000);
    sqlite3_exec(db.db,
                 "CREATE TABLE IF NOT EXISTS items(path TEXT NOT NULL, type TEXT NOT NULL, id TEXT NOT NULL,"
                 " forced INTEGER NOT NULL DEFAULT 0, PRIMARY KEY(path, type))",
                 nullptr, nullptr, nullptr);
    GUID fresh{};
    CoCreateGuid(&fresh);
    std::string candidate = ZYT::WideToUtf8(ZYT::GuidToString(fresh));
    // One statement: the first id given for the pair stays; a forced thumbnail is remembered.
    Stmt upsert;
    if (sqlite3_prepare_v2(db.db,
                           "INSERT INTO items(path,type,id,forced) VALUES(?1,?2,?3,?4) ON CONFLICT(path,type) DO "
                           "UPDATE SET forced=max(forced,excluded.forced) RETURNING id",
                           -1, &upsert.s, nullptr) != SQLITE_OK)
      return HRESULT_FROM_WIN32(ERROR_BADDB);
    sqlite3_bind_text(upsert.s, 1, file.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(upsert.s, 2, type.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(upsert.s, 3, candidate.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(upsert.s, 4, forceThumbnail ? 1 : 0);
    if (sqlite3_step(upsert.s) != SQLITE_ROW) return HRESULT_FROM_WIN32(ERROR_CANTWRITE);
    const char* id = reinterpret_cast<const char*>(sqlite3_column_text(upsert.s, 0));
    *itemId = ZYT::CBstr(ZYT::Utf8ToWide(id ? id : "")).Detach();
    return S_OK;
  });
}
