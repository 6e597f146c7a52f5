// The document type manager: per extension, the persistent handler, the simple
// filter, the XML converter and the thumbnailer, and the way back to the
// machine's own choices. Dual: script callers reach the same 13 methods by
// DISPID 1 to 13 in this order.
#pragma once

#include "interfaces/ClassIds.h"
#include "platform/com/OleAuto.h"

struct IOrreryDocTypeManager : IDispatch {
  static constexpr IID iid = IID_IOrreryDocTypeManager;
  virtual HRESULT SetFilter(BSTR extension, BSTR guid) = 0;
  virtual HRESULT GetFilter(BSTR extension, BSTR* guid) = 0;
  virtual HRESULT EnumExtensions(BSTR* extensionsXml) = 0;
  virtual HRESULT EnumFilters(BSTR* filtersXml) = 0;
  virtual HRESULT EnumSimpleFilters(BSTR* simpleFiltersXml) = 0;
  virtual HRESULT EnumXmlFilters(BSTR* xmlFiltersXml) = 0;
  virtual HRESULT GetISimpleFilterGuid(BSTR extension, BSTR* guid) = 0;
  virtual HRESULT SetISimpleFilter(BSTR extension, BSTR simpleGuid) = 0;
  virtual HRESULT GetXMLFilterName(BSTR extension, BSTR* name) = 0;
  virtual HRESULT SetXMLFilter(BSTR extension, BSTR name) = 0;
  virtual HRESULT GetThumbnailer(BSTR extension, BSTR* thumbnailer) = 0;
  virtual HRESULT SetThumbnailer(BSTR extension, BSTR thumbnailer) = 0;
  virtual HRESULT RestoreDefaults() = 0;

 protected:
  ~IOrreryDocTypeManager() = default;
};

// DISPIDs of the methods above, for late-bound callers.
enum DocTypeManagerDispId : DISPID {
  DISPID_SetFilter = 1,
  DISPID_GetFilter,
  DISPID_EnumExtensions,
  DISPID_EnumFilters,
  DISPID_EnumSimpleFilters,
  DISPID_EnumXmlFilters,
  DISPID_GetISimpleFilterGuid,
  DISPID_SetISimpleFilter,
  DISPID_GetXMLFilterName,
  DISPID_SetXMLFilter,
  DISPID_GetThumbnailer,
  DISPID_SetThumbnailer,
  DISPID_RestoreDefaults,
};
