// Critical sections and interlocked operations.
#pragma once

#include "platform/win32/WinTypes.h"

// Recursive, as Windows critical sections are. Storage for a std::recursive_mutex.
struct CRITICAL_SECTION {
  alignas(void*) unsigned char storage[64];
};
using LPCRITICAL_SECTION = CRITICAL_SECTION*;

void InitializeCriticalSection(LPCRITICAL_SECTION cs);
void DeleteCriticalSection(LPCRITICAL_SECTION cs);
void EnterCriticalSection(LPCRITICAL_SECTION cs);
BOOL TryEnterCriticalSection(LPCRITICAL_SECTION cs);
void LeaveCriticalSection(LPCRITICAL_SECTION cs);

LONG InterlockedIncrement(LONG volatile* value);
LONG InterlockedDecrement(LONG volatile* value);
LONG InterlockedExchange(LONG volatile* target, LONG value);
LONG InterlockedCompareExchange(LONG volatile* target, LONG exchange, LONG comparand);

// Events, shared between processes by name as POSIX named semaphores (see
// ObjectNames.h); unnamed ones live in the process. An automatic-reset event
// releases one waiter per SetEvent. Named events outlive their handles, as
// the semaphores do: a stale signal may wake a client whose server is gone,
// which then fails to reach its pipe.
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState, LPCWSTR name);
HANDLE OpenEventW(DWORD desiredAccess, BOOL inheritHandle, LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;
constexpr DWORD EVENT_ALL_ACCESS = 0x1F0003;
constexpr DWORD SYNCHRONIZE = 0x00100000;
constexpr DWORD EVENT_MODIFY_STATE = 0x0002;
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

namespace ZYT {
// Removes a named event's semaphore (tests and the monitor's clean stop).
void UnlinkNamedEvent(LPCWSTR name);
}  // namespace ZYT
