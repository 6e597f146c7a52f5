#include "platform/win32/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <strings.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/win32/FileApi.h"
#include "platform/win32/KernelObject.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"
#include "platform/win32/Sync.h"
#include "platform/win32/WinError.h"

extern char** environ;

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

class ProcessObject final : public ZYT::KernelObject {
 public:
  ProcessObject(pid_t pid, int pidfd) : m_pid(pid), m_pidfd(pidfd) {}
  ~ProcessObject() override {
    // A child still running is left to run, as closing its handle does on
    // Windows; one that has ended is reaped so that it leaves no zombie.
    Reap();
    if (m_pidfd >= 0) close(m_pidfd);
  }

  DWORD Wait(DWORD milliseconds) override {
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
      if (Reap()) return WAIT_OBJECT_0;
      int timeout = -1;
      if (milliseconds != INFINITE) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return WAIT_TIMEOUT;
        timeout = static_cast<int>(std::min<long long>(left, INT_MAX));
      }
      if (m_pidfd >= 0) {
        struct pollfd p{m_pidfd, POLLIN, 0};
        if (poll(&p, 1, timeout) < 0 && errno != EINTR) {
          SetLastError(ZYT::Win32ErrorFromErrno(errno));
          return WAIT_FAILED;
        }
      } else {
        // No process descriptor on this kernel: look again shortly.
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout < 0 ? 10 : std::min(timeout, 10)));
      }
    }
  }

  // True once the child has ended; its exit code is then known.
  bool Reap() {
    std::lock_guard guard(m_lock);
    if (m_done) return true;
    int status = 0;
    pid_t r;
    while ((r = waitpid(m_pid, &status, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (r == 0) return false;
    m_done = true;
    if (r < 0)
      m_exitCode = 0xFFFFFFFF;  // reaped elsewhere (SIGCHLD ignored): the code is lost
    else if (m_terminated)
      m_exitCode = m_terminateCode;
    else if (WIFEXITED(status))
      m_exitCode = static_cast<DWORD>(WEXITSTATUS(status));
    else
      m_exitCode = 128 + static_cast<DWORD>(WTERMSIG(status));
    return true;
  }

  DWORD ExitCode() {
    if (!Reap()) return STILL_ACTIVE;
    std::lock_guard guard(m_lock);
    return m_exitCode;
  }

  bool Terminate(UINT code) {
    std::lock_guard guard(m_lock);
    if (m_done) return true;
    if (kill(m_pid, SIGKILL) != 0) return false;
    m_terminated = true;
    m_terminateCode = code;
    return true;
  }

  pid_t Pid() const { return m_pid; }

 private:
  pid_t m_pid;
  int m_pidfd;
  std::mutex m_lock;
  bool m_done = false;
  bool m_terminated = false;
  DWORD m_terminateCode = 0;
  DWORD m_exitCode = 0;
};

// The main thread's handle: nothing to do with it but close it.
class ThreadObject final : public ZYT::KernelObject {};

bool Fail(DWORD error) {
  SetLastError(error);
  return false;
}

bool IsExecutableFile(const std::string& path, DWORD& error) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    error = ZYT::Win32ErrorFromErrno(errno, path.c_str());
    return false;
  }
  if (!S_ISREG(st.st_mode) || access(path.c_str(), X_OK) != 0) {
    error = ERROR_ACCESS_DENIED;
    return false;
  }
  return true;
}

// A bare name on $PATH; the current folder is never searched.
bool SearchPath(const std::string& name, std::string& found, DWORD& error) {
  const char* env = std::getenv("PATH");
  std::string path = env && *env ? env : "/usr/local/bin:/usr/bin:/bin";
  error = ERROR_FILE_NOT_FOUND;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    std::string dir = path.substr(start, end - start);
    start = end + 1;
    if (dir.empty() || dir[0] != '/') continue;
    std::string candidate = dir + "/" + name;
    DWORD why = ERROR_SUCCESS;
    if (IsExecutableFile(candidate, why)) {
      found = candidate;
      return true;
    }
    if (why == ERROR_ACCESS_DENIED) error = why;
  }
  return false;
}

bool FindProgram(const std::u16string& program, bool searchable, std::string& posix, DWORD& error) {
  if (program.empty()) return (error = ERROR_FILE_NOT_FOUND), false;
  bool isPath = program.find_first_of(u"\\/") != std::u16string::npos;
  if (!isPath && searchable) {
    std::string name = ZYT::WideToUtf8(program);
    if (SearchPath(name, posix, error)) return true;
    size_t n = name.size();
    if (n > 4 && strcasecmp(name.c_str() + n - 4, ".exe") == 0 && SearchPath(name.substr(0, n - 4), posix, error))
      return true;
    return false;
  }
  if (!ZYT::MapToPosixPath(program, posix, error)) return false;
  return IsExecutableFile(posix, error);
}

std::vector<std::string> EnvironmentBlock(LPVOID block, bool wide) {
  std::vector<std::string> out;
  if (wide) {
    for (auto* p = static_cast<const char16_t*>(block); *p; p += std::char_traits<char16_t>::length(p) + 1)
      out.push_back(ZYT::WideToUtf8(p));
  } else {
    for (auto* p = static_cast<const char*>(block); *p; p += std::char_traits<char>::length(p) + 1) out.emplace_back(p);
  }
  return out;
}

// The descriptor a standard handle stands for; -1 for /dev/null.
bool StandardDescriptor(HANDLE handle, int& fd) {
  fd = -1;
  if (!handle || handle == INVALID_HANDLE_VALUE) return true;
  ZYT::KernelObject* object = ZYT::LookupHandle(handle);
  if (!object || object->Descriptor() < 0) return Fail(ERROR_INVALID_HANDLE);
  fd = object->Descriptor();
  return true;
}

