// Processes for tests that run the real programs: a program started without a
// shell (arguments, environment, working folder, a hook run in the child
// before exec), its stdout and stderr kept apart in anonymous memory files, a
// watchdog that kills a hung run and fails the test, and lambdas run in a
// forked child. Anonymous files rather than pipes: a long-running program
// (the monitor) never blocks on output nobody reads yet, and nothing is left
// on disk.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace ZYT::Test {

class MachineTest;

// How long a process or a condition gets before the test calls it a hang.
inline constexpr int kWatchdogSeconds = 30;

// Polls until done() holds; false after timeoutSeconds, so a hang fails the test.
bool Eventually(const std::function<bool()>& done, int timeoutSeconds = kWatchdogSeconds);

// The lines of a text without their line feeds; an unterminated last line counts.
std::vector<std::string> Lines(const std::string& text);

struct ProcessOptions {
  std::string cwd;                                         // working folder; empty: ours
  std::vector<std::pair<std::string, std::string>> env;    // set over our own environment
  std::function<void()> prepare;                           // runs in the child just before exec
};

// The test's machine for a program: its settings file, and HOME (with
// XDG_DATA_HOME below it) in a folder of the test, created 0700.
ProcessOptions OnMachine(const MachineTest& test, const std::string& home);

struct ProcessResult {
  bool hung = false;  // the watchdog killed it
  int status = -1;    // the exit code; -1 when it did not exit by itself
  int signal = 0;     // the signal that ended it
  std::string out, err;
};

class ChildProcess {
 public:
  // Starts argv[0] (a path) with stdin from /dev/null; a failure to start fails the test.
  explicit ChildProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});
  ~ChildProcess();  // kills a process still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t Pid() const { return m_pid; }
  // Whether it still runs; reaps it when it has ended.
  bool Running();
  // Waits for the end; past timeoutSeconds kills it and fails the test (hung).
  ProcessResult Wait(int timeoutSeconds = kWatchdogSeconds);
  // Sends signal and waits for the end.
  ProcessResult Stop(int signal = SIGTERM, int timeoutSeconds = kWatchdogSeconds);
  void Kill();

  std::string Out() const;
  std::string Err() const;
  std::string Output() const { return Out() + Err(); }
  // True once stderr holds count lines containing text; false when the
  // process ended first or after timeoutSeconds.
  bool WaitForErr(const std::string& text, size_t count = 1, int timeoutSeconds = kWatchdogSeconds);

 private:
  ProcessResult Result() const;
  void Reaped(int status);

  pid_t m_pid = -1;
  int m_out = -1, m_err = -1;
  int m_status = -1, m_signal = 0;
  bool m_hung = false;
};

// Starts a program, waits for it (with the watchdog) and returns what it did.
ProcessResult Run(const std::vector<std::string>& argv, const ProcessOptions& options = {},
                  int timeoutSeconds = kWatchdogSeconds);

#ifdef ZYT_ZYTFILT
// The built zytfilt with arguments.
inline ProcessResult RunZytfilt(const std::vector<std::string>& arguments, const ProcessOptions& options = {},
                                int timeoutSeconds = kWatchdogSeconds) {
  std::vector<std::string> argv{ZYT_ZYTFILT};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  return Run(argv, options, timeoutSeconds);
}
#endif

struct ChildExit {
  bool hung = false;  // the watchdog killed it
  int status = -1;    // the exit code; -1 when it did not exit by itself
  int signal = 0;
  rusage usage{};     // what the kernel reports when it is reaped
};

// body run in a forked child from the constructor on; the child exits with
// body's result (99 when it throws). Its reply() is a memory file shared with
// the parent, for what body wants to hand back.
class ForkedChild {
 public:
  explicit ForkedChild(const std::function<int(int reply)>& body);
  ~ForkedChild();  // kills a child still running
  ForkedChild(const ForkedChild&) = delete;
  ForkedChild& operator=(const ForkedChild&) = delete;

  // Waits for the end; past timeoutSeconds kills it (hung), without failing the test.
  ChildExit Wait(int timeoutSeconds = kWatchdogSeconds);
  std::string Reply() const;

 private:
  pid_t m_pid = -1;
  int m_reply = -1;
  ChildExit m_exit;
};

inline ChildExit RunInChild(const std::function<int()>& body, int timeoutSeconds = kWatchdogSeconds) {
  return ForkedChild([&](int) { return body(); }).Wait(timeoutSeconds);
}

// A value of plain type computed in a child; nothing when the child did not
// hand one back within timeoutSeconds.
template <class T>
class ChildResult {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  explicit ChildResult(const std::function<T()>& work)
      : m_child([work](int reply) {
          T value = work();
          return write(reply, &value, sizeof value) == static_cast<ssize_t>(sizeof value) ? 0 : 1;
        }) {}
  std::optional<T> Get(int timeoutSeconds = kWatchdogSeconds) {
    ChildExit exit = m_child.Wait(timeoutSeconds);
    std::string bytes = m_child.Reply();
    if (exit.status != 0 || bytes.size() != sizeof(T)) return std::nullopt;
    T value;
    std::memcpy(&value, bytes.data(), sizeof value);
    return value;
  }

 private:
  ForkedChild m_child;
};

template <class T>
std::optional<T> InChild(const std::function<T()>& work, int timeoutSeconds = kWatchdogSeconds) {
  return ChildResult<T>(work).Get(timeoutSeconds);
}

}  // namespace ZYT::Test
