// A CD archive item file on a prepared machine: zytfilt dump prints the ripped
// file's chunks and then the archive's name when the medium named in the item
// is the one declared at its drive, and fails Load with one line, and the
// mismatch in the filter's log, when it is another.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>

#include "tests/support/ChildProcess.h"
#include "tests/support/PdfSamples.h"
#include "tests/support/Repository.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/ZytfiltMachine.h"

namespace ZYT::Test {
namespace {

class QharcDumpTest : public ZytfiltMachineTest {
 protected:
  void SetUp() override {
    ZytfiltMachineTest::SetUp();
    WriteBytes(SettingsPath(),
               "<settings><repository><user location=\"" + PathIn("repo") + "\"/></repository></settings>");
    ASSERT_EQ(mkdir(PathIn("repo").c_str(), 0700), 0);
    // Set up for the product: the catalog proxy stands in front of every
    // filter, with the native filter saved beside it, as the item filter expects.
    ASSERT_NO_FATAL_FAILURE(Ok({"setup", "--product"}));
    ASSERT_EQ(mkdir(PathIn("cd").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(PathIn("cd/docs").c_str(), 0700), 0);
    WriteBytes(PathIn("cd/docs/readme.txt"), "words from the medium\n");
    // The drive holds a copy of the CD; the volume table names its medium.
    std::string folder;
    for (char c : PathIn("cd")) folder += c == '\\' ? std::string("\\\\") : std::string(1, c);
    Import("[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZYT\\Platform\\Drives]\r\n\"D:\"=\"" + folder +
           "\"\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZYT\\Orrery\\Volumes\\D:]\r\n"
           "\"VolumeName\"=\"HOLIDAYS\"\r\n\"SerialNumber\"=dword:1a2b3c4d\r\n");
  }
  std::string WriteItem(const std::string& serial, const std::string& ripped = "readme.txt") {
    const std::string item = PathIn("holiday.qharc");
    WriteBytes(item,
               "<qharc-item><file archive-name=\"Holiday CD\" ripped-path=\"D:\\docs\\" + ripped + "\" "
               "volume-label=\"HOLIDAYS\" volume-serial-number=\"" + serial +
                   "\" original-root-path=\"D:\\\"/></qharc-item>");
    return item;
  }
};

TEST_F(QharcDumpTest, TheRippedFilesTextThenTheArchiveName) {
  const std::string item = WriteItem("439041101");
  ProcessResult dump = RunZytfilt({"dump", "--json", item}, m_machine);
  ASSERT_EQ(dump.status, 0) << dump.err << dump.out;
  const std::vector<std::string> lines = Lines(dump.out);
  auto text = std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.find("words from the medium") != std::string::npos; });
  ASSERT_NE(text, lines.end()) << dump.out;
  auto archive = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.find("\"propset\":\"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}\",\"propid\":21") != std::string::npos;
  });
  ASSERT_NE(archive, lines.end()) << dump.out;
  EXPECT_GT(archive - lines.begin(), text - lines.begin()) << "the archive name follows the file's chunks";
  EXPECT_NE(archive->find("\"Holiday CD\""), std::string::npos) << *archive;
  EXPECT_NE(archive->find("\"flags\":\"value\""), std::string::npos) << *archive;
  EXPECT_TRUE(ListDir(PathIn("tmp")).empty()) << "no temporary file is left";
}

TEST_F(QharcDumpTest, APdfOnTheMediumGivesItsPagesThenTheArchiveName) {
  PdfSample sample;
  sample.pages = {{"Itinerary for the coast"}, {"Ferry leaves at nine"}};
  WriteBytes(PathIn("cd/docs/plan.pdf"), BuildPdf(sample));
  const std::string item = WriteItem("439041101", "plan.pdf");
  ProcessResult dump = RunZytfilt({"dump", "--json", item}, m_machine);
  ASSERT_EQ(dump.status, 0) << dump.err << dump.out;
  const size_t first = dump.out.find("Itinerary for the coast");
  const size_t second = dump.out.find("Ferry leaves at nine");
  const size_t archive = dump.out.find("\"Holiday CD\"");
  ASSERT_NE(first, std::string::npos) << dump.out;
  ASSERT_NE(second, std::string::npos) << dump.out;
  ASSERT_NE(archive, std::string::npos) << dump.out;
  EXPECT_LT(first, second);
  EXPECT_LT(second, archive) << "the archive name follows the PDF's pages";
}

TEST_F(QharcDumpTest, AnotherSerialFailsLoadAndLogsTheMismatch) {
  ASSERT_EQ(mkdir(PathIn("repo/Debug.Filter").c_str(), 0700), 0);
  const std::string item = WriteItem("439041102");
  ProcessResult dump = RunZytfilt({"dump", "--json", item}, m_machine);
  EXPECT_EQ(dump.status, 1) << dump.out;
  const std::vector<std::string> lines = Lines(dump.out);
  ASSERT_EQ(lines.size(), 1u) << dump.out;
  EXPECT_NE(lines[0].find("\"error\":\"0x80004005\",\"step\":\"Load\""), std::string::npos) << lines[0];
  EXPECT_EQ(dump.out.find("words from the medium"), std::string::npos);
  const std::string logs = FilterLogs(*this);
  EXPECT_NE(logs.find("Original Volume  sn: 439041102 vol: HOLIDAYS\n"), std::string::npos) << logs;
  EXPECT_NE(logs.find("Mounted Volume  sn: 439041101 vol: HOLIDAYS\n"), std::string::npos) << logs;
  EXPECT_NE(logs.find("<<<MEDIA ERROR>>> Mismatch or last error: 0\n"), std::string::npos) << logs;
  EXPECT_TRUE(ListDir(PathIn("tmp")).empty());
}

}  // namespace
}  // namespace ZYT::Test
