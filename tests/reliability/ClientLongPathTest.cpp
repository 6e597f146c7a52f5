// A monitor request holds each path in 261 UTF-16 code units. A longer path
// cut to its field names another file, whose item the monitor would serve or
// into which it would write: the client refuses such a path instead.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/win32/Strings.h"
#include "tests/reliability/ClientHosts.h"

namespace ZYT::Test::MonitorClient {
namespace {

constexpr HRESULT kTooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);

class ClientLongPathTest : public ClientMachineTest {
 protected:
  // A folder in the test's folder whose path plus tail is exactly length characters.
  std::string FolderFor(size_t length, const std::string& tail) {
    std::string folder = TempDir();
    size_t want = length - tail.size() - 1;
    EXPECT_LT(folder.size() + 2, want);
    while (folder.size() < want) {
      size_t part = std::min<size_t>(100, want - folder.size() - 1);
      if (want - folder.size() - 1 - part == 1) --part;  // never leave room for "/" alone
      folder += "/" + std::string(part, 'd');
      mkdir(folder.c_str(), 0700);
    }
    EXPECT_EQ(folder.size() + 1 + tail.size(), length);
    return folder;
  }
};

TEST_F(ClientLongPathTest, DocumentPathsOfTheFieldsLengthOnly) {
  const std::string folder = FolderFor(CMonitorRequest::kPathChars, "m.qhm");
  const std::string longest = folder + "/m.qhm";   // 261: fills the field
  const std::string tooLong = folder + "/mm.qhm";  // 262: cut, it reads ".../mm.qh"
  ASSERT_EQ(longest.size(), 261u);
  ASSERT_EQ(tooLong.size(), 262u);
  WriteBytes(PathIn("fits.eml"), "Subject: Fits\r\n\r\nthe longest path\r\n");
  WriteBytes(PathIn("long.eml"), "Subject: Long\r\n\r\none character more\r\n");
  WriteBytes(PathIn("other.eml"), "Subject: Other\r\n\r\nsomebody else's message\r\n");
  WriteBytes(longest, "message: " + PathIn("fits.eml") + "\n");
  WriteBytes(tooLong, "message: " + PathIn("long.eml") + "\n");
  WriteBytes(tooLong.substr(0, 261), "message: " + PathIn("other.eml") + "\n");  // what the cut names
  StartMonitor();

  ChildProcess& fits = StartDump({longest});
  EXPECT_EQ(fits.Wait().status, 0) << fits.Output();
  EXPECT_NE(fits.Output().find("the longest path"), std::string::npos) << fits.Output();

  ChildProcess& refused = StartDump({tooLong});
  EXPECT_NE(refused.Wait().status, 0) << refused.Output();
  EXPECT_NE(refused.Output().find("0x800700ce"), std::string::npos) << refused.Output();
  EXPECT_EQ(refused.Output().find("somebody else"), std::string::npos) << "another file's message was served";
  EXPECT_NE(MessageFilterLogs().find("Load: the document path has 262 characters"), std::string::npos)
      << MessageFilterLogs();
  EXPECT_TRUE(TempFiles().empty()) << "a refused document leaves no file";
}

TEST_F(ClientLongPathTest, AnswerPathsOfTheFieldsLengthOnly) {
  WriteBytes(PathIn("m.eml"), "Subject: Target\r\n\r\nwritten\r\n");
  WriteBytes(PathIn("m.qhm"), "message: m.eml\n");
  const std::string folder = FolderFor(CMonitorRequest::kPathChars, "t.tmp");
  const std::string longest = folder + "/t.tmp";
  const std::string tooLong = folder + "/tt.tmp";
  const std::string cut = tooLong.substr(0, 261);  // ".../tt.tm"
  for (const std::string& path : {longest, tooLong, cut}) WriteBytes(path, "");
  StartMonitor();

  EXPECT_EQ(CMonitorRequest::FetchMessage(PathInW("m.qhm"), Utf8ToWide(longest), 1, 0), S_OK);
  EXPECT_NE(ReadBytes(longest).find("written"), std::string::npos);
  EXPECT_EQ(CMonitorRequest::FetchMessage(PathInW("m.qhm"), Utf8ToWide(tooLong), 1, 0), kTooLong);
  EXPECT_EQ(ReadBytes(cut), "") << "the monitor wrote into the file the cut path names";
  EXPECT_EQ(CMonitorRequest::FetchPimItem(std::u16string(262, u'p'), PathInW("x.xml"), 1, 0), kTooLong)
      << "the PIM request is bounded the same way";
}

}  // namespace
}  // namespace ZYT::Test::MonitorClient
