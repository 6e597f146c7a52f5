#include "platform/win32/Sync.h"

#include <atomic>
#include <mutex>
#include <new>

namespace {
static_assert(sizeof(std::recursive_mutex) <= sizeof(CRITICAL_SECTION::storage));
std::recursive_mutex* MutexOf(LPCRITICAL_SECTION cs) {
  return std::launder(reinterpret_cast<std::recursive_mutex*>(cs->storage));
}
std::atomic_ref<LONG> Ref(LONG volatile* p) { return std::atomic_ref<LONG>(*const_cast<LONG*>(p)); }
}  // namespace

void InitializeCriticalSection(LPCRITICAL_SECTION cs) { new (cs->storage) std::recursive_mutex(); }
void DeleteCriticalSection(LPCRITICAL_SECTION cs) { MutexOf(cs)->~recursive_mutex(); }
void EnterCriticalSection(LPCRITICAL_SECTION cs) { MutexOf(cs)->lock(); }
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs) { return MutexOf(cs)->try_lock() ? TRUE : FALSE; }
void LeaveCriticalSection(LPCRITICAL_SECTION cs) { MutexOf(cs)->unlock(); }

LONG InterlockedIncrement(LONG volatile* value) { return ++Ref(value); }
LONG InterlockedDecrement(LONG volatile* value) { return --Ref(value); }
LONG InterlockedExchange(LONG volatile* target, LONG value) { return Ref(target).exchange(value); }
LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand) {
  Ref(target).compare_exchange_strong(comparand, exchange);
  return comparand;
}
