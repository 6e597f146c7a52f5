// libFuzzer target: a user's search query turned into FTS5 syntax, and the
// result run against an index table the way zytfilt search runs it.
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/zytfilt/SearchQuery.h"

namespace {

sqlite3_stmt* Statement() {
  static sqlite3_stmt* stmt = [] {
    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    sqlite3_exec(db,
                 "CREATE VIRTUAL TABLE docs USING fts5(text, title, author, genre, subject, \"from\", \"to\", "
                 "contenttype, keywords, other, tokenize = 'unicode61 remove_diacritics 2');"
                 "INSERT INTO docs VALUES('the river at noon', 'River Song', 'Ada', 'Folk', 'picnic', "
                 "'alice@example.com', 'bob', 'audio/mpeg', 'summer', 'caf\xc3\xa9');",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt* s = nullptr;
    sqlite3_prepare_v2(db, "SELECT snippet(docs, -1, '[', ']', '...', 16), rank FROM docs WHERE docs MATCH ?", -1, &s,
                       nullptr);
    return s;
  }();
  return stmt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view query(reinterpret_cast<const char*>(data), size);
  std::string match;
  try {
    match = ZYT::Index::TranslateQuery(query);
  } catch (const ZYT::Index::UnknownProperty&) {
    return 0;
  }
  // Quotes and longer column names at most triple it; the result is a normal
  // form, which a second pass leaves as it is.
  if (match.size() > 3 * size + 2) __builtin_trap();
  if (ZYT::Index::TranslateQuery(match) != match) __builtin_trap();
  sqlite3_stmt* stmt = Statement();
  sqlite3_bind_text(stmt, 1, match.data(), static_cast<int>(match.size()), SQLITE_STATIC);
  while (sqlite3_step(stmt) == SQLITE_ROW) {
  }
  sqlite3_reset(stmt);
  return 0;
}
