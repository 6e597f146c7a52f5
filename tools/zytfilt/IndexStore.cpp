#include "tools/zytfilt/IndexStore.h"

#include <errno.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <thread>

#include "platform/win32/Limits.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"
#include "platform/win32/WinError.h"
#include "tools/zytfilt/SearchQuery.h"

namespace ZYT::Index {

namespace {

// The schema's mark in the meta table; another value is another program's
// database (or a later format) and is left alone.
constexpr char kFormat[] = "zytindex 1";

// The FTS5 table holds the text and the common properties, one row per file,
// its rowid the files row's id. It keeps its own copy of the content, which
// snippet() needs. Properties the filters give that have no column of their
// own go to "other" when they are text; numbers, dates and flags are dropped
// there, as nobody searches for a message size by a word. The prefix indexes
// (a fifth more space) keep "ri*" and "riv*" as fast as a word.
constexpr char kSchema[] = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE files(
  id INTEGER PRIMARY KEY,
  path TEXT NOT NULL UNIQUE,
  size INTEGER NOT NULL,
  ctime_ns INTEGER NOT NULL,
  status TEXT NOT NULL CHECK(status IN ('ok', 'failed')),
  step TEXT,
  hresult INTEGER,
  title TEXT);
CREATE VIRTUAL TABLE docs USING fts5(text, title, author, genre, subject, "from", "to", contenttype, keywords, other,
  tokenize = 'unicode61 remove_diacritics 2', prefix = '2 3');
CREATE TABLE runs(
  id INTEGER PRIMARY KEY,
  started_at INTEGER NOT NULL,
  seconds INTEGER NOT NULL,
  indexed INTEGER NOT NULL,
  unchanged INTEGER NOT NULL,
  removed INTEGER NOT NULL,
  failed INTEGER NOT NULL);
-- A word in a title or by an author says more than one in the text.
INSERT INTO docs(docs, rank) VALUES('rank', 'bm25(1.0, 10.0, 5.0, 3.0, 5.0, 3.0, 2.0, 1.0, 5.0, 1.0)');
)sql";

// The properties with a column, by the attribute text the walk gives them.
struct PropertyColumn {
  const char16_t* attribute;
  const char* column;
};
constexpr PropertyColumn kPropertyColumns[] = {
    // Summary information: the media tags, PDF and office documents, the
    // catalog proxy's keywords.
    {u"{F29F85E0-4FF9-1068-AB91-08002B27B3D9}/0x2", "title"},
    {u"{F29F85E0-4FF9-1068-AB91-08002B27B3D9}/0x3", "subject"},
    {u"{F29F85E0-4FF9-1068-AB91-08002B27B3D9}/0x4", "author"},
    {u"{F29F85E0-4FF9-1068-AB91-08002B27B3D9}/0x5", "keywords"},
    // Document summary information's category: the media tags' genre.
    {u"{D5CDD502-2E9C-101B-9397-08002B2CF9AE}/0x2", "genre"},
    // The mail filter's subject, sender and recipients.
    {u"{AA568EEC-E0E5-11CF-8FDA-00AA00A14F93}/0x5", "subject"},
    {u"{AA568EEC-E0E5-11CF-8FDA-00AA00A14F93}/0x6", "from"},
    {u"{AA568EEC-E0E5-11CF-8FDA-00AA00A14F93}/To", "to"},
    // The product's own set, as the item filters and the catalog proxy give it.
    {u"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}/0x3", "contenttype"},
    {u"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}/0x5", "subject"},
    {u"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}/0x7", "to"},
    {u"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}/0xb", "title"},
    {u"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}/0xc", "from"},
};

bool EqualFolded(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i] < 0x80 ? static_cast<char16_t>(std::tolower(a[i])) : a[i];
    char16_t y = b[i] < 0x80 ? static_cast<char16_t>(std::tolower(b[i])) : b[i];
    if (x != y) return false;
  }
  return true;
}

