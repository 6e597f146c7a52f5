// IUnknown and IClassFactory in Windows slot order. Every interface carries its
// IID as the static member `iid`; uuidof<I>() reads it.
#pragma once

#include "platform/com/Guid.h"

template <class T>
constexpr const IID& uuidof() {
  return T::iid;
}
template <class T>
constexpr const IID& uuidof(T*) {
  return T::iid;
}

struct IUnknown {
  static constexpr IID iid = ZYT::MakeGuid("{00000000-0000-0000-C000-000000000046}");
  virtual HRESULT QueryInterface(REFIID riid, void** ppv) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

  template <class Q>
  HRESULT QueryInterface(Q** pp) {
    return QueryInterface(uuidof<Q>(), reinterpret_cast<void**>(pp));
  }

 protected:
  ~IUnknown() = default;
};
using LPUNKNOWN = IUnknown*;

struct IClassFactory : IUnknown {
  static constexpr IID iid = ZYT::MakeGuid("{00000001-0000-0000-C000-000000000046}");
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) = 0;
  virtual HRESULT LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};

inline constexpr IID IID_IUnknown = IUnknown::iid;
inline constexpr IID IID_IClassFactory = IClassFactory::iid;
