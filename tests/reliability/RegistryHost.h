// Runs the built zytfilt as a process of its own on a test's machine, for the
// registry's reliability tests: several at once, killed, or with a process
// limit or fewer privileges set up in the child before it starts.
#pragma once

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestEnvironment.h"

namespace ZYT::Test {

struct HostResult {
  int exitCode = -1;  // -1 when it did not exit by itself
  int signal = 0;
  std::string out, err;
};

class RegistryHost {
 public:
  explicit RegistryHost(MachineTest& test) : m_test(test) {}

  // Starts zytfilt with args; `prepare` runs in the child before exec.
  pid_t Start(const std::vector<std::string>& args, const std::function<void()>& prepare = {}) {
    int index = m_count++;
    std::string out = m_test.PathIn("host" + std::to_string(index) + ".out");
    std::string err = m_test.PathIn("host" + std::to_string(index) + ".err");
    std::string settings = m_test.SettingsPath(), home = m_test.TempDir();
    std::vector<std::string> argv = {ZYT_ZYTFILT};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_t pid = fork();
    if (pid == 0) {
      int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int in = open("/dev/null", O_RDONLY);
      if (o < 0 || e < 0 || in < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || dup2(in, 0) < 0) _exit(126);
      setenv("ZYT_SETTINGS", settings.c_str(), 1);
      setenv("HOME", home.c_str(), 1);
      setenv("XDG_DATA_HOME", (home + "/data").c_str(), 1);
      if (prepare) prepare();
      std::vector<char*> raw;
      for (std::string& a : argv) raw.push_back(a.data());
      raw.push_back(nullptr);
      execv(raw[0], raw.data());
      _exit(127);
    }
    m_files[pid] = {out, err};
    return pid;
  }

  // Whether the process has ended; if so, fills result (once).
  bool Poll(pid_t pid, HostResult& result) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) != pid) return false;
    Collect(pid, status, result);
    return true;
  }

  // Waits for the process; a generous time-out turns a hang into a failure.
  HostResult Wait(pid_t pid, int timeoutSeconds = 180) {
    HostResult result;
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        ADD_FAILURE() << "zytfilt did not finish within " << timeoutSeconds << " s";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Collect(pid, status, result);
    return result;
  }

  HostResult Run(const std::vector<std::string>& args, const std::function<void()>& prepare = {}) {
    return Wait(Start(args, prepare));
  }

 private:
  void Collect(pid_t pid, int status, HostResult& result) {
    if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    auto files = m_files[pid];
    result.out = m_test.ReadBytes(files.first);
    result.err = m_test.ReadBytes(files.second);
  }

  MachineTest& m_test;
  int m_count = 0;
  std::map<pid_t, std::pair<std::string, std::string>> m_files;
};

// Lines of a text, without their line feeds.
inline std::vector<std::string> LinesOf(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t pos = 0, end; pos < text.size(); pos = end + 1) {
    end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
  }
  return lines;
}

}  // namespace ZYT::Test
