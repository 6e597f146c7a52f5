#include "doctypes/ProxyFilterRegistryStuff.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

#include "framework/PersistentHandler.h"
#include "interfaces/ClassIds.h"
#include "module/FiltersModule.h"
#include "platform/com/ComBoundary.h"
#include "platform/com/Guid.h"
#include "platform/win32/Limits.h"
#include "platform/win32/PathFunctions.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/Strings.h"
#include "platform/xml/XmlDocument.h"

namespace {

constexpr char16_t kClassesClsid[] = u"SOFTWARE\\Classes\\CLSID";
constexpr char16_t kAddinPath[] = u"\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}";
constexpr char16_t kContentIndex[] = u"SYSTEM\\CurrentControlSet\\Control\\ContentIndex";

// A REG_SZ value as it is stored (no expansion); false when the key is not
// open, the value is missing or of another type.
bool ReadSz(HKEY key, const char16_t* name, std::u16string& value) {
  if (!key) return false;
  WCHAR buffer[256] = {};
  DWORD type = 0;
  DWORD bytes = sizeof(buffer) - sizeof(WCHAR);
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &bytes) != ERROR_SUCCESS ||
      type != REG_SZ)
    return false;
  value.assign(buffer, bytes / sizeof(WCHAR));
  while (!value.empty() && value.back() == u'\0') value.pop_back();
  return true;
}

bool ReadSz(HKEY root, const std::u16string& subKey, const char16_t* name, std::u16string& value) {
  ZYT::CRegKey key;
  if (key.Open(root, subKey.c_str(), KEY_READ) != ERROR_SUCCESS) return false;
  return ReadSz(key, name, value);
}

void Check(LONG rc) {
  if (rc != ERROR_SUCCESS) _com_issue_error(HRESULT_FROM_WIN32(rc));
}

std::u16string ProxyClsid() { return ZYT::GuidToString(CLSID_OrreryCISProxyFilter); }

// Registry text as XML can carry it: characters XML 1.0 does not allow
// (control characters but tab, CR and LF, U+FFFE, U+FFFF, a lone surrogate)
// become spaces, so that one odd description cannot spoil the document.
std::string Utf8(const std::u16string& text) {
  std::u16string safe = text;
  for (size_t i = 0; i < safe.size(); ++i) {
    char16_t c = safe[i];
    bool high = c >= 0xD800 && c <= 0xDBFF, low = c >= 0xDC00 && c <= 0xDFFF;
    if (high && i + 1 < safe.size() && safe[i + 1] >= 0xDC00 && safe[i + 1] <= 0xDFFF) {
      ++i;
      continue;
    }
    if ((c < 0x20 && c != u'\t' && c != u'\r' && c != u'\n') || c == 0xFFFE || c == 0xFFFF || high || low) safe[i] = u' ';
  }
  return ZYT::WideToUtf8(safe);
}

ZYT::XmlDocument Parse(const std::u16string& xml) {
  ZYT::XmlDocument document;
  if (!document.LoadXmlText(ZYT::WideToUtf8(xml))) _com_issue_error(E_INVALIDARG);
  return document;
}

// What the registered-filters document says about a handler: its own
// description, else the saved native filter's description or module.
std::u16string FilterDescription(HKEY handlerKey, const std::u16string& savedFilter) {
  std::u16string text;
  if (ReadSz(handlerKey, nullptr, text) && !text.empty()) return text;
  if (savedFilter.empty()) return {};
  ZYT::CRegKey filterClass;
  if (filterClass.Open(HKEY_LOCAL_MACHINE, (std::u16string(kClassesClsid) + u"\\" + savedFilter).c_str(), KEY_READ) !=
      ERROR_SUCCESS)
    return {};
  if (ReadSz(filterClass, nullptr, text) && !text.empty()) return text;
  if (ReadSz(filterClass, u"InprocServer32", nullptr, text)) return text;
  return {};
}

// An extension's handler through its ProgID's document class.
std::u16string HandlerThroughProgId(const std::u16string& extension) {
  std::u16string progId, documentClass, handler;
  if (!ReadSz(HKEY_CLASSES_ROOT, extension, nullptr, progId) || progId.empty()) return {};
  if (!ReadSz(HKEY_CLASSES_ROOT, progId + u"\\CLSID", nullptr, documentClass) || documentClass.empty()) return {};
  if (!ReadSz(HKEY_CLASSES_ROOT, u"CLSID\\" + documentClass + u"\\PersistentHandler", nullptr, handler)) return {};
  return handler;
}

// Gives an extension that has a key but no handler of its own the handler of
// ".exe", which the indexer otherwise never asks.
void BorrowExecutableHandler(const char16_t* extension, const std::u16string& handler) {
  ZYT::CRegKey key;
  if (key.Open(HKEY_CLASSES_ROOT, extension, KEY_READ) != ERROR_SUCCESS) return;
  ZYT::CRegKey existing;
  if (existing.Open(key, u"PersistentHandler", KEY_READ) == ERROR_SUCCESS) return;
  ZYT::CRegKey created;
  Check(created.Create(HKEY_CLASSES_ROOT, (std::u16string(extension) + u"\\PersistentHandler").c_str()));
  Check(created.SetStringValue(nullptr, handler));
}

}  // namespace

