// The product's settings server: its class, its interface, and the slots the
// module calls (query at 7, temporary folder at 11).
#pragma once

#include "platform/com/OleAuto.h"

inline constexpr CLSID CLSID_SettingsServer = ZYT::MakeGuid("{34389F07-2F6D-4D4B-B477-5F73A1C3A2BE}");

struct ISettingsServer : IDispatch {
  static constexpr IID iid = ZYT::MakeGuid("{FA53A589-AA16-4661-B6F4-1DD052D0783C}");
  // 7: the node that xpath selects: an attribute's or text node's value, an
  // element's XML; defaultValue unchanged when nothing is selected.
  virtual HRESULT Query(BSTR xpath, VARIANT defaultValue, VARIANT* value) = 0;
  // 8: sets the text of the selected attribute or element, creating neither;
  // S_FALSE when nothing is selected. The file is written at once.
  virtual HRESULT SetValue(BSTR xpath, BSTR value) = 0;
  // 9: the whole settings document as XML.
  virtual HRESULT GetDocument(BSTR* xml) = 0;
  // 10: the settings file this server reads (created from its template if missing).
  virtual HRESULT GetSettingsPath(BSTR* path) = 0;
  // 11: a folder for temporary files, created if missing.
  virtual HRESULT GetTempFolder(BSTR* folder) = 0;

 protected:
  ~ISettingsServer() = default;
};
