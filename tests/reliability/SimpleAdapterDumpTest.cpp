// A plug-in simple filter reaches the indexer through the adapter's persistent
// handler: the extension bound to the handler, the plug-in named for the
// extension, and zytfilt dump walks it like any other filter.
#include <gtest/gtest.h>

#include "platform/indexer/FilterWalk.h"
#include "platform/win32/SysInfo.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/ZytfiltMachine.h"

namespace ZYT::Test {
namespace {

class SimpleAdapterDumpTest : public ZytfiltMachineTest {
 protected:
  void SetUp() override {
    ZytfiltMachineTest::SetUp();
    ASSERT_NO_FATAL_FAILURE(Ok({"setup"}));
  }
};

TEST_F(SimpleAdapterDumpTest, TheNullPlugInPrintsThePathAsItsOneChunk) {
  Import(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZYT\\Orrery\\Filters\\SimpleFileFilterAdapter\\.qhnote]\r\n"
      "@=\"ZytFilters.NullFileFilter\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\.qhnote\\PersistentHandler]\r\n"
      "@=\"{32E04D13-5E47-11D7-B40F-00D009EF4932}\"\r\n");
  const std::string file = PathIn("a note \"quoted\".qhnote");
  WriteBytes(file, "the content is not indexed\n");
  ProcessResult dump = RunZytfilt({"dump", "--json", file}, m_machine);
  ASSERT_EQ(dump.status, 0) << dump.err;
  const std::vector<std::string> lines = Lines(dump.out);
  ASSERT_EQ(lines.size(), 2u) << dump.out;
  const std::string quoted = JsonString(std::u16string(file.begin(), file.end()));
  EXPECT_EQ(lines[0], "{\"file\":" + quoted +
                          ",\"id\":1,\"breakType\":2,\"flags\":\"text\",\"locale\":" + std::to_string(GetSystemDefaultLCID()) +
                          ",\"propset\":\"{B725F130-47EF-101A-A5F1-02608C9EEBAC}\",\"propid\":19,\"idChunkSource\":1,"
                          "\"cwcStartSource\":0,\"cwcLenSource\":0,\"text\":" +
                          quoted + "}");
  EXPECT_EQ(lines[1], "{\"file\":" + quoted + ",\"end\":\"0x80041700\"}");
  EXPECT_EQ(dump.out.find("the content"), std::string::npos);
}

TEST_F(SimpleAdapterDumpTest, AnExtensionWithoutAPlugInFailsLoadInOneLine) {
  Import(
      "[HKEY_CLASSES_ROOT\\.qhnone\\PersistentHandler]\r\n"
      "@=\"{32E04D13-5E47-11D7-B40F-00D009EF4932}\"\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZYT\\Orrery\\Filters\\SimpleFileFilterAdapter\\.qhbad]\r\n"
      "@=\"{not a class}\"\r\n\r\n"
      "[HKEY_CLASSES_ROOT\\.qhbad\\PersistentHandler]\r\n"
      "@=\"{32E04D13-5E47-11D7-B40F-00D009EF4932}\"\r\n");
  for (const std::string name : {"x.qhnone", "x.qhbad"}) {
    WriteBytes(PathIn(name), "text\n");
    ProcessResult dump = RunZytfilt({"dump", "--json", PathIn(name)}, m_machine);
    EXPECT_EQ(dump.status, 1) << name;
    const std::vector<std::string> lines = Lines(dump.out);
    ASSERT_EQ(lines.size(), 1u) << dump.out;
    EXPECT_NE(lines[0].find("\"error\":\"0x800401f3\",\"step\":\"Load\""), std::string::npos) << lines[0];
  }
}

}  // namespace
}  // namespace ZYT::Test
