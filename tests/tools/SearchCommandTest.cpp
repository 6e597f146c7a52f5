// zytfilt search as a person runs it: hits on stdout, one line on stderr for
// what it cannot do, and grep's exit codes.
#include <algorithm>

#include "platform/indexer/Catalogs.h"
#include "platform/win32/Strings.h"
#include "tests/support/ZytfiltMachine.h"
#include "tools/zytfilt/IndexStore.h"

namespace {

using namespace ZYT::Index;

class SearchCommandTest : public ZYT::Test::ZytfiltMachineTest {};

TEST_F(SearchCommandTest, PrintsHitsAndFailsLikeGrep) {
  ZYT::CatalogInfo music{u"Music", PathInW("music-index"), u".", {PathInW("music")}};
  ASSERT_EQ(ZYT::AddCatalog(music), 0);
  {
    Store store(DatabasePath(music), true);
    store.Put({"/m/song.mp3",
               {1, 1},
               "Summer night by the river",
               {{u"{F29F85E0-4FF9-1068-AB91-08002B27B3D9}/0x2", "\"River Song\""}}});
    store.Put({"/m/odd\nname.txt", {2, 2}, "a river\tunder\na bridge", {}});
  }
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out;  // exact
    std::string err;  // the start of its one line, or empty for none
  };
  const Case cases[] = {
      {{"--catalog", "music", "title:river"}, 0, "/m/song.mp3  (River Song)\n    [River] Song\n", ""},
      {{"--catalog", "Music", "--", "bridge"}, 0, "/m/odd\\nname.txt\n    a river under a [bridge]\n", ""},
      {{"--catalog", "Music", "--limit", "1", "river"},
       0,
       "/m/song.mp3  (River Song)\n    Summer night by the [river]\n",
       ""},
      {{"--catalog", "Music", "--json", "bridge"},
       0,
       "{\"path\":\"/m/odd\\nname.txt\",\"title\":\"\",\"snippet\":\"a river\\tunder\\na [bridge]\",\"rank\":",
       ""},
      {{"--catalog", "Music", "estuary"}, 1, "", ""},
      {{"--catalog", "Music", "\"river"},
       2,
       "",
       "zytfilt search: cannot read the query '\"river': unterminated string"},
      {{"--catalog", "Music", "colour:red"},
       2,
       "",
       "zytfilt search: cannot read the query 'colour:red': unknown property"},
      {{"--catalog", "Films", "river"}, 1, "", "zytfilt search: no catalog named 'Films'"},
      {{"river"}, 1, "", "zytfilt search: the catalog System has no index yet ("},
      {{"--limit", "0", "river"}, 2, "", "zytfilt search: --limit needs a number above 0"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{"search"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    ZYT::Test::ProcessResult r = Zytfilt(args);
    std::string label = c.args.back();
    EXPECT_EQ(r.status, c.status) << label << ": " << r.err;
    if (std::find(c.args.begin(), c.args.end(), "--json") != c.args.end()) {
      EXPECT_EQ(r.out.substr(0, c.out.size()), c.out) << label;
      EXPECT_EQ(ZYT::Test::Lines(r.out).size(), 1u) << r.out;
    } else {
      EXPECT_EQ(r.out, c.out) << label;
    }
    if (c.err.empty()) {
      EXPECT_EQ(r.err, "") << label;
    } else {
      EXPECT_EQ(r.err.substr(0, c.err.size()), c.err) << label;
      EXPECT_EQ(ZYT::Test::Lines(r.err).size(), 1u) << r.err;
    }
  }
  ZYT::Test::ProcessResult list = Zytfilt({"catalog", "list"});
  EXPECT_NE(list.out.find("Music\t.\t" + PathIn("music-index") + "\t" + PathIn("music-index") + "/zytindex.db\t" +
                          PathIn("music") + "\n"),
            std::string::npos)
      << list.out;
}

}  // namespace