// Owns the spawn attributes, file actions and the parent's copies of the
// standard descriptors until the child is started.
struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  std::vector<int> copies;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~SpawnSetup() {
    for (int fd : copies) close(fd);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
};

}  // namespace

namespace ZYT {

std::vector<std::u16string> SplitCommandLine(std::u16string_view s) {
  std::vector<std::u16string> out;
  size_t i = 0, n = s.size();
  while (i < n && IsBlank(s[i])) ++i;
  if (i >= n) return out;
  std::u16string program;
  for (bool quoted = false; i < n && (quoted || !IsBlank(s[i])); ++i) {
    if (s[i] == u'"')
      quoted = !quoted;
    else
      program += s[i];
  }
  out.push_back(std::move(program));
  for (;;) {
    while (i < n && IsBlank(s[i])) ++i;
    if (i >= n) break;
    std::u16string arg;
    bool quoted = false;
    while (i < n && (quoted || !IsBlank(s[i]))) {
      if (s[i] == u'\\') {
        size_t k = 0;
        while (i + k < n && s[i + k] == u'\\') ++k;
        if (i + k < n && s[i + k] == u'"') {
          arg.append(k / 2, u'\\');
          i += k;
          if (k % 2) {
            arg += u'"';
            ++i;
          }
        } else {
          arg.append(k, u'\\');
          i += k;
        }
      } else if (s[i] == u'"') {
        if (quoted && i + 1 < n && s[i + 1] == u'"') {
          arg += u'"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
      } else {
        arg += s[i++];
      }
    }
    out.push_back(std::move(arg));
  }
  return out;
}

}  // namespace ZYT

BOOL CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                    BOOL, DWORD dwCreationFlags, LPVOID lpEnvironment, LPCWSTR lpCurrentDirectory,
                    LPSTARTUPINFOW lpStartupInfo, LPPROCESS_INFORMATION lpProcessInformation) {
  if (!lpProcessInformation || !lpStartupInfo || ((!lpCommandLine || !*lpCommandLine) && !lpApplicationName))
    return Fail(ERROR_INVALID_PARAMETER);
  std::vector<std::u16string> args = ZYT::SplitCommandLine(lpCommandLine ? lpCommandLine : u"");
  if (args.empty()) args.push_back(lpApplicationName);
  DWORD error = ERROR_SUCCESS;
  std::string program;
  if (!FindProgram(lpApplicationName ? std::u16string(lpApplicationName) : args[0], !lpApplicationName, program, error))
    return Fail(error);

  std::string directory;
  if (lpCurrentDirectory) {
    if (!ZYT::MapToPosixPath(lpCurrentDirectory, directory, error)) return Fail(error);
    struct stat st;
    if (stat(directory.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return Fail(ERROR_DIRECTORY);
  }

  HANDLE standard[3] = {nullptr, nullptr, nullptr};
  if (lpStartupInfo->dwFlags & STARTF_USESTDHANDLES) {
    standard[0] = lpStartupInfo->hStdInput;
    standard[1] = lpStartupInfo->hStdOutput;
    standard[2] = lpStartupInfo->hStdError;
  }
  SpawnSetup setup;
  for (int target = 0; target < 3; ++target) {
    int fd;
    if (!StandardDescriptor(standard[target], fd)) return FALSE;
    if (fd < 0) {
      posix_spawn_file_actions_addopen(&setup.actions, target, "/dev/null", O_RDWR, 0);
      continue;
    }
    // A copy above the standard numbers, so that no dup2 in the child
    // overwrites the source of a later one.
    int copy = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (copy < 0) return Fail(ZYT::Win32ErrorFromErrno(errno));
    setup.copies.push_back(copy);
    posix_spawn_file_actions_adddup2(&setup.actions, copy, target);
  }
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&setup.actions, directory.c_str());
  // The child starts with no blocked signals and default handlers, whatever
  // the host set for itself.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&setup.attr, &none);
  posix_spawnattr_setsigdefault(&setup.attr, &all);
  posix_spawnattr_setflags(&setup.attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<std::string> argStrings;
  for (const auto& a : args) argStrings.push_back(ZYT::WideToUtf8(a));
  std::vector<char*> argv;
  for (auto& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings;
  std::vector<char*> envp;
  char** env = environ;
  if (lpEnvironment) {
    envStrings = EnvironmentBlock(lpEnvironment, (dwCreationFlags & CREATE_UNICODE_ENVIRONMENT) != 0);
    for (auto& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);
    env = envp.data();
  }

  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attr, argv.data(), env);
  if (rc != 0) return Fail(rc == ENOEXEC ? ERROR_BAD_EXE_FORMAT : ZYT::Win32ErrorFromErrno(rc, program.c_str()));
  int pidfd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) fcntl(pidfd, F_SETFD, FD_CLOEXEC);
  lpProcessInformation->hProcess = ZYT::RegisterHandle(new ProcessObject(pid, pidfd));
  lpProcessInformation->hThread = ZYT::RegisterHandle(new ThreadObject);
  lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
  lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
  SetLastError(ERROR_SUCCESS);
  return TRUE;
}

BOOL GetExitCodeProcess(HANDLE process, LPDWORD exitCode) {
  auto* p = ZYT::HandleAs<ProcessObject>(process);
  if (!p) return FALSE;
  if (!exitCode) return Fail(ERROR_INVALID_PARAMETER);
  *exitCode = p->ExitCode();
  return TRUE;
}

BOOL TerminateProcess(HANDLE process, UINT exitCode) {
  auto* p = ZYT::HandleAs<ProcessObject>(process);
  if (!p) return FALSE;
  if (!p->Terminate(exitCode)) return Fail(ZYT::Win32ErrorFromErrno(errno));
  return TRUE;
}
