// IPersist, IPersistFile and IRunnableObject in Windows slot order.
#pragma once

#include "platform/com/Unknwn.h"

// IPersistFile::Load modes
constexpr DWORD STGM_READ = 0x00000000;
constexpr DWORD STGM_WRITE = 0x00000001;
constexpr DWORD STGM_READWRITE = 0x00000002;
constexpr DWORD STGM_SHARE_DENY_NONE = 0x00000040;
constexpr DWORD STGM_SHARE_DENY_READ = 0x00000030;
constexpr DWORD STGM_SHARE_DENY_WRITE = 0x00000020;
constexpr DWORD STGM_SHARE_EXCLUSIVE = 0x00000010;
constexpr DWORD STGM_DIRECT = 0x00000000;
constexpr DWORD STGM_TRANSACTED = 0x00010000;
constexpr DWORD STGM_CREATE = 0x00001000;

struct IPersist : IUnknown {
  static constexpr IID iid = ZYT::MakeGuid("{0000010C-0000-0000-C000-000000000046}");
  virtual HRESULT GetClassID(CLSID* pClassID) = 0;

 protected:
  ~IPersist() = default;
};

struct IPersistFile : IPersist {
  static constexpr IID iid = ZYT::MakeGuid("{0000010B-0000-0000-C000-000000000046}");
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT Load(LPCOLESTR pszFileName, DWORD dwMode) = 0;
  virtual HRESULT Save(LPCOLESTR pszFileName, BOOL fRemember) = 0;
  virtual HRESULT SaveCompleted(LPCOLESTR pszFileName) = 0;
  virtual HRESULT GetCurFile(LPOLESTR* ppszFileName) = 0;

 protected:
  ~IPersistFile() = default;
};

struct IBindCtx;
struct IRunnableObject : IUnknown {
  static constexpr IID iid = ZYT::MakeGuid("{00000126-0000-0000-C000-000000000046}");
  virtual HRESULT GetRunningClass(LPCLSID lpClsid) = 0;
  virtual HRESULT Run(IBindCtx* pbc) = 0;
  virtual BOOL IsRunning() = 0;
  virtual HRESULT LockRunning(BOOL fLock, BOOL fLastUnlockCloses) = 0;
  virtual HRESULT SetContainedObject(BOOL fContained) = 0;

 protected:
  ~IRunnableObject() = default;
};

inline constexpr IID IID_IPersist = IPersist::iid;
inline constexpr IID IID_IPersistFile = IPersistFile::iid;
inline constexpr IID IID_IRunnableObject = IRunnableObject::iid;
