// Real filter hosts (zytfilt dump) and a real zyt-monitor for the monitor
// client's reliability tests: a test's machine with the filters registered,
// the repository inside the test's folder, and the filters' logs switched on.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "filters/items/MonitorRequest.h"
#include "platform/win32/Limits.h"
#include "platform/win32/ObjectNames.h"
#include "platform/win32/Registry.h"
#include "tests/support/TestEnvironment.h"

extern char** environ;

namespace ZYT::Test::MonitorClient {

// Polls until done() holds; false after 20 s, so that a hang fails the test.
inline bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 2000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// A child process whose standard output and error go to a file.
class Child {
 public:
  Child(const std::vector<std::string>& args, const std::string& output) : m_output(output) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    int rc = posix_spawn(&m_pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(rc, 0) << "cannot start " << args[0];
    if (rc != 0) m_pid = 0;
  }
  ~Child() { Kill(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t Pid() const { return m_pid; }
  bool Running() {
    if (m_pid <= 0) return false;
    int status = 0;
    if (waitpid(m_pid, &status, WNOHANG) == 0) return true;
    m_status = status;
    m_pid = 0;
    return false;
  }
  // The exit code; -1 when it did not exit by itself within 20 s (it is then killed).
  int Wait() {
    if (!Eventually([&] { return !Running(); })) {
      Kill();
      return -1;
    }
    return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : -1;
  }
  void Signal(int signal) {
    if (m_pid > 0) kill(m_pid, signal);
  }
  void Kill() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGKILL);
    waitpid(m_pid, &m_status, 0);
    m_pid = 0;
  }
  std::string Output() const {
    std::ifstream in(m_output, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

 private:
  pid_t m_pid = 0;
  int m_status = 0;
  std::string m_output;
};

class ClientMachineTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    UseSettingsServer(*this, "<settings><repository><user location=\"" + PathIn("repo") + "\"/></repository></settings>");
    ASSERT_EQ(RegisterModule(ZYT_FILTERS_MODULE), S_OK);
    mkdir(PathIn("repo").c_str(), 0700);
    mkdir(PathIn("repo/Debug.Filter").c_str(), 0700);
  }
  void TearDown() override {
    m_hosts.clear();
    StopMonitor();
    MachineTest::TearDown();
  }

  // The message filter repeats its "waiting" entry every second, not every ten.
  void LogWaitEverySecond() {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLimitsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const DWORD one = 1;
    EXPECT_EQ(RegSetValueExW(key, u"MonitorWaitLogInterval", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  std::string TempFolder() const { return PathIn("repo/temp"); }
  std::vector<std::string> TempFiles() const { return ListDir(TempFolder()); }

  // A message document and the message it stands for.
  void WriteMessage(const std::string& document, const std::string& subject) {
    WriteBytes(document + ".eml", "From: ann@example.org\r\nSubject: " + subject + "\r\n\r\nBody of " + subject + "\r\n");
    WriteBytes(document, "message: " + document + ".eml\n");
  }

  // zytfilt dump of the files, its output in a file of the test's folder.
  Child& StartDump(const std::vector<std::string>& files) {
    std::vector<std::string> args{ZYT_ZYTFILT, "dump"};
    args.insert(args.end(), files.begin(), files.end());
    m_hosts.push_back(std::make_unique<Child>(args, PathIn("host" + std::to_string(m_hosts.size()) + ".out")));
    return *m_hosts.back();
  }

  // Starts zyt-monitor and waits until it serves (its sockets exist).
  void StartMonitor() {
    m_monitor = std::make_unique<Child>(std::vector<std::string>{ZYT_MONITOR}, PathIn("monitor.out"));
    ASSERT_TRUE(Eventually([&] { return Exists(ZYT::SocketPathFor(kPimServerPipe)) &&
                                        Exists(ZYT::SocketPathFor(kMessageServerPipe)); }))
        << "the monitor did not start: " << m_monitor->Output();
  }
  void StopMonitor() {
    if (!m_monitor) return;
    m_monitor->Signal(SIGTERM);
    EXPECT_EQ(m_monitor->Wait(), 0) << "the monitor must stop cleanly";
    m_monitor.reset();
  }

  // The text of every log file of the message filter.
  std::string MessageFilterLogs() const {
    std::string text;
    for (const std::string& name : ListDir(PathIn("repo/Debug.Filter")))
      if (name.rfind("EML", 0) == 0) text += ReadBytes(PathIn("repo/Debug.Filter/" + name));
    return text;
  }

  std::vector<std::unique_ptr<Child>> m_hosts;
  std::unique_ptr<Child> m_monitor;
};

}  // namespace ZYT::Test::MonitorClient
