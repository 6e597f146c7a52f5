#include "framework/StopWatch.h"

#include "platform/win32/SysInfo.h"

DWORD CStopWatch::Start() {
  m_laps.clear();
  return Lap(u"start");
}

DWORD CStopWatch::Lap(const std::u16string& label) {
  DWORD now = ZytProcessClock();
  m_laps.push_back({label, now});
  return now;
}

DWORD CStopWatch::Elapsed(size_t first, size_t last) const {
  if (first >= m_laps.size() || last >= m_laps.size() || first >= last) return 0;
  return m_laps[last].time - m_laps[first].time;
}
