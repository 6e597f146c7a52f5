// The search index of one catalog: an SQLite database with an FTS5 table of
// each file's text and common properties. One writer (zytfilt index) keeps it
// in step with the catalog's folders; zytfilt search reads it.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/indexer/Catalogs.h"
#include "platform/win32/WinTypes.h"

namespace ZYT::Index {

// Every failure of the store: what() is one line naming the database file.
class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A query that the store cannot read: what() names the database file too.
class QueryError : public StoreError {
 public:
  QueryError(const std::string& databasePath, std::string query, std::string reason)
      : StoreError(databasePath + ": cannot read the query '" + query + "': " + reason),
        query_(std::move(query)),
        reason_(std::move(reason)) {}
  const std::string& query() const { return query_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string query_, reason_;
};

// What tells a file unchanged since it was recorded.
struct FileKey {
  int64_t size = 0;
  int64_t ctimeNs = 0;  // st_ctim in nanoseconds
  bool operator==(const FileKey&) const = default;
};

// One value chunk as the walk gave it.
struct Property {
  std::u16string attribute;  // AttributeText: "{GUID}/0x<propid>" or "{GUID}/name"
  std::string valueJson;     // ValueJson of the value
};

struct Document {
  std::string path;  // absolute
  FileKey key;
  std::string text;  // the text chunks, UTF-8, one "\n" between chunks
  std::vector<Property> properties;
};

// A file whose filter failed: not retried until its key changes.
struct Failure {
  std::string path;
  FileKey key;
  std::string step;  // "Load", "Init", "GetChunk", "GetText", "GetValue", "timeout", "crash", "open"
  HRESULT hr = 0;    // 0 for timeout and crash
};

struct Hit {
  std::string path;
  std::string title;    // empty when the file has none
  std::string snippet;  // matched words between "[" and "]"
  double rank = 0;      // bm25: smaller is better
};

struct RunSummary {
  int64_t startedAt = 0;  // seconds since the epoch
  int64_t seconds = 0;
  int64_t indexed = 0, unchanged = 0, removed = 0, failed = 0;
};

struct Status {
  int64_t files = 0;  // indexed, not failed
  std::unordered_map<std::string, int64_t> failuresByStep;
  int64_t databaseBytes = 0;
  RunSummary lastRun;  // startedAt 0 when never run
};

class Store {
 public:
  // Opens the database, creating it (file 0600, folder 0700) when create is set.
  Store(const std::string& databasePath, bool create);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  const std::string& DatabasePath() const;

  // Every recorded path (indexed or failed) with its key.
  std::unordered_map<std::string, FileKey> Known();

  // Writes happen between Begin and Commit; a process killed in between loses
  // that transaction only.
  void Begin();
  void Commit();
  void Rollback();
  void Put(const Document& document);  // replaces the path's earlier record
  void PutFailure(const Failure& failure);
  void Remove(const std::string& path);
  void RecordRun(const RunSummary& run);

  Status GetStatus();

  // FTS5 query syntax on the text, plus property:value terms (title, author,
  // artist, genre, subject, from, to, contenttype, keywords); ranked by bm25.
  // A query the store cannot parse throws StoreError naming the query.
  std::vector<Hit> Search(const std::string& query, size_t limit);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The database of a catalog: a file in the catalog's location ("zytindex.db");
// empty when the catalog has no location.
std::string DatabasePath(const CatalogInfo& catalog);

// The catalog that FOLDER... arguments and a search without --catalog use:
// "System". With create set and no such catalog, it is added, its location a
// folder "catalogs/System" beside the registry file (0700).
CatalogInfo DefaultCatalog(bool create);

}  // namespace ZYT::Index
