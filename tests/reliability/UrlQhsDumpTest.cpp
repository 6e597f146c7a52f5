// Internet shortcuts and stream files reach zytfilt dump through their
// registered handlers on a freshly set-up machine: a shortcut's saved copy or
// its placeholder page through the machine's HTML filter, a stream's name and
// description, and no temporary file left behind.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "platform/indexer/FilterWalk.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/ZytfiltMachine.h"

namespace ZYT::Test {
namespace {

class UrlQhsDumpTest : public ZytfiltMachineTest {
 protected:
  void SetUp() override {
    ZytfiltMachineTest::SetUp();
    // The product's set-up records the HTML filter that a shortcut is handed to.
    ASSERT_NO_FATAL_FAILURE(Ok({"setup", "--product"}));
  }
  // Every file of the test's machine (home, settings, the repository and its
  // temporary folder) but the registry store's own: what a dump may leave is
  // only what was there before.
  std::vector<std::string> FilesUnderHome() const {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(TempDir()))
      if (!entry.is_directory() && entry.path().string().find(".db") == std::string::npos)
        files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
  }
  // The dump's text and value lines of file (the last line is its end).
  std::vector<std::string> Dump(const std::string& file, std::vector<std::string> options = {}) {
    std::vector<std::string> before = FilesUnderHome();
    options.insert(options.begin(), "dump");
    options.push_back("--json");
    options.push_back(file);
    ProcessResult dump = RunZytfilt(options, m_machine);
    EXPECT_EQ(dump.status, 0) << dump.err;
    EXPECT_EQ(FilesUnderHome(), before) << "the dump of " << file << " left a file behind";
    std::vector<std::string> lines = Lines(dump.out);
    EXPECT_FALSE(lines.empty());
    if (!lines.empty()) {
      EXPECT_NE(lines.back().find("\"end\":\"0x80041700\""), std::string::npos) << lines.back();
      lines.pop_back();
    }
    return lines;
  }
  static bool AnyHas(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
  }
};

TEST_F(UrlQhsDumpTest, AShortcutWithItsSavedCopyIsThatPage) {
  WriteBytes(PathIn("copy.htm"), "<html><head><title>Saved title</title></head><body><p>saved words</p></body></html>");
  WriteBytes(PathIn("site.url"),
             "[InternetShortcut]\r\nURL=http://example.org/\r\n[orrery]\r\nhtmlfile=" + PathIn("copy.htm") + "\r\n");
  std::vector<std::string> lines = Dump(PathIn("site.url"));
  EXPECT_TRUE(AnyHas(lines, "\"text\":\"saved words")) << ::testing::PrintToString(lines);
  EXPECT_TRUE(AnyHas(lines, "\"data\":\"Saved title\"")) << ::testing::PrintToString(lines);
  EXPECT_FALSE(AnyHas(lines, "Please wait"));
  EXPECT_TRUE(Exists(PathIn("copy.htm")));
}

TEST_F(UrlQhsDumpTest, AShortcutWithoutACopyIsItsPlaceholderPage) {
  WriteBytes(PathIn("Release notes.url"), "[InternetShortcut]\r\nURL=http://example.org/notes\r\n");
  std::vector<std::string> lines = Dump(PathIn("Release notes.url"));
  EXPECT_TRUE(Exists(PathIn("repository/temp"))) << "the page was written where the file check looks";
  EXPECT_TRUE(AnyHas(lines, "\"data\":\"Release notes\"")) << ::testing::PrintToString(lines);
  EXPECT_TRUE(
      AnyHas(lines, "\"text\":\"Please wait while Orrery indexes and thumbnails this Internet document."))
      << ::testing::PrintToString(lines);
}

TEST_F(UrlQhsDumpTest, AStreamIsItsNameAndDescriptionOrItsMarkedTitle) {
  WriteBytes(PathIn("inbox.qhs"),
             "<stream><id name=\"Unread mail\" description=\"since Monday\" guid=\"0\"/><manualstream/></stream>");
  std::vector<std::string> lines = Dump(PathIn("inbox.qhs"));
  ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
  EXPECT_NE(lines[0].find("\"propid\":19"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("\"text\":\" Unread mail - since Monday\""), std::string::npos) << lines[0];
  lines = Dump(PathIn("inbox.qhs"), {"--init-flags", "1"});
  ASSERT_EQ(lines.size(), 2u) << ::testing::PrintToString(lines);
  for (const std::string& line : lines)
    EXPECT_NE(line.find("\"data\":\"PJTITLE Unread mail\""), std::string::npos) << line;
}

TEST_F(UrlQhsDumpTest, WithoutTheRecordedHtmlFilterAShortcutFailsLoadAndLeavesNothing) {
  // A machine set up without the product has no HTML filter recorded for shortcuts.
  ProcessOptions plain = OnMachine(*this, PathIn("plain"));
  plain.env.push_back({"ZYT_REGISTRY", PathIn("plain.db")});
  ProcessResult setup = RunZytfilt({"setup"}, plain);
  ASSERT_EQ(setup.status, 0) << setup.err;
  WriteBytes(PathIn("a.url"), "[InternetShortcut]\r\nURL=http://example.org/\r\n");
  ProcessResult dump = RunZytfilt({"dump", "--json", PathIn("a.url")}, plain);
  EXPECT_EQ(dump.status, 1);
  EXPECT_NE(dump.out.find("\"error\":\"0x80004005\",\"step\":\"Load\""), std::string::npos) << dump.out;
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(PathIn("plain")))
    if (entry.path().extension() == ".html") left.push_back(entry.path().string());
  EXPECT_TRUE(left.empty()) << ::testing::PrintToString(left);
}

}  // namespace
}  // namespace ZYT::Test
