// zytfilt index on a machine as people have it: real samples, the filters of
// the registry's chain, worker processes that hang or crash, an indexer
// killed in the middle of a run.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/ZipWriter.h"
#include "tests/support/ZytfiltMachine.h"

namespace ZYT::Test {
namespace {

class IndexCommandTest : public ZytfiltMachineTest {
 protected:
  void SetUp() override {
    ZytfiltMachineTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(Ok({"setup"}));
    m_docs = PathIn("docs");
    ASSERT_EQ(mkdir(m_docs.c_str(), 0700), 0);
  }

  std::string Doc(const std::string& name) const { return m_docs + "/" + name; }

  // The JSON summary of a run that must succeed.
  std::string Index(std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"index", "--json"});
    ProcessResult r = Zytfilt(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
  std::string Status() {
    ProcessResult r = Zytfilt({"index", "--status", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }
  // The paths zytfilt search finds for query.
  std::set<std::string> Found(const std::string& query) {
    ProcessResult r = Zytfilt({"search", "--json", "--limit", "1000", query});
    EXPECT_TRUE(r.status == 0 || (r.status == 1 && r.out.empty())) << query << ": " << r.err;
    std::set<std::string> paths;
    std::regex path("\"path\":\"([^\"]*)\"");
    for (std::sregex_iterator m(r.out.begin(), r.out.end(), path), end; m != end; ++m) paths.insert((*m)[1]);
    return paths;
  }
  // No worker of this test still runs, and none left its temporary folder.
  void ExpectNoWorkerLeft() {
    const std::string mark = "TMPDIR=" + PathIn("tmp") + "/zytfilt-index-";
    EXPECT_TRUE(Eventually([&] {
      for (const auto& proc : std::filesystem::directory_iterator("/proc")) {
        std::string environ = ReadAll(proc.path().string() + "/environ");
        if (environ.find(mark) != std::string::npos) return false;
      }
      return true;
    }));
    for (const std::string& name : ListDir(PathIn("tmp"))) EXPECT_NE(name.rfind("zytfilt-index-", 0), 0u) << name;
  }
  static std::string ReadAll(const std::string& path) {
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      char buffer[4096];
      for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
      std::fclose(f);
    }
    return bytes;
  }

  std::string m_docs;
};

// The number a JSON object gives name; -1 when it has none.
long long Field(const std::string& json, const std::string& name) {
  size_t at = json.find("\"" + name + "\":");
  if (at == std::string::npos) return -1;
  return std::strtoll(json.c_str() + at + name.size() + 3, nullptr, 10);
}

TEST_F(IndexCommandTest, EveryKindIsIndexedAndASecondRunFollowsTheChanges) {
  // A configured machine: the catalog proxy in front of every filter, .odt to
  // the XML proxy; only the catalog that FOLDER... makes.
  ASSERT_NO_FATAL_FAILURE(Ok({"setup", "--product"}));
  ASSERT_NO_FATAL_FAILURE(Ok({"catalog", "remove", "Orrery Local"}));
  const std::string samples = ZYT_SAMPLES;
  std::filesystem::copy_file(samples + "/sample.mp3", Doc("song.mp3"));
  std::filesystem::copy_file(samples + "/sample.ogg", Doc("tune.ogg"));
  WriteBytes(Doc("letter.eml"),
             "From: Ada <ada@example.org>\r\nTo: Bob <bob@example.org>\r\nSubject: Lighthouse keeping\r\n"
             "Content-Type: text/plain\r\n\r\nThe lantern needs trimming.\r\n");
  WriteBytes(Doc("catalogue.xml"), "<?xml version=\"1.0\"?><catalogue><item>astrolabe</item></catalogue>");
  WriteBytes(Doc("bundle.zip"), ZipArchive({{"inside.txt", "a sextant in the bundle"}}));
  WriteBytes(Doc("report.odt"),
             ZipArchive({{"mimetype", "application/vnd.oasis.opendocument.text"},
                         {"content.xml",
                          "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
                          "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body><office:text>"
                          "<text:p>The harvest was plentiful.</text:p></office:text></office:body>"
                          "</office:document-content>"}}));
  WriteBytes(Doc("plain.txt"), "notes about the barometer\n");

  std::string run = Index({m_docs});
  EXPECT_EQ(Field(run, "indexed"), 7) << run;
  EXPECT_EQ(Field(run, "failed"), 0) << run;
  const struct {
    const char* word;
    const char* file;
  } kWords[] = {{"stone", "song.mp3"},     {"garden", "tune.ogg"},      {"lighthouse", "letter.eml"},
                {"astrolabe", "catalogue.xml"}, {"sextant", "bundle.zip"}, {"harvest", "report.odt"},
                {"barometer", "plain.txt"}};
  for (const auto& w : kWords) EXPECT_EQ(Found(w.word), std::set<std::string>{Doc(w.file)}) << w.word;

  WriteBytes(Doc("plain.txt"), "the pelican replaced what was here before\n");
  ASSERT_EQ(unlink(Doc("catalogue.xml").c_str()), 0);
  WriteBytes(Doc("fresh.txt"), "a walrus arrived\n");
  // A plain run walks the folders the first one added to the catalog.
  run = Index();
  EXPECT_EQ(Field(run, "indexed"), 2) << run;
  EXPECT_EQ(Field(run, "removed"), 1) << run;
  EXPECT_EQ(Field(run, "unchanged"), 5) << run;
  EXPECT_EQ(Found("pelican"), std::set<std::string>{Doc("plain.txt")});
  EXPECT_EQ(Found("walrus"), std::set<std::string>{Doc("fresh.txt")});
  EXPECT_TRUE(Found("barometer").empty());
  EXPECT_TRUE(Found("astrolabe").empty());
  EXPECT_EQ(Field(Status(), "files"), 7);
}

TEST_F(IndexCommandTest, OnlyRegularFilesBelowTheFolderAreFilteredAndBadArgumentsSayWhy) {
  // Links that lead out of the folder and a FIFO (opened, it would block a
  // worker until the time-out) are passed over.
  ASSERT_EQ(mkdir(PathIn("outside").c_str(), 0700), 0);
  WriteBytes(PathIn("outside/secret.txt"), "forbidden\n");
  ASSERT_EQ(symlink(PathIn("outside/secret.txt").c_str(), Doc("link.txt").c_str()), 0);
  ASSERT_EQ(symlink(PathIn("outside").c_str(), Doc("linked folder").c_str()), 0);
  ASSERT_EQ(mkfifo(Doc("pipe.txt").c_str(), 0600), 0);
  WriteBytes(Doc("real.txt"), "genuine\n");
  std::string run = Index({m_docs});
  EXPECT_EQ(Field(run, "indexed"), 1) << run;
  EXPECT_EQ(Field(run, "failed"), 0) << run;
  EXPECT_TRUE(Found("forbidden").empty());

  const struct {
    std::vector<std::string> args;
    int status;
    std::string line;
  } kCases[] = {
      {{"index", PathIn("missing")}, 1, "zytfilt index: " + PathIn("missing") + ": No such file or directory"},
      {{"index", Doc("real.txt")}, 1, "zytfilt index: " + Doc("real.txt") + ": not a folder"},
      {{"index", "--catalog", "Nowhere"}, 1, "zytfilt index: no catalog named 'Nowhere'"},
      {{"index", "--jobs", "0"}, 2, "zytfilt index: --jobs needs a number from 1 to 256"},
  };
  for (const auto& c : kCases) {
    ProcessResult r = Zytfilt(c.args);
    EXPECT_EQ(r.status, c.status) << c.line;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.rfind(c.line, 0), 0u) << r.err;
  }
}

TEST_F(IndexCommandTest, TextBeyondTheLimitIsLeftOut) {
  Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZYT\\Orrery\\Limits]\r\n\"MaxIndexTextBytes\"=dword:00001000\r\n");
  WriteBytes(Doc("long.txt"), "beginning " + std::string(8192, 'x') + " ending\n");
  std::string run = Index({m_docs});
  EXPECT_EQ(Field(run, "indexed"), 1) << run;
  EXPECT_EQ(Found("beginning"), std::set<std::string>{Doc("long.txt")});
  EXPECT_TRUE(Found("ending").empty());
}

