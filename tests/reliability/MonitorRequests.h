// Client requests to a real zyt-monitor made in child processes, so that a
// client that would wait forever fails the test after a generous time instead
// of hanging it, and raw connections to the monitor's sockets.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>

#include "platform/win32/ObjectNames.h"
#include "platform/win32/WinTypes.h"
#include "tests/support/ChildProcess.h"

namespace ZYT::Test {

inline constexpr int kPatienceSeconds = 20;

// A client request made in a child process of its own, from the constructor on.
using ClientProcess = ChildResult<HRESULT>;

inline std::optional<HRESULT> InClientProcess(const std::function<HRESULT()>& work) {
  return InChild<HRESULT>(work, kPatienceSeconds);
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
