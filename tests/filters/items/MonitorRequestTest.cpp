#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include <unistd.h>

#include "filters/items/MonitorRequest.h"
#include "platform/win32/Pipes.h"
#include "platform/win32/Sync.h"
#include "tests/support/TestEnvironment.h"

namespace {

// A message server in a thread: answers one request with what the test says.
class TestServer {
 public:
  // With a gate, the server signals only once the gate is open (or after 20 s).
  TestServer(std::function<std::string(const BYTE* record, DWORD size)> answer, const std::atomic<bool>* gate = nullptr)
      : m_answer(std::move(answer)) {
    m_pipe = CreateNamedPipeW(kMessageServerPipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 4096, 4096, 0, nullptr);
    EXPECT_NE(m_pipe, INVALID_HANDLE_VALUE);
    m_thread = std::thread([this, gate] {
      for (int i = 0; gate && !*gate && i < 2000; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      HANDLE running = CreateEventW(nullptr, FALSE, FALSE, kMessageServerEvent);
      SetEvent(running);
      CloseHandle(running);
      if (!ConnectNamedPipe(m_pipe, nullptr)) return;
      BYTE record[4096];
      DWORD read = 0;
      ReadFile(m_pipe, record, sizeof record, &read, nullptr);
      received.assign(reinterpret_cast<char*>(record), read);
      std::string reply = m_answer(record, read);
      DWORD written = 0;
      WriteFile(m_pipe, reply.data(), static_cast<DWORD>(reply.size()), &written, nullptr);
      DisconnectNamedPipe(m_pipe);
    });
  }
  ~TestServer() {
    m_thread.join();
    CloseHandle(m_pipe);
  }
  std::string received;

 private:
  std::function<std::string(const BYTE*, DWORD)> m_answer;
  HANDLE m_pipe;
  std::thread m_thread;
};

std::string WithResult(const BYTE* record, HRESULT result) {
  BYTE copy[CMonitorRequest::kRecordSize];
  std::memcpy(copy, record, sizeof copy);
  CMonitorRequest::SetResult(copy, result);
  return std::string(reinterpret_cast<char*>(copy), sizeof copy);
}

class MonitorRequestTest : public ZYT::Test::MachineTest {};

TEST_F(MonitorRequestTest, WholeAnswerCarriesTheServersResult) {
  {
    TestServer server([](const BYTE* r, DWORD) { return WithResult(r, S_OK); });
    EXPECT_EQ(CMonitorRequest::FetchMessage(u"C:\\Mail\\1.qhm", u"/tmp/t.tmp", 1, 0), S_OK);
    ASSERT_EQ(server.received.size(), 1052u) << "the record always goes whole";
    auto request = CMonitorRequest::Parse(reinterpret_cast<const BYTE*>(server.received.data()));
    EXPECT_EQ(request.source, u"C:\\Mail\\1.qhm");
    EXPECT_EQ(request.target, u"/tmp/t.tmp");
    EXPECT_EQ(request.flag, 1);
    EXPECT_EQ(CMonitorRequest::ResultOf(reinterpret_cast<const BYTE*>(server.received.data())), E_FAIL)
        << "the client sends E_FAIL in the result field";
  }
  {
    TestServer server([](const BYTE* r, DWORD) { return WithResult(r, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)); });
    EXPECT_EQ(CMonitorRequest::FetchMessage(u"a", u"b", 1, 0), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  }
  {
    TestServer server([](const BYTE*, DWORD) { return std::string("\0\0\0\0", 4); });
    EXPECT_EQ(CMonitorRequest::FetchMessage(u"a", u"b", 1, 0), MakeHResult(0x8007000D)) << "a 4-byte answer";
  }
}

TEST_F(MonitorRequestTest, PathsFillTheirFieldsAtMost) {
  std::u16string exact(260, u'x'), longer(300, u'y');
  BYTE record[CMonitorRequest::kRecordSize];
  CMonitorRequest::Build(exact, longer, 1, record);
  EXPECT_EQ(record[520], 0) << "260 characters keep their terminating zero";
  EXPECT_EQ(record[521], 0);
  EXPECT_EQ(record[522 + 520], 'y') << "261 characters fill the field";
  EXPECT_EQ(record[1044], 1);
  EXPECT_EQ(record[1045] | record[1046] | record[1047], 0);
  auto request = CMonitorRequest::Parse(record);
  EXPECT_EQ(request.source, exact);
  EXPECT_EQ(request.target, longer.substr(0, 261));
  EXPECT_EQ(CMonitorRequest::ResultOf(record), E_FAIL);
}

TEST_F(MonitorRequestTest, NoServerBehindTheEventIsAnError) {
  HANDLE running = CreateEventW(nullptr, FALSE, TRUE, kPimServerEvent);  // a stale signal
  EXPECT_EQ(CMonitorRequest::FetchPimItem(u"a", u"b", 1, 0), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  CloseHandle(running);
}

TEST_F(MonitorRequestTest, PathsACutWouldChangeAreRefusedBeforeAnyWait) {
  // No server and no signal: a refused request must not wait for one.
  alarm(30);
  const HRESULT tooLong = HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  const std::u16string fits(261, u'f'), over(262, u'o');
  EXPECT_TRUE(CMonitorRequest::PathFits(fits));
  EXPECT_FALSE(CMonitorRequest::PathFits(over));
  EXPECT_FALSE(CMonitorRequest::PathFits(std::u16string(u"a.qhm\0b", 8))) << "a reader stops at the zero";
  EXPECT_EQ(CMonitorRequest::FetchMessage(over, u"t", 1, 0), tooLong);
  EXPECT_EQ(CMonitorRequest::FetchMessage(u"s", over, 1, 0), tooLong);
  EXPECT_EQ(CMonitorRequest::FetchPimItem(over, u"t", 1, 0), tooLong);
  EXPECT_EQ(CMonitorRequest::FetchPimItem(u"s", over, 1, 0), tooLong);
  alarm(0);
}

TEST_F(MonitorRequestTest, WaitIsReportedOnlyWhenThereIsOne) {
  std::vector<DWORD> notices;
  std::atomic<bool> told{false};
  {
    // The server comes up only once the client has said that it waits.
    TestServer server([](const BYTE* r, DWORD) { return WithResult(r, S_OK); }, &told);
    EXPECT_EQ(CMonitorRequest::FetchMessage(u"a", u"b", 1, 0,
                                            [&](DWORD waited) {
                                              notices.push_back(waited);
                                              told = true;
                                            }),
              S_OK);
  }
  EXPECT_EQ(notices, std::vector<DWORD>{0}) << "a client that has to wait says so when it starts";
  notices.clear();
  HANDLE running = CreateEventW(nullptr, FALSE, FALSE, kMessageServerEvent);
  SetEvent(running);  // the server is up before the client comes
  {
    TestServer server([](const BYTE* r, DWORD) { return WithResult(r, S_OK); });
    EXPECT_EQ(CMonitorRequest::FetchMessage(u"a", u"b", 1, 0, [&](DWORD waited) { notices.push_back(waited); }), S_OK);
  }
  CloseHandle(running);
  EXPECT_TRUE(notices.empty()) << "no wait, no notice";
}

}  // namespace
