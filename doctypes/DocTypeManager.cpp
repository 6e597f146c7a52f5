#include "doctypes/DocTypeManager.h"

#include <array>
#include <vector>

#include "doctypes/ProxyFilterRegistryStuff.h"
#include "framework/PersistentHandler.h"
#include "interfaces/RegistryWriter.h"
#include "platform/com/ComVariant.h"
#include "platform/com/ObjBase.h"
#include "platform/win32/Registry.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/Strings.h"
#include "platform/xml/XmlDocument.h"

namespace {

constexpr char16_t kInternalThumbnailer[] = u"Internal Thumbnailer";
constexpr char16_t kSimpleFiltersKey[] = u"SOFTWARE\\ZYT\\Orrery\\Filters\\ISimpleFileFilter";
constexpr char16_t kXmlFiltersKey[] = u"SOFTWARE\\ZYT\\Orrery\\Filters\\XMLFilter";
constexpr char16_t kAdapterKey[] = u"SOFTWARE\\ZYT\\Orrery\\Filters\\SimpleFileFilterAdapter\\";
constexpr char16_t kXmlProxyKey[] = u"SOFTWARE\\ZYT\\Orrery\\Filters\\XMLProxyFilter\\";

// The module's own handlers: the product's item types and the two adapters,
// which a user does not choose as an extension's IFilter.
constexpr std::array<const char16_t*, 8> kOwnHandlers = {
    u"{32E04D1B-5E47-11D7-B40F-00D009EF4932}", u"{32E04D1D-5E47-11D7-B40F-00D009EF4932}",
    u"{353807BA-8819-414D-90FB-2BCBED9C5B3B}", u"{EBEDC252-296C-11D7-B3F4-00D009EF4932}",
    u"{8AED2655-017E-11D7-B3E2-00D009EF4932}", u"{9904CB72-7FC7-489D-A836-B4109CC4427A}",
    u"{32E04D13-5E47-11D7-B40F-00D009EF4932}", u"{32E04D19-5E47-11D7-B40F-00D009EF4932}",
};

// Registry value buffers hold 256 characters (512 bytes).
constexpr ULONG kValueChars = 256;

std::u16string Text(BSTR text) { return text ? std::u16string(text, SysStringLen(text)) : std::u16string(); }

std::string Utf8(const std::u16string& text) { return ZYT::WideToUtf8(text); }

HRESULT HandOut(const std::u16string& text, BSTR* out) {
  *out = ZYT::CBstr(text).Detach();
  return S_OK;
}

HRESULT HandOut(const std::string& utf8, BSTR* out) { return HandOut(ZYT::Utf8ToWide(utf8), out); }

// A REG_SZ read into the usual 256-character buffer; false when the key or
// value is missing, of another type, or longer than the buffer.
bool ReadString(HKEY root, const std::u16string& key, const char16_t* name, std::u16string& value) {
  ZYT::CRegKey k;
  if (k.Open(root, key.c_str(), KEY_READ) != ERROR_SUCCESS) return false;
  WCHAR buffer[kValueChars] = {};
  ULONG chars = kValueChars;
  if (k.QueryStringValue(name, buffer, &chars) != ERROR_SUCCESS) return false;
  value = buffer;
  return true;
}

bool HasValue(HKEY key, const char16_t* name) {
  return RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// The product's registry writer, made once for the method call that writes.
class CWriter {
 public:
  // path is relative to HKEY_LOCAL_MACHINE; a trailing "\" names the default value.
  void Write(const std::u16string& path, const std::u16string& value) {
    ZYT::CBstr text(value);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = text.get();
    Call(path, v);
  }
  // Removes the key (trailing "\") or the value.
  void Remove(const std::u16string& path) { Call(path, ZYT::OmittedArgument()); }

 private:
  void Call(const std::u16string& path, const VARIANT& value) {
    if (!m_writer) {
      ZYT::ThrowIfFailed(
          CoCreateInstance(CLSID_RegistryWriter, nullptr, CLSCTX_ALL, IID_IRegistryWriter, m_writer.put_void()));
    }
    ZYT::CBstr target(path);
    HRESULT hr = m_writer->WriteRegistryValue(target.get(), value);
    if (FAILED(hr)) _com_issue_error(hr);
  }

  ZYT::ComPtr<IRegistryWriter> m_writer;
};

std::u16string Dotted(const std::u16string& extension) {
  return !extension.empty() && extension[0] == u'.' ? extension : u"." + extension;
}

// Whether this process may write under HKEY_CLASSES_ROOT itself: a value
// written at its root reads back.
bool CanWriteDirectly() {
  ZYT::CRegKey root;
  if (root.Open(HKEY_CLASSES_ROOT, nullptr, KEY_ALL_ACCESS) != ERROR_SUCCESS) return false;
  if (root.SetStringValue(u"ZYTTest", u"Test") != ERROR_SUCCESS) return false;
  WCHAR buffer[kValueChars] = {};
  ULONG chars = kValueChars;
  bool readBack = root.QueryStringValue(u"ZYTTest", buffer, &chars) == ERROR_SUCCESS;
  root.DeleteValue(u"ZYTTest");
  return readBack;
}

// An extension key that holds nothing once the handler or thumbnail key this
// system made is gone was made for them too (SetFilter on a new extension):
// it goes as well, so the extension is as it was. An empty extension key
// carries no meaning of its own.
bool IsEmptyKey(const std::u16string& classesPath) {
  ZYT::CRegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, classesPath.c_str(), KEY_READ) != ERROR_SUCCESS) return false;
  DWORD subkeys = 0, values = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, nullptr) != ERROR_SUCCESS)
    return false;
  return subkeys == 0 && values == 0;
}

