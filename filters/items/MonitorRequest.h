// The request to the product's monitor process: one 1052-byte record sent
// over its pipe, answered with the same record and the server's result. On
// success the server has written the item (a MIME message, an XML item
// document) into the target file.
#pragma once

#include <functional>
#include <string>

#include "platform/win32/WinTypes.h"

inline constexpr char16_t kMessageServerEvent[] = u"Global\\ZYT_Orrery message server running event";
inline constexpr char16_t kMessageServerPipe[] = u"\\\\.\\pipe\\Halvorine\\Orrery\\ZYTMonitor\\MessageServer";
inline constexpr char16_t kPimServerEvent[] = u"Global\\ZYT_Orrery pim server running event";
inline constexpr char16_t kPimServerPipe[] = u"\\\\.\\pipe\\Halvorine\\Orrery\\ZYTMonitor\\PimServer";

class CMonitorRequest {
 public:
  static constexpr size_t kRecordSize = 1052;
  static constexpr size_t kPathChars = 261;
  static constexpr size_t kFlagOffset = 1044;
  static constexpr size_t kResultOffset = 1048;

  // Told when the wait for the running event starts (0) and again every
  // MonitorWaitLogInterval seconds while it lasts, with the seconds waited.
  using WaitNotice = std::function<void(DWORD secondsWaited)>;

  // Waits (without a time-out) until the server's running event is signalled,
  // then sends the request. 0x8007000D for an answer that is not 1052 bytes.
  // A path that its field cannot hold whole is refused before anything is
  // sent: cut, it would name another file (HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE)).
  static HRESULT FetchMessage(const std::u16string& source, const std::u16string& target, BYTE flag, DWORD timeOut,
                              const WaitNotice& waiting = {});
  static HRESULT FetchPimItem(const std::u16string& source, const std::u16string& target, BYTE flag, DWORD timeOut,
                              const WaitNotice& waiting = {});

  // Whether a path goes into a record whole: at most 261 code units (the
  // longest fills its field without a terminator) and no zero inside.
  static bool PathFits(const std::u16string& path);

  // The record as it goes on the wire (the server side reads it with Parse).
  static void Build(const std::u16string& source, const std::u16string& target, BYTE flag, BYTE record[kRecordSize]);
  struct Request {
    std::u16string source, target;
    BYTE flag = 0;
  };
  static Request Parse(const BYTE record[kRecordSize]);
  static HRESULT ResultOf(const BYTE record[kRecordSize]);
  static void SetResult(BYTE record[kRecordSize], HRESULT result);

 private:
  static HRESULT Fetch(const char16_t* event, const char16_t* pipe, const std::u16string& source,
                       const std::u16string& target, BYTE flag, DWORD timeOut, const WaitNotice& waiting);
};
