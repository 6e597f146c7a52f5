// Hostile ZIP archives through the archive filter as the indexer drives it:
// whatever an archive claims, nothing is written outside the extract folder,
// the disk used at any moment stays under the member limit, the walk ends
// (within the indexer's budget when one is set), and nothing is left after
// the filter's release.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/archive/ArchiveTestMachine.h"

namespace ZYT::Test {
namespace {

using ZYT::ComPtr;

// Watches the temporary folder while a filter runs: the most bytes its
// files held at once, and every name that appeared in it other than an
// extract folder.
class CDiskWatch {
 public:
  explicit CDiskWatch(std::string folder) : m_folder(std::move(folder)), m_thread([this] { Run(); }) {}
  ~CDiskWatch() { Stop(); }
  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
  }
  uint64_t Peak() const { return m_peak; }
  const std::set<std::string>& Strangers() const { return m_strangers; }

 private:
  uint64_t Bytes(const std::string& dir) {
    uint64_t total = 0;
    std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
    if (!d) return 0;
    while (dirent* e = readdir(d.get())) {
      std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      struct stat st;
      if (lstat((dir + "/" + name).c_str(), &st) != 0) continue;
      if (dir == m_folder && name.rfind("arc", 0) != 0) m_strangers.insert(name);
      total += S_ISDIR(st.st_mode) ? Bytes(dir + "/" + name) : static_cast<uint64_t>(st.st_blocks) * 512;
    }
    return total;
  }
  void Run() {
    while (!m_stop) {
      m_peak = std::max(m_peak, Bytes(m_folder));
      usleep(500);
    }
  }
  std::string m_folder;
  std::atomic<bool> m_stop{false};
  uint64_t m_peak = 0;
  std::set<std::string> m_strangers;
  std::thread m_thread;
};

class ArchiveHostileTest : public ArchiveMachineTest {
 protected:
  ArchiveHostileTest() : ArchiveMachineTest(120) {}
  void SetUp() override {
    ArchiveMachineTest::SetUp();
    mkdir(PathIn("outside").c_str(), 0700);
    mkdir(PathIn("tmp").c_str(), 0700);
  }
  // Walks the archive; checks everything the suite promises for every archive.
  WalkResult WalkHostile(const std::string& zip, uint64_t diskBound, bool opens = true) {
    const std::vector<std::string> before = TreeOf(TempDir());
    WriteBytes(PathIn("hostile.zip"), zip);
    WalkResult r;
    CDiskWatch watch(PathIn("tmp"));
    {
      ComPtr<IFilter> filter;
      EXPECT_EQ(LoadIFilter(PathInW("hostile.zip").c_str(), nullptr, filter.put_void()), S_OK);
      if (!filter) return r;
      if (opens) {
        DriveOptions options = ArchiveDrive();
        options.checkReinit = false;
        r = DriveFilter(filter.get(), options);
        EXPECT_TRUE(ObeysProtocol(r));
        EXPECT_EQ(r.end, FILTER_E_END_OF_CHUNKS);
      } else {
        ULONG flags = 0;
        EXPECT_EQ(filter->Init(0, 0, nullptr, &flags), E_FAIL);
      }
    }
    watch.Stop();
    EXPECT_LE(watch.Peak(), diskBound) << "the extract folder held more than the limits allow";
    EXPECT_EQ(watch.Strangers(), std::set<std::string>{}) << "written beside the extract folder";
    EXPECT_EQ(TreeOf(PathIn("tmp")), std::vector<std::string>{}) << "left behind after release";
    EXPECT_EQ(TreeOf(PathIn("outside")), std::vector<std::string>{}) << "written outside the extract folder";
    std::vector<std::string> after = TreeOf(TempDir());
    std::erase(after, "hostile.zip");
    std::vector<std::string> expected = before;
    std::erase(expected, "hostile.zip");
    // The registry's journal comes and goes with its writes.
    std::erase_if(after, [](const std::string& p) { return p.find("registry.db") == 0; });
    std::erase_if(expected, [](const std::string& p) { return p.find("registry.db") == 0; });
    EXPECT_EQ(after, expected) << "a file appeared outside the extract folder";
    return r;
  }
  static bool HasName(const WalkResult& r, const std::u16string& name) {
    for (const WalkedChunk& c : r.chunks)
      if (c.text == name + u"\n") return true;
    return false;
  }
  static constexpr uint64_t kSmallDisk = 1 << 20;
};

std::string Backslashed(std::string path) {
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

TEST_F(ArchiveHostileTest, ZipSlipNamesStayInTheExtractFolder) {
  const std::string outside = PathIn("outside");
  const std::vector<std::string> names = {
      "../slip1.txt", "..\\slip2.txt", "../../outside/slip3.txt", "..\\..\\outside\\slip4.txt",
      outside + "/slip5.txt",                     // absolute
      "Z:" + Backslashed(outside) + "\\slip6.txt",  // a drive that maps to /
      "C:\\slip7.txt", "/etc/slip8.txt", "dir/../../../slip9.txt"};
  std::vector<ZipEntry> entries;
  for (const std::string& name : names) entries.push_back({.name = name, .content = "planted by " + name});
  WalkResult r = WalkHostile(BuildZip(entries), kSmallDisk);
  for (int i = 1; i <= 9; ++i) {
    const std::string name = "slip" + std::to_string(i) + ".txt";
    EXPECT_TRUE(HasName(r, Utf8ToWide(name))) << name;
    EXPECT_FALSE(Exists(TempDir() + "/" + name) || Exists(outside + "/" + name)) << name;
  }
  EXPECT_FALSE(Exists("/etc/slip8.txt"));
  EXPECT_FALSE(Exists("/slip7.txt"));
}

TEST_F(ArchiveHostileTest, ALinkEntryIsNeverALinkAndNothingGoesThroughIt) {
  WalkResult r = WalkHostile(
      BuildZip({{.name = "link", .content = PathIn("outside"), .deflate = false, .unixMode = 0120777},
                {.name = "link/planted.txt", .content = "through the link"},
                {.name = "dev", .content = "", .deflate = false, .unixMode = 0060660},
                {.name = "after.txt", .content = "still taken"}}),
      kSmallDisk);
  EXPECT_TRUE(HasName(r, u"link"));
  EXPECT_TRUE(HasName(r, u"planted.txt"));
  EXPECT_TRUE(HasName(r, u"dev"));
  EXPECT_TRUE(HasName(r, u"after.txt"));
}

TEST_F(ArchiveHostileTest, DuplicateNamesAreEachTaken) {
  WalkResult r = WalkHostile(BuildZip({{.name = "dup.txt", .content = "one"},
                                       {.name = "dup.txt", .content = "two"},
                                       {.name = "DUP.txt", .content = "three"},
                                       {.name = "dup.txt/", .content = "", .deflate = false, .unixMode = 040755},
                                       {.name = "dup.txt", .content = "four"}}),
                             kSmallDisk);
  size_t names = 0;
  for (const WalkedChunk& c : r.chunks) names += c.text == u"dup.txt\n" || c.text == u"DUP.txt\n";
  EXPECT_EQ(names, 4u);
  EXPECT_NE(SummaryOf(r).find("Files: 4"), std::string::npos) << SummaryOf(r);
}

TEST_F(ArchiveHostileTest, OverlappingEntriesInflateOneAtATimeAndTheBudgetEndsThem) {
  // One compressed stream of 64 MiB of zeros and thousands of central
  // entries pointing at it: each declares 4 KB and would inflate to 64 MiB.
  SetLimit(u"MaxArchiveMemberMegabytes", 8);
  SetLimit(u"MaxArchiveMemberRatio", 100000);
  SetFilterIdleTimeout(61000);  // one second of budget
  std::vector<ZipEntry> entries{{.name = "bomb0", .content = std::string(64 << 20, '\0'), .declaredSize = 4096}};
  for (int i = 1; i < 5000; ++i) entries.push_back({.name = "bomb" + std::to_string(i), .sharesDataOf = 0});
  // 40 GB inflated in all: only the budget ends it.
  WalkResult r = WalkHostile(BuildZip(entries), (8 << 20) + (256 << 10));
  const std::string summary = SummaryOf(r);
  EXPECT_NE(summary.find("Orrery was unable to index some of the documents"), std::string::npos) << summary;
  EXPECT_NE(summary.find("out of 5000."), std::string::npos) << summary;
  EXPECT_LT(r.chunks.size(), 5000u) << "the budget ended the walk before the last entry";
}

TEST_F(ArchiveHostileTest, AMemberThatLiesAboutItsSizeIsCutAtTheLimit) {
  SetLimit(u"MaxArchiveMemberMegabytes", 1);
  SetLimit(u"MaxArchiveMemberRatio", 100000);
  WalkResult r = WalkHostile(BuildZip({{.name = "liar.txt", .content = std::string(48 << 20, 'a'), .declaredSize = 100},
                                       {.name = "honest.txt", .content = "honest"}}),
                             (1 << 20) + (256 << 10));
  EXPECT_TRUE(HasName(r, u"liar.txt"));
  EXPECT_TRUE(HasName(r, u"honest.txt"));
  EXPECT_NE(SummaryOf(r).find("Files: 2\\nSize: 0KB"), std::string::npos) << "the declared sizes are what is summed";
}

TEST_F(ArchiveHostileTest, TheRatioGuardCutsABombWithinTheSizeLimit) {
  // Default limits: 1 GiB a member, but no more than 100 times its compressed size.
  const std::string zeros(64 << 20, '\0');
  WalkResult r = WalkHostile(BuildZip({{.name = "zeros.bin", .content = zeros}}),
                             Deflate(zeros).size() * 100 + (1 << 20) + (256 << 10));
  EXPECT_TRUE(HasName(r, u"zeros.bin"));
}

TEST_F(ArchiveHostileTest, NestedArchivesStopAtTheNestingLimit) {
  SetLimit(u"MaxArchiveNesting", 3);
  // 42.zip in small: every level holds its inner level four times; the
  // innermost holds a member of 32 MiB of zeros.
  std::string level = BuildZip({{.name = "zeros-4.bin", .content = std::string(32 << 20, '\0')}});
  for (int depth = 3; depth >= 0; --depth) {
    std::vector<ZipEntry> copies;
    for (char c : std::string("abcd"))
      copies.push_back({.name = "level" + std::to_string(depth + 1) + c + ".zip", .content = level, .deflate = false});
    level = BuildZip(copies);
  }
  WalkResult r = WalkHostile(level, (40 << 20));
  EXPECT_TRUE(HasName(r, u"level1a.zip"));
  EXPECT_TRUE(HasName(r, u"level1d.zip"));
  EXPECT_TRUE(HasName(r, u"level3d.zip")) << "an archive two deep is opened";
  EXPECT_FALSE(HasName(r, u"level4a.zip")) << "an archive three deep is not opened";
  EXPECT_FALSE(HasName(r, u"zeros-4.bin"));
  // Under the default limit every level is opened; the innermost member is
  // cut by the ratio guard, one copy on disk at a time.
  SetLimit(u"MaxArchiveNesting", 8);
  r = WalkHostile(level, (40 << 20));
  size_t bombs = 0;
  for (const WalkedChunk& c : r.chunks) bombs += c.text == u"zeros-4.bin\n";
  EXPECT_EQ(bombs, 256u);
}

TEST_F(ArchiveHostileTest, ACutCentralDirectoryIsRefusedAndLeavesNothing) {
  const std::string zip = BuildZip({{.name = "a.txt", .content = "alpha"}, {.name = "b.txt", .content = "beta"}});
  const size_t central = zip.find("PK\x01\x02");
  for (size_t cut : {central + 10, central + 50, zip.size() - 12}) WalkHostile(zip.substr(0, cut), kSmallDisk, false);
}

TEST_F(ArchiveHostileTest, AnEncryptedMemberGivesItsNameOnly) {
  WalkResult r = WalkHostile(BuildZip({{.name = "secret.txt", .content = "\x13\x37 cipher", .deflate = false, .flags = 1},
                                       {.name = "plain.txt", .content = "plain words"}}),
                             kSmallDisk);
  EXPECT_TRUE(HasName(r, u"secret.txt"));
  EXPECT_TRUE(HasName(r, u"plain.txt"));
  for (const WalkedChunk& c : r.chunks) EXPECT_EQ(c.text.find(u"cipher"), std::u16string::npos);
}

}  // namespace
}  // namespace ZYT::Test
