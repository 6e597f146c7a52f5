// Runs zytfilt on a test's machine with a watchdog: a command that hangs is
// killed and reported instead of hanging the suite.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/TestEnvironment.h"

namespace ZYT::Test {

struct FilesRunResult {
  bool hung = false;  // still running when the watchdog fired
  int status = -1;    // exit status, -1 when it did not exit normally
  std::string out, err;
};

// argv goes to exec as bytes, so names that are not UTF-8 reach zytfilt as
// they are. HOME and XDG_DATA_HOME point into the test's folder.
inline FilesRunResult RunZytfilt(const MachineTest& test, const std::vector<std::string>& arguments,
                                 int watchdogSeconds = 20) {
  FilesRunResult result;
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0) return result;
  if (pipe2(err, O_CLOEXEC) != 0) {
    close(out[0]);
    close(out[1]);
    return result;
  }
  std::vector<std::string> args{ZYT_ZYTFILT};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::string settings = test.SettingsPath(), home = test.PathIn("home");
  mkdir(home.c_str(), 0700);
  pid_t child = fork();
  if (child == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    setenv("ZYT_SETTINGS", settings.c_str(), 1);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  if (child < 0) {
    close(out[0]);
    close(err[0]);
    return result;
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(watchdogSeconds);
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.hung = true;
      break;
    }
    if (poll(fds, 2, static_cast<int>(left.count())) < 0 && errno != EINTR) break;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (pollfd& f : fds)
    if (f.fd >= 0) close(f.fd);
  if (result.hung) kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  if (!result.hung && WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

}  // namespace ZYT::Test