// Undoes this system's changes to one extension with the process's own writes.
void RestoreDirectly(const std::u16string& name) {
  const std::u16string classes = u"SOFTWARE\\Classes\\" + name;
  LONG rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, (classes + u"\\" + kThumbnailKey).c_str());
  if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) ZYT::ThrowIfWin32Error(rc);
  const bool removedThumbnail = rc == ERROR_SUCCESS;
  const std::u16string handlerPath = classes + u"\\PersistentHandler";
  ZYT::CRegKey handler;
  if (handler.Open(HKEY_LOCAL_MACHINE, handlerPath.c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS) {
    if (removedThumbnail && IsEmptyKey(classes)) RegDeleteKeyW(HKEY_LOCAL_MACHINE, classes.c_str());
    return;
  }
  if (HasValue(handler, kTempHandlerValue)) {
    handler.Close();
    ZYT::ThrowIfWin32Error(RegDeleteTreeW(HKEY_LOCAL_MACHINE, handlerPath.c_str()));
    if (IsEmptyKey(classes)) RegDeleteKeyW(HKEY_LOCAL_MACHINE, classes.c_str());
    return;
  }
  WCHAR saved[kValueChars] = {};
  ULONG chars = kValueChars;
  if (handler.QueryStringValue(kSavedExtensionValue, saved, &chars) != ERROR_SUCCESS || !saved[0]) return;
  ZYT::ThrowIfWin32Error(handler.SetStringValue(nullptr, saved));
  handler.DeleteValue(kNewExtensionValue);
  ZYT::ThrowIfWin32Error(handler.DeleteValue(kSavedExtensionValue));
}

// Undoes this system's changes to one extension through the writer.
void RestoreThroughWriter(CWriter& writer, const std::u16string& name) {
  const std::u16string classes = u"software\\classes\\" + name;
  ZYT::CRegKey thumbnail;
  const bool removedThumbnail =
      thumbnail.Open(HKEY_LOCAL_MACHINE, (classes + u"\\" + kThumbnailKey).c_str(), KEY_READ) == ERROR_SUCCESS;
  if (removedThumbnail) {
    thumbnail.Close();
    writer.Remove(classes + u"\\" + kThumbnailKey + u"\\");
  }
  const std::u16string handlerPath = classes + u"\\PersistentHandler";
  ZYT::CRegKey handler;
  if (handler.Open(HKEY_LOCAL_MACHINE, handlerPath.c_str(), KEY_READ) != ERROR_SUCCESS) {
    if (removedThumbnail && IsEmptyKey(classes)) writer.Remove(classes + u"\\");
    return;
  }
  if (HasValue(handler, kTempHandlerValue)) {
    handler.Close();
    writer.Remove(handlerPath + u"\\");
    if (IsEmptyKey(classes)) writer.Remove(classes + u"\\");
    return;
  }
  WCHAR saved[kValueChars] = {};
  ULONG chars = kValueChars;
  if (handler.QueryStringValue(kSavedExtensionValue, saved, &chars) != ERROR_SUCCESS || !saved[0]) return;
  writer.Write(handlerPath + u"\\", saved);
  writer.Remove(handlerPath + u"\\" + kNewExtensionValue);
  writer.Remove(handlerPath + u"\\" + kSavedExtensionValue);
}

