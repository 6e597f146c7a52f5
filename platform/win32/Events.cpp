#include <fcntl.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "platform/win32/KernelObject.h"
#include "platform/win32/ObjectNames.h"
#include "platform/win32/Strings.h"
#include "platform/win32/Sync.h"

namespace ZYT {

std::string ObjectNamespace() {
  if (const char* ns = std::getenv("ZYT_OBJECT_NAMESPACE"); ns && *ns) return ns;
  return "zyt-" + std::to_string(getuid());
}

std::string SemaphoreNameFor(const std::u16string& eventName) {
  std::string name = "/" + ObjectNamespace() + ".";
  for (char c : WideToUtf8(eventName)) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
    name += plain ? c : '_';
  }
  // A semaphore name is at most 251 characters with its slash.
  return name.substr(0, 250);
}

}  // namespace ZYT

namespace {

// /dev/shm is writable by everybody and the names are easy to guess: a
// semaphore made first by another user would let that user hold back or fake
// the signals. glibc keeps a named semaphore as /dev/shm/sem.<name>; where it
// does not, there is nothing to check.
bool MadeByAnotherUser(const std::string& semName) {
  struct stat st;
  return lstat(("/dev/shm/sem." + semName.substr(1)).c_str(), &st) == 0 && st.st_uid != geteuid();
}

class EventObject final : public ZYT::KernelObject {
 public:
  EventObject(sem_t* named, bool manualReset) : m_named(named), m_manualReset(manualReset) {}
  EventObject(bool manualReset, bool initialState) : m_manualReset(manualReset) {
    sem_init(&m_local, 0, initialState ? 1 : 0);
  }
  ~EventObject() override {
    if (m_named)
      sem_close(m_named);
    else
      sem_destroy(&m_local);
  }
  sem_t* Sem() { return m_named ? m_named : &m_local; }
  bool ManualReset() const { return m_manualReset; }

 private:
  sem_t* m_named = nullptr;
  sem_t m_local{};
  bool m_manualReset;
};

}  // namespace

HANDLE CreateEventW(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState, LPCWSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_SUCCESS);
    return ZYT::RegisterHandle(new EventObject(manualReset != FALSE, initialState != FALSE));
  }
  std::string semName = ZYT::SemaphoreNameFor(name);
  // Opened first: most calls find the event made, and glibc's exclusive
  // create builds and links a whole temporary file before it finds that out.
  sem_t* sem = sem_open(semName.c_str(), 0);
  bool existed = sem != SEM_FAILED;
  if (!existed && errno == ENOENT) {
    sem = sem_open(semName.c_str(), O_CREAT | O_EXCL, 0600, initialState ? 1u : 0u);
    if (sem == SEM_FAILED && errno == EEXIST) {
      existed = true;  // made by another process in between
      sem = sem_open(semName.c_str(), 0);
    }
  }
  if (sem == SEM_FAILED) {
    SetLastError(ZYT::Win32ErrorFromErrno(errno));
    return nullptr;
  }
  if (existed && MadeByAnotherUser(semName)) {
    sem_close(sem);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  HANDLE h = ZYT::RegisterHandle(new EventObject(sem, manualReset != FALSE));
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return h;
}

HANDLE OpenEventW(DWORD, BOOL, LPCWSTR name) {
  if (!name || !*name) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string semName = ZYT::SemaphoreNameFor(name);
  sem_t* sem = sem_open(semName.c_str(), 0);
  if (sem == SEM_FAILED) {
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (MadeByAnotherUser(semName)) {
    sem_close(sem);
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return ZYT::RegisterHandle(new EventObject(sem, false));
}

BOOL SetEvent(HANDLE event) {
  auto* e = ZYT::HandleAs<EventObject>(event);
  if (!e) return FALSE;
  int value = 0;
  // A signalled event stays one signal, however often it is set.
  if (sem_getvalue(e->Sem(), &value) == 0 && value > 0) return TRUE;
  return sem_post(e->Sem()) == 0 ? TRUE : FALSE;
}

BOOL ResetEvent(HANDLE event) {
  auto* e = ZYT::HandleAs<EventObject>(event);
  if (!e) return FALSE;
  while (sem_trywait(e->Sem()) == 0) {
  }
  return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  ZYT::KernelObject* object = ZYT::LookupHandle(handle);
  if (!object) {
    ZYT::SetInvalidHandleError();
    return WAIT_FAILED;
  }
  auto* e = dynamic_cast<EventObject*>(object);
  if (!e) return object->Wait(milliseconds);
  int rc;
  if (milliseconds == INFINITE) {
    while ((rc = sem_wait(e->Sem())) != 0 && errno == EINTR) {
    }
  } else {
    struct timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000;
    if (deadline.tv_nsec >= 1000000000) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000;
    }
    while ((rc = sem_timedwait(e->Sem(), &deadline)) != 0 && errno == EINTR) {
    }
  }
  if (rc != 0) {
    if (errno == ETIMEDOUT) return WAIT_TIMEOUT;
    SetLastError(ZYT::Win32ErrorFromErrno(errno));
    return WAIT_FAILED;
  }
  if (e->ManualReset()) sem_post(e->Sem());  // a manual-reset event stays signalled
  return WAIT_OBJECT_0;
}

namespace ZYT {
void UnlinkNamedEvent(LPCWSTR name) {
  if (name && *name) sem_unlink(SemaphoreNameFor(name).c_str());
}
}  // namespace ZYT
