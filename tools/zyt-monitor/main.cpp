// zyt-monitor: the product's monitor process. Serves the message and PIM
// pipes, signals their "running" events, and writes the requested items into
// the files the filters name. Stops cleanly on SIGTERM or SIGINT.
//
// Each server has a few pipe instances, each with its own thread, so that a
// slow or idle client holds one instance, for one request's time at most, and
// never the others. The running event of a server stays signalled while one
// of its instances waits for a client: a client may take the signal and never
// come (killed, or looking in another pipe folder), and POSIX semaphores do
// not tell the poster that a signal was taken, so it is given again at a
// short interval as well as whenever an instance starts to wait and whenever
// a client connects while other instances wait. The event is never
// removed, only reset at a clean stop: clients that wait on it while the
// monitor restarts are served by the next one.
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "filters/items/MonitorRequest.h"
#include "framework/TempFileLock.h"
#include "platform/win32/Limits.h"
#include "platform/win32/ObjectNames.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Pipes.h"
#include "platform/win32/Strings.h"
#include "platform/win32/Sync.h"
#include "tools/zyt-monitor/MonitorItems.h"

namespace {

using Producer = HRESULT (*)(const std::string& document, const std::string& target);

struct Server {
  const char16_t* pipeName;
  const char16_t* eventName;
  Producer produce;
  HANDLE running = nullptr;
  std::vector<HANDLE> instances;
  std::atomic<int> waiting{0};  // instances waiting for a client
};

Server g_servers[] = {{kMessageServerPipe, kMessageServerEvent, &ZytMonitor::ProduceMessage},
                      {kPimServerPipe, kPimServerEvent, &ZytMonitor::ProducePimItem}};

constexpr auto kSignalInterval = std::chrono::milliseconds(50);

std::mutex g_signalLock;
bool g_stopping = false;  // under g_signalLock: no signal may follow the stop's reset
std::atomic<bool> g_failed{false};
bool g_madeFolder = false;  // the pipe folder is removed again at the stop

std::string Utf8(const char16_t* text) { return ZYT::WideToUtf8(text); }

void RemoveSockets() {
  for (Server& server : g_servers)
    if (!server.instances.empty()) unlink(ZYT::SocketPathFor(server.pipeName).c_str());
  if (g_madeFolder) rmdir(ZYT::PipeFolder().c_str());
}

[[noreturn]] void Refuse(const std::string& why) {
  std::fprintf(stderr, "zyt-monitor: %s\n", why.c_str());
  RemoveSockets();
  _exit(1);
}

void Signal(Server& server) {
  std::lock_guard guard(g_signalLock);
  if (!g_stopping && server.waiting > 0) SetEvent(server.running);
}

// One request: the record in, the item written, the record back with the
// result. A request of another size is answered, not trusted; a client that
// left or whose time is up gets nothing.
void Answer(HANDLE pipe, Producer produce) {
  BYTE record[CMonitorRequest::kRecordSize] = {};
  DWORD read = 0;
  HRESULT result = E_INVALIDARG;
  BOOL whole = ReadFile(pipe, record, sizeof record, &read, nullptr);
  if (!whole && GetLastError() != ERROR_MORE_DATA) return;  // the client left, or its time is up
  if (whole && read == sizeof record) {
    CMonitorRequest::Request request = CMonitorRequest::Parse(record);
    std::string document = ZYT::ToPosixPath(request.source.c_str());
    std::string target = ZYT::ToPosixPath(request.target.c_str());
    result = document.empty() || target.empty() ? HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) : produce(document, target);
  } else {
    std::memset(record, 0, sizeof record);
  }
  CMonitorRequest::SetResult(record, result);
  DWORD written = 0;
  WriteFile(pipe, record, sizeof record, &written, nullptr);
}

bool Transient(DWORD error) { return error == ERROR_TOO_MANY_OPEN_FILES || error == ERROR_NOT_ENOUGH_MEMORY; }

void ServeInstance(Server& server, HANDLE pipe) {
  for (;;) {
    ++server.waiting;
    Signal(server);
    BOOL connected = ConnectNamedPipe(pipe, nullptr);
    --server.waiting;
    if (!connected) {
      DWORD error = GetLastError();
      if (Transient(error)) {
        std::this_thread::sleep_for(kSignalInterval);
        continue;
      }
      // The listening socket itself is broken: nothing more can be served.
      std::fprintf(stderr, "zyt-monitor: %s stopped (error %u)\n", Utf8(server.pipeName).c_str(), error);
      g_failed = true;
      kill(getpid(), SIGTERM);
      return;
    }
    // The client that took the signal has come: the next one may go to
    // another free instance now rather than wait for this request to end.
    Signal(server);
    Answer(pipe, server.produce);
    DisconnectNamedPipe(pipe);
  }
}