// The column of a property, or "other"; GUIDs and names are compared without
// regard to case.
int PropertyColumnOf(std::u16string_view attribute) {
  for (const PropertyColumn& p : kPropertyColumns)
    if (EqualFolded(attribute, p.attribute)) return ColumnOf(p.column);
  return ColumnOf("other");
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Four hex digits at text[i], or -1.
int32_t Hex4(std::string_view text, size_t i) {
  if (i + 4 > text.size()) return -1;
  int32_t v = 0;
  for (size_t k = 0; k < 4; ++k) {
    int d = HexDigit(text[i + k]);
    if (d < 0) return -1;
    v = v * 16 + d;
  }
  return v;
}

// The JSON string starting at json[i] (its opening quote), unescaped; i ends
// after its closing quote. A lone surrogate (a file name byte that is not
// UTF-8) becomes U+FFFD.
std::string JsonStringText(std::string_view json, size_t& i) {
  std::string out;
  ++i;
  while (i < json.size() && json[i] != '"') {
    char c = json[i++];
    if (c != '\\' || i >= json.size()) {
      out += c;
      continue;
    }
    char e = json[i++];
    switch (e) {
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'r':
        out += '\r';
        break;
      case 'b':
        out += '\b';
        break;
      case 'f':
        out += '\f';
        break;
      case 'u': {
        int32_t unit = Hex4(json, i);
        if (unit < 0) break;
        i += 4;
        uint32_t cp = static_cast<uint32_t>(unit);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < json.size() && json[i] == '\\' && json[i + 1] == 'u') {
          int32_t low = Hex4(json, i + 2);
          if (low >= 0xDC00 && low <= 0xDFFF) {
            cp = 0x10000 + ((static_cast<uint32_t>(unit) - 0xD800) << 10) + (static_cast<uint32_t>(low) - 0xDC00);
            i += 6;
          }
        }
        if (cp >= 0xD800 && cp <= 0xDFFF) cp = 0xFFFD;
        ZYT::AppendUtf8(out, cp);
        break;
      }
      default:
        out += e;  // \" \\ \/
    }
  }
  if (i < json.size()) ++i;
  return out;
}

// The words of a value: a string's text, an array's elements one per line,
// a number or flag as written, nothing for null.
std::string JsonValueText(std::string_view json, bool& isText) {
  isText = false;
  std::string out;
  for (size_t i = 0; i < json.size();) {
    char c = json[i];
    if (c == '"') {
      if (!out.empty()) out += '\n';
      out += JsonStringText(json, i);
      isText = true;
    } else if (c == '[' || c == ']' || c == ',' || c == ' ') {
      ++i;
    } else {
      size_t end = i;
      while (end < json.size() && json[end] != ',' && json[end] != ']') ++end;
      std::string_view word = json.substr(i, end - i);
      if (word != "null") {
        if (!out.empty()) out += '\n';
        out.append(word);
      }
      i = end;
    }
  }
  return out;
}

// Creates the missing folders of path's folder, private to the user.
bool MakeFolders(const std::string& path) {
  for (size_t pos = 1; pos < path.size(); ++pos) {
    if (path[pos] != '/') continue;
    if (mkdir(path.substr(0, pos).c_str(), 0700) != 0 && errno != EEXIST) return false;
  }
  return true;
}

class Statement {
 public:
  Statement() = default;
  explicit Statement(const char* sql) : sql_(sql) {}
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  int Prepare(sqlite3* db, const char* sql) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
    return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr);
  }
  int Prepare(sqlite3* db) { return Prepare(db, sql_); }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  const char* sql_ = nullptr;
  sqlite3_stmt* stmt_ = nullptr;
};

// A prepared statement's one use: bound, stepped, reset when it goes.
class Use {
 public:
  explicit Use(const Statement& s) : stmt_(s.get()) {}
  ~Use() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  Use& Bind(int i, int64_t v) {
    sqlite3_bind_int64(stmt_, i, v);
    return *this;
  }
  Use& Bind(int i, std::string_view v) {
    sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_STATIC);
    return *this;
  }
  Use& BindNull(int i) {
    sqlite3_bind_null(stmt_, i);
    return *this;
  }
  int Step() { return sqlite3_step(stmt_); }
  int64_t Int(int i) const { return sqlite3_column_int64(stmt_, i); }
  std::string Text(int i) const {
    auto p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
    return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, i))) : std::string();
  }

 private:
  sqlite3_stmt* stmt_;
};

}  // namespace

