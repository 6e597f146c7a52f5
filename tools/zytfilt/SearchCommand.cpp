// zytfilt search: the files of a catalog's index that match a query.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/indexer/FilterWalk.h"
#include "platform/win32/Strings.h"
#include "tools/zytfilt/Commands.h"
#include "tools/zytfilt/IndexStore.h"

namespace {

const char kSearchUsage[] =
    "usage: zytfilt search [--catalog NAME] [--json] [--limit N] [--] QUERY...\n"
    "Finds the files of a catalog's index (default: System) that match QUERY, best\n"
    "first (bm25), each with its path, title and the matched words in [ ].\n"
    "QUERY is FTS5 query syntax: words, \"phrases\", prefix*, AND OR NOT, NEAR(a b, N),\n"
    "and PROPERTY:value for title, author (artist), genre, subject, from, to,\n"
    "contenttype (type), keywords, text and other.\n"
    "  --json     one JSON object per hit and line: path, title, snippet, rank\n"
    "  --limit N  at most N hits (default 20)\n"
    "Exit status: 0 hits found, 1 none (or no index), 2 a query or argument it cannot read.\n";

int Fail(int code, const std::string& message) {
  std::fprintf(stderr, "zytfilt search: %s\n", message.c_str());
  return code;
}

bool EqualFolded(const std::u16string& a, const std::u16string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// A line of plain output: control characters (a newline in a file name, the
// breaks between a snippet's chunks) as C escapes or spaces, so that one hit
// stays on its lines.
std::string Printable(const std::string& text, bool escape) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 0x20 && c != 0x7f) {
      out += static_cast<char>(c);
    } else if (!escape) {
      if (out.empty() || out.back() != ' ') out += ' ';
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, c == '\n' ? "\\n" : c == '\t' ? "\\t" : "\\x%02x", c);
      out += esc;
    }
  }
  return out;
}

std::string Json(const std::string& bytes) { return ZYT::JsonString(ZYT::PosixNameToWide(bytes)); }

}  // namespace

int RunSearchCommand(const std::vector<std::string>& args) {
  std::string catalogName;
  bool json = false;
  size_t limit = 20;
  std::string query;
  bool options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options && (a == "--help" || a == "-h")) {
      std::fputs(kSearchUsage, stdout);
      return 0;
    }
    if (options && a == "--") {
      options = false;
    } else if (options && a == "--json") {
      json = true;
    } else if (options && (a == "--catalog" || a == "--limit")) {
      if (i + 1 >= args.size()) return Fail(2, a + " needs a value");
      const std::string& value = args[++i];
      if (a == "--catalog") {
        catalogName = value;
      } else {
        char* end = nullptr;
        errno = 0;
        unsigned long long n = std::strtoull(value.c_str(), &end, 10);
        if (value.empty() || *end || errno || n == 0 || value[0] == '-')
          return Fail(2, "--limit needs a number above 0, not '" + value + "'");
        limit = static_cast<size_t>(n);
      }
    } else if (options && a.size() > 2 && a.starts_with("--")) {
      return Fail(2, "unknown option '" + a + "' (see 'zytfilt search --help')");
    } else {
      if (!query.empty()) query += ' ';
      query += a;
    }
  }
  if (query.empty()) {
    std::fputs(kSearchUsage, stderr);
    return 2;
  }

  ZYT::CatalogInfo catalog;
  if (catalogName.empty()) {
    catalog = ZYT::Index::DefaultCatalog(false);
  } else {
    bool found = false;
    for (const ZYT::CatalogInfo& c : ZYT::ListCatalogs()) {
      if (EqualFolded(c.name, ZYT::Utf8ToWide(catalogName))) {
        catalog = c;
        found = true;
        break;
      }
    }
    if (!found) return Fail(1, "no catalog named '" + catalogName + "' (see 'zytfilt catalog list')");
  }
  const std::string name = ZYT::WideToUtf8(catalog.name);
  const std::string database = ZYT::Index::DatabasePath(catalog);
  if (database.empty()) return Fail(1, "the catalog " + name + " has no location for its index");
  struct stat st;
  if (stat(database.c_str(), &st) != 0 && errno == ENOENT)
    return Fail(1, "the catalog " + name + " has no index yet (" + database + "): run 'zytfilt index" +
                       (catalogName.empty() ? std::string() : " --catalog " + catalogName) + "'");

  std::vector<ZYT::Index::Hit> hits;
  try {
    ZYT::Index::Store store(database, false);
    hits = store.Search(query, limit);
  } catch (const ZYT::Index::QueryError& e) {
    return Fail(2, "cannot read the query '" + e.query() + "': " + e.reason());
  } catch (const ZYT::Index::StoreError& e) {
    return Fail(1, e.what());
  }
  if (hits.empty()) return 1;  // like grep: nothing found, nothing printed
  std::string out;
  for (const ZYT::Index::Hit& h : hits) {
    if (json) {
      char rank[32];
      std::snprintf(rank, sizeof rank, "%.6g", h.rank);
      out += "{\"path\":" + Json(h.path) + ",\"title\":" + Json(h.title) + ",\"snippet\":" + Json(h.snippet) +
             ",\"rank\":" + rank + "}\n";
    } else {
      out += Printable(h.path, true);
      if (!h.title.empty()) out += "  (" + Printable(h.title, false) + ")";
      out += "\n    " + Printable(h.snippet, false) + "\n";
    }
  }
  if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
    return Fail(1, std::string("cannot write the hits: ") + std::strerror(errno));
  return 0;
}
