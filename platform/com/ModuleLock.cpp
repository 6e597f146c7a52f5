#include "platform/com/ModuleLock.h"

#include <atomic>

namespace {
std::atomic<LONG> g_locks{0};
}

namespace ZYT {
LONG ModuleLock::Lock() noexcept { return ++g_locks; }
LONG ModuleLock::Unlock() noexcept { return --g_locks; }
LONG ModuleLock::Count() noexcept { return g_locks.load(); }
}  // namespace ZYT
