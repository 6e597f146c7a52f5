// The object framework every class of a module uses: reference count, a
// declarative interface map, aggregation, the module lock and
// FinalConstruct/FinalRelease. A class derives from CComObjectRoot and its
// interfaces and lists the interfaces QueryInterface answers:
//
//   class CNullFileFilter : public ZYT::CComObjectRoot, public ISimpleFileFilter {
//    public:
//     ZYT_BEGIN_INTERFACE_MAP(CNullFileFilter)
//       ZYT_INTERFACE(ISimpleFileFilter)
//     ZYT_END_INTERFACE_MAP()
//   };
//
// Objects are made by CComObject<T>::CreateInstance, which supplies IUnknown.
// The first entry of the map is the object's identity.
#pragma once

#include <atomic>
#include <new>

#include "platform/com/ComBoundary.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ModuleLock.h"
#include "platform/com/Unknwn.h"

namespace ZYT {

struct InterfaceEntry {
  const IID* iid;
  void* (*cast)(void* object);  // object is the class's own `this`
};

// The module's objects follow the single-threaded object model: the indexer
// never calls one object from two threads at once, so counts need no atomics.
struct SingleThreadModel {
  using Count = ULONG;
  static ULONG Increment(Count& c) noexcept { return ++c; }
  static ULONG Decrement(Count& c) noexcept { return --c; }
};
struct MultiThreadModel {
  using Count = std::atomic<ULONG>;
  static ULONG Increment(Count& c) noexcept { return ++c; }
  static ULONG Decrement(Count& c) noexcept { return --c; }
};

class CComObjectRoot {
 public:
  using ThreadModel = SingleThreadModel;
  // May throw; the exception becomes CreateInstance's HRESULT.
  HRESULT FinalConstruct() { return S_OK; }
  void FinalRelease() noexcept {}

 protected:
  CComObjectRoot() = default;
  ~CComObjectRoot() = default;
  // The controlling unknown: the outer object when aggregated, else this object.
  IUnknown* m_controllingUnknown = nullptr;
};

// Looks riid up in a map; AddRefs through the found interface.
HRESULT InterfaceMapQuery(const InterfaceEntry* entries, void* object, REFIID riid, void** ppv);

template <class T>
class CComObject final : public T {
 public:
  // Creates the object, runs FinalConstruct and returns riid. An outer unknown
  // is accepted only with IID_IUnknown and gets the inner (non-delegating) unknown.
  static HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && !IsEqualIID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
    CComObject* object = nullptr;
    HRESULT hr = Construct(outer, object);
    if (FAILED(hr)) return hr;
    hr = outer ? object->m_inner.QueryInterface(riid, ppv) : object->InternalQueryInterface(riid, ppv);
    object->InternalRelease();  // destroys the object when the query failed
    return hr;
  }

  // Creates an unaggregated object for the module's own use.
  static HRESULT Create(ComPtr<CComObject>& out) noexcept {
    out.Reset();
    CComObject* object = nullptr;
    HRESULT hr = Construct(nullptr, object);
    if (SUCCEEDED(hr)) out = ComPtr<CComObject>::Adopt(object);
    return hr;
  }

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    return m_outer ? m_outer->QueryInterface(riid, ppv) : InternalQueryInterface(riid, ppv);
  }
  ULONG AddRef() override { return m_outer ? m_outer->AddRef() : InternalAddRef(); }
  ULONG Release() override { return m_outer ? m_outer->Release() : InternalRelease(); }
  template <class Q>
  HRESULT QueryInterface(Q** pp) {
    return QueryInterface(uuidof<Q>(), reinterpret_cast<void**>(pp));
  }

  ULONG RefCount() const noexcept { return m_ref; }

 private:
  explicit CComObject(IUnknown* outer) : m_outer(outer) {
    m_inner.m_owner = this;
    this->m_controllingUnknown = outer ? outer : Identity();
    ModuleLock::Lock();
  }
  ~CComObject() { ModuleLock::Unlock(); }

  // On success the object holds one reference, owned by the caller.
  static HRESULT Construct(IUnknown* outer, CComObject*& object) noexcept {
    object = new (std::nothrow) CComObject(outer);
    if (!object) return E_OUTOFMEMORY;
    object->InternalAddRef();
    HRESULT hr;
    try {
      hr = object->T::FinalConstruct();
    } catch (...) {
      hr = ResultFromCaughtException("FinalConstruct", nullptr, std::source_location::current());
    }
    if (FAILED(hr)) {
      object->InternalRelease();
      object = nullptr;
    }
    return hr;
  }

  IUnknown* Identity() noexcept {
    return static_cast<IUnknown*>(T::InterfaceEntries()[0].cast(static_cast<T*>(this)));
  }

  HRESULT InternalQueryInterface(REFIID riid, void** ppv) noexcept {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
      IUnknown* identity = Identity();
      identity->AddRef();
      *ppv = identity;
      return S_OK;
    }
    return InterfaceMapQuery(T::InterfaceEntries(), static_cast<T*>(this), riid, ppv);
  }
  ULONG InternalAddRef() noexcept { return T::ThreadModel::Increment(m_ref); }
  ULONG InternalRelease() noexcept {
    ULONG count = T::ThreadModel::Decrement(m_ref);
    if (count == 0) {
      m_ref = 1;  // FinalRelease may AddRef/Release us again
      this->T::FinalRelease();
      delete this;
    }
    return count;
  }

  // The non-delegating unknown handed to an outer object.
  struct Inner final : IUnknown {
    CComObject* m_owner = nullptr;
    HRESULT QueryInterface(REFIID riid, void** ppv) override {
      if (!ppv) return E_POINTER;
      *ppv = nullptr;
      if (IsEqualIID(riid, IID_IUnknown)) {
        AddRef();
        *ppv = static_cast<IUnknown*>(this);
        return S_OK;
      }
      return InterfaceMapQuery(T::InterfaceEntries(), static_cast<T*>(m_owner), riid, ppv);
    }
    ULONG AddRef() override { return m_owner->InternalAddRef(); }
    ULONG Release() override { return m_owner->InternalRelease(); }
  };

  typename T::ThreadModel::Count m_ref{0};
  IUnknown* m_outer;
  Inner m_inner;
};

}  // namespace ZYT

#define ZYT_BEGIN_INTERFACE_MAP(cls)                               \
  using InterfaceMapClass = cls;                                   \
  static const ::ZYT::InterfaceEntry* InterfaceEntries() noexcept { \
    static const ::ZYT::InterfaceEntry entries[] = {
// An interface that the class derives from once.
#define ZYT_INTERFACE(itf)                                                        \
  {&uuidof<itf>(), [](void* p) -> void* {                                         \
     return static_cast<itf*>(static_cast<InterfaceMapClass*>(p));                \
   }},
// An interface reached through one of the class's interfaces (IDispatch of a dual interface).
#define ZYT_INTERFACE_VIA(itf, via)                                               \
  {&uuidof<itf>(), [](void* p) -> void* {                                         \
     return static_cast<itf*>(static_cast<via*>(static_cast<InterfaceMapClass*>(p))); \
   }},
#define ZYT_END_INTERFACE_MAP() \
  { nullptr, nullptr }          \
  }                             \
  ;                             \
  return entries;               \
  }
