// Real filter hosts (zytfilt dump) and a real zyt-monitor for the monitor
// client's reliability tests: a test's machine with the filters registered,
// the repository inside the test's folder, and the filters' logs switched on.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <memory>
#include <string>
#include <vector>

#include "filters/items/MonitorRequest.h"
#include "platform/win32/Limits.h"
#include "platform/win32/ObjectNames.h"
#include "platform/win32/Registry.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Repository.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT::Test::MonitorClient {

class ClientMachineTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    UseRepository(*this, true);
    ASSERT_EQ(RegisterModule(ZYT_FILTERS_MODULE), S_OK);
  }
  void TearDown() override {
    m_hosts.clear();
    StopMonitor();
    MachineTest::TearDown();
  }

  // The message filter repeats its "waiting" entry every second, not every ten.
  void LogWaitEverySecond() { SetLimit(u"MonitorWaitLogInterval", 1); }

  std::string TempFolder() const { return PathIn("repo/temp"); }
  std::vector<std::string> TempFiles() const { return ListDir(TempFolder()); }

  // A message document and the message it stands for.
  void WriteMessage(const std::string& document, const std::string& subject) {
    WriteBytes(document + ".eml", "From: ann@example.org\r\nSubject: " + subject + "\r\n\r\nBody of " + subject + "\r\n");
    WriteBytes(document, "message: " + document + ".eml\n");
  }

  // zytfilt dump of the files.
  ChildProcess& StartDump(const std::vector<std::string>& files) {
    std::vector<std::string> args{ZYT_ZYTFILT, "dump"};
    args.insert(args.end(), files.begin(), files.end());
    return *m_hosts.emplace_back(std::make_unique<ChildProcess>(args));
  }

  // Starts zyt-monitor and waits until it serves (its sockets exist).
  void StartMonitor() {
    m_monitor = std::make_unique<ChildProcess>(std::vector<std::string>{ZYT_MONITOR});
    ASSERT_TRUE(Eventually([&] { return Exists(ZYT::SocketPathFor(kPimServerPipe)) &&
                                        Exists(ZYT::SocketPathFor(kMessageServerPipe)); }))
        << "the monitor did not start: " << m_monitor->Output();
  }
  void StopMonitor() {
    if (!m_monitor) return;
    EXPECT_EQ(m_monitor->Stop().status, 0) << "the monitor must stop cleanly";
    m_monitor.reset();
  }

  // The text of every log file of the message filter.
  std::string MessageFilterLogs() const {
    std::string text;
    for (const std::string& name : ListDir(PathIn("repo/Debug.Filter")))
      if (name.rfind("EML", 0) == 0) text += ReadBytes(PathIn("repo/Debug.Filter/" + name));
    return text;
  }

  std::vector<std::unique_ptr<ChildProcess>> m_hosts;
  std::unique_ptr<ChildProcess> m_monitor;
};

}  // namespace ZYT::Test::MonitorClient