struct Store::Impl {
  std::string path;
  sqlite3* db = nullptr;
  // Prepared on first use: a search needs none of them.
  Statement findFile{"SELECT id FROM files WHERE path=?"};
  Statement insertFile{"INSERT INTO files(path,size,ctime_ns,status,step,hresult,title) VALUES(?,?,?,?,?,?,?)"};
  Statement updateFile{
      "UPDATE files SET path=?1,size=?2,ctime_ns=?3,status=?4,step=?5,hresult=?6,title=?7 WHERE id=?8"};
  Statement deleteFile{"DELETE FROM files WHERE id=?"};
  Statement insertDoc{
      "INSERT INTO docs(rowid,text,title,author,genre,subject,\"from\",\"to\",contenttype,keywords,other) "
      "VALUES(?,?,?,?,?,?,?,?,?,?,?)"};
  Statement deleteDoc{"DELETE FROM docs WHERE rowid=?"};
  Statement known{"SELECT path,size,ctime_ns FROM files"};
  Statement insertRun{"INSERT INTO runs(started_at,seconds,indexed,unchanged,removed,failed) VALUES(?,?,?,?,?,?)"};

  ~Impl() { sqlite3_close_v2(db); }

  Statement& Ready(Statement& statement) {
    if (!statement.get() && statement.Prepare(db) != SQLITE_OK) Fail("is not an index database of this format");
    return statement;
  }

  [[noreturn]] void Fail(const std::string& what) const {
    bool sqliteError = db && sqlite3_errcode(db) != SQLITE_OK;
    throw StoreError(path + ": " + what + (sqliteError ? std::string(": ") + sqlite3_errmsg(db) : std::string()));
  }
  void Check(int rc, const char* what) const {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) Fail(what);
  }
  void Exec(const char* sql, const char* what) const { Check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), what); }

  // Runs fn inside a savepoint, so that a half-written record never stays,
  // whether or not the caller has begun a transaction.
  template <class Fn>
  void Atomically(Fn&& fn) {
    Exec("SAVEPOINT put", "cannot write");
    try {
      fn();
    } catch (...) {
      sqlite3_exec(db, "ROLLBACK TO put; RELEASE put", nullptr, nullptr, nullptr);
      throw;
    }
    Exec("RELEASE put", "cannot write");
  }

  // The files row of path, or 0.
  int64_t FileId(const std::string& file) {
    Use q(Ready(findFile));
    int rc = q.Bind(1, file).Step();
    if (rc == SQLITE_ROW) return q.Int(0);
    Check(rc, "cannot read");
    return 0;
  }

  // Writes the files row of path (a new one, or the old one's id kept) and
  // drops the old row's text.
  int64_t WriteFile(const std::string& file, const FileKey& key, const char* status, const Failure* failure,
                    const std::string* title) {
    int64_t id = FileId(file);
    if (id) {
      Use d(Ready(deleteDoc));
      Check(d.Bind(1, id).Step(), "cannot write");
    }
    Use q(Ready(id ? updateFile : insertFile));
    q.Bind(1, file).Bind(2, key.size).Bind(3, key.ctimeNs).Bind(4, std::string_view(status));
    if (failure) {
      q.Bind(5, failure->step).Bind(6, static_cast<int64_t>(static_cast<uint32_t>(failure->hr)));
    } else {
      q.BindNull(5).BindNull(6);
    }
    if (title && !title->empty())
      q.Bind(7, *title);
    else
      q.BindNull(7);
    if (id) q.Bind(8, id);
    Check(q.Step(), "cannot write");
    return id ? id : sqlite3_last_insert_rowid(db);
  }
};

