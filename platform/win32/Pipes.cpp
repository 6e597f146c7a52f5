#include "platform/win32/Pipes.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/win32/KernelObject.h"
#include "platform/win32/ObjectNames.h"
#include "platform/win32/Strings.h"

namespace ZYT {

std::string PipeFolder() {
  if (const char* d = std::getenv("ZYT_PIPE_DIR"); d && *d) return d;
  if (const char* r = std::getenv("XDG_RUNTIME_DIR"); r && *r) return std::string(r) + "/" + ObjectNamespace() + "-pipes";
  return "/tmp/" + ObjectNamespace() + "-pipes";
}

DWORD CheckPipeFolder(const std::string& folder, bool create, std::string* problem) {
  if (create && mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return Win32ErrorFromErrno(errno, folder.c_str());
  auto refuse = [problem](std::string why) {
    if (problem) *problem = std::move(why);
    return ERROR_ACCESS_DENIED;
  };
  // O_NOFOLLOW: a link would let its owner choose where our sockets go.
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    struct stat st;
    if ((error == ELOOP || error == ENOTDIR) && lstat(folder.c_str(), &st) == 0)
      return refuse(S_ISLNK(st.st_mode) ? "is a symbolic link" : "is not a folder");
    return error == ENOENT ? ERROR_FILE_NOT_FOUND : Win32ErrorFromErrno(error, folder.c_str());
  }
  struct stat st;
  int statError = fstat(fd, &st) == 0 ? 0 : errno;
  close(fd);
  if (statError != 0) return Win32ErrorFromErrno(statError);
  if (st.st_uid != geteuid()) return refuse("belongs to another user (uid " + std::to_string(st.st_uid) + ")");
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return refuse(std::string("is open to other users (mode ") + mode + ")");
  }
  return ERROR_SUCCESS;
}

std::string SocketPathFor(const std::u16string& pipeName) {
  // "\\.\pipe\NAME" (any server name; only the local machine has pipes here).
  std::u16string name = pipeName;
  for (auto& c : name)
    if (c == u'/') c = u'\\';
  if (name.size() < 3 || name[0] != u'\\' || name[1] != u'\\') return {};
  size_t server = name.find(u'\\', 2);
  if (server == std::u16string::npos || !EqualsNoCase(name.substr(server, 6), u"\\pipe\\")) return {};
  std::u16string rest = name.substr(server + 6);
  if (rest.empty()) return {};
  for (auto& c : rest)
    if (c == u'\\') c = u'.';
  return PipeFolder() + "/" + WideToUtf8(rest);
}

}  // namespace ZYT

