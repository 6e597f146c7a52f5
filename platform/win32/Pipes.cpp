#include "platform/win32/Pipes.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/win32/KernelObject.h"
#include "platform/win32/ObjectNames.h"
#include "platform/win32/Strings.h"

namespace ZYT {

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
  std::string dir;
  if (const char* d = std::getenv("ZYT_PIPE_DIR"); d && *d)
    dir = d;
  else if (const char* r = std::getenv("XDG_RUNTIME_DIR"); r && *r)
    dir = std::string(r) + "/" + ObjectNamespace() + "-pipes";
  else
    dir = "/tmp/" + ObjectNamespace() + "-pipes";
  return dir + "/" + WideToUtf8(rest);
}

}  // namespace ZYT

namespace {

bool Fail(DWORD error) {
  SetLastError(error);
  return false;
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

  BOOL Connect() {
    if (m_connection >= 0) return Fail(ERROR_PIPE_CONNECTED);
    for (;;) {
      int fd = accept4(m_listener->fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        m_connection = fd;
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
    ssize_t n;
    while ((n = recv(m_connection, buffer, toRead, MSG_TRUNC)) < 0 && errno == EINTR) {
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
    ssize_t n;
    while ((n = send(m_connection, buffer, toWrite, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    if (n < 0) return Fail(errno == EPIPE || errno == ECONNRESET ? ERROR_NO_DATA : ZYT::Win32ErrorFromErrno(errno));
    written = static_cast<DWORD>(n);
    return TRUE;
  }

 private:
  std::shared_ptr<Listener> m_listener;
  int m_connection = -1;
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
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    unlink(path.c_str());  // a socket left by a server that is gone
    int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 64) != 0) {
      SetLastError(ZYT::Win32ErrorFromErrno(errno));
      if (fd >= 0) close(fd);
      return INVALID_HANDLE_VALUE;
    }
    listener = std::make_shared<Listener>(fd, path);
    Listeners()[path] = listener;
  }
  return ZYT::RegisterHandle(new PipeInstance(listener));
}

BOOL ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED) {
  auto* instance = ZYT::HandleAs<PipeInstance>(pipe);
  return instance ? instance->Connect() : FALSE;
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
