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

struct ClassEntry {
  const CLSID* clsid;
  InstanceCreator creator;  // null: the class is not available in this build
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

}  // namespace ZYT

template <class T>
HRESULT ZytCreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  return ZYT::CComObject<T>::CreateInstance(outer, riid, ppv);
}
