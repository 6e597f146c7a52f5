// Named pipes in message mode over Unix domain sockets (SOCK_SEQPACKET keeps
// message boundaries). The server side is CreateNamedPipeW, ConnectNamedPipe,
// ReadFile/WriteFile, DisconnectNamedPipe; a client's whole round trip is
// CallNamedPipeW. Pipe names map to socket paths as ObjectNames.h says.
// A message longer than the reader's buffer is cut (ERROR_MORE_DATA) and its
// rest is lost, where Windows would keep it for the next read.
#pragma once

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
// Blocks until a client connects to this instance.
BOOL ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED overlapped);
BOOL DisconnectNamedPipe(HANDLE pipe);
// Connects (waiting up to timeOut for a busy server; NMPWAIT_USE_DEFAULT_WAIT
// is 50 ms, as on Windows), writes one message, reads one answer, disconnects.
BOOL CallNamedPipeW(LPCWSTR name, LPVOID inBuffer, DWORD inBufferSize, LPVOID outBuffer, DWORD outBufferSize,
                    LPDWORD bytesRead, DWORD timeOut);