namespace {

bool Fail(DWORD error) {
  SetLastError(error);
  return false;
}

// The peer of a connected socket runs as this process's user.
bool PeerIsOwnUser(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == geteuid();
}

// The folder of a socket path; ERROR_SUCCESS when it is private.
DWORD CheckFolderOf(const std::string& socketPath, bool create) {
  return ZYT::CheckPipeFolder(socketPath.substr(0, socketPath.find_last_of('/')), create, nullptr);
}

bool MakeAddress(const std::string& path, sockaddr_un& address) {
  if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// The listening socket of a pipe name, shared by every instance this process made.
struct Listener {
  Listener(int f, std::string p) : fd(f), path(std::move(p)) {}
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  int fd;
  std::string path;
  ~Listener() {
    close(fd);
    unlink(path.c_str());
  }
};

std::mutex g_listenersLock;
std::map<std::string, std::weak_ptr<Listener>>& Listeners() {
  static auto* listeners = new std::map<std::string, std::weak_ptr<Listener>>;
  return *listeners;
}

class PipeInstance final : public ZYT::KernelObject {
 public:
  explicit PipeInstance(std::shared_ptr<Listener> listener) : m_listener(std::move(listener)) {}
  ~PipeInstance() override { Disconnect(); }

  void SetTimeout(DWORD milliseconds) { m_timeout = std::chrono::milliseconds(milliseconds); }

  BOOL Connect() {
    if (m_connection >= 0) return Fail(ERROR_PIPE_CONNECTED);
    for (;;) {
      int fd = accept4(m_listener->fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        if (!PeerIsOwnUser(fd)) {
          close(fd);  // another user's process: no answer at all
          continue;
        }
        m_connection = fd;
        m_deadline = std::chrono::steady_clock::now() + m_timeout;
        return TRUE;
      }
      if (errno != EINTR && errno != ECONNABORTED) return Fail(ZYT::Win32ErrorFromErrno(errno));
    }
  }
  void Disconnect() {
    if (m_connection >= 0) close(m_connection);
    m_connection = -1;
  }

  BOOL Read(void* buffer, DWORD toRead, DWORD& read, const OVERLAPPED*) override {
    read = 0;
    if (m_connection < 0) return Fail(ERROR_PIPE_NOT_CONNECTED);
    if (!Ready(POLLIN)) return FALSE;
    ssize_t n;
    while ((n = recv(m_connection, buffer, toRead, MSG_TRUNC | MSG_DONTWAIT)) < 0 && errno == EINTR) {
    }
    if (n < 0) return Fail(ERROR_BROKEN_PIPE);
    if (n == 0 && toRead > 0) return Fail(ERROR_BROKEN_PIPE);  // the client went away
    if (static_cast<size_t>(n) > toRead) {
      read = toRead;
      return Fail(ERROR_MORE_DATA);
    }
    read = static_cast<DWORD>(n);
    return TRUE;
  }

  BOOL Write(const void* buffer, DWORD toWrite, DWORD& written, const OVERLAPPED*) override {
    written = 0;
    if (m_connection < 0) return Fail(ERROR_PIPE_NOT_CONNECTED);
    if (m_timeout.count() > 0 && std::chrono::steady_clock::now() >= m_deadline) return Fail(ERROR_SEM_TIMEOUT);
    for (;;) {
      ssize_t n = send(m_connection, buffer, toWrite, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n >= 0) {
        written = static_cast<DWORD>(n);
        return TRUE;
      }
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        if (!Ready(POLLOUT)) return FALSE;
        continue;
      }
      return Fail(errno == EPIPE || errno == ECONNRESET ? ERROR_NO_DATA : ZYT::Win32ErrorFromErrno(errno));
    }
  }

 private:
  // Waits until the connection can be read or written, until the deadline of
  // this connection when there is one.
  bool Ready(short events) {
    for (;;) {
      int wait = -1;
      if (m_timeout.count() > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Fail(ERROR_SEM_TIMEOUT);
        wait = static_cast<int>(std::min<long long>(left.count(), 1 << 30));
      }
      pollfd p{m_connection, events, 0};
      int n = poll(&p, 1, wait);
      if (n > 0) return true;  // ready, or an error or hang-up that the call itself reports
      if (n < 0 && errno != EINTR) return Fail(ZYT::Win32ErrorFromErrno(errno));
    }
  }

  std::shared_ptr<Listener> m_listener;
  int m_connection = -1;
  std::chrono::milliseconds m_timeout{0};
  std::chrono::steady_clock::time_point m_deadline;
};

// True when another process serves the path.
bool SomeoneListens(const std::string& path) {
  sockaddr_un address;
  if (!MakeAddress(path, address)) return false;
  int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
  bool listening = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return listening;
}

}  // namespace

