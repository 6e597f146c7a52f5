// Laps of the process clock (milliseconds since the process started).
#pragma once

#include <string>
#include <vector>

#include "platform/win32/WinTypes.h"

class CStopWatch {
 public:
  virtual ~CStopWatch() = default;
  // Empties the laps and adds "start"; returns its time.
  DWORD Start();
  DWORD Lap(const std::u16string& label);
  void Finish() { Lap(u"finish"); }
  // laps[last] - laps[first]; 0 when either is out of range or first >= last.
  DWORD Elapsed(size_t first, size_t last) const;
  DWORD TotalElapsed() const { return m_laps.empty() ? 0 : Elapsed(0, m_laps.size() - 1); }

  struct LapEntry {
    std::u16string label;
    DWORD time;
  };
  const std::vector<LapEntry>& Laps() const { return m_laps; }

 private:
  std::vector<LapEntry> m_laps;
};
