// The lock count of the module being built: one per live object and per
// LockServer(TRUE). Each module links its own copy (its symbols are local to
// the shared object), so DllCanUnloadNow answers for that module alone.
#pragma once

#include "platform/win32/WinTypes.h"

namespace ZYT {
class ModuleLock {
 public:
  static LONG Lock() noexcept;
  static LONG Unlock() noexcept;
  static LONG Count() noexcept;
};
}  // namespace ZYT