std::u16string CProxyFilterRegistryStuff::InventoryRegisteredFilters() {
  ZYT::XmlDocument document;
  document.LoadXml("<registered-filters/>");
  ZYT::XmlNode root = document.DocumentElement();
  ZYT::CRegKey classes;
  if (classes.Open(HKEY_LOCAL_MACHINE, kClassesClsid, KEY_READ) == ERROR_SUCCESS) {
    const std::u16string proxy = ProxyClsid();
    for (const std::u16string& handler : ZYT::SubkeyNames(classes)) {
      ZYT::CRegKey handlerKey;
      if (handlerKey.Open(classes, handler.c_str(), KEY_READ) != ERROR_SUCCESS) continue;
      ZYT::CRegKey addin;
      if (addin.Open(handlerKey, (kAddinPath + 1), KEY_READ) != ERROR_SUCCESS) continue;
      std::u16string filter, saved;
      if (!ReadSz(addin, nullptr, filter)) continue;
      bool proxied = filter == proxy;
      ReadSz(addin, kSavedFilterValue, saved);
      ZYT::XmlNode element = root.AppendElement("filter");
      element.SetAttribute("PersistentHandler", Utf8(ZYT::ToUpper(handler)));
      element.SetAttribute("IFilter", Utf8(ZYT::ToUpper(proxied ? saved : filter)));
      element.SetAttribute("proxy", proxied ? "true" : "false");
      element.SetText(Utf8(FilterDescription(handlerKey, saved)));
    }
  }
  return ZYT::Utf8ToWide(root.Xml());
}

void CProxyFilterRegistryStuff::ApplyProxyToFilters(bool doRegister, const std::u16string& registeredFiltersXml) {
  ZYT::ComBoundary("ApplyProxyToFilters", [&] {
    ZYT::XmlDocument document = Parse(registeredFiltersXml);
    const std::u16string proxy = ProxyClsid();
    for (const ZYT::XmlNode& element : document.SelectNodes("//registered-filters/filter")) {
      std::u16string native = ZYT::Utf8ToWide(element.Attribute("IFilter"));
      std::u16string value = doRegister ? proxy : native;
      std::u16string path = std::u16string(kClassesClsid) + u"\\" + ZYT::Utf8ToWide(element.Attribute("PersistentHandler")) +
                            kAddinPath;
      ZYT::CRegKey addin;
      if (addin.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS) continue;
      std::u16string current;
      // Registering again leaves the native filter saved, not the proxy.
      if (ReadSz(addin, nullptr, current) && current == value) continue;
      Check(addin.SetStringValue(nullptr, value));
      if (doRegister) {
        Check(addin.SetStringValue(kSavedFilterValue, native));
      } else {
        LONG rc = addin.DeleteValue(kSavedFilterValue);
        if (rc != ERROR_FILE_NOT_FOUND) Check(rc);
      }
    }
    if (doRegister) {
      ZYT::CRegKey server;
      if (server.Open(HKEY_CLASSES_ROOT, u"CLSID\\{4C904448-74A9-11d0-AF6E-00C04FD8DC02}\\InprocServer32",
                      KEY_ALL_ACCESS) == ERROR_SUCCESS)
        Check(server.SetStringValue(u"ThreadingModel", u"Both"));
    }
    std::u16string executable;
    GUID executableHandler{};
    // Without a handler of ".exe" there is nothing to lend.
    if (ReadSz(HKEY_CLASSES_ROOT, u".exe\\PersistentHandler", nullptr, executable) &&
        ZYT::GuidFromString(executable, executableHandler)) {
      std::u16string handler = ZYT::GuidToString(executableHandler);
      BorrowExecutableHandler(u".zot", handler);
      BorrowExecutableHandler(u".pub", handler);
    }
    // Stored web pages are filtered as the machine filters HTML.
    ZYT::CRegKey html;
    std::u16string htmlHandler;
    if (html.Open(HKEY_CLASSES_ROOT, u".html\\PersistentHandler", KEY_READ) != ERROR_SUCCESS)
      htmlHandler = u"{eec97550-47a9-11cf-b952-00aa0051fe20}";
    else if (!ReadSz(html, nullptr, htmlHandler))
      htmlHandler.clear();
    if (!htmlHandler.empty()) {
      ZYT::CRegKey page;
      Check(page.Create(HKEY_CLASSES_ROOT, u".qhpd\\PersistentHandler"));
      Check(page.SetStringValue(nullptr, htmlHandler));
    }
    return S_OK;
  });
}

