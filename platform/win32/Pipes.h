// Named pipes in message mode over Unix domain sockets (SOCK_SEQPACKET keeps
// message boundaries). The server side is CreateNamedPipeW, ConnectNamedPipe,
// ReadFile/WriteFile, DisconnectNamedPipe; a client's whole round trip is
// CallNamedPipeW. Pipe names map to socket paths as ObjectNames.h says.
// A message longer than the reader's buffer is cut (ERROR_MORE_DATA) and its
// rest is lost, where Windows would keep it for the next read.
//
// The socket folder stands in for the pipe's security descriptor: whoever can
// write in it can serve a pipe in our name. A server makes it 0700; server and
// client both refuse one that is a symbolic link, belongs to another user or
// is open to group or others (ERROR_ACCESS_DENIED). A server takes only
// clients of its own user, and a client talks only to a server of its own
// user (the peer's credentials, SO_PEERCRED).
#pragma once

#include <string>

#include "platform/win32/FileApi.h"

constexpr DWORD PIPE_ACCESS_INBOUND = 0x1;
constexpr DWORD PIPE_ACCESS_OUTBOUND = 0x2;
constexpr DWORD PIPE_ACCESS_DUPLEX = 0x3;
constexpr DWORD PIPE_TYPE_BYTE = 0x0;
constexpr DWORD PIPE_TYPE_MESSAGE = 0x4;
constexpr DWORD PIPE_READMODE_MESSAGE = 0x2;
constexpr DWORD PIPE_WAIT = 0x0;
constexpr DWORD PIPE_UNLIMITED_INSTANCES = 255;
constexpr DWORD NMPWAIT_USE_DEFAULT_WAIT = 0x0;
constexpr DWORD NMPWAIT_WAIT_FOREVER = 0xFFFFFFFF;
constexpr DWORD ERROR_SEM_TIMEOUT = 121;
constexpr DWORD ERROR_PIPE_CONNECTED = 535;

HANDLE CreateNamedPipeW(LPCWSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances, DWORD outBufferSize,
                        DWORD inBufferSize, DWORD defaultTimeOut, LPSECURITY_ATTRIBUTES attributes);
// Blocks until a client of this user connects to this instance; connections
// of other users are closed unanswered.
BOOL ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED overlapped);
BOOL DisconnectNamedPipe(HANDLE pipe);
// Connects (waiting up to timeOut for a busy server; NMPWAIT_USE_DEFAULT_WAIT
// is 50 ms, as on Windows), writes one message, reads one answer, disconnects.
BOOL CallNamedPipeW(LPCWSTR name, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer, DWORD outBufferSize,
                    LPDWORD bytesRead, DWORD timeOut);

namespace ZYT {

// Bounds each connection of a server's pipe instance: from the moment a client
// connects, its reads and writes together may take this long; past it they
// fail with ERROR_SEM_TIMEOUT, so an idle client cannot hold the instance.
// 0 (the default) waits without bound.
BOOL SetPipeConnectionTimeout(HANDLE pipe, DWORD milliseconds);

// Checks the socket folder, creating it 0700 first when `create` and it is
// missing. ERROR_SUCCESS, ERROR_FILE_NOT_FOUND (missing), ERROR_ACCESS_DENIED
// (not private: `problem` then says why in a few words) or another error.
DWORD CheckPipeFolder(const std::string& folder, bool create, std::string* problem);

}  // namespace ZYT
