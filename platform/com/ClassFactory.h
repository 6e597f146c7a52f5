// Class objects and the table a module's DllGetClassObject walks.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/com/ComObject.h"

namespace ZYT {

using InstanceCreator = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

// A class factory bound to one instance creator. Its owner (the class table)
// keeps one reference that does not lock the module; every reference handed
// out beyond it does.
class CComClassFactory final : public IClassFactory {
 public:
  explicit CComClassFactory(InstanceCreator creator) noexcept : m_creator(creator) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override;
  ULONG AddRef() override;
  ULONG Release() override;
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  HRESULT LockServer(BOOL lock) override;

 private:
  ~CComClassFactory() = default;
  std::atomic<ULONG> m_ref{1};
  InstanceCreator m_creator;
};

using RegistryUpdater = HRESULT (*)(bool doRegister);

struct ClassEntry {
  const CLSID* clsid;
  InstanceCreator creator;          // null: the class is not available in this build
  RegistryUpdater updateRegistry;   // writes or removes the class's registry entries
};

// Caches one class object per row, created on first request under a lock and
// read without it afterwards.
class CClassTable {
 public:
  CClassTable(const ClassEntry* entries, size_t count) noexcept;
  ~CClassTable();
  CClassTable(const CClassTable&) = delete;
  CClassTable& operator=(const CClassTable&) = delete;

  HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
  // Drops the cached class objects (process detach).
  void ReleaseClassObjects() noexcept;

 private:
  const ClassEntry* m_entries;
  size_t m_count;
  std::atomic<CComClassFactory*>* m_cache;
  std::mutex m_lock;
};

// The module object of a COM server: its class table, instance handle and
// type library, the class objects, and the lock count that DllCanUnloadNow reads.
class CComModule {
 public:
  CComModule() = default;
  CComModule(const CComModule&) = delete;
  CComModule& operator=(const CComModule&) = delete;

  void Init(const ClassEntry* entries, size_t count, HINSTANCE instance, const GUID& libid);
  // Releases every cached class object (process detach).
  void Term();
  HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
  HRESULT CanUnloadNow() const { return ModuleLock::Count() == 0 ? S_OK : S_FALSE; }
  // Runs every row's registration function in table order; stops at the first failure.
  HRESULT UpdateClassRegistry(bool doRegister) const;
  HINSTANCE Instance() const { return m_instance; }
  const GUID& LibId() const { return m_libid; }
  LONG Lock() { return ModuleLock::Lock(); }
  LONG Unlock() { return ModuleLock::Unlock(); }
  LONG GetLockCount() const { return ModuleLock::Count(); }

 private:
  const ClassEntry* m_entries = nullptr;
  size_t m_count = 0;
  CClassTable* m_table = nullptr;
  HINSTANCE m_instance = nullptr;
  GUID m_libid{};
};

}  // namespace ZYT

template <class T>
HRESULT ZytCreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  return ZYT::CComObject<T>::CreateInstance(outer, riid, ppv);
}
