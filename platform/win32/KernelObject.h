// Kernel objects behind HANDLEs (files, find searches; later pipes and
// events). A HANDLE is the object's address, registered so that a stale or
// foreign handle is refused with ERROR_INVALID_HANDLE instead of crashing.
#pragma once

#include <cerrno>

#include "platform/win32/FileApi.h"
#include "platform/win32/WinTypes.h"

namespace ZYT {

class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // ReadFile and WriteFile on this object; set the Win32 error on failure.
  virtual BOOL Read(void* buffer, DWORD toRead, DWORD& read, const OVERLAPPED* at);
  virtual BOOL Write(const void* buffer, DWORD toWrite, DWORD& written, const OVERLAPPED* at);
  // WaitForSingleObject on an object that is not an event (processes);
  // WAIT_FAILED with ERROR_INVALID_HANDLE for one that cannot be waited on.
  virtual DWORD Wait(DWORD milliseconds);
  // The descriptor of an open file, for handing it to a child process; -1 otherwise.
  virtual int Descriptor() const { return -1; }
};

HANDLE RegisterHandle(KernelObject* object);
KernelObject* LookupHandle(HANDLE handle);
void SetInvalidHandleError();
// The object of a handle when it is of type T; null (and ERROR_INVALID_HANDLE) otherwise.
template <class T>
T* HandleAs(HANDLE handle) {
  T* object = dynamic_cast<T*>(LookupHandle(handle));
  if (!object) SetInvalidHandleError();
  return object;
}
// Unregisters and destroys; false for an unknown handle.
bool DestroyHandle(HANDLE handle);

// errno as the closest Win32 error; `path` lets ENOENT tell a missing file
// from a missing folder.
DWORD Win32ErrorFromErrno(int error, const char* path = nullptr);

}  // namespace ZYT
