#include "platform/com/TaskAllocator.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<ULONG> g_skip{0};
std::atomic<ULONG> g_fail{0};
std::atomic<LONG> g_outstanding{0};

// True when the test switch says this allocation must fail.
bool ShouldFail() {
  if (g_fail.load(std::memory_order_relaxed) == 0) return false;
  ULONG skip = g_skip.load();
  while (skip > 0) {
    if (g_skip.compare_exchange_weak(skip, skip - 1)) return false;
  }
  ULONG fail = g_fail.load();
  while (fail > 0) {
    if (g_fail.compare_exchange_weak(fail, fail - 1)) return true;
  }
  return false;
}

}  // namespace

LPVOID CoTaskMemAlloc(SIZE_T cb) {
  if (ShouldFail()) return nullptr;
  void* p = std::malloc(cb ? cb : 1);
  if (p) ++g_outstanding;
  return p;
}

LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
  if (!pv) return CoTaskMemAlloc(cb);
  if (cb == 0) {
    CoTaskMemFree(pv);
    return nullptr;
  }
  if (ShouldFail()) return nullptr;
  return std::realloc(pv, cb);
}

void CoTaskMemFree(LPVOID pv) {
  if (!pv) return;
  --g_outstanding;
  std::free(pv);
}

namespace ZYT {

void FailTaskAllocations(ULONG skip, ULONG count) {
  g_skip = skip;
  g_fail = count;
}

LONG OutstandingTaskAllocations() { return g_outstanding.load(); }

LPWSTR CoTaskStrDup(LPCWSTR text) {
  size_t n = WideLength(text);
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((n + 1) * sizeof(WCHAR)));
  if (!copy) return nullptr;
  if (n) std::memcpy(copy, text, n * sizeof(WCHAR));
  copy[n] = 0;
  return copy;
}

LPWSTR CoTaskStrDup(const std::u16string& text) { return CoTaskStrDup(text.c_str()); }

}  // namespace ZYT
