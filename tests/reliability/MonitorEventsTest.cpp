// The monitor's running events and connections: clients that take a signal
// and never come, clients that connect and say nothing, a monitor that
// restarts under waiting clients, and one that cannot make its events.
#include <gtest/gtest.h>
#include <poll.h>

#include <fcntl.h>
#include <semaphore.h>
#include <sys/stat.h>

#include "filters/items/MonitorRequest.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Limits.h"
#include "platform/win32/ObjectNames.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "platform/win32/Sync.h"
#include "tests/reliability/MonitorRequests.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT::Test {
namespace {

const char kCard[] = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:ann\r\nFN:Ann Example\r\nEND:VCARD\r\n";

class MonitorEventsTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    WriteBytes(PathIn("people.vcf"), kCard);
    WriteBytes(PathIn("ann.qhcontact"), "item: people.vcf\n");
  }

  std::unique_ptr<ChildProcess> StartMonitor() {
    auto monitor = std::make_unique<ChildProcess>(std::vector<std::string>{ZYT_MONITOR});
    EXPECT_TRUE(monitor->WaitForErr("serving")) << monitor->Err();
    return monitor;
  }

  // A real client request for the contact, into a fresh empty target.
  std::function<HRESULT()> FetchAnn() {
    std::string target = PathIn("ann" + std::to_string(++m_targets) + ".xml");
    WriteBytes(target, "");
    std::u16string document = PathInW("ann.qhcontact"), targetW = Utf8ToWide(target);
    return [document, targetW] { return CMonitorRequest::FetchPimItem(document, targetW, 1, 0); };
  }

 private:
  int m_targets = 0;
};

TEST_F(MonitorEventsTest, ASignalTakenByAClientThatNeverComesIsGivenAgain) {
  auto monitor = StartMonitor();
  // Clients that wake up and then never connect: killed, or looking for the
  // pipe in another folder.
  HANDLE running = CreateEventW(nullptr, FALSE, FALSE, kPimServerEvent);
  ASSERT_NE(running, nullptr);
  for (int taken = 0; taken < 3; ++taken)
    ASSERT_EQ(WaitForSingleObject(running, kPatienceSeconds * 1000), WAIT_OBJECT_0)
        << "signal " << taken + 1 << ": the monitor keeps signalling while it can take requests";
  CloseHandle(running);
  EXPECT_EQ(InClientProcess(FetchAnn()), S_OK) << "a later client is not left waiting";
}

TEST_F(MonitorEventsTest, IdleConnectionsBlockNoOtherClient) {
  auto monitor = StartMonitor();
  int silent = ConnectToPipe(kPimServerPipe);
  int halfway = ConnectToPipe(kPimServerPipe);
  ASSERT_GE(silent, 0);
  ASSERT_GE(halfway, 0);
  BYTE half[CMonitorRequest::kRecordSize / 2] = {'a'};
  ASSERT_EQ(send(halfway, half, sizeof half, 0), static_cast<ssize_t>(sizeof half));
  int messageIdle = ConnectToPipe(kMessageServerPipe);
  ASSERT_GE(messageIdle, 0);
  EXPECT_EQ(InClientProcess(FetchAnn()), S_OK) << "served while three connections say nothing more";
  EXPECT_EQ(InClientProcess(FetchAnn()), S_OK);
  close(silent);
  close(halfway);
  close(messageIdle);
}

TEST_F(MonitorEventsTest, AnIdleClientHoldsAConnectionForOneRequestsTimeAtMost) {
  SetLimit(u"MonitorConnections", 1);
  SetLimit(u"MonitorRequestMilliseconds", 300);
  auto monitor = StartMonitor();
  int idle = ConnectToPipe(kPimServerPipe);
  ASSERT_GE(idle, 0);
  EXPECT_EQ(InClientProcess(FetchAnn()), S_OK) << "the only connection is freed when the idle client's time is up";
  pollfd closed{idle, POLLIN, 0};
  ASSERT_EQ(poll(&closed, 1, kPatienceSeconds * 1000), 1);
  BYTE answer[CMonitorRequest::kRecordSize];
  EXPECT_EQ(recv(idle, answer, sizeof answer, 0), 0) << "the idle client is let go without an answer";
  close(idle);
}

TEST_F(MonitorEventsTest, WaitingClientsOutliveARestart) {
  auto first = StartMonitor();
  // A client that opened the event while the first monitor ran.
  HANDLE held = CreateEventW(nullptr, FALSE, FALSE, kPimServerEvent);
  ASSERT_NE(held, nullptr);
  ASSERT_EQ(first->Stop().status, 0) << first->Err();
  EXPECT_EQ(WaitForSingleObject(held, 0), WAIT_TIMEOUT) << "no signal outlives a clean stop";

  ClientProcess waiting(FetchAnn());  // waits: no monitor runs
  auto second = StartMonitor();
  EXPECT_EQ(waiting.Get(kPatienceSeconds), S_OK) << "a client that waited across the restart is served";
  EXPECT_EQ(WaitForSingleObject(held, kPatienceSeconds * 1000), WAIT_OBJECT_0)
      << "the new monitor signals the event the old one's clients hold";
  CloseHandle(held);
  EXPECT_EQ(second->Stop().status, 0);
}

TEST_F(MonitorEventsTest, NoMonitorStartsWithoutItsEvents) {
  // Something else holds the semaphore's name: it cannot be created or opened.
  std::string semaphore = "/dev/shm/sem." + SemaphoreNameFor(kMessageServerEvent).substr(1);
  ASSERT_EQ(mkdir(semaphore.c_str(), 0700), 0);
  ChildProcess monitor({ZYT_MONITOR});
  EXPECT_FALSE(monitor.WaitForErr("serving")) << "a monitor whose clients never learn that it runs must not start";
  EXPECT_EQ(monitor.Wait().status, 1);
  std::string errors = monitor.Err();
  EXPECT_NE(errors.find("zyt-monitor: cannot create the event \"Global\\ZYT_Orrery message server running event\""),
            std::string::npos)
      << errors;
  EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line:\n" << errors;
  EXPECT_FALSE(Exists(SocketPathFor(kMessageServerPipe)));
  EXPECT_FALSE(Exists(SocketPathFor(kPimServerPipe)));
  rmdir(semaphore.c_str());
}

TEST_F(MonitorEventsTest, AnotherUsersEventIsNotUsed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to give a semaphore to another user";
  // Made first by another user, who could then hold back or fake the signals.
  std::string name = SemaphoreNameFor(kPimServerEvent);
  sem_t* planted = sem_open(name.c_str(), O_CREAT | O_EXCL, 0666, 0);
  ASSERT_NE(planted, SEM_FAILED);
  sem_close(planted);
  ASSERT_EQ(chown(("/dev/shm/sem." + name.substr(1)).c_str(), 65534, 65534), 0);

  ChildProcess monitor({ZYT_MONITOR});
  EXPECT_FALSE(monitor.WaitForErr("serving"));
  EXPECT_EQ(monitor.Wait().status, 1);
  std::string errors = monitor.Err();
  EXPECT_NE(errors.find("cannot create the event \"Global\\ZYT_Orrery pim server running event\""), std::string::npos)
      << errors;
  EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line:\n" << errors;
  EXPECT_EQ(InClientProcess(FetchAnn()), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)) << "the client does not wait on it";
}

}  // namespace
}  // namespace ZYT::Test
