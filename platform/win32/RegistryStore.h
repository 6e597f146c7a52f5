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
// rights. $ZYT_REGISTRY_READONLY ("HKLM,HKCU") sets it at start.
#pragma once

#include <string>

#include "platform/win32/Registry.h"

namespace ZYT {

// Closes the store; the next registry call opens the file that the environment
// names then. Open key handles of the old store must not be used afterwards.
void ResetRegistryStore();
// The file the store uses (or will use).
std::string RegistryStorePath();
void SetRegistryRootReadOnly(HKEY root, bool readOnly);

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
