// The IPersistFile side of a filter that reads its file itself: Load only
// remembers the path (the file is opened by Init), nothing is ever saved.
#pragma once

#include <string>

#include "platform/com/ComBoundary.h"
#include "platform/com/ObjIdl.h"

class CPersistFileBase : public IPersistFile {
 public:
  HRESULT GetClassID(CLSID* pClassID) override;
  HRESULT IsDirty() override { return S_FALSE; }
  HRESULT Load(LPCOLESTR pszFileName, DWORD dwMode) override;
  HRESULT Save(LPCOLESTR, BOOL) override { return E_FAIL; }
  HRESULT SaveCompleted(LPCOLESTR) override { return S_OK; }
  HRESULT GetCurFile(LPOLESTR* ppszFileName) override;

 protected:
  // loadLog: where a failing Load is reported, or null; only its address is
  // taken here, so it may be a member of the derived class.
  explicit CPersistFileBase(REFCLSID clsid, ZYT::IErrorLog* loadLog = nullptr) : m_clsid(clsid), m_loadLog(loadLog) {}
  ~CPersistFileBase() = default;

  std::u16string m_filePath;

 private:
  CLSID m_clsid;
  ZYT::IErrorLog* m_loadLog;
};