struct Method {
  const char16_t* name;
  UINT inputs;  // BSTR arguments
  bool output;  // one out BSTR
};

// Indexed by DISPID - 1.
constexpr std::array<Method, 13> kMethods = {{
    {u"SetFilter", 2, false},
    {u"GetFilter", 1, true},
    {u"EnumExtensions", 0, true},
    {u"EnumFilters", 0, true},
    {u"EnumSimpleFilters", 0, true},
    {u"EnumXmlFilters", 0, true},
    {u"GetISimpleFilterGuid", 1, true},
    {u"SetISimpleFilter", 2, false},
    {u"GetXMLFilterName", 1, true},
    {u"SetXMLFilter", 2, false},
    {u"GetThumbnailer", 1, true},
    {u"SetThumbnailer", 2, false},
    {u"RestoreDefaults", 0, false},
}};

// The BSTR an argument carries: by value, by reference, or in a variant
// passed by reference. Null when it carries none.
BSTR* StringOf(VARIANTARG& arg) {
  if (arg.vt == VT_BSTR) return &arg.bstrVal;
  if (arg.vt == (VT_BSTR | VT_BYREF)) return arg.pbstrVal;
  if (arg.vt == (VT_VARIANT | VT_BYREF) && arg.pvarVal && arg.pvarVal->vt == VT_BSTR) return &arg.pvarVal->bstrVal;
  return nullptr;
}

}  // namespace

// ---- IDispatch ----

HRESULT CDocTypeManager::GetTypeInfoCount(UINT* count) {
  if (!count) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT CDocTypeManager::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
  if (info) *info = nullptr;
  return TYPE_E_ELEMENTNOTFOUND;
}

