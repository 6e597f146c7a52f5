#pragma once

#include <string>

#include "interfaces/DocTypeManager.h"
#include "platform/com/ComObject.h"

// The automation object with which the product's programs choose, per file
// extension, the persistent handler, the simple filter, the XML converter and
// the thumbnailer, list what can be chosen, and undo every choice. Every
// change it makes leaves beside it what it replaced (see
// framework/PersistentHandler.h), so RestoreDefaults can put it back. Writes
// go through the product's registry writer; only RestoreDefaults writes
// directly when the process may.
//
// IDispatch is answered without type information: GetIDsOfNames knows the 13
// method names (any letter case) and Invoke calls them by DISPID 1 to 13 with
// BSTR arguments, the out value coming back in pVarResult.
class CDocTypeManager : public ZYT::CComObjectRoot, public IOrreryDocTypeManager {
 public:
  ZYT_BEGIN_INTERFACE_MAP(CDocTypeManager)
  ZYT_INTERFACE(IOrreryDocTypeManager)
  ZYT_INTERFACE_VIA(IDispatch, IOrreryDocTypeManager)
  ZYT_END_INTERFACE_MAP()

  // IDispatch
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  HRESULT Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepInfo, UINT* argErr) override;

  // IOrreryDocTypeManager
  HRESULT SetFilter(BSTR extension, BSTR guid) override;
  HRESULT GetFilter(BSTR extension, BSTR* guid) override;
  HRESULT EnumExtensions(BSTR* extensionsXml) override;
  HRESULT EnumFilters(BSTR* filtersXml) override;
  HRESULT EnumSimpleFilters(BSTR* simpleFiltersXml) override;
  HRESULT EnumXmlFilters(BSTR* xmlFiltersXml) override;
  HRESULT GetISimpleFilterGuid(BSTR extension, BSTR* guid) override;
  HRESULT SetISimpleFilter(BSTR extension, BSTR simpleGuid) override;
  HRESULT GetXMLFilterName(BSTR extension, BSTR* name) override;
  HRESULT SetXMLFilter(BSTR extension, BSTR name) override;
  HRESULT GetThumbnailer(BSTR extension, BSTR* thumbnailer) override;
  HRESULT SetThumbnailer(BSTR extension, BSTR thumbnailer) override;
  HRESULT RestoreDefaults() override;
};
