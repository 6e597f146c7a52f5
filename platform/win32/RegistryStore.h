// The machine's registry: one SQLite file shared by every process of the
// machine (WAL, busy timeout, one transaction per write).
//
// Location: $ZYT_REGISTRY, else $XDG_DATA_HOME/zyt/registry.db (default
// ~/.local/share/zyt/registry.db). The roots are HKEY_LOCAL_MACHINE,
// HKEY_CURRENT_USER and HKEY_USERS; HKEY_CLASSES_ROOT is a view of
// HKLM\SOFTWARE\Classes. Names are case-insensitive and case-preserving
// (compared after simple upper-casing of each UTF-16 unit, as Windows does);
// subkeys enumerate in that order, values in creation order.
//
// A root can be made read-only for this process: writes under it then fail
// with ERROR_ACCESS_DENIED, as they do for a user without administrator
// rights. $ZYT_REGISTRY_READONLY ("HKLM,HKCU") sets it at start. A store
// whose file or folder this user may not write is opened for reading: every
// write then fails the same way.
//
// Keys nest at most 512 levels below their root, as on Windows; creating a
// deeper one fails with ERROR_INVALID_PARAMETER. A write that finds the disk
// (or the process's file size limit) full fails with ERROR_DISK_FULL.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win32/Registry.h"

namespace ZYT {

// Closes the store; the next registry call opens the file that the environment
// names then. Open key handles of the old store must not be used afterwards.
void ResetRegistryStore();
// The file the store uses (or will use).
std::string RegistryStorePath();
void SetRegistryRootReadOnly(HKEY root, bool readOnly);

// While one lives, this thread's writes pass a root made read-only for the
// process (not a store file opened for reading): what a privileged service
// may do for a caller that may not. Only the registry writer component uses it.
class CPrivilegedRegistryWrites {
 public:
  CPrivilegedRegistryWrites();
  ~CPrivilegedRegistryWrites();
  CPrivilegedRegistryWrites(const CPrivilegedRegistryWrites&) = delete;
  CPrivilegedRegistryWrites& operator=(const CPrivilegedRegistryWrites&) = delete;
};

// Opens the store now. On failure returns the error (ERROR_BADDB for a file
// that is not a registry, ERROR_CANTOPEN, ...) and sets `problem` to one line
// naming the file and what is wrong with it.
LONG OpenRegistryStore(std::string& problem);
// Whether the store was opened for reading only (see above).
bool RegistryStoreIsReadOnly();

// Groups this thread's registry writes into one transaction: other processes,
// and other threads of this one, see all of them or none. Transactions nest;
// an inner rollback undoes the inner writes only. Until the outermost commit
// or rollback, other threads' registry calls wait, so the owner must not wait
// for a thread that uses the registry. A write that fails inside keeps its
// error; when SQLite has had to abandon the whole transaction (a full disk),
// every later write and the commit fail with that error.
LONG BeginRegistryTransaction();
// Commits (the outermost) or releases (an inner one); on failure the
// transaction's writes are undone. ERROR_INVALID_FUNCTION when this thread
// has no transaction open.
LONG CommitRegistryTransaction();
void RollbackRegistryTransaction();

// A transaction scope: begun by the constructor, rolled back by the
// destructor unless committed.
class CRegistryTransaction {
 public:
  CRegistryTransaction() : m_status(BeginRegistryTransaction()) {}
  CRegistryTransaction(const CRegistryTransaction&) = delete;
  CRegistryTransaction& operator=(const CRegistryTransaction&) = delete;
  ~CRegistryTransaction() {
    if (m_status == ERROR_SUCCESS && !m_done) RollbackRegistryTransaction();
  }
  // The error of the begin, if it failed.
  LONG Status() const { return m_status; }
  LONG Commit() {
    if (m_status != ERROR_SUCCESS || m_done) return m_status != ERROR_SUCCESS ? m_status : ERROR_INVALID_FUNCTION;
    m_done = true;
    return CommitRegistryTransaction();
  }

 private:
  LONG m_status;
  bool m_done = false;
};

// Serialises machine-wide set-up among processes: an exclusive lock on the
// file "<store>.lock" beside the store (made 0600), held until destruction.
class CRegistrySetupLock {
 public:
  CRegistrySetupLock() = default;
  CRegistrySetupLock(const CRegistrySetupLock&) = delete;
  CRegistrySetupLock& operator=(const CRegistrySetupLock&) = delete;
  ~CRegistrySetupLock();
  // Waits up to timeoutSeconds for the lock: ERROR_SUCCESS, ERROR_TIMEOUT,
  // or the error of making the lock file (`problem` then names it).
  LONG Acquire(DWORD timeoutSeconds, std::string& problem);

 private:
  int m_fd = -1;
};

// Identifies a state of the store: equal stamps mean nothing was written in
// between, by this process or another. Lets callers cache what they read.
// This process's writes change the stamp at once, other processes' writes
// within a millisecond.
struct RegistryStamp {
  uint64_t generation = 0;
  uint64_t external = 0;
  uint64_t local = 0;
  friend bool operator==(const RegistryStamp&, const RegistryStamp&) = default;
};
bool GetRegistryStamp(RegistryStamp& stamp);

}  // namespace ZYT