HRESULT CDocTypeManager::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  return ZYT::ComBoundary("GetIDsOfNames", [&] {
    if (!IsEqualIID(riid, GUID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (!names || !ids || count == 0) return E_INVALIDARG;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    if (!names[0]) return DISP_E_UNKNOWNNAME;
    for (size_t m = 0; m < kMethods.size(); ++m) {
      if (ZYT::EqualsNoCase(names[0], kMethods[m].name)) ids[0] = static_cast<DISPID>(m + 1);
    }
    if (ids[0] == DISPID_UNKNOWN) return DISP_E_UNKNOWNNAME;
    // The methods' arguments are passed by position only.
    return count > 1 ? DISP_E_UNKNOWNNAME : S_OK;
  });
}

HRESULT CDocTypeManager::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                EXCEPINFO*, UINT* argErr) {
  return ZYT::ComBoundary("Invoke", [&]() -> HRESULT {
    if (!IsEqualIID(riid, GUID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (id < 1 || id > static_cast<DISPID>(kMethods.size())) return DISP_E_MEMBERNOTFOUND;
    // Script hosts call methods with DISPATCH_METHOD, often together with
    // DISPATCH_PROPERTYGET; a property put names no member here.
    if (!(flags & DISPATCH_METHOD)) return DISP_E_MEMBERNOTFOUND;
    if (!params) return E_INVALIDARG;
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    const Method& method = kMethods[id - 1];
    // The out argument may be passed as a last, by-reference BSTR too.
    const bool outArgument = method.output && params->cArgs == method.inputs + 1;
    if (params->cArgs != method.inputs && !outArgument) return DISP_E_BADPARAMCOUNT;
    if (params->cArgs && !params->rgvarg) return E_INVALIDARG;

    // COM passes the arguments last first: the first argument is rgvarg[cArgs - 1].
    std::array<BSTR, 2> in = {nullptr, nullptr};
    for (UINT i = 0; i < method.inputs; ++i) {
      UINT slot = params->cArgs - 1 - i;
      BSTR* text = StringOf(params->rgvarg[slot]);
      if (!text) {
        if (argErr) *argErr = slot;
        return DISP_E_TYPEMISMATCH;
      }
      in[i] = *text;
    }
    BSTR* outSlot = nullptr;
    if (outArgument) {
      VARIANTARG& arg = params->rgvarg[0];
      if (arg.vt != (VT_BSTR | VT_BYREF) || !arg.pbstrVal) {
        if (argErr) *argErr = 0;
        return DISP_E_TYPEMISMATCH;
      }
      outSlot = arg.pbstrVal;
    }

    ZYT::CBstr out;
    HRESULT hr = E_UNEXPECTED;
    switch (id) {
      case DISPID_SetFilter: hr = SetFilter(in[0], in[1]); break;
      case DISPID_GetFilter: hr = GetFilter(in[0], out.put()); break;
      case DISPID_EnumExtensions: hr = EnumExtensions(out.put()); break;
      case DISPID_EnumFilters: hr = EnumFilters(out.put()); break;
      case DISPID_EnumSimpleFilters: hr = EnumSimpleFilters(out.put()); break;
      case DISPID_EnumXmlFilters: hr = EnumXmlFilters(out.put()); break;
      case DISPID_GetISimpleFilterGuid: hr = GetISimpleFilterGuid(in[0], out.put()); break;
      case DISPID_SetISimpleFilter: hr = SetISimpleFilter(in[0], in[1]); break;
      case DISPID_GetXMLFilterName: hr = GetXMLFilterName(in[0], out.put()); break;
      case DISPID_SetXMLFilter: hr = SetXMLFilter(in[0], in[1]); break;
      case DISPID_GetThumbnailer: hr = GetThumbnailer(in[0], out.put()); break;
      case DISPID_SetThumbnailer: hr = SetThumbnailer(in[0], in[1]); break;
      case DISPID_RestoreDefaults: hr = RestoreDefaults(); break;
      default: break;
    }
    if (FAILED(hr) || !method.output) return hr;
    if (outSlot) {
      SysFreeString(*outSlot);
      *outSlot = nullptr;
      if (result) {
        ZYT::CBstr copy(out.str());
        *outSlot = copy.Detach();
      } else {
        *outSlot = out.Detach();
      }
    }
    if (result) {
      VariantClear(result);
      result->vt = VT_BSTR;
      result->bstrVal = out.Detach();
    }
    return hr;
  });
}

// ---- IOrreryDocTypeManager ----

HRESULT CDocTypeManager::SetFilter(BSTR extension, BSTR guid) {
  return ZYT::ComBoundary("SetFilter", [&] {
    const std::u16string key = u"software\\classes\\" + Dotted(Text(extension)) + u"\\PersistentHandler";
    const std::u16string handler = Text(guid);
    CWriter writer;
    ZYT::CRegKey k;
    bool created = false;
    if (k.Open(HKEY_LOCAL_MACHINE, key.c_str(), KEY_READ) != ERROR_SUCCESS) {
      writer.Write(key + u"\\", u"");
      if (k.Open(HKEY_LOCAL_MACHINE, key.c_str(), KEY_READ) != ERROR_SUCCESS) return E_FAIL;
      created = true;
    }
    if (!HasValue(k, kSavedExtensionValue)) {
      if (!created) {
        WCHAR current[kValueChars] = {};
        ULONG chars = kValueChars;
        if (k.QueryStringValue(nullptr, current, &chars) != ERROR_SUCCESS) return E_FAIL;
        writer.Write(key + u"\\" + kSavedExtensionValue, ZYT::ToUpper(current));
      } else {
        writer.Write(key + u"\\" + kSavedExtensionValue, handler);
        writer.Write(key + u"\\" + kTempHandlerValue, u"");
      }
    }
    writer.Write(key + u"\\", handler);
    writer.Write(key + u"\\" + kNewExtensionValue, handler);
    return S_OK;
  });
}

HRESULT CDocTypeManager::GetFilter(BSTR extension, BSTR* guid) {
  return ZYT::ComBoundary("GetFilter", [&] {
    if (!guid) return E_POINTER;
    *guid = nullptr;
    std::u16string handler;
    if (!ReadString(HKEY_CLASSES_ROOT, Text(extension) + u"\\PersistentHandler", nullptr, handler)) return E_FAIL;
    return HandOut(handler, guid);
  });
}

HRESULT CDocTypeManager::EnumExtensions(BSTR* extensionsXml) {
  return ZYT::ComBoundary("EnumExtensions", [&] {
    if (!extensionsXml) return E_POINTER;
    *extensionsXml = nullptr;
    ZYT::XmlDocument inventory;
    if (!inventory.LoadXml(Utf8(CProxyFilterRegistryStuff().InventoryExtensions()))) return E_FAIL;
    // The message type is the product's own, and an extension whose handler
    // is "NULL" has none to choose.
    ZYT::XmlDocument listed;
    listed.LoadXml("<inventory-extensions-ret><extensions></extensions></inventory-extensions-ret>");
    ZYT::XmlNode parent = listed.SelectSingleNode("/*/extensions");
    for (const ZYT::XmlNode& extension : inventory.SelectNodes("/*/extensions/extension")) {
      if (extension.Attribute("name") == ".qhm" || extension.Attribute("persistent-handler") == "NULL") continue;
      parent.AppendCopy(extension);
    }
    return HandOut(listed.Xml(), extensionsXml);
  });
}

HRESULT CDocTypeManager::EnumFilters(BSTR* filtersXml) {
  return ZYT::ComBoundary("EnumFilters", [&] {
    if (!filtersXml) return E_POINTER;
    *filtersXml = nullptr;
    ZYT::XmlDocument result;
    result.LoadXml("<enum-filters-ret><filters></filters></enum-filters-ret>");
    ZYT::XmlNode parent = result.SelectSingleNode("/enum-filters-ret/filters");
    int counter = 0;
    // Each section stands alone: one that fails leaves the others listed.
    auto append = [&](const ZYT::XmlNode& filter, const char* type) {
      ZYT::XmlNode copy = parent.AppendCopy(filter);
      copy.SetAttribute("filter-code", std::to_string(counter++));
      if (type) copy.SetAttribute("type", type);
    };
    ZYT::ComBoundary("EnumFilters", [&] {
      ZYT::XmlDocument registered;
      if (!registered.LoadXml(Utf8(CProxyFilterRegistryStuff().InventoryRegisteredFilters()))) return E_FAIL;
      for (const ZYT::XmlNode& filter : registered.SelectNodes("/*/filter")) {
        std::u16string handler = ZYT::Utf8ToWide(filter.Attribute("PersistentHandler"));
        bool own = false;
        for (const char16_t* h : kOwnHandlers) own = own || handler == h;
        if (!own) append(filter, "IFilter");
      }
      return S_OK;
    });
    ZYT::ComBoundary("EnumFilters", [&] {
      ZYT::CBstr simple;
      ZYT::ThrowIfFailed(EnumSimpleFilters(simple.put()));
      ZYT::XmlDocument doc;
      if (!doc.LoadXml(Utf8(simple.str()))) return E_FAIL;
      for (const ZYT::XmlNode& filter : doc.SelectNodes("/*/filters/filter")) append(filter, nullptr);
      return S_OK;
    });
    ZYT::ComBoundary("EnumFilters", [&] {
      ZYT::CBstr xml;
      ZYT::ThrowIfFailed(EnumXmlFilters(xml.put()));
      ZYT::XmlDocument doc;
      if (!doc.LoadXml(Utf8(xml.str()))) return E_FAIL;
      for (const ZYT::XmlNode& filter : doc.SelectNodes("/enum-xml-filters-ret/filters/filter")) append(filter, nullptr);
      return S_OK;
    });
    return HandOut(result.Xml(), filtersXml);
  });
}

HRESULT CDocTypeManager::EnumSimpleFilters(BSTR* simpleFiltersXml) {
  return ZYT::ComBoundary("EnumSimpleFilters", [&] {
    if (!simpleFiltersXml) return E_POINTER;
    *simpleFiltersXml = nullptr;
    ZYT::XmlDocument result;
    result.LoadXml("<enum-simple-filters-ret><filters></filters></enum-simple-filters-ret>");
    ZYT::XmlNode parent = result.SelectSingleNode("/enum-simple-filters-ret/filters");
    ZYT::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kSimpleFiltersKey, KEY_READ) != ERROR_SUCCESS) {
      CWriter().Write(std::u16string(kSimpleFiltersKey) + u"\\", u"");
      if (key.Open(HKEY_LOCAL_MACHINE, kSimpleFiltersKey, KEY_READ) != ERROR_SUCCESS) return E_FAIL;
    }
    for (const std::u16string& guid : ZYT::SubkeyNames(key, true)) {
      ZYT::XmlNode filter = parent.AppendElement("filter");
      filter.SetAttribute("guid", Utf8(guid));
      filter.SetAttribute("type", "ISimpleFilter");
      std::u16string description;
      if (ReadString(key, guid, nullptr, description) && !description.empty()) filter.SetText(Utf8(description));
    }
    return HandOut(result.Xml(), simpleFiltersXml);
  });
}

