// The product's settings server: an XML settings file ($ZYT_SETTINGS, else
// $XDG_DATA_HOME/zyt/settings.xml) made from a template when missing, parsed
// once per process and read again when the file changes.
#pragma once

#include "interfaces/SettingsServer.h"
#include "platform/com/ComObject.h"
#include "platform/com/NoTypeInfoDispatch.h"

class CSettingsServer : public ZYT::CComObjectRoot, public ZYT::CNoTypeInfoDispatch<ISettingsServer> {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CSettingsServer)
  ZYT_INTERFACE(ISettingsServer)
  ZYT_INTERFACE_VIA(IDispatch, ISettingsServer)
  ZYT_END_INTERFACE_MAP()

  // Served from any thread: the document is shared by every object of the process.
  using ThreadModel = ZYT::MultiThreadModel;

  HRESULT Query(BSTR xpath, VARIANT defaultValue, VARIANT* value) override;
  HRESULT SetValue(BSTR xpath, BSTR value) override;
  HRESULT GetDocument(BSTR* xml) override;
  HRESULT GetSettingsPath(BSTR* path) override;
  HRESULT GetTempFolder(BSTR* folder) override;
};
