// The search index's store: what zytfilt index writes is what zytfilt search
// finds, and a database or query it cannot use is one clean error.
#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/indexer/Catalogs.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"
#include "tests/support/TestEnvironment.h"
#include "tools/zytfilt/IndexStore.h"

namespace {

using namespace ZYT::Index;

constexpr char16_t kSummary[] = u"{F29F85E0-4FF9-1068-AB91-08002B27B3D9}/";
constexpr char16_t kMail[] = u"{AA568EEC-E0E5-11CF-8FDA-00AA00A14F93}/";
constexpr char16_t kProduct[] = u"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}/";

std::vector<std::string> Paths(const std::vector<Hit>& hits) {
  std::vector<std::string> paths;
  for (const Hit& h : hits) paths.push_back(h.path);
  return paths;
}

class IndexStoreTest : public ZYT::Test::MachineTest {
 protected:
  std::string Db() const { return PathIn("catalog/sub/zytindex.db"); }

  // A song, a message and a plain text, as the filters give them.
  void PutCorpus(Store& store) {
    store.Begin();
    store.Put({"/m/song.mp3",
               {100, 1},
               "Summer Night Song Ada Ferry Folk",
               {{std::u16string(kSummary) + u"0x2", "\"River Song\""},
                {std::u16string(kSummary) + u"0x4", "\"Ada Ferry\""},
                {u"{D5CDD502-2E9C-101B-9397-08002B2CF9AE}/0x2", "\"Folk\""},
                {std::u16string(kProduct) + u"0xb", "\"River Song\""},  // the proxy's copy
                {std::u16string(kProduct) + u"0x3", "\"audio/mpeg\""},
                {std::u16string(kSummary) + u"0x5", "[\"summer\",\"night \\\"live\\\"\"]"},
                {std::u16string(kProduct) + u"0x13", "33"}}});
    store.Put({"/m/mail.eml",
               {200, 2},
               "Meet me by the river at noon. Bring the map.",
               {{std::u16string(kMail) + u"0x5", "\"Picnic plans\""},
                {std::u16string(kMail) + u"0x6", "\"Alice <alice@example.com>\""},
                {std::u16string(kMail) + u"To", "\"bob@example.org\""},
                {std::u16string(kProduct) + u"0x10", "\"Caf\\u00e9 feed\""}}});
    store.Put({"/m/notes.txt", {300, 3}, "river river river delta\nsecond chunk", {}});
    store.Commit();
  }
};

TEST_F(IndexStoreTest, RecordsReplacesAndForgetsFiles) {
  {
    Store store(Db(), true);
    PutCorpus(store);
    store.RecordRun({1700000000, 4, 3, 0, 0, 0});
  }
  struct stat st {};
  ASSERT_EQ(stat(Db().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(stat(PathIn("catalog/sub").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  Store store(Db(), false);  // what was committed outlives the writer
  EXPECT_EQ(store.Known(), (std::unordered_map<std::string, FileKey>{
                               {"/m/song.mp3", {100, 1}}, {"/m/mail.eml", {200, 2}}, {"/m/notes.txt", {300, 3}}}));

  // A changed file replaces its record: the old words are gone.
  store.Put({"/m/notes.txt", {301, 4}, "estuary", {}});
  EXPECT_EQ(Paths(store.Search("estuary", 10)), std::vector<std::string>{"/m/notes.txt"});
  EXPECT_EQ(Paths(store.Search("delta", 10)), std::vector<std::string>{});
  // A failed filter replaces the text too, and is remembered with its key.
  store.Begin();
  store.PutFailure({"/m/song.mp3", {101, 5}, "GetChunk", static_cast<HRESULT>(0x80004005)});
  store.PutFailure({"/m/bad.ogg", {7, 7}, "timeout", 0});
  store.PutFailure({"/m/bad2.ogg", {8, 8}, "timeout", 0});
  store.Commit();
  EXPECT_EQ(Paths(store.Search("ferry", 10)), std::vector<std::string>{});
  // A rolled-back transaction leaves nothing.
  store.Begin();
  store.Remove("/m/mail.eml");
  store.Rollback();
  store.Remove("/m/notes.txt");
  store.Remove("/m/never-seen");
  EXPECT_EQ(Paths(store.Search("estuary", 10)), std::vector<std::string>{});

  auto known = store.Known();
  EXPECT_EQ(known.size(), 4u);
  EXPECT_EQ(known["/m/song.mp3"], (FileKey{101, 5}));
  EXPECT_FALSE(known.count("/m/notes.txt"));

  store.RecordRun({1700000100, 2, 1, 1, 1, 3});
  Status status = store.GetStatus();
  EXPECT_EQ(status.files, 1);  // the mail
  EXPECT_EQ(status.failuresByStep, (std::unordered_map<std::string, int64_t>{{"GetChunk", 1}, {"timeout", 2}}));
  EXPECT_EQ(status.lastRun.startedAt, 1700000100);
  EXPECT_EQ(status.lastRun.failed, 3);
  ASSERT_EQ(stat(Db().c_str(), &st), 0);
  EXPECT_GE(status.databaseBytes, st.st_size);
}

TEST_F(IndexStoreTest, FindsByPropertyRanksAndMarks) {
  Store store(Db(), true);
  PutCorpus(store);
  struct Case {
    const char* query;
    std::vector<std::string> paths;
    bool ranked = false;  // paths in rank order, else in any order
  };
  const Case cases[] = {
      {"title:river", {"/m/song.mp3"}},
      {"ARTIST:ferry", {"/m/song.mp3"}},
      {"author:ada AND genre:folk", {"/m/song.mp3"}},
      {"category:folk", {"/m/song.mp3"}},
      {"type:audio/mpeg", {"/m/song.mp3"}},
      {"content-type:\"audio mpeg\"", {"/m/song.mp3"}},
      {"keywords:live", {"/m/song.mp3"}},
      {"from:alice@example.com", {"/m/mail.eml"}},
      {"to:bob", {"/m/mail.eml"}},
      {"subject:picnic", {"/m/mail.eml"}},
      {"other:cafe", {"/m/mail.eml"}},  // diacritics folded
      {"other:33", {}},                 // numbers of unmapped properties are dropped
      {"-{title author}: river", {"/m/notes.txt", "/m/mail.eml"}},
      {"text:song", {"/m/song.mp3"}},
      {"riv* NOT map", {"/m/song.mp3", "/m/notes.txt"}},
      {"NEAR(river noon, 3)", {"/m/mail.eml"}},
      {"river", {"/m/song.mp3", "/m/notes.txt", "/m/mail.eml"}, true},  // the title weighs most
  };
  for (const Case& c : cases) {
    std::vector<std::string> found = Paths(store.Search(c.query, 10)), expected = c.paths;
    if (!c.ranked) {
      std::sort(found.begin(), found.end());
      std::sort(expected.begin(), expected.end());
    }
    EXPECT_EQ(found, expected) << c.query;
  }
  std::vector<Hit> hits = store.Search("river", 2);
  ASSERT_EQ(hits.size(), 2u);
  EXPECT_LT(hits[0].rank, hits[1].rank);
  EXPECT_EQ(hits[0].title, "River Song");
  EXPECT_EQ(hits[1].title, "");
  EXPECT_EQ(hits[1].snippet, "[river] [river] [river] delta\nsecond chunk");
  hits = store.Search("from:alice", 1);
  ASSERT_EQ(hits.size(), 1u);
  EXPECT_NE(hits[0].snippet.find("[Alice]"), std::string::npos) << hits[0].snippet;
}

TEST_F(IndexStoreTest, QueriesItCannotReadAreErrors) {
  Store store(Db(), true);
  PutCorpus(store);
  for (const char* query : {"\"river", "NEAR(river", "nosuch:river", "{title nosuch}: x", "title:", "AND river",
                            "river OR", ")(", "NEAR(a b, x)", "^", "\"\"\"", "*"}) {
    try {
      store.Search(query, 10);
      ADD_FAILURE() << "no error for " << query;
    } catch (const QueryError& e) {
      EXPECT_EQ(e.query(), query);
      EXPECT_FALSE(e.reason().empty());
      EXPECT_NE(std::string(e.what()).find(Db()), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(store.Search("river", 10).size(), 3u);  // the store is still good
}

TEST_F(IndexStoreTest, DatabasesItCannotUseAreOneError) {
  WriteBytes(PathIn("text.db"), "this is not a database, just some words\n");
  ASSERT_EQ(mkdir(PathIn("folder.db").c_str(), 0700), 0);
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(PathIn("other.db").c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(x)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  const std::pair<std::string, bool> cases[] = {
      {"text.db", true}, {"folder.db", true}, {"other.db", true}, {"missing.db", false}};
  for (const auto& [name, create] : cases) {
    std::string path = PathIn(name);
    std::string before = Exists(path) && name != "folder.db" ? ReadBytes(path) : "";
    try {
      Store store(path, create);
      ADD_FAILURE() << name << " opened";
    } catch (const StoreError& e) {
      std::string what = e.what();
      EXPECT_EQ(what.rfind(path + ": ", 0), 0u) << what;
      EXPECT_EQ(what.find('\n'), std::string::npos) << what;
    }
    if (!before.empty()) {
      EXPECT_EQ(ReadBytes(path), before) << name << " was changed";
    }
  }
  EXPECT_FALSE(Exists(PathIn("missing.db")));
}

TEST_F(IndexStoreTest, DefaultCatalogLivesBesideTheRegistry) {
  std::string registry = ZYT::RegistryStorePath();
  std::string folder = registry.substr(0, registry.find_last_of('/')) + "/catalogs/System";
  ZYT::CatalogInfo looked = DefaultCatalog(false);
  EXPECT_EQ(looked.name, u"System");
  EXPECT_TRUE(ZYT::ListCatalogs().empty());  // looking adds nothing
  ZYT::CatalogInfo made = DefaultCatalog(true);
  EXPECT_EQ(ZYT::WideToUtf8(made.location), folder);
  EXPECT_EQ(DatabasePath(made), folder + "/zytindex.db");
  ASSERT_EQ(ZYT::ListCatalogs().size(), 1u);
  struct stat st {};
  ASSERT_EQ(stat(folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(DefaultCatalog(true).location, made.location);  // found, not added twice
  EXPECT_EQ(ZYT::ListCatalogs().size(), 1u);
}

}  // namespace
