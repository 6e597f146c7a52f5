#include "platform/com/ClassFactory.h"

namespace ZYT {

HRESULT InterfaceMapQuery(const InterfaceEntry* entries, void* object, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (const InterfaceEntry* e = entries; e->iid; ++e) {
    if (IsEqualIID(*e->iid, riid)) {
      auto* itf = static_cast<IUnknown*>(e->cast(object));
      itf->AddRef();
      *ppv = itf;
      return S_OK;
    }
  }
  return E_NOINTERFACE;
}

HRESULT CComClassFactory::QueryInterface(REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) return E_NOINTERFACE;
  AddRef();
  *ppv = static_cast<IClassFactory*>(this);
  return S_OK;
}

ULONG CComClassFactory::AddRef() {
  ULONG count = ++m_ref;
  if (count == 2) ModuleLock::Lock();
  return count;
}

ULONG CComClassFactory::Release() {
  ULONG count = --m_ref;
  if (count == 1) ModuleLock::Unlock();
  if (count == 0) delete this;
  return count;
}

HRESULT CComClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return m_creator(outer, riid, ppv);
}

HRESULT CComClassFactory::LockServer(BOOL lock) {
  if (lock)
    ModuleLock::Lock();
  else
    ModuleLock::Unlock();
  return S_OK;
}

CClassTable::CClassTable(const ClassEntry* entries, size_t count) noexcept
    : m_entries(entries), m_count(count), m_cache(new std::atomic<CComClassFactory*>[count]) {
  for (size_t i = 0; i < count; ++i) m_cache[i] = nullptr;
}

CClassTable::~CClassTable() {
  ReleaseClassObjects();
  delete[] m_cache;
}

HRESULT CClassTable::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  for (size_t i = 0; i < m_count; ++i) {
    if (!IsEqualCLSID(*m_entries[i].clsid, clsid)) continue;
    if (!m_entries[i].creator) return CLASS_E_CLASSNOTAVAILABLE;
    CComClassFactory* factory = m_cache[i].load(std::memory_order_acquire);
    if (!factory) {
      std::lock_guard guard(m_lock);
      factory = m_cache[i].load(std::memory_order_relaxed);
      if (!factory) {
        factory = new (std::nothrow) CComClassFactory(m_entries[i].creator);
        if (!factory) return E_OUTOFMEMORY;
        m_cache[i].store(factory, std::memory_order_release);
      }
    }
    return factory->QueryInterface(riid, ppv);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

void CClassTable::ReleaseClassObjects() noexcept {
  for (size_t i = 0; i < m_count; ++i)
    if (CComClassFactory* f = m_cache[i].exchange(nullptr)) f->Release();
}

void CComModule::Init(const ClassEntry* entries, size_t count, HINSTANCE instance, const GUID& libid) {
  m_entries = entries;
  m_count = count;
  m_instance = instance;
  m_libid = libid;
  m_table = new CClassTable(entries, count);
}

void CComModule::Term() {
  delete m_table;
  m_table = nullptr;
}

HRESULT CComModule::GetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  return m_table ? m_table->GetClassObject(clsid, riid, ppv) : CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CComModule::UpdateClassRegistry(bool doRegister) const {
  for (size_t i = 0; i < m_count; ++i) {
    if (!m_entries[i].updateRegistry) continue;
    HRESULT hr = m_entries[i].updateRegistry(doRegister);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

}  // namespace ZYT
