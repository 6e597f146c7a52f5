// Runs the command-line host as a real process (no shell) for the Cli* tests:
// its environment is the test's (private registry, settings, namespace), its
// stdout and stderr are read apart, and a run that outlives its time-out is
// killed and fails the test instead of hanging the suite.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace ZYT::Test {

struct CliOutput {
  int status = -1;  // the exit status; -1 when killed or not started
  std::string out, err;
};

inline std::vector<std::string> CliLines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t pos = 0, end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1)
    lines.push_back(text.substr(pos, end - pos));
  return lines;
}

class CliProcess {
 public:
  // Starts argv[0] (a path) with the test's environment, in folder cwd when given.
  explicit CliProcess(const std::vector<std::string>& argv, const std::string& cwd = "") {
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe";
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ) != 0) {
      ADD_FAILURE() << "cannot start " << argv[0];
      m_pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    m_out = out[0];
    m_err = err[0];
  }
  ~CliProcess() {
    Kill();
    if (m_out >= 0) close(m_out);
    if (m_err >= 0) close(m_err);
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // Reads until the process has closed both streams and ended; kills it
  // after timeoutSeconds and fails the test.
  CliOutput Finish(int timeoutSeconds = 30) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (m_out >= 0 || m_err >= 0) {
      if (!ReadSome(deadline)) {
        ADD_FAILURE() << "still running after " << timeoutSeconds << " s; stderr so far: " << m_output.err;
        Kill();
        return m_output;
      }
    }
    int status = 0;
    if (m_pid > 0 && waitpid(m_pid, &status, 0) == m_pid)
      m_output.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    m_pid = -1;
    return m_output;
  }

  // Reads stderr until it holds `count` complete lines containing `text`;
  // false after timeoutSeconds or when the process ended first.
  bool WaitForStderr(const std::string& text, size_t count, int timeoutSeconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    for (;;) {
      size_t seen = 0;
      for (const std::string& line : CliLines(m_output.err))
        if (line.find(text) != std::string::npos) ++seen;
      if (seen >= count) return true;
      if ((m_out < 0 && m_err < 0) || !ReadSome(deadline)) return false;
    }
  }

  void Kill() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGKILL);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
  }

  const CliOutput& Output() const { return m_output; }

 private:
  // One poll over the open streams; false when the deadline passed.
  bool ReadSome(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd fds[2] = {{m_out, POLLIN, 0}, {m_err, POLLIN, 0}};
    int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0) return errno == EINTR;
    if (ready == 0) return false;
    Drain(fds[0], m_out, m_output.out);
    Drain(fds[1], m_err, m_output.err);
    return true;
  }
  static void Drain(const pollfd& fd, int& stream, std::string& into) {
    if (stream < 0 || !(fd.revents & (POLLIN | POLLHUP | POLLERR))) return;
    char buffer[4096];
    ssize_t n = read(stream, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      close(stream);
      stream = -1;
    }
  }

  pid_t m_pid = -1;
  int m_out = -1, m_err = -1;
  CliOutput m_output;
};

// Runs the built zytfilt with arguments and waits for it.
inline CliOutput RunZytfilt(const std::vector<std::string>& arguments, const std::string& cwd = "",
                            int timeoutSeconds = 30) {
  std::vector<std::string> argv{ZYT_ZYTFILT};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  CliProcess process(argv, cwd);
  return process.Finish(timeoutSeconds);
}

}  // namespace ZYT::Test
