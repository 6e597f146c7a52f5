// Memory of a filter run measured for real: the run happens in a forked
// child, whose peak resident size the kernel reports when it is reaped.
#pragma once

#include <string>

#include <gtest/gtest.h>

#include "platform/com/ComPtr.h"
#include "platform/com/OleAuto.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/Limits.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "tests/support/ChildProcess.h"

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

// Filtering a large file under a sanitizer takes its time.
inline constexpr int kChildPatienceSeconds = 60;

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
  ChildExit idle = RunInChild([] { return 0; }, kChildPatienceSeconds);
  ChildExit run = RunInChild([&] { return FilterAndDiscard(path); }, kChildPatienceSeconds);
  *exitCode = run.status;
  return run.usage.ru_maxrss - idle.usage.ru_maxrss;
}

}  // namespace ZYT::Test::Parsers