TEST_F(IndexCommandTest, AFilterThatHangsOrCrashesCostsItsFileOnlyAndIsNotRetried) {
  ASSERT_NO_FATAL_FAILURE(Ok({"register", ZYT_INDEX_TEST_FILTERS}));
  Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZYT\\Orrery\\Limits]\r\n\"IndexFileSeconds\"=dword:00000002\r\n");
  WriteBytes(Doc("stuck.idxhang"), "x");
  WriteBytes(Doc("broken.idxcrash"), "x");
  WriteBytes(Doc("a.txt"), "albatross\n");
  WriteBytes(Doc("b.txt"), "albatross again\n");

  ProcessResult r = Zytfilt({"index", "--json", "--jobs", "2", m_docs});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Field(r.out, "indexed"), 2) << r.out;
  EXPECT_EQ(Field(r.out, "failed"), 2) << r.out;
  EXPECT_NE(r.err.find(Doc("stuck.idxhang") + ": still filtering after 2 s"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(Doc("broken.idxcrash") + ": the filter crashed"), std::string::npos) << r.err;
  EXPECT_EQ(Found("albatross"), (std::set<std::string>{Doc("a.txt"), Doc("b.txt")}));
  std::string status = Status();
  EXPECT_EQ(Field(status, "timeout"), 1) << status;
  EXPECT_EQ(Field(status, "crash"), 1) << status;

  // Unchanged, the failed files are not tried again: no time-out this time.
  r = Zytfilt({"index", "--json"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Field(r.out, "unchanged"), 4) << r.out;
  EXPECT_EQ(Field(r.out, "failed"), 0) << r.out;
  EXPECT_EQ(r.err, "");
  ExpectNoWorkerLeft();
}

TEST_F(IndexCommandTest, AKilledRunLosesOnlyWhatItHadNotCommittedAndTheNextCompletesIt) {
  ASSERT_NO_FATAL_FAILURE(Ok({"register", ZYT_INDEX_TEST_FILTERS}));
  // The hanging file holds the run open (its worker waits out the default
  // 60 s) while the other worker indexes the text files: more than one
  // transaction's worth, so the kill usually finds some not yet committed.
  WriteBytes(Doc("0.idxhang"), "x");
  constexpr int kFiles = 250;
  for (int i = 0; i < kFiles; ++i) WriteBytes(Doc("n" + std::to_string(i) + ".txt"), "cormorant " + std::to_string(i) + "\n");
  {
    ChildProcess indexer({ZYT_ZYTFILT, "index", "--jobs", "2", m_docs}, m_machine);
    ASSERT_TRUE(Eventually([&] { return Field(Zytfilt({"index", "--status", "--json"}).out, "files") >= 1; }));
    indexer.Stop(SIGKILL);
  }
  EXPECT_NE(Status().find("\"lastRun\":null"), std::string::npos) << "killed before the end of its run";
  ASSERT_EQ(unlink(Doc("0.idxhang").c_str()), 0);

  std::string run = Index();
  EXPECT_EQ(Field(run, "indexed") + Field(run, "unchanged"), kFiles) << run;
  EXPECT_EQ(Field(run, "failed"), 0) << run;
  EXPECT_EQ(Field(Status(), "files"), kFiles);
  EXPECT_EQ(Found("cormorant").size(), static_cast<size_t>(kFiles));
  ExpectNoWorkerLeft();
}

}  // namespace
}  // namespace ZYT::Test
