#include "framework/PersistFileBase.h"

#include "platform/com/TaskAllocator.h"

HRESULT CPersistFileBase::GetClassID(CLSID* pClassID) {
  if (!pClassID) return E_POINTER;
  *pClassID = m_clsid;
  return S_OK;
}

HRESULT CPersistFileBase::Load(LPCOLESTR pszFileName, DWORD) {
  return ZYT::ComBoundary("Load", m_loadLog, [&] {
    m_filePath = pszFileName ? pszFileName : u"";
    return S_OK;
  });
}

HRESULT CPersistFileBase::GetCurFile(LPOLESTR* ppszFileName) {
  if (!ppszFileName) return E_POINTER;
  *ppszFileName = nullptr;
  if (m_filePath.empty()) return E_FAIL;
  *ppszFileName = ZYT::CoTaskStrDup(m_filePath);
  return *ppszFileName ? S_OK : E_OUTOFMEMORY;
}