HANDLE CreateNamedPipeW(LPCWSTR name, DWORD, DWORD, DWORD, DWORD, DWORD, DWORD, LPSECURITY_ATTRIBUTES) {
  std::string path = ZYT::SocketPathFor(name ? name : u"");
  sockaddr_un address;
  if (!MakeAddress(path, address)) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  std::lock_guard guard(g_listenersLock);
  std::shared_ptr<Listener> listener = Listeners()[path].lock();
  if (!listener) {
    if (SomeoneListens(path)) {
      SetLastError(ERROR_PIPE_BUSY);
      return INVALID_HANDLE_VALUE;
    }
    if (DWORD error = CheckFolderOf(path, true); error != ERROR_SUCCESS) {
      SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
    // The socket is bound under a name of its own and listens before it takes
    // the pipe's name, so that a client never finds it refusing connections.
    std::string staging = path + "~";
    sockaddr_un stagingAddress;
    if (!MakeAddress(staging, stagingAddress)) {
      SetLastError(ERROR_INVALID_NAME);
      return INVALID_HANDLE_VALUE;
    }
    for (const std::string& socketFile : {path, staging}) {
      struct stat st;
      if (lstat(socketFile.c_str(), &st) != 0) continue;
      if (!S_ISSOCK(st.st_mode)) {
        SetLastError(ERROR_FILE_EXISTS);  // not ours to remove
        return INVALID_HANDLE_VALUE;
      }
      unlink(socketFile.c_str());  // left by a server that is gone
    }
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&stagingAddress), sizeof stagingAddress) != 0 ||
        listen(fd, 64) != 0 || link(staging.c_str(), path.c_str()) != 0) {
      DWORD error = errno == EEXIST ? ERROR_PIPE_BUSY : ZYT::Win32ErrorFromErrno(errno);  // another server came first
      if (fd >= 0) close(fd);
      unlink(staging.c_str());
      SetLastError(error);
      return INVALID_HANDLE_VALUE;
    }
    unlink(staging.c_str());
    listener = std::make_shared<Listener>(fd, path);
    Listeners()[path] = listener;
  }
  return ZYT::RegisterHandle(new PipeInstance(listener));
}

BOOL ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED) {
  auto* instance = ZYT::HandleAs<PipeInstance>(pipe);
  return instance ? instance->Connect() : FALSE;
}

BOOL ZYT::SetPipeConnectionTimeout(HANDLE pipe, DWORD milliseconds) {
  auto* instance = ZYT::HandleAs<PipeInstance>(pipe);
  if (!instance) return FALSE;
  instance->SetTimeout(milliseconds);
  return TRUE;
}

BOOL DisconnectNamedPipe(HANDLE pipe) {
  auto* instance = ZYT::HandleAs<PipeInstance>(pipe);
  if (!instance) return FALSE;
  instance->Disconnect();
  return TRUE;
}

BOOL CallNamedPipeW(LPCWSTR name, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer, DWORD outBufferSize,
                    LPDWORD bytesRead, DWORD timeOut) {
  if (bytesRead) *bytesRead = 0;
  std::string path = ZYT::SocketPathFor(name ? name : u"");
  sockaddr_un address;
  if (!MakeAddress(path, address)) return Fail(ERROR_INVALID_NAME);
  if (DWORD error = CheckFolderOf(path, false); error != ERROR_SUCCESS) return Fail(error);
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::milliseconds(timeOut == NMPWAIT_USE_DEFAULT_WAIT ? 50 : timeOut);
  int fd = -1;
  for (;;) {
    fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0) return Fail(ZYT::Win32ErrorFromErrno(errno));
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) break;
    int error = errno;
    close(fd);
    if (error == ENOENT || error == ECONNREFUSED) return Fail(ERROR_FILE_NOT_FOUND);
    if (error != EAGAIN && error != EINTR) return Fail(ZYT::Win32ErrorFromErrno(error));
    // Every instance is busy: wait for one, as long as the caller allows.
    if (timeOut != NMPWAIT_WAIT_FOREVER && std::chrono::steady_clock::now() >= deadline) return Fail(ERROR_SEM_TIMEOUT);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  std::unique_ptr<int, void (*)(int*)> closer(&fd, [](int* f) { close(*f); });
  if (!PeerIsOwnUser(fd)) return Fail(ERROR_ACCESS_DENIED);  // the request would tell another user our paths
  ssize_t n;
  while ((n = send(fd, inBuffer, inBufferSize, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
  }
  if (n < 0) return Fail(ERROR_NO_DATA);
  while ((n = recv(fd, outBuffer, outBufferSize, MSG_TRUNC)) < 0 && errno == EINTR) {
  }
  if (n < 0) return Fail(ERROR_BROKEN_PIPE);
  if (n == 0 && outBufferSize > 0) return Fail(ERROR_BROKEN_PIPE);  // no answer before the server closed
  if (static_cast<size_t>(n) > outBufferSize) {
    if (bytesRead) *bytesRead = outBufferSize;
    return Fail(ERROR_MORE_DATA);
  }
  if (bytesRead) *bytesRead = static_cast<DWORD>(n);
  return TRUE;
}
