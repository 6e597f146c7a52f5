// libFuzzer target: the monitor's vCard/iCalendar reader on arbitrary text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/zyt-monitor/MonitorItems.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  static const char* const kinds[] = {"contact", "event", "task", "note"};
  std::string xml = ZytMonitor::PimItemXml(kinds[size % 4], text, size % 3 == 0 ? "" : "uid");
  // Whatever the input, the answer is nothing or a document with its root.
  if (!xml.empty() && xml.find("<title") == std::string::npos) __builtin_trap();
  return 0;
}
