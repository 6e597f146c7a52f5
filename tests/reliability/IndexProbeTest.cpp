// zytfilt index against a hostile machine: names that break lines, trees
// deeper than a path can name, scopes that are links, a second run on the
// same catalog, a database that hits the file size limit.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/ZytfiltMachine.h"

namespace ZYT::Test {
namespace {

class IndexProbeTest : public ZytfiltMachineTest {
 protected:
  void SetUp() override {
    ZytfiltMachineTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(Ok({"setup"}));
    ASSERT_NO_FATAL_FAILURE(Ok({"register", ZYT_INDEX_TEST_FILTERS}));
    m_docs = PathIn("docs");
    ASSERT_EQ(mkdir(m_docs.c_str(), 0700), 0);
  }
  // Every line of err is one of zytfilt index's messages.
  static std::vector<std::string> Lines(const std::string& err) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < err.size(); at = end + 1) {
      end = err.find('\n', at);
      if (end == std::string::npos) end = err.size();
      lines.push_back(err.substr(at, end - at));
    }
    return lines;
  }
  bool WorkerFolderLeft() {
    for (const std::string& name : ListDir(PathIn("tmp")))
      if (name.rfind("zytfilt-index-", 0) == 0) return true;
    return false;
  }
  std::string m_docs;
};

TEST_F(IndexProbeTest, HostileNamesAndScopesGetOneLineEach) {
  struct Case {
    const char* what;
    std::function<std::vector<std::string>()> make;  // the arguments of index
    int status;
    const char* message;  // in the only line on stderr; empty: none
  };
  const Case cases[] = {
      {"a folder named like an option, after --",
       [this]() -> std::vector<std::string> {
         const std::string dash = m_docs + "/-dash";
         EXPECT_EQ(mkdir(dash.c_str(), 0700), 0);
         WriteBytes(dash + "/a.txt", "heron\n");
         return {"--", "-dash"};
       },
       0, ""},
      {"a file whose name holds a newline, crashing its worker",
       [this]() -> std::vector<std::string> {
         WriteBytes(m_docs + "/line\nbreak.idxcrash", "x");
         return {m_docs};
       },
       0, "/line\\x0Abreak.idxcrash: the filter crashed its worker"},
      {"a tree deeper than a path can name",
       [this]() -> std::vector<std::string> {
         int fd = open(m_docs.c_str(), O_RDONLY | O_DIRECTORY);
         for (int i = 0; i < 2100 && fd >= 0; ++i) {
           EXPECT_EQ(mkdirat(fd, "d", 0700), 0);
           int sub = openat(fd, "d", O_RDONLY | O_DIRECTORY);
           close(fd);
           fd = sub;
         }
         EXPECT_GE(fd, 0);
         int file = openat(fd, "deep.txt", O_WRONLY | O_CREAT, 0600);
         EXPECT_GE(file, 0);
         close(file);
         close(fd);
         return {m_docs};
       },
       1, "not indexed"},
      {"a catalog's folder that is a symbolic link",
       [this]() -> std::vector<std::string> {
         EXPECT_EQ(symlink(m_docs.c_str(), PathIn("link").c_str()), 0);
         Ok({"catalog", "add", "Linked", PathIn("linked"), PathIn("link")});
         return {"--catalog", "Linked"};
       },
       1, "/link: is a symbolic link, which is not followed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args{"index"};
    std::vector<std::string> more = c.make();
    args.insert(args.end(), more.begin(), more.end());
    ProcessOptions here = m_machine;
    here.cwd = m_docs;
    ProcessResult r = RunZytfilt(args, here);
    EXPECT_EQ(r.status, c.status) << r.err;
    if (!*c.message) {
      EXPECT_EQ(r.err, "");
      continue;
    }
    // zytfilt's own lines (a crashed worker of a sanitizer build adds its report).
    std::vector<std::string> lines;
    for (const std::string& line : Lines(r.err))
      if (line.rfind("zytfilt index: ", 0) == 0 || line.find(c.message) != std::string::npos) lines.push_back(line);
    ASSERT_EQ(lines.size(), 1u) << r.err;
    EXPECT_EQ(lines[0].rfind("zytfilt index: ", 0), 0u) << r.err;
    EXPECT_NE(lines[0].find(c.message), std::string::npos) << r.err;
  }
  // The folder named like an option was indexed.
  ProcessResult found = Zytfilt({"search", "heron"});
  EXPECT_NE(found.out.find(m_docs + "/-dash/a.txt"), std::string::npos) << found.out << found.err;
}

TEST_F(IndexProbeTest, ASecondRunOnTheSameCatalogIsRefusedWhileTheFirstWorks) {
  // The hanging file holds the first run (and its lock) for its per-file time.
  WriteBytes(m_docs + "/stuck.idxhang", "x");
  WriteBytes(m_docs + "/a.txt", "grebe\n");
  ChildProcess first({ZYT_ZYTFILT, "index", "--file-seconds", "25", m_docs}, m_machine);
  // Its workers start after it holds the catalog.
  ASSERT_TRUE(Eventually([&] { return WorkerFolderLeft(); }));
  ProcessResult second = Zytfilt({"index", "--json", m_docs});
  EXPECT_EQ(second.status, 1) << second.out;
  EXPECT_EQ(second.out, "");
  ASSERT_EQ(Lines(second.err).size(), 1u) << second.err;
  EXPECT_NE(second.err.find("another zytfilt index is indexing this catalog"), std::string::npos) << second.err;
  ProcessResult stopped = first.Stop(SIGTERM);
  EXPECT_EQ(stopped.status, 1) << stopped.err;
  EXPECT_FALSE(WorkerFolderLeft());
}

TEST_F(IndexProbeTest, ADatabasePastTheFileSizeLimitIsAWriteErrorAndTheNextRunCompletes) {
  std::string words;
  for (int i = 0; i < 400; ++i) {
    words.clear();
    for (int w = 0; w < 300; ++w) words += "w" + std::to_string(i * 1000 + w) + " ";
    WriteBytes(m_docs + "/f" + std::to_string(i) + ".txt", words);
  }
  ProcessOptions limited = m_machine;
  limited.prepare = [] {
    rlimit limit{512 * 1024, 512 * 1024};
    setrlimit(RLIMIT_FSIZE, &limit);
  };
  ProcessResult r = RunZytfilt({"index", m_docs}, limited);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 1) << r.err;
  ASSERT_EQ(Lines(r.err).size(), 1u) << r.err;
  EXPECT_NE(r.err.find("zytindex.db: cannot"), std::string::npos) << r.err;
  EXPECT_FALSE(WorkerFolderLeft());

  r = Zytfilt({"index", "--json", m_docs});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(Zytfilt({"search", "w399299"}).out.find("/f399.txt"), std::string::npos);
}

}  // namespace
}  // namespace ZYT::Test