void CreateEvents() {
  for (Server& server : g_servers) {
    server.running = CreateEventW(nullptr, FALSE, FALSE, server.eventName);
    if (!server.running)
      Refuse("cannot create the event \"" + Utf8(server.eventName) + "\" (semaphore " +
             ZYT::SemaphoreNameFor(server.eventName) + ", error " + std::to_string(GetLastError()) +
             "): clients could not know when to ask");
  }
}

void PreparePipeFolder() {
  std::string folder = ZYT::PipeFolder();
  struct stat st;
  bool existed = lstat(folder.c_str(), &st) == 0;
  std::string problem;
  DWORD error = ZYT::CheckPipeFolder(folder, true, &problem);
  if (error == ERROR_ACCESS_DENIED && !problem.empty())
    Refuse("the pipe folder " + folder + " " + problem +
           ": another user could serve requests in its place; remove it or set ZYT_PIPE_DIR to a folder of your own "
           "(mode 0700)");
  if (error != ERROR_SUCCESS) Refuse("cannot create the pipe folder " + folder + " (error " + std::to_string(error) + ")");
  g_madeFolder = !existed;
}

void CreateInstances(DWORD count, DWORD requestMilliseconds) {
  for (Server& server : g_servers) {
    for (DWORD i = 0; i < count; ++i) {
      HANDLE pipe = CreateNamedPipeW(server.pipeName, PIPE_ACCESS_DUPLEX,
                                     PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, PIPE_UNLIMITED_INSTANCES,
                                     CMonitorRequest::kRecordSize, CMonitorRequest::kRecordSize, 0, nullptr);
      if (pipe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PIPE_BUSY)
        Refuse("another monitor already serves " + ZYT::SocketPathFor(server.pipeName));
      if (pipe == INVALID_HANDLE_VALUE)
        Refuse("cannot serve " + ZYT::SocketPathFor(server.pipeName) + " (error " + std::to_string(GetLastError()) + ")");
      ZYT::SetPipeConnectionTimeout(pipe, requestMilliseconds);
      server.instances.push_back(pipe);
    }
  }
}

// Gives the signal again that a client took without coming.
[[noreturn]] void KeepSignalling() {
  for (;;) {
    std::this_thread::sleep_for(kSignalInterval);
    for (Server& server : g_servers) Signal(server);
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
        "Pipes live in $ZYT_PIPE_DIR (default $XDG_RUNTIME_DIR/zyt-UID-pipes, else\n"
        "/tmp/zyt-UID-pipes; a private folder of this user), events in the namespace\n"
        "$ZYT_OBJECT_NAMESPACE (default zyt-UID).\n");
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
  // Past a file size limit a write fails with EFBIG, which the request reports.
  signal(SIGXFSZ, SIG_IGN);

  const DWORD instances = std::clamp<DWORD>(ZYT::GetLimit(u"MonitorConnections", 16), 1, 64);
  const DWORD requestMilliseconds = std::clamp<DWORD>(ZYT::GetLimit(u"MonitorRequestMilliseconds", 10000), 100, 600000);

  CreateEvents();
  PreparePipeFolder();
  // Temporary files of filter hosts that were killed while they waited for us.
  ZYT::SweepDeadTempFiles(ZYT::RepositoryTempFolder());
  CreateInstances(instances, requestMilliseconds);
  for (Server& server : g_servers)
    for (HANDLE pipe : server.instances) std::thread(ServeInstance, std::ref(server), pipe).detach();
  std::thread(KeepSignalling).detach();
  std::fprintf(stderr, "zyt-monitor: serving %s and %s\n", ZYT::SocketPathFor(kMessageServerPipe).c_str(),
               ZYT::SocketPathFor(kPimServerPipe).c_str());

  int received = 0;
  sigwait(&signals, &received);
  std::lock_guard guard(g_signalLock);
  g_stopping = true;
  // No stale signal and no socket file outlive the monitor; the events stay,
  // with the clients waiting on them, for the next monitor.
  for (Server& server : g_servers) ResetEvent(server.running);
  RemoveSockets();
  std::fflush(stderr);
  _exit(g_failed ? 1 : 0);
}
