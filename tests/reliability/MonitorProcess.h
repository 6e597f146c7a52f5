// A real zyt-monitor of the test's machine, and client requests made in child
// processes, so that a client that would wait forever fails the test after a
// generous time instead of hanging it.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "platform/win32/ObjectNames.h"
#include "platform/win32/WinTypes.h"

extern char** environ;

namespace ZYT::Test {

inline constexpr int kPatienceSeconds = 20;

class MonitorProcess {
 public:
  // Starts the monitor with the test's environment; its standard error goes to errorFile.
  explicit MonitorProcess(std::string errorFile) : m_errorFile(std::move(errorFile)) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, m_errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    char* argv[] = {const_cast<char*>(ZYT_MONITOR), nullptr};
    if (posix_spawn(&m_pid, ZYT_MONITOR, &actions, nullptr, argv, environ) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~MonitorProcess() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }
  MonitorProcess(const MonitorProcess&) = delete;
  MonitorProcess& operator=(const MonitorProcess&) = delete;

  pid_t Pid() const { return m_pid; }

  // True once the monitor has said that it serves; false when it exited
  // first (ExitStatus() then tells how) or did not get that far in time.
  bool WaitUntilServing() {
    for (int i = 0; i < kPatienceSeconds * 100; ++i) {
      if (Errors().find("serving") != std::string::npos) return true;
      if (Reap(WNOHANG)) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  // Asks the monitor to stop; its exit status (-1 when it did not exit normally).
  int Stop() {
    if (m_pid > 0) {
      kill(m_pid, SIGTERM);
      Reap(0);
    }
    return m_status;
  }

  int ExitStatus() const { return m_status; }

  std::string Errors() const {
    std::ifstream in(m_errorFile);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

 private:
  bool Reap(int options) {
    if (m_pid <= 0) return true;
    int status = 0;
    if (waitpid(m_pid, &status, options) != m_pid) return false;
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m_pid = -1;
    return true;
  }

  std::string m_errorFile;
  pid_t m_pid = -1;
  int m_status = -1;
};

// Runs work in a child process of its own, from the constructor on.
class ClientProcess {
 public:
  explicit ClientProcess(const std::function<HRESULT()>& work) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    m_pid = fork();
    if (m_pid == 0) {
      close(fds[0]);
      HRESULT result = work();
      _exit(write(fds[1], &result, sizeof result) == sizeof result ? 0 : 1);
    }
    close(fds[1]);
    m_answer = fds[0];
  }
  ~ClientProcess() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
    if (m_answer >= 0) close(m_answer);
  }
  ClientProcess(const ClientProcess&) = delete;
  ClientProcess& operator=(const ClientProcess&) = delete;

  // The work's result; nothing when it has not returned in kPatienceSeconds.
  std::optional<HRESULT> Result() {
    std::optional<HRESULT> result;
    pollfd ready{m_answer, POLLIN, 0};
    HRESULT value = 0;
    if (m_pid > 0 && poll(&ready, 1, kPatienceSeconds * 1000) == 1 && read(m_answer, &value, sizeof value) == sizeof value)
      result = value;
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
      m_pid = -1;
    }
    return result;
  }

 private:
  pid_t m_pid = -1;
  int m_answer = -1;
};

inline std::optional<HRESULT> InClientProcess(const std::function<HRESULT()>& work) {
  return ClientProcess(work).Result();
}

// A raw connection to a pipe's socket, as a client that sends what it likes.
inline int ConnectToPipe(const char16_t* pipeName) {
  std::string path = ZYT::SocketPathFor(pipeName);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return -1;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    fd = -1;
  }
  return fd;
}

}  // namespace ZYT::Test
