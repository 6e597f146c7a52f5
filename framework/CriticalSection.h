// A critical section and the scoped lock over it.
#pragma once

#include "platform/win32/Sync.h"

namespace ZYT {

class CriticalSection {
 public:
  CriticalSection() { InitializeCriticalSection(&m_section); }
  virtual ~CriticalSection() { DeleteCriticalSection(&m_section); }
  CriticalSection(const CriticalSection&) = delete;
  CriticalSection& operator=(const CriticalSection&) = delete;
  void Enter() { EnterCriticalSection(&m_section); }
  void Leave() { LeaveCriticalSection(&m_section); }

 private:
  CRITICAL_SECTION m_section;
};

class Mutex {
 public:
  explicit Mutex(CriticalSection& section) : m_section(section) { m_section.Enter(); }
  virtual ~Mutex() { m_section.Leave(); }
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

 private:
  CriticalSection& m_section;
};

}  // namespace ZYT
