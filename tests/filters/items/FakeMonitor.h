// A monitor server in a thread of the test: for each request it writes the
// given item into the target file (or only answers with a failure), until
// destroyed.
#pragma once

#include <fstream>
#include <string>
#include <atomic>
#include <thread>

#include "filters/items/MonitorRequest.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Pipes.h"
#include "platform/win32/Sync.h"

namespace ZYT::Test {

class FakeMonitor {
 public:
  FakeMonitor(const char16_t* pipe, const char16_t* event, std::string item, HRESULT result = S_OK)
      : m_pipeName(pipe), m_item(std::move(item)), m_result(result) {
    m_pipe = CreateNamedPipeW(pipe, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE, 1, 4096, 4096, 0, nullptr);
    m_thread = std::thread([this, event] {
      HANDLE running = CreateEventW(nullptr, FALSE, FALSE, event);
      for (;;) {
        SetEvent(running);
        if (!ConnectNamedPipe(m_pipe, nullptr)) break;
        BYTE record[CMonitorRequest::kRecordSize];
        DWORD read = 0;
        if (!ReadFile(m_pipe, record, sizeof record, &read, nullptr) || read != sizeof record) {
          DisconnectNamedPipe(m_pipe);  // the stop knock
          break;
        }
        auto request = CMonitorRequest::Parse(record);
        ++m_requests;
        if (SUCCEEDED(m_result)) std::ofstream(ToPosixPath(request.target.c_str()), std::ios::binary) << m_item;
        CMonitorRequest::SetResult(record, m_result);
        DWORD written = 0;
        WriteFile(m_pipe, record, sizeof record, &written, nullptr);
        DisconnectNamedPipe(m_pipe);
      }
      CloseHandle(running);
    });
  }
  ~FakeMonitor() {
    BYTE knock = 0;
    DWORD read = 0;
    CallNamedPipeW(m_pipeName, &knock, 1, &knock, 1, &read, 1000);
    m_thread.join();
    CloseHandle(m_pipe);
  }
  int Requests() const { return m_requests; }

 private:
  const char16_t* m_pipeName;
  std::string m_item;
  HRESULT m_result;
  HANDLE m_pipe;
  std::thread m_thread;
  std::atomic<int> m_requests{0};
};

}  // namespace ZYT::Test
