#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "filters/items/MonitorRequest.h"
#include "platform/win32/ObjectNames.h"
#include "platform/win32/Pipes.h"
#include "platform/win32/Strings.h"
#include "tests/reliability/MonitorRequests.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tools/zyt-monitor/MonitorItems.h"

namespace {

using namespace ZYT::Test;

const char kCards[] =
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:first\r\nFN:Ann Example\r\nEMAIL:ann@example.org\r\nEND:VCARD\r\n"
    "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:second\r\nFN:Bob <Builder>\r\nNOTE:line one\\nline two\\, and\r\n"
    "  a folded rest\r\nEND:VCARD\r\n";  // a fold drops one blank, not both

TEST(PimItemTest, EntriesBecomeItemDocuments) {
  EXPECT_EQ(ZytMonitor::PimItemXml("contact", kCards, ""),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<contact><title>Ann Example</title><status/>"
            "<version>3.0</version><uid>first</uid><fn>Ann Example</fn><email>ann@example.org</email></contact>\n");
  std::string bob = ZytMonitor::PimItemXml("contact", kCards, "second");
  EXPECT_NE(bob.find("<title>Bob &lt;Builder&gt;</title>"), std::string::npos) << bob;
  EXPECT_NE(bob.find("<note>line one\nline two, and a folded rest</note>"), std::string::npos) << bob;
  EXPECT_EQ(ZytMonitor::PimItemXml("contact", kCards, "third"), "");
  const char calendar[] =
      "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:t1\r\nSUMMARY:Pay bills\r\nSTATUS:NEEDS-ACTION\r\n"
      "BEGIN:VALARM\r\nACTION:DISPLAY\r\nEND:VALARM\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
  std::string task = ZytMonitor::PimItemXml("task", calendar, "");
  EXPECT_NE(task.find("<title>Pay bills</title><status>NEEDS-ACTION</status>"), std::string::npos) << task;
  EXPECT_EQ(task.find("action"), std::string::npos) << "an alarm's properties are not the task's";
  EXPECT_EQ(ZytMonitor::PimItemXml("event", calendar, ""), "") << "a task is not an event";
}

class MonitorTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    m_monitor = std::make_unique<ChildProcess>(std::vector<std::string>{ZYT_MONITOR});
    ASSERT_TRUE(Eventually([&] { return Exists(ZYT::SocketPathFor(kPimServerPipe)); }))
        << "the monitor did not start: " << m_monitor->Err();
  }
  void TearDown() override {
    if (m_monitor) {
      EXPECT_EQ(m_monitor->Stop().status, 0) << "the monitor must stop cleanly: " << m_monitor->Err();
      EXPECT_FALSE(Exists(ZYT::SocketPathFor(kMessageServerPipe))) << "no socket file outlives the monitor";
    }
    MachineTest::TearDown();
  }
  HRESULT FetchPim(const std::string& document, const std::string& target) {
    return CMonitorRequest::FetchPimItem(PathInW(document), PathInW(target), 1, 0);
  }
  std::unique_ptr<ChildProcess> m_monitor;
};

TEST_F(MonitorTest, PimItemsAreWrittenIntoTheTarget) {
  WriteBytes(PathIn("people.vcf"), kCards);
  WriteBytes(PathIn("bob.qhcontact"), "# a contact\nitem: people.vcf#second\n");
  WriteBytes(PathIn("out.xml"), "");
  ASSERT_EQ(FetchPim("bob.qhcontact", "out.xml"), S_OK);
  EXPECT_NE(ReadBytes(PathIn("out.xml")).find("<contact><title>Bob &lt;Builder&gt;</title>"), std::string::npos);

  WriteBytes(PathIn("busy.xml"), "somebody's data");
  EXPECT_EQ(FetchPim("bob.qhcontact", "busy.xml"), E_ACCESSDENIED) << "only an empty target is written";
  EXPECT_EQ(ReadBytes(PathIn("busy.xml")), "somebody's data");
  WriteBytes(PathIn("gone.qhcontact"), "item: missing.vcf\n");
  WriteBytes(PathIn("out2.xml"), "");
  EXPECT_EQ(FetchPim("gone.qhcontact", "out2.xml"), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
}

TEST_F(MonitorTest, MalformedRequestsAndVanishingClientsAreSurvived) {
  BYTE small[10] = {1, 2, 3};
  BYTE answer[CMonitorRequest::kRecordSize];
  DWORD read = 0;
  ASSERT_TRUE(CallNamedPipeW(kPimServerPipe, small, sizeof small, answer, sizeof answer, &read, 1000)) << GetLastError();
  EXPECT_EQ(read, CMonitorRequest::kRecordSize) << "a short request still gets a whole answer";
  EXPECT_EQ(CMonitorRequest::ResultOf(answer), E_INVALIDARG);

  // A client that connects and leaves without a word.
  int fd = ConnectToPipe(kPimServerPipe);
  ASSERT_GE(fd, 0);
  close(fd);

  WriteBytes(PathIn("people.vcf"), kCards);
  WriteBytes(PathIn("ann.qhcontact"), "item: " + PathIn("people.vcf") + "\n");
  WriteBytes(PathIn("out.xml"), "");
  EXPECT_EQ(FetchPim("ann.qhcontact", "out.xml"), S_OK) << "the monitor still serves";
}

TEST_F(MonitorTest, MessageDocumentIsDumpedEndToEnd) {
  ASSERT_EQ(RegisterModule(ZYT_COMPONENTS_MODULE), S_OK);
  ASSERT_EQ(RegisterModule(ZYT_FILTERS_MODULE), S_OK);
  WriteBytes(SettingsPath(), "<settings><repository><user location=\"" + PathIn("repo") + "\"/></repository></settings>");
  WriteBytes(PathIn("mail.eml"),
             "From: ann@example.org\r\nSubject: Minutes\r\nMIME-Version: 1.0\r\n"
             "Content-Type: multipart/mixed; boundary=\"x\"\r\n\r\n--x\r\nContent-Type: text/plain\r\n\r\nAgenda\r\n"
             "--x\r\nContent-Disposition: attachment; filename=\"plan.ods\"\r\n\r\nP\r\n--x--\r\n");
  WriteBytes(PathIn("msg.qhm"), "message: mail.eml\n");
  ProcessResult dump =
      RunZytfilt({"dump", "--json", PathIn("msg.qhm")}, {.env = {{"ZYT_SETTINGS", SettingsPath()}}});
  ASSERT_EQ(dump.status, 0) << dump.out << dump.err;
  const std::string& out = dump.out;
  for (const char* expected :
       {"\"propid\":5,\"idChunkSource\":1,\"cwcStartSource\":0,\"cwcLenSource\":0,\"value\":{\"vt\":31,\"data\":\"Minutes\"}",
        "\"text\":\"Agenda\"", "\"propid\":9,", "\"data\":\"1\"", "\"data\":\"plan.ods\"", "\"propid\":13,",
        "\"end\":\"0x80041700\""})
    EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
  EXPECT_TRUE(ListDir(PathIn("repo/temp")).empty()) << "no temporary file is left";
}

}  // namespace
