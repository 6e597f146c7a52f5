// The COM task allocator. Memory handed across an interface (GetCurFile's path,
// GetValue's PROPVARIANT, strings inside it) comes from here and is freed by the
// receiver with CoTaskMemFree.
#pragma once

#include "platform/win32/WinTypes.h"

LPVOID CoTaskMemAlloc(SIZE_T cb);
LPVOID CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
void CoTaskMemFree(LPVOID pv);

namespace ZYT {
// Test switch: after `skip` more successful allocations, the next `count`
// allocations (CoTaskMemAlloc, CoTaskMemRealloc, SysAlloc*) fail. (0, 0) turns
// it off. Process-wide.
void FailTaskAllocations(ULONG skip, ULONG count);
// Blocks allocated and not yet freed, for leak checks in tests.
LONG OutstandingTaskAllocations();
// A task-allocated copy of a wide string, or null when allocation fails.
LPWSTR CoTaskStrDup(LPCWSTR text);
LPWSTR CoTaskStrDup(const std::u16string& text);
}  // namespace ZYT
