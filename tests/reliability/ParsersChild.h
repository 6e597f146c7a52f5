// Memory of a filter run measured for real: the run happens in a forked
// child, whose peak resident size the kernel reports when it is reaped.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/com/ComPtr.h"
#include "platform/com/OleAuto.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/Limits.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"

// AddressSanitizer reserves and keeps memory of its own (shadow, quarantine):
// peak sizes mean nothing there, so only the outcomes are checked.
#if defined(__SANITIZE_ADDRESS__)
#define ZYT_PARSERS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZYT_PARSERS_ASAN 1
#endif
#endif

namespace ZYT::Test::Parsers {

#ifdef ZYT_PARSERS_ASAN
inline constexpr bool kMeasureMemory = false;
#else
inline constexpr bool kMeasureMemory = true;
#endif

struct ChildRun {
  int exitCode = -1;  // -1 when the child did not exit by itself (a signal, the watchdog)
  long peakKb = 0;    // the child's peak resident size
};

// Runs body in a forked child, which exits with body's result; a watchdog
// turns a hang into a failure.
inline ChildRun RunInChild(const std::function<int()>& body) {
  ChildRun run;
  pid_t pid = fork();
  if (pid < 0) return run;
  if (pid == 0) {
    alarm(60);
    int code = 98;
    try {
      code = body();
    } catch (...) {
      code = 99;
    }
    _exit(code);
  }
  int status = 0;
  rusage usage{};
  pid_t reaped;
  do {
    reaped = wait4(pid, &status, 0, &usage);
  } while (reaped < 0 && errno == EINTR);
  if (reaped == pid && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  run.peakKb = usage.ru_maxrss;
  return run;
}

// Filters path as the indexer does and keeps nothing of what comes: 0 when
// Init succeeds and the chunks end normally.
inline int FilterAndDiscard(const std::u16string& path) {
  ComPtr<IFilter> filter;
  if (LoadIFilter(path.c_str(), nullptr, filter.put_void()) != S_OK || !filter) return 2;
  ULONG flags = 0;
  if (filter->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags) != S_OK) return 3;
  STAT_CHUNK stat{};
  HRESULT hr;
  while ((hr = filter->GetChunk(&stat)) == S_OK) {
    if (stat.flags & CHUNK_TEXT) {
      WCHAR buffer[4096];
      ULONG n = 4096;
      while (filter->GetText(&n, buffer) == S_OK) n = 4096;
    } else {
      PROPVARIANT* value = nullptr;
      if (filter->GetValue(&value) == S_OK && value) {
        PropVariantClear(value);
        CoTaskMemFree(value);
      }
    }
  }
  return hr == FILTER_E_END_OF_CHUNKS ? 0 : 4;
}

// How much more than a child that does nothing a child filtering path took, in KB.
inline long ExtraKbToFilter(const std::u16string& path, int* exitCode) {
  ChildRun idle = RunInChild([] { return 0; });
  ChildRun run = RunInChild([&] { return FilterAndDiscard(path); });
  *exitCode = run.exitCode;
  return run.peakKb - idle.peakKb;
}

// Sets a limit of this machine (the test's private registry).
inline void SetLimit(const char16_t* name, DWORD value) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLimitsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

}  // namespace ZYT::Test::Parsers
