#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "tests/support/TestEnvironment.h"

extern char** environ;

namespace ZYT::Test {
namespace {

using Clock = std::chrono::steady_clock;

// The whole content of a memory file, however far its writer has moved the offset.
std::string ReadAll(int fd) {
  std::string text;
  if (fd < 0) return text;
  char buffer[65536];
  for (off_t at = 0;;) {
    ssize_t n = pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
    at += n;
  }
  return text;
}

int MemoryFile(const char* name) {
  int fd = memfd_create(name, MFD_CLOEXEC);
  if (fd < 0) ADD_FAILURE() << "memfd_create: " << std::strerror(errno);
  return fd;
}

void CloseIfOpen(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Polls for the end of pid with WNOHANG until the deadline; the status when it ended.
std::optional<int> ReapBy(pid_t pid, Clock::time_point deadline, rusage* usage) {
  for (;;) {
    int status = 0;
    pid_t reaped = wait4(pid, &status, WNOHANG, usage);
    if (reaped == pid) return status;
    if (reaped < 0 && errno != EINTR) return std::nullopt;
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

}  // namespace

bool Eventually(const std::function<bool()>& done, int timeoutSeconds) {
  const auto deadline = Clock::now() + std::chrono::seconds(timeoutSeconds);
  while (Clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t pos = 0, end; pos < text.size(); pos = end + 1) {
    end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(pos, end - pos));
  }
  return lines;
}

ProcessOptions OnMachine(const MachineTest& test, const std::string& home) {
  mkdir(home.c_str(), 0700);
  ProcessOptions options;
  options.env = {{"ZYT_SETTINGS", test.SettingsPath()}, {"HOME", home}, {"XDG_DATA_HOME", home + "/.local/share"}};
  return options;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ProcessOptions& options) {
  m_out = MemoryFile("stdout");
  m_err = MemoryFile("stderr");
  // Everything exec needs is built before fork: the child only copies descriptors.
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const auto& [name, value] : options.env) replaced = replaced || entry.rfind(name + "=", 0) == 0;
    if (!replaced) env.push_back(entry);
  }
  for (const auto& [name, value] : options.env) env.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  if (m_out < 0 || m_err < 0 || args.size() < 2) return;

  m_pid = fork();
  if (m_pid == 0) {
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (in < 0 || dup2(in, 0) < 0 || dup2(m_out, 1) < 0 || dup2(m_err, 2) < 0) _exit(126);
    if (!options.cwd.empty() && chdir(options.cwd.c_str()) != 0) _exit(126);
    if (options.prepare) options.prepare();
    execve(args[0], args.data(), envp.data());
    _exit(127);
  }
  if (m_pid < 0) ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(errno);
}

ChildProcess::~ChildProcess() {
  Kill();
  CloseIfOpen(m_out);
  CloseIfOpen(m_err);
}

void ChildProcess::Reaped(int status) {
  m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  m_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  m_pid = -1;
}

bool ChildProcess::Running() {
  if (m_pid <= 0) return false;
  if (auto status = ReapBy(m_pid, Clock::now(), nullptr)) {
    Reaped(*status);
    return false;
  }
  return true;
}

ProcessResult ChildProcess::Wait(int timeoutSeconds) {
  if (m_pid > 0) {
    if (auto status = ReapBy(m_pid, Clock::now() + std::chrono::seconds(timeoutSeconds), nullptr)) {
      Reaped(*status);
    } else {
      ADD_FAILURE() << "still running after " << timeoutSeconds << " s, killed; stderr so far: " << Err();
      m_hung = true;
      Kill();
    }
  }
  return Result();
}

ProcessResult ChildProcess::Stop(int signal, int timeoutSeconds) {
  if (m_pid > 0) kill(m_pid, signal);
  return Wait(timeoutSeconds);
}

void ChildProcess::Kill() {
  if (m_pid <= 0) return;
  kill(m_pid, SIGKILL);
  int status = 0;
  while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
  }
  Reaped(status);
}

std::string ChildProcess::Out() const { return ReadAll(m_out); }
std::string ChildProcess::Err() const { return ReadAll(m_err); }

bool ChildProcess::WaitForErr(const std::string& text, size_t count, int timeoutSeconds) {
  auto seen = [&] {
    size_t found = 0;
    for (const std::string& line : Lines(Err()))
      if (line.find(text) != std::string::npos) ++found;
    return found >= count;
  };
  Eventually([&] { return seen() || !Running(); }, timeoutSeconds);
  return seen();
}

ProcessResult ChildProcess::Result() const {
  ProcessResult result;
  result.hung = m_hung;
  result.status = m_status;
  result.signal = m_signal;
  result.out = Out();
  result.err = Err();
  return result;
}

ProcessResult Run(const std::vector<std::string>& argv, const ProcessOptions& options, int timeoutSeconds) {
  return ChildProcess(argv, options).Wait(timeoutSeconds);
}

ForkedChild::ForkedChild(const std::function<int(int reply)>& body) {
  m_reply = MemoryFile("reply");
  if (m_reply < 0) return;
  m_pid = fork();
  if (m_pid == 0) {
    int code = 99;
    try {
      code = body(m_reply);
    } catch (...) {
    }
    _exit(code);
  }
  if (m_pid < 0) ADD_FAILURE() << "fork: " << std::strerror(errno);
}

ForkedChild::~ForkedChild() {
  if (m_pid > 0) {
    kill(m_pid, SIGKILL);
    while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
  CloseIfOpen(m_reply);
}

ChildExit ForkedChild::Wait(int timeoutSeconds) {
  if (m_pid <= 0) return m_exit;
  auto status = ReapBy(m_pid, Clock::now() + std::chrono::seconds(timeoutSeconds), &m_exit.usage);
  if (!status) {
    m_exit.hung = true;
    kill(m_pid, SIGKILL);
    int killed = 0;
    while (wait4(m_pid, &killed, 0, &m_exit.usage) < 0 && errno == EINTR) {
    }
    status = killed;
  }
  m_exit.status = WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
  m_exit.signal = WIFSIGNALED(*status) ? WTERMSIG(*status) : 0;
  m_pid = -1;
  return m_exit;
}

std::string ForkedChild::Reply() const { return ReadAll(m_reply); }

}  // namespace ZYT::Test
