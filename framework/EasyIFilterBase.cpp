#include "framework/EasyIFilterBase.h"

#include "framework/PathUtilities.h"
#include "framework/SettingsAccess.h"

std::u16string FilterLogFolder(const std::u16string& debugFolder) {
  return ZYT::MakePath(ZYT::DirectoryOf(debugFolder), u"Debug.Filter", u"");
}

std::u16string FilterLogFolder() { return FilterLogFolder(ZYT::GetDebugFolder()); }

EasyIFilterBase::EasyIFilterBase(const std::u16string& logPrefix, REFCLSID clsid)
    : m_log(logPrefix, true, true), m_clsid(clsid) {}

HRESULT EasyIFilterBase::FinalConstructStep() {
  try {
    m_log.SetFolder(FilterLogFolder());
    m_log.Log(u"FinalConstruct\n");
    return S_OK;
  } catch (const _com_error& e) {
    m_log.LogComError(e, ".\\EasyIFilterBase.cpp", 99);
    return e.Error();
  } catch (...) {
    m_log.Log(u"FinalConstruct: unknown exception\n", ".\\EasyIFilterBase.cpp", 102);
    return E_FAIL;
  }
}

HRESULT EasyIFilterBase::GetClassID(CLSID* pClassID) {
  if (!pClassID) return E_POINTER;
  *pClassID = m_clsid;
  return S_OK;
}

HRESULT EasyIFilterBase::Load(LPCOLESTR pszFileName, DWORD) {
  return ZYT::ComBoundary("Load", &m_log, [&] {
    m_filePath = pszFileName ? pszFileName : u"";
    return S_OK;
  });
}

HRESULT EasyIFilterBase::GetCurFile(LPOLESTR* ppszFileName) {
  if (!ppszFileName) return E_POINTER;
  *ppszFileName = nullptr;
  if (m_filePath.empty()) return E_FAIL;
  *ppszFileName = ZYT::CoTaskStrDup(m_filePath);
  return *ppszFileName ? S_OK : E_OUTOFMEMORY;
}

HRESULT EasyIFilterBase::BaseInit(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) {
  m_log.Log(u"Init called\n");
  m_chunkNumber = 0;
  HRESULT hr = ZYT::InterpretFilterInit(grfFlags, cAttributes, aAttributes, m_initFlags, &m_log);
  if (FAILED(hr)) return hr;
  if (pFlags) *pFlags = IFILTER_FLAGS_OLE_PROPERTIES;
  return S_OK;
}
