// zyt-monitor: the product's monitor process. Serves the message and PIM
// pipes, signals their "running" events, and writes the requested items into
// the files the filters name. Stops cleanly on SIGTERM or SIGINT.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "filters/items/MonitorRequest.h"
#include "framework/TempFileLock.h"
#include "platform/win32/ObjectNames.h"
#include "platform/win32/Pipes.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"
#include "platform/win32/Sync.h"
#include "tools/zyt-monitor/MonitorItems.h"

namespace {

using Producer = HRESULT (*)(const std::string& document, const std::string& target);

std::atomic<bool> g_stopping{false};

// One server: accepts requests one after the other on its pipe.
void Serve(const char16_t* pipeName, const char16_t* eventName, Producer produce) {
  HANDLE pipe = CreateNamedPipeW(pipeName, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT,
                                 1, CMonitorRequest::kRecordSize, CMonitorRequest::kRecordSize, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "zyt-monitor: cannot serve %s (error %u)\n", ZYT::WideToUtf8(pipeName).c_str(), GetLastError());
    std::exit(1);
  }
  HANDLE running = CreateEventW(nullptr, FALSE, FALSE, eventName);
  while (!g_stopping) {
    SetEvent(running);
    if (!ConnectNamedPipe(pipe, nullptr)) {
      // The pipe itself is broken: nothing more can be served on it.
      std::fprintf(stderr, "zyt-monitor: %s stopped (error %u)\n", ZYT::WideToUtf8(pipeName).c_str(), GetLastError());
      std::exit(1);
    }
    BYTE record[CMonitorRequest::kRecordSize] = {};
    DWORD read = 0;
    HRESULT result = E_INVALIDARG;
    // A request of another size is answered, not trusted.
    if (ReadFile(pipe, record, sizeof record, &read, nullptr) && read == sizeof record) {
      CMonitorRequest::Request request = CMonitorRequest::Parse(record);
      std::string document = ZYT::ToPosixPath(request.source.c_str());
      std::string target = ZYT::ToPosixPath(request.target.c_str());
      result = document.empty() || target.empty() ? HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) : produce(document, target);
    } else {
      std::memset(record, 0, sizeof record);
    }
    CMonitorRequest::SetResult(record, result);
    DWORD written = 0;
    WriteFile(pipe, record, sizeof record, &written, nullptr);  // a client that left gets nothing
    DisconnectNamedPipe(pipe);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::printf(
        "usage: zyt-monitor\n"
        "Serves the product's message and PIM requests until SIGTERM or SIGINT.\n"
        "Item documents (.qhm, .qhcontact, .qhevent, .qhnote, .qhtask) name their\n"
        "item with a line 'message: PATH' or 'item: PATH[#UID]' (see the README).\n"
        "Pipes live in $ZYT_PIPE_DIR (default $XDG_RUNTIME_DIR/zyt-UID-pipes), events in\n"
        "the namespace $ZYT_OBJECT_NAMESPACE (default zyt-UID).\n");
    return 0;
  }
  if (argc > 1) {
    std::fprintf(stderr, "zyt-monitor: unknown argument '%s' (see 'zyt-monitor --help')\n", argv[1]);
    return 2;
  }
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  // Temporary files of filter hosts that were killed while they waited for us.
  ZYT::SweepDeadTempFiles(ZYT::RepositoryTempFolder());
  std::thread messages(Serve, kMessageServerPipe, kMessageServerEvent, &ZytMonitor::ProduceMessage);
  std::thread items(Serve, kPimServerPipe, kPimServerEvent, &ZytMonitor::ProducePimItem);
  messages.detach();
  items.detach();
  std::fprintf(stderr, "zyt-monitor: serving %s and %s\n", ZYT::SocketPathFor(kMessageServerPipe).c_str(),
               ZYT::SocketPathFor(kPimServerPipe).c_str());
  int received = 0;
  sigwait(&signals, &received);
  g_stopping = true;
  // No stale signal and no socket file may outlive the monitor.
  ZYT::UnlinkNamedEvent(kMessageServerEvent);
  ZYT::UnlinkNamedEvent(kPimServerEvent);
  unlink(ZYT::SocketPathFor(kMessageServerPipe).c_str());
  unlink(ZYT::SocketPathFor(kPimServerPipe).c_str());
  std::fflush(stderr);
  _exit(0);
}
