// The machine's PDF filter on a machine prepared by `zytfilt setup`: the real
// zytfilt loads pdffilt.dll.so through the ".pdf" persistent handler. A locked
// or damaged document fails Load in one line, poppler says nothing on the
// terminal, a FIFO named like a document is refused at once, and the
// document and its folder are left as they were.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/PdfSamples.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/ZytfiltMachine.h"

namespace ZYT::Test {
namespace {

class PdfDumpTest : public ZytfiltMachineTest {
 protected:
  void SetUp() override {
    ZytfiltMachineTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(Ok({"setup"}));
    ASSERT_EQ(mkdir(PathIn("docs").c_str(), 0700), 0) << std::strerror(errno);
  }
  // The folder's names and each file's bytes.
  std::vector<std::string> Snapshot() const {
    std::vector<std::string> entries;
    for (const std::string& name : ListDir(PathIn("docs"))) entries.push_back(name + "=" + ReadBytes(PathIn("docs/" + name)));
    std::sort(entries.begin(), entries.end());
    return entries;
  }
};

TEST_F(PdfDumpTest, SetupRegistersTheFilterAndDumpPrintsInfoThenPages) {
  PdfSample sample;
  sample.pages = {{"Page one says hello", "in two lines"}, {"Page two"}, {"Page three"}};
  sample.info = {{"Title", "(Quarterly report)"}, {"Keywords", "(pdf, test)"}};
  const std::string file = PathIn("docs/report.pdf");
  WriteBytes(file, BuildPdf(sample));
  const std::vector<std::string> before = Snapshot();

  ProcessResult dump = RunZytfilt({"dump", "--json", file}, m_machine);
  ASSERT_EQ(dump.status, 0) << dump.err;
  EXPECT_EQ(dump.err, "") << "poppler must not print on the terminal";
  const std::vector<std::string> lines = Lines(dump.out);
  ASSERT_EQ(lines.size(), 6u) << dump.out;
  const std::string summary = "\"propset\":\"{F29F85E0-4FF9-1068-AB91-08002B27B3D9}\"";
  EXPECT_NE(lines[0].find(summary + ",\"propid\":2,"), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("\"value\":{\"vt\":31,\"data\":\"Quarterly report\"}"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find(summary + ",\"propid\":5,"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("\"data\":\"pdf, test\""), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("\"text\":\"Page one says hello\\nin two lines\"}"), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find("\"text\":\"Page two\"}"), std::string::npos) << lines[3];
  EXPECT_NE(lines[4].find("\"text\":\"Page three\"}"), std::string::npos) << lines[4];
  EXPECT_NE(lines[5].find("\"end\":\"0x80041700\""), std::string::npos) << lines[5];
  EXPECT_EQ(Snapshot(), before);

  // A second set-up changes nothing the dump depends on.
  ASSERT_EQ(RunZytfilt({"setup"}, m_machine).status, 0);
  EXPECT_EQ(RunZytfilt({"dump", "--json", file}, m_machine).out, dump.out);
}

TEST_F(PdfDumpTest, LockedAndDamagedDocumentsFailLoadQuietly) {
  PdfSample sample;
  sample.pages = {{"Secret words"}};
  sample.info = {{"Title", "(Hidden)"}};
  sample.encrypted = true;
  sample.userPassword = "secret";
  WriteBytes(PathIn("docs/locked.pdf"), BuildPdf(sample));
  sample.encrypted = false;
  const std::string good = BuildPdf(sample);
  WriteBytes(PathIn("docs/truncated.pdf"), good.substr(0, good.find("1 0 obj")));
  WriteBytes(PathIn("docs/garbage.pdf"), "%PDF-1.4\n" + std::string(5000, '\x01') + "\n%%EOF\n");
  const std::vector<std::string> before = Snapshot();

  const struct {
    const char* name;
    const char* error;
  } cases[] = {{"locked.pdf", "0x8004170b"}, {"truncated.pdf", "0x80004005"}, {"garbage.pdf", "0x80004005"}};
  for (const auto& c : cases) {
    ProcessResult dump = RunZytfilt({"dump", "--json", PathIn(std::string("docs/") + c.name)}, m_machine);
    EXPECT_EQ(dump.status, 1) << c.name;
    const std::vector<std::string> lines = Lines(dump.out);
    ASSERT_EQ(lines.size(), 1u) << dump.out;
    EXPECT_NE(lines[0].find(std::string("\"error\":\"") + c.error + "\",\"step\":\"Load\""), std::string::npos)
        << lines[0];
    EXPECT_EQ(dump.out.find("Secret"), std::string::npos);
    // The one line is zytfilt's own; poppler's complaints about the file stay unprinted.
    EXPECT_EQ(Lines(dump.err).size(), 1u) << dump.err;
    EXPECT_EQ(dump.err.rfind("zytfilt dump: ", 0), 0u) << dump.err;
  }
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(PdfDumpTest, AFifoNamedLikeADocumentIsRefusedAtOnce) {
  const std::string fifo = PathIn("docs/waiting.pdf");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
  ProcessResult dump = RunZytfilt({"dump", "--json", fifo}, m_machine);
  EXPECT_FALSE(dump.hung);
  EXPECT_EQ(dump.status, 1);
  EXPECT_NE(dump.out.find("\"error\":\"0x80070005\",\"step\":\"Load\""), std::string::npos) << dump.out;
}

}  // namespace
}  // namespace ZYT::Test
