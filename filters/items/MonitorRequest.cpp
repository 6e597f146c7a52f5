#include "filters/items/MonitorRequest.h"

#include <algorithm>
#include <cstring>

#include "platform/win32/Limits.h"
#include "platform/win32/Pipes.h"
#include "platform/win32/Sync.h"

namespace {

void PutPath(BYTE* field, const std::u16string& path) {
  // At most 261 code units; a path that long fills the field without a terminator.
  size_t n = std::min(path.size(), CMonitorRequest::kPathChars);
  for (size_t i = 0; i < n; ++i) {
    field[2 * i] = static_cast<BYTE>(path[i] & 0xFF);
    field[2 * i + 1] = static_cast<BYTE>(path[i] >> 8);
  }
}

std::u16string GetPath(const BYTE* field) {
  std::u16string path;
  for (size_t i = 0; i < CMonitorRequest::kPathChars; ++i) {
    char16_t c = static_cast<char16_t>(field[2 * i] | (field[2 * i + 1] << 8));
    if (c == 0) break;
    path += c;
  }
  return path;
}

class EventHandle {
 public:
  explicit EventHandle(HANDLE h) : m_h(h) {}
  ~EventHandle() {
    if (m_h) CloseHandle(m_h);
  }
  EventHandle(const EventHandle&) = delete;
  EventHandle& operator=(const EventHandle&) = delete;
  HANDLE get() const { return m_h; }

 private:
  HANDLE m_h;
};

}  // namespace

void CMonitorRequest::Build(const std::u16string& source, const std::u16string& target, BYTE flag,
                            BYTE record[kRecordSize]) {
  std::memset(record, 0, kRecordSize);
  PutPath(record, source);
  PutPath(record + 2 * kPathChars, target);
  record[kFlagOffset] = flag;
  SetResult(record, E_FAIL);
}

CMonitorRequest::Request CMonitorRequest::Parse(const BYTE record[kRecordSize]) {
  return {GetPath(record), GetPath(record + 2 * kPathChars), record[kFlagOffset]};
}

HRESULT CMonitorRequest::ResultOf(const BYTE record[kRecordSize]) {
  uint32_t v = uint32_t(record[kResultOffset]) | (uint32_t(record[kResultOffset + 1]) << 8) |
               (uint32_t(record[kResultOffset + 2]) << 16) | (uint32_t(record[kResultOffset + 3]) << 24);
  return static_cast<HRESULT>(v);
}

void CMonitorRequest::SetResult(BYTE record[kRecordSize], HRESULT result) {
  uint32_t v = static_cast<uint32_t>(result);
  for (int i = 0; i < 4; ++i) record[kResultOffset + i] = static_cast<BYTE>((v >> (8 * i)) & 0xFF);
}

bool CMonitorRequest::PathFits(const std::u16string& path) {
  return path.size() <= kPathChars && path.find(u'\0') == std::u16string::npos;
}

HRESULT CMonitorRequest::Fetch(const char16_t* event, const char16_t* pipe, const std::u16string& source,
                               const std::u16string& target, BYTE flag, DWORD timeOut, const WaitNotice& waiting) {
  if (!PathFits(source) || !PathFits(target)) return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
  EventHandle running(CreateEventW(nullptr, FALSE, FALSE, event));
  if (!running.get()) return HRESULT_FROM_WIN32(GetLastError());
  // The indexer waits for the monitor as long as it takes to start, but says
  // so now and then, so that a host that seems stuck can be understood.
  DWORD state = WaitForSingleObject(running.get(), 0);
  if (state == WAIT_TIMEOUT) {
    const DWORD interval = std::clamp<DWORD>(ZYT::GetLimit(u"MonitorWaitLogInterval", 10), 1, 3600);
    DWORD waited = 0;
    do {
      if (waiting) waiting(waited);
      state = WaitForSingleObject(running.get(), interval * 1000);
      waited += interval;
    } while (state == WAIT_TIMEOUT);
  }
  if (state != WAIT_OBJECT_0) {
    DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
  }
  BYTE record[kRecordSize];
  Build(source, target, flag, record);
  DWORD read = 0;
  if (!CallNamedPipeW(pipe, record, kRecordSize, record, kRecordSize, &read, timeOut))
    return HRESULT_FROM_WIN32(GetLastError());
  if (read != kRecordSize) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
  return ResultOf(record);
}

HRESULT CMonitorRequest::FetchMessage(const std::u16string& source, const std::u16string& target, BYTE flag,
                                      DWORD timeOut, const WaitNotice& waiting) {
  return Fetch(kMessageServerEvent, kMessageServerPipe, source, target, flag, timeOut, waiting);
}

HRESULT CMonitorRequest::FetchPimItem(const std::u16string& source, const std::u16string& target, BYTE flag,
                                      DWORD timeOut, const WaitNotice& waiting) {
  return Fetch(kPimServerEvent, kPimServerPipe, source, target, flag, timeOut, waiting);
}