HRESULT CDocTypeManager::EnumXmlFilters(BSTR* xmlFiltersXml) {
  return ZYT::ComBoundary("EnumXmlFilters", [&] {
    if (!xmlFiltersXml) return E_POINTER;
    *xmlFiltersXml = nullptr;
    ZYT::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, kXmlFiltersKey, KEY_READ) != ERROR_SUCCESS) return E_FAIL;
    ZYT::XmlDocument result;
    result.LoadXml("<enum-xml-filters-ret><filters></filters></enum-xml-filters-ret>");
    ZYT::XmlNode parent = result.SelectSingleNode("/enum-xml-filters-ret/filters");
    for (const std::u16string& name : ZYT::SubkeyNames(key, true)) {
      // A definition without a description or a command is not offered.
      std::u16string description, command;
      if (!ReadString(key, name, nullptr, description) || !ReadString(key, name, u"command", command)) continue;
      ZYT::XmlNode filter = parent.AppendElement("filter");
      filter.SetAttribute("type", "XMLFilter");
      filter.SetAttribute("name", Utf8(name));
      filter.SetAttribute("command", Utf8(command));
      filter.SetText(Utf8(description));
    }
    return HandOut(result.Xml(), xmlFiltersXml);
  });
}

HRESULT CDocTypeManager::GetISimpleFilterGuid(BSTR extension, BSTR* guid) {
  return ZYT::ComBoundary("GetISimpleFilterGuid", [&] {
    if (!guid) return E_POINTER;
    *guid = nullptr;
    std::u16string value;
    if (!ReadString(HKEY_LOCAL_MACHINE, kAdapterKey + Text(extension), nullptr, value) || value.empty()) return E_FAIL;
    return HandOut(value, guid);
  });
}