std::u16string CProxyFilterRegistryStuff::InventoryExtensions() {
  ZYT::XmlDocument document;
  document.LoadXml("<inventory-extensions-ret><extensions></extensions></inventory-extensions-ret>");
  ZYT::XmlNode extensions = document.SelectSingleNode("/*/extensions");
  for (const std::u16string& name : ZYT::SubkeyNames(HKEY_CLASSES_ROOT)) {
    if (name.empty() || name[0] != u'.') continue;
    std::u16string handler;
    ZYT::CRegKey own;
    if (own.Open(HKEY_CLASSES_ROOT, (name + u"\\PersistentHandler").c_str(), KEY_READ) != ERROR_SUCCESS ||
        !ReadSz(own, nullptr, handler) || handler.empty())
      handler = HandlerThroughProgId(name);
    if (handler.empty()) continue;
    ZYT::XmlNode element = extensions.AppendElement("extension");
    element.SetAttribute("name", Utf8(name));
    element.SetAttribute("persistent-handler", Utf8(ZYT::ToUpper(handler)));
  }
  return ZYT::Utf8ToWide(document.DocumentElement().Xml());
}

void CProxyFilterRegistryStuff::ApplyExtensionChoices(bool doRegister, const std::u16string& extensionsXml) {
  ZYT::XmlDocument document = Parse(extensionsXml);
  for (const ZYT::XmlNode& element : document.SelectNodes("/*/extensions/extension")) {
    std::u16string name = ZYT::Utf8ToWide(element.Attribute("name"));
    if (name.empty()) continue;
    ZYT::CRegKey key;
    if (key.Open(HKEY_CLASSES_ROOT, (name + u"\\PersistentHandler").c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS) continue;
    if (doRegister) {
      std::u16string chosen;
      if (!ReadSz(key, kNewExtensionValue, chosen)) continue;
      std::u16string current, saved;
      if (!ReadSz(key, nullptr, current)) throw std::runtime_error("Fail, no default value");
      // Applied before: what is saved is still what the extension had first.
      bool applied = ZYT::ToUpper(current) == ZYT::ToUpper(chosen);
      if (!(applied && ReadSz(key, kSavedExtensionValue, saved) && !saved.empty()))
        Check(key.SetStringValue(kSavedExtensionValue, ZYT::ToUpper(current)));
      Check(key.SetStringValue(nullptr, chosen));
    } else {
      std::u16string saved;
      if (!ReadSz(key, kSavedExtensionValue, saved)) continue;
      Check(key.SetStringValue(nullptr, saved));
      LONG rc = key.DeleteValue(kNewExtensionValue);
      if (rc != ERROR_FILE_NOT_FOUND) Check(rc);
    }
  }
}

void CProxyFilterRegistryStuff::UpdateDllsToRegister(bool doRegister) {
  ZYT::ComBoundary("UpdateDllsToRegister", [&] {
    ZYT::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kContentIndex, KEY_ALL_ACCESS) != ERROR_SUCCESS) return S_OK;
    // A longer list is left as it is rather than cut.
    const DWORD chars = std::clamp<DWORD>(ZYT::GetLimit(u"MaxDllsToRegisterChars", 10240), 1024, 1048576);
    std::vector<WCHAR> buffer(chars + 2, 0);
    DWORD type = 0;
    DWORD bytes = chars * sizeof(WCHAR);
    if (RegQueryValueExW(key, u"DLLsToRegister", nullptr, &type, reinterpret_cast<LPBYTE>(buffer.data()), &bytes) !=
            ERROR_SUCCESS ||
        (type != REG_MULTI_SZ && type != REG_SZ && type != REG_EXPAND_SZ))
      return S_OK;
    const std::u16string self = ZYT::LongPathOf(g_modulePath);
    std::vector<std::u16string> others;
    std::vector<std::u16string> pdf;
    for (size_t pos = 0, end = bytes / sizeof(WCHAR); pos < end;) {
      std::u16string entry(buffer.data() + pos);
      pos += entry.size() + 1;
      if (entry.empty()) continue;
      entry = ZYT::ToLower(entry);
      // This module's entry, by its name or (a renamed file) by its path.
      if (entry.find(u"zytfilters.dll") != std::u16string::npos || entry == ZYT::ToLower(self)) continue;
      if (entry.find(u"pdffilt.dll") != std::u16string::npos)
        pdf.push_back(entry);
      else
        others.push_back(entry);
    }
    // The PDF filter's module comes after every other but this one.
    others.insert(others.end(), pdf.begin(), pdf.end());
    if (doRegister) others.push_back(self);
    std::u16string list;
    for (const std::u16string& entry : others) list += entry + u'\0';
    list += u'\0';
    Check(RegSetValueExW(key, u"DLLsToRegister", 0, type, reinterpret_cast<const BYTE*>(list.data()),
                         static_cast<DWORD>(list.size() * sizeof(WCHAR))));
    return S_OK;
  });
}
