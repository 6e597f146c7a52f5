// The archive filter as a person meets it: zytfilt dump of a ZIP archive on a
// machine set up with zytfilt setup, and the extract folder a killed host
// leaves behind, removed by the next archive filter of any process.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/archive/ArchiveTestMachine.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/ZytfiltMachine.h"

namespace ZYT::Test {
namespace {

class ArchiveDumpTest : public ZytfiltMachineTest {
 protected:
  void SetUp() override {
    ZytfiltMachineTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(Ok({"setup"}));
    SetFilterIdleTimeout(600000);
    mkdir(PathIn("tmp").c_str(), 0700);
  }
  std::vector<std::string> ExtractFolders() {
    std::vector<std::string> found;
    struct stat st;
    for (const std::string& name : ListDir(PathIn("tmp")))
      if (name.rfind("arc", 0) == 0 && lstat(PathIn("tmp/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        found.push_back(name);
    return found;
  }
};

TEST_F(ArchiveDumpTest, DumpPrintsEachMemberNameItsTextAndTheSummary) {
  const std::string inner = BuildZip({{.name = "nested.txt", .content = "nested words"}});
  WriteBytes(PathIn("mixed.zip"),
             BuildZip({{.name = "notes.txt", .content = "plain words"},
                       {.name = "page.html", .content = "<html><body><p>marked words</p></body></html>"},
                       {.name = "folder/", .content = "", .deflate = false, .unixMode = 040755},
                       {.name = "inner.zip", .content = inner, .deflate = false}}));
  ProcessResult dump = RunZytfilt({"dump", "--json", PathIn("mixed.zip")}, m_machine);
  ASSERT_EQ(dump.status, 0) << dump.err;
  std::vector<std::string> texts;
  for (const std::string& line : Lines(dump.out)) {
    size_t at = line.find("\"text\":");
    if (at != std::string::npos) texts.push_back(line.substr(at + 7, line.size() - at - 8));
    at = line.find("\"data\":");
    if (at != std::string::npos) texts.push_back(line.substr(at + 7, line.size() - at - 9));
  }
  const std::vector<std::string> expected = {
      "\"notes.txt\\n\"", "\"plain words\"", "\"page.html\\n\"", "\"marked words\"", "\"inner.zip\\n\"",
      "\"nested.txt\\n\"", "\"nested words\""};
  ASSERT_EQ(texts.size(), expected.size() + 1) << dump.out;
  for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(texts[i], expected[i]) << i;
  EXPECT_EQ(texts.back().find("\"Files: 3\\nSize: 0KB\\nCompressed: 0KB\\nPercent Compressed: "), 0u) << texts.back();
  EXPECT_EQ(TreeOf(PathIn("tmp")), std::vector<std::string>{});
}

TEST_F(ArchiveDumpTest, TheZipSlipArchiveDumpsWithoutWritingOutsideAndABombEndsWithinItsBudget) {
  mkdir(PathIn("outside").c_str(), 0700);
  WriteBytes(PathIn("slip.zip"), BuildZip({{.name = "../../outside/slip.txt", .content = "planted"},
                                           {.name = PathIn("outside/abs.txt"), .content = "planted"},
                                           {.name = "..\\..\\outside\\back.txt", .content = "planted"}}));
  ProcessResult dump = RunZytfilt({"dump", PathIn("slip.zip")}, m_machine);
  EXPECT_EQ(dump.status, 0) << dump.err;
  EXPECT_NE(dump.out.find("slip.txt"), std::string::npos) << dump.out;
  EXPECT_EQ(TreeOf(PathIn("outside")), std::vector<std::string>{});

  SetFilterIdleTimeout(61000);
  SetLimit(u"MaxArchiveMemberMegabytes", 8);
  SetLimit(u"MaxArchiveMemberRatio", 100000);
  std::vector<ZipEntry> entries{{.name = "bomb0", .content = std::string(64 << 20, '\0'), .declaredSize = 4096}};
  for (int i = 1; i < 5000; ++i) entries.push_back({.name = "bomb" + std::to_string(i), .sharesDataOf = 0});
  WriteBytes(PathIn("bomb.zip"), BuildZip(entries));
  dump = RunZytfilt({"dump", PathIn("bomb.zip")}, m_machine, 30);
  EXPECT_FALSE(dump.hung);
  EXPECT_EQ(dump.status, 0) << dump.err;
  EXPECT_NE(dump.out.find("was unable to index some of the documents"), std::string::npos);
  EXPECT_EQ(TreeOf(PathIn("tmp")), std::vector<std::string>{});
}

TEST_F(ArchiveDumpTest, AKilledHostsExtractFolderIsRemovedByTheNextArchiveFilter) {
  // A member that takes long to write: the host is killed while it writes.
  SetLimit(u"MaxArchiveMemberRatio", 100000);
  std::vector<ZipEntry> entries{{.name = "slow0", .content = std::string(64 << 20, '\0'), .declaredSize = 4096}};
  for (int i = 1; i < 5000; ++i) entries.push_back({.name = "slow" + std::to_string(i), .sharesDataOf = 0});
  WriteBytes(PathIn("slow.zip"), BuildZip(entries));
  {
    ChildProcess host({ZYT_ZYTFILT, "dump", PathIn("slow.zip")}, m_machine);
    for (int i = 0; i < 3000 && ExtractFolders().empty(); ++i) usleep(10000);
    ASSERT_EQ(ExtractFolders().size(), 1u) << "the host made no extract folder";
    host.Kill();
  }
  const std::vector<std::string> left = ExtractFolders();
  ASSERT_EQ(left.size(), 1u) << "a killed host cannot clean up";
  // The next host's archive filter sweeps it before it makes its own.
  ChildProcess live({ZYT_ZYTFILT, "dump", PathIn("slow.zip")}, m_machine);
  std::vector<std::string> now;
  for (int i = 0; i < 3000; ++i) {
    now = ExtractFolders();
    if (now.size() == 1 && now[0] != left[0]) break;
    usleep(10000);
  }
  ASSERT_EQ(now.size(), 1u);
  EXPECT_NE(now[0], left[0]) << "the dead host's folder is gone";
  // A live host's folder is not taken by the sweep of another process.
  WriteBytes(PathIn("small.zip"), BuildZip({{.name = "small.txt", .content = "small words"}}));
  ProcessResult next = RunZytfilt({"dump", PathIn("small.zip")}, m_machine);
  EXPECT_EQ(next.status, 0) << next.err;
  EXPECT_NE(next.out.find("small words"), std::string::npos);
  EXPECT_EQ(ExtractFolders(), now);
  EXPECT_EQ(TreeOf(PathIn("tmp")).size(), TreeOf(PathIn("tmp/" + now[0])).size() + 1) << "nothing but the live folder";
  live.Kill();
  ProcessResult last = RunZytfilt({"dump", PathIn("small.zip")}, m_machine);
  EXPECT_EQ(last.status, 0);
  EXPECT_EQ(TreeOf(PathIn("tmp")), std::vector<std::string>{});
}

}  // namespace
}  // namespace ZYT::Test
