#include "framework/EasyIFilterBase.h"

#include "framework/PathUtilities.h"
#include "framework/SettingsAccess.h"

std::u16string FilterLogFolder(const std::u16string& debugFolder) {
  return ZYT::MakePath(ZYT::DirectoryOf(debugFolder), u"Debug.Filter", u"");
}

std::u16string FilterLogFolder() { return FilterLogFolder(ZYT::GetDebugFolder()); }

EasyIFilterBase::EasyIFilterBase(const std::u16string& logPrefix, REFCLSID clsid)
    : CPersistFileBase(clsid, &m_log), m_log(logPrefix, true, true) {}

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

HRESULT EasyIFilterBase::BaseInit(ULONG grfFlags, ULONG cAttributes, const FULLPROPSPEC* aAttributes, ULONG* pFlags) {
  m_log.Log(u"Init called\n");
  m_chunkNumber = 0;
  HRESULT hr = ZYT::InterpretFilterInit(grfFlags, cAttributes, aAttributes, m_initFlags, &m_log);
  if (FAILED(hr)) return hr;
  if (pFlags) *pFlags = IFILTER_FLAGS_OLE_PROPERTIES;
  return S_OK;
}
