#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <thread>

#include "filters/items/EmailFilter.h"
#include "filters/items/MonitorRequest.h"
#include "platform/com/ComPtr.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Pipes.h"
#include "platform/win32/Sync.h"
#include "tests/filters/items/FakeMonitor.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using ZYT::ComPtr;
using ZYT::WalkResult;

DriveOptions ProxyOptions() {
  DriveOptions options;
  options.valueTextForwarded = true;
  return options;
}

const char kTwoAttachments[] =
    "From: Ann <ann@example.org>\r\n"
    "To: Bob <bob@example.org>\r\n"
    "Subject: Report\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed; boundary=\"b\"\r\n"
    "\r\n"
    "--b\r\nContent-Type: text/plain\r\n\r\nSee the files.\r\n"
    "--b\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=\"a.txt\"\r\n\r\nA\r\n"
    "--b\r\nContent-Type: application/pdf\r\nContent-Disposition: attachment; filename=\"b.pdf\"\r\n\r\nB\r\n"
    "--b--\r\n";

// The message server of a test.
class FakeMessageServer : public FakeMonitor {
 public:
  explicit FakeMessageServer(std::string message, HRESULT result = S_OK)
      : FakeMonitor(kMessageServerPipe, kMessageServerEvent, std::move(message), result) {}
};

class EmailFilterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    UseSettingsServer(*this, "<settings><repository><user location=\"" + PathIn("repo") + "\"/></repository></settings>");
    ASSERT_EQ(RegisterModule(ZYT_FILTERS_MODULE), S_OK);
    WriteBytes(PathIn("doc.qhm"), "message: whatever the monitor understands\n");
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};  // 2001-09-09
    utimensat(AT_FDCWD, PathIn("doc.qhm").c_str(), times, 0);
  }
  std::vector<std::string> TempFiles() { return ListDir(PathIn("repo/temp")); }
};

TEST_F(EmailFilterTest, MailChunksThenCountNamesAndSize) {
  FakeMessageServer monitor(kTwoAttachments);
  ComPtr<IFilter> filter;
  ASSERT_EQ(LoadIFilter(PathInW("doc.qhm").c_str(), nullptr, filter.put_void()), S_OK);
  auto temp = TempFiles();
  ASSERT_EQ(temp.size(), 1u);
  EXPECT_EQ(temp[0].substr(0, 3), "qhm");
  struct stat st;
  ASSERT_EQ(stat(PathIn("repo/temp/" + temp[0]).c_str(), &st), 0);
  // Access and creation times are set too, but reading the file moves the
  // one and Linux keeps no settable other.
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000) << "the message file carries the document's time";

  WalkResult r = DriveFilter(filter.get(), ProxyOptions());
  ASSERT_TRUE(ObeysProtocol(r));
  ASSERT_EQ(r.chunks.size(), 8u);
  EXPECT_EQ(Values(r), (std::vector<std::string>{"\"Report\"", "\"Ann <ann@example.org>\"", "\"Bob <bob@example.org>\"",
                                                 "\"\"", "\"2\"", "\"a.txt|b.pdf\"",
                                                 std::to_string(sizeof kTwoAttachments - 1)}));
  const STAT_CHUNK& size = r.chunks[7].stat;
  EXPECT_EQ(size.idChunk, 8u) << "own chunks continue after the mail filter's last";
  EXPECT_EQ(size.idChunkSource, 8u);
  EXPECT_EQ(size.attribute.psProperty.propid, 13u);
  EXPECT_EQ(r.chunks[7].vt, VT_UI4);
  EXPECT_EQ(ZYT::GuidToString(size.attribute.guidPropSet), u"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}");
  filter.Reset();
  EXPECT_TRUE(TempFiles().empty()) << "the message file goes with the filter";
}

TEST_F(EmailFilterTest, SinglePartMessageHasNoAttachments) {
  const std::string message = "Subject: Short\r\n\r\nJust text.\r\n";
  FakeMessageServer monitor(message);
  ComPtr<IFilter> filter;
  ASSERT_EQ(LoadIFilter(PathInW("doc.qhm").c_str(), nullptr, filter.put_void()), S_OK);
  WalkResult r = DriveFilter(filter.get(), ProxyOptions());
  ASSERT_TRUE(ObeysProtocol(r));
  auto values = Values(r);
  ASSERT_GE(values.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(values.end() - 3, values.end()),
            (std::vector<std::string>{"\"0\"", "\"\"", std::to_string(message.size())}));
}

TEST_F(EmailFilterTest, MonitorFailureFailsLoadAndLeavesNoFile) {
  FakeMessageServer monitor("", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  ComPtr<IFilter> filter;
  EXPECT_EQ(LoadIFilter(PathInW("doc.qhm").c_str(), nullptr, filter.put_void()), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(TempFiles().empty()) << "deleted at once, not at release";
}

}  // namespace