Store::Store(const std::string& databasePath, bool create) : impl_(std::make_unique<Impl>()) {
  Impl& s = *impl_;
  s.path = databasePath;
  if (databasePath.empty()) throw StoreError("the catalog has no location for its index database");
  struct stat st;
  if (stat(databasePath.c_str(), &st) == 0) {
    // A FIFO or device would block SQLite or feed it endless bytes.
    if (!S_ISREG(st.st_mode)) s.Fail("is not an index database (not a regular file)");
  } else if (errno != ENOENT) {
    s.Fail(std::string("cannot be read: ") + std::strerror(errno));
  } else if (!create) {
    s.Fail("no index yet");
  } else {
    // Made here, not by SQLite, so that it is private from the start; its
    // log files take the same mode.
    if (!MakeFolders(databasePath)) s.Fail(std::string("cannot create its folder: ") + std::strerror(errno));
    int fd = open(databasePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) s.Fail(std::string("cannot be created: ") + std::strerror(errno));
    if (fd >= 0) close(fd);
  }
  int rc = sqlite3_open_v2(databasePath.c_str(), &s.db,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_NOFOLLOW, nullptr);
  if (rc != SQLITE_OK) s.Fail("cannot be opened");
  // A writer holds the database for one transaction at a time; a reader or a
  // second writer waits for it this long.
  const DWORD busyMs = std::clamp<DWORD>(ZYT::GetLimit(u"IndexBusyTimeoutMs", 30000), 100, 600000);
  sqlite3_busy_timeout(s.db, static_cast<int>(busyMs));

  auto readFormat = [&](std::string& format) {
    Statement q;
    int rc2 = q.Prepare(s.db,
                        "SELECT (SELECT count(*) FROM sqlite_master WHERE name NOT LIKE 'sqlite_%'),"
                        "(SELECT count(*) FROM sqlite_master WHERE type='table' AND name='meta')");
    if (rc2 != SQLITE_OK) return rc2;
    Use u(q);
    rc2 = u.Step();
    if (rc2 != SQLITE_ROW) return rc2;
    int64_t objects = u.Int(0), meta = u.Int(1);
    format = objects == 0 ? "" : "?";
    if (!meta) return SQLITE_OK;
    Statement f;
    if ((rc2 = f.Prepare(s.db, "SELECT value FROM meta WHERE key='format'")) != SQLITE_OK) return rc2;
    Use v(f);
    if (v.Step() == SQLITE_ROW) format = v.Text(0);
    return SQLITE_OK;
  };
  auto badDatabase = [&](int code) {
    int primary = code & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT || primary == SQLITE_FORMAT;
  };
  std::string format;
  rc = readFormat(format);
  if (badDatabase(rc)) s.Fail("is not an index database");
  if (rc != SQLITE_OK) s.Fail("cannot be read");
  if (format.empty()) {
    if (!create) s.Fail("holds no index yet");
    // Made under the write lock, so that two new writers do not race.
    s.Exec("BEGIN IMMEDIATE", "cannot be written");
    rc = readFormat(format);
    if (rc == SQLITE_OK && format.empty()) {
      rc = sqlite3_exec(s.db, kSchema, nullptr, nullptr, nullptr);
      if (rc == SQLITE_OK)
        rc = sqlite3_exec(s.db, (std::string("INSERT INTO meta VALUES('format', '") + kFormat + "')").c_str(), nullptr,
                          nullptr, nullptr);
      format = kFormat;
    }
    if (rc != SQLITE_OK) {
      std::string why = sqlite3_errmsg(s.db);
      sqlite3_exec(s.db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw StoreError(databasePath + ": cannot make the index: " + why);
    }
    s.Exec("COMMIT", "cannot make the index");
  }
  if (format != kFormat) {
    sqlite3_close_v2(s.db);
    s.db = nullptr;
    s.Fail(format == "?" ? "is not an index database (it holds other tables)"
                         : "is an index of another format ('" + format + "')");
  }
  if (create && sqlite3_db_readonly(s.db, "main") != 1) {
    // The writer keeps the database in WAL mode (which stays with the file),
    // so that readers go on while it writes. Switching to WAL needs the file
    // to itself: another process opening it at the same moment holds it
    // briefly, which the busy handler does not cover.
    for (int attempt = 0;; ++attempt) {
      Statement q;
      rc = q.Prepare(s.db, "PRAGMA journal_mode=WAL");
      std::string mode;
      if (rc == SQLITE_OK) {
        Use u(q);
        rc = u.Step();
        if (rc == SQLITE_ROW) {
          mode = u.Text(0);
          rc = SQLITE_OK;
        }
      }
      if (rc == SQLITE_OK && mode == "wal") break;
      if (rc != SQLITE_OK && (rc & 0xff) != SQLITE_BUSY && (rc & 0xff) != SQLITE_LOCKED) s.Fail("cannot be opened");
      if (attempt == 500) s.Fail("cannot be opened: another process holds it");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    s.Exec("PRAGMA synchronous=NORMAL", "cannot be opened");
    // FTS5 reads back the segments it merges: with SQLite's 2 MB page cache
    // most of those reads go to the file again.
    const DWORD cacheMb = std::clamp<DWORD>(ZYT::GetLimit(u"IndexCacheMB", 64), 2, 1024);
    s.Exec(("PRAGMA cache_size=-" + std::to_string(cacheMb * 1024)).c_str(), "cannot be opened");
  }
}

Store::~Store() = default;

const std::string& Store::DatabasePath() const { return impl_->path; }

std::unordered_map<std::string, FileKey> Store::Known() {
  Impl& s = *impl_;
  std::unordered_map<std::string, FileKey> known;
  Use q(s.Ready(s.known));
  int rc;
  while ((rc = q.Step()) == SQLITE_ROW) known[q.Text(0)] = FileKey{q.Int(1), q.Int(2)};
  s.Check(rc, "cannot read");
  return known;
}

void Store::Begin() { impl_->Exec("BEGIN IMMEDIATE", "cannot begin a transaction"); }
void Store::Commit() { impl_->Exec("COMMIT", "cannot commit"); }
void Store::Rollback() {
  if (!sqlite3_get_autocommit(impl_->db)) impl_->Exec("ROLLBACK", "cannot roll back");
}

void Store::Put(const Document& document) {
  Impl& s = *impl_;
  std::array<std::string, kColumnCount> columns;
  columns[0] = document.text;
  const int otherColumn = ColumnOf("other");
  for (const Property& p : document.properties) {
    int column = PropertyColumnOf(p.attribute);
    bool isText = false;
    std::string text = JsonValueText(p.valueJson, isText);
    if (text.empty() || (column == otherColumn && !isText)) continue;
    // The catalog proxy repeats a value its native filter gave (a title
    // under two sets): once is enough for the index.
    std::string& into = columns[column];
    bool repeated = into == text || into.starts_with(text + '\n') ||
                    into.find('\n' + text + '\n') != std::string::npos || into.ends_with('\n' + text);
    if (repeated) continue;
    if (!into.empty()) into += '\n';
    into += text;
  }
  const std::string& titles = columns[ColumnOf("title")];
  std::string title = titles.substr(0, titles.find('\n'));
  s.Atomically([&] {
    int64_t id = s.WriteFile(document.path, document.key, "ok", nullptr, &title);
    Use q(s.Ready(s.insertDoc));
    q.Bind(1, id);
    for (size_t i = 0; i < kColumnCount; ++i) q.Bind(static_cast<int>(i) + 2, columns[i]);
    s.Check(q.Step(), "cannot write");
  });
}

void Store::PutFailure(const Failure& failure) {
  Impl& s = *impl_;
  s.Atomically([&] { s.WriteFile(failure.path, failure.key, "failed", &failure, nullptr); });
}

void Store::Remove(const std::string& path) {
  Impl& s = *impl_;
  s.Atomically([&] {
    int64_t id = s.FileId(path);
    if (!id) return;
    Use d(s.Ready(s.deleteDoc));
    s.Check(d.Bind(1, id).Step(), "cannot write");
    Use f(s.Ready(s.deleteFile));
    s.Check(f.Bind(1, id).Step(), "cannot write");
  });
}

void Store::RecordRun(const RunSummary& run) {
  Impl& s = *impl_;
  Use q(s.Ready(s.insertRun));
  q.Bind(1, run.startedAt).Bind(2, run.seconds).Bind(3, run.indexed).Bind(4, run.unchanged).Bind(5, run.removed);
  q.Bind(6, run.failed);
  s.Check(q.Step(), "cannot write");
}

Status Store::GetStatus() {
  Impl& s = *impl_;
  Status status;
  Statement counts;
  s.Check(counts.Prepare(s.db, "SELECT status, coalesce(step, ''), count(*) FROM files GROUP BY 1, 2"), "cannot read");
  {
    Use q(counts);
    int rc;
    while ((rc = q.Step()) == SQLITE_ROW) {
      if (q.Text(0) == "ok")
        status.files += q.Int(2);
      else
        status.failuresByStep[q.Text(1)] += q.Int(2);
    }
    s.Check(rc, "cannot read");
  }
  Statement last;
  s.Check(last.Prepare(s.db,
                       "SELECT started_at,seconds,indexed,unchanged,removed,failed FROM runs ORDER BY id DESC LIMIT 1"),
          "cannot read");
  {
    Use q(last);
    int rc = q.Step();
    if (rc == SQLITE_ROW)
      status.lastRun = RunSummary{q.Int(0), q.Int(1), q.Int(2), q.Int(3), q.Int(4), q.Int(5)};
    else
      s.Check(rc, "cannot read");
  }
  for (const char* suffix : {"", "-wal"}) {
    struct stat st;
    if (stat((s.path + suffix).c_str(), &st) == 0) status.databaseBytes += st.st_size;
  }
  return status;
}

std::vector<Hit> Store::Search(const std::string& query, size_t limit) {
  Impl& s = *impl_;
  std::string match;
  try {
    match = TranslateQuery(query);
  } catch (const UnknownProperty& e) {
    throw QueryError(s.path, query, e.what());
  }
  Statement q;
  s.Check(q.Prepare(s.db,
                    "SELECT f.path, coalesce(f.title, ''), snippet(docs, -1, '[', ']', '...', 16), rank "
                    "FROM docs JOIN files f ON f.id = docs.rowid WHERE docs MATCH ?1 ORDER BY rank LIMIT ?2"),
          "cannot search");
  Use u(q);
  u.Bind(1, match).Bind(2, static_cast<int64_t>(std::min<size_t>(limit, INT64_MAX)));
  std::vector<Hit> hits;
  int rc;
  while ((rc = u.Step()) == SQLITE_ROW)
    hits.push_back(Hit{u.Text(0), u.Text(1), u.Text(2), sqlite3_column_double(q.get(), 3)});
  // FTS5 reports what it cannot parse (and a column it does not have) as a
  // plain error; anything else is the database's.
  if (rc == SQLITE_ERROR) throw QueryError(s.path, query, sqlite3_errmsg(s.db));
  s.Check(rc, "cannot search");
  return hits;
}

std::string DatabasePath(const CatalogInfo& catalog) {
  std::string folder;
  DWORD error = ERROR_SUCCESS;
  if (catalog.location.empty()) return std::string();
  if (!ZYT::MapToPosixPath(catalog.location, folder, error)) folder = ZYT::WideToUtf8(catalog.location);
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder + "/zytindex.db";
}

CatalogInfo DefaultCatalog(bool create) {
  for (const CatalogInfo& c : ZYT::ListCatalogs())
    if (EqualFolded(c.name, u"System")) return c;
  CatalogInfo catalog;
  catalog.name = u"System";
  catalog.machine = u".";
  std::string registry = ZYT::RegistryStorePath();
  size_t slash = registry.find_last_of('/');
  std::string folder = (slash == std::string::npos ? std::string(".") : registry.substr(0, slash)) + "/catalogs/System";
  catalog.location = ZYT::PosixNameToWide(folder);
  if (create) {
    if (!MakeFolders(folder + "/"))
      throw StoreError(folder + ": cannot create the catalog's folder: " + std::strerror(errno));
    LONG rc = ZYT::AddCatalog(catalog);
    if (rc != ERROR_SUCCESS)
      throw StoreError(ZYT::RegistryStorePath() + ": cannot add the catalog System (error " + std::to_string(rc) + ")");
  }
  return catalog;
}

}  // namespace ZYT::Index
