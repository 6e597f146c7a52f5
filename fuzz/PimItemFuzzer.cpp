// libFuzzer target: the monitor's vCard/iCalendar reader on arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/win32/FileApi.h"
#include "platform/win32/KernelObject.h"
#include "platform/win32/Limits.h"
#include "tools/zyt-monitor/MonitorItems.h"

// The reader's neighbours in its file read files and limits through the
// platform library, which this target does not link; the reader never calls them.
bool ZYT::ReadRegularFile(const std::string&, std::string&, DWORD&, size_t) { __builtin_trap(); }
DWORD ZYT::GetLimit(LPCWSTR, DWORD) { __builtin_trap(); }
DWORD ZYT::Win32ErrorFromErrno(int, const char*) { __builtin_trap(); }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  static const char* const kinds[] = {"contact", "event", "task", "note"};
  std::string xml = ZytMonitor::PimItemXml(kinds[size % 4], text, size % 3 == 0 ? "" : "uid");
  // Whatever the input, the answer is nothing or a document with its root.
  if (!xml.empty() && xml.find("<title") == std::string::npos) __builtin_trap();
  return 0;
}