HRESULT CDocTypeManager::SetISimpleFilter(BSTR extension, BSTR simpleGuid) {
  return ZYT::ComBoundary("SetISimpleFilter", [&] {
    CWriter().Write(kAdapterKey + Text(extension) + u"\\", Text(simpleGuid));
    return S_OK;
  });
}

HRESULT CDocTypeManager::GetXMLFilterName(BSTR extension, BSTR* name) {
  return ZYT::ComBoundary("GetXMLFilterName", [&] {
    if (!name) return E_POINTER;
    *name = nullptr;
    std::u16string value;
    if (!ReadString(HKEY_LOCAL_MACHINE, kXmlProxyKey + Text(extension), nullptr, value)) return E_FAIL;
    return HandOut(value, name);
  });
}

HRESULT CDocTypeManager::SetXMLFilter(BSTR extension, BSTR name) {
  return ZYT::ComBoundary("SetXMLFilter", [&] {
    CWriter().Write(kXmlProxyKey + Text(extension) + u"\\", Text(name));
    return S_OK;
  });
}

HRESULT CDocTypeManager::GetThumbnailer(BSTR extension, BSTR* thumbnailer) {
  return ZYT::ComBoundary("GetThumbnailer", [&] {
    if (!thumbnailer) return E_POINTER;
    *thumbnailer = nullptr;
    std::u16string value;
    if (!ReadString(HKEY_CLASSES_ROOT, Text(extension) + u"\\" + kThumbnailKey, nullptr, value) || value.empty())
      value = kInternalThumbnailer;
    return HandOut(value, thumbnailer);
  });
}

HRESULT CDocTypeManager::SetThumbnailer(BSTR extension, BSTR thumbnailer) {
  return ZYT::ComBoundary("SetThumbnailer", [&] {
    const std::u16string ext = Text(extension);
    const std::u16string value = Text(thumbnailer);
    const std::u16string key = u"software\\classes\\" + ext + u"\\" + kThumbnailKey + u"\\";
    if (!value.empty() && value != kInternalThumbnailer) {
      CWriter().Write(key, value);
      return S_OK;
    }
    ZYT::CRegKey extensionKey;
    if (extensionKey.Open(HKEY_CLASSES_ROOT, ext.c_str(), KEY_READ) != ERROR_SUCCESS) return S_OK;
    ZYT::CRegKey thumbnailKey;
    if (thumbnailKey.Open(extensionKey, kThumbnailKey, KEY_READ) == ERROR_SUCCESS) {
      thumbnailKey.Close();
      CWriter().Remove(key);
    }
    return S_OK;
  });
}

HRESULT CDocTypeManager::RestoreDefaults() {
  return ZYT::ComBoundary("RestoreDefaults", [&] {
    const bool direct = CanWriteDirectly();
    ZYT::CRegKey classes;
    ZYT::ThrowIfWin32Error(classes.Open(HKEY_CLASSES_ROOT, nullptr, KEY_READ));
    CWriter writer;
    for (const std::u16string& name : ZYT::SubkeyNames(classes, true)) {
      if (direct) {
        RestoreDirectly(name);
      } else {
        RestoreThroughWriter(writer, name);
      }
    }
    return S_OK;
  });
}
