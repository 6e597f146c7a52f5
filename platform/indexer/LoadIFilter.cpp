#include "platform/indexer/LoadIFilter.h"

#include "platform/com/ComPtr.h"
#include "platform/com/ObjBase.h"
#include "platform/win32/Registry.h"
#include "platform/win32/StampedCache.h"
#include "platform/win32/Strings.h"

namespace {

std::u16string DefaultValue(const std::u16string& key) {
  HKEY handle = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) return {};
  WCHAR buffer[256];
  DWORD cb = sizeof buffer - sizeof(WCHAR), type = 0;
  LONG rc = RegQueryValueExW(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &cb);
  RegCloseKey(handle);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return {};
  std::u16string text(buffer, cb / sizeof(WCHAR));
  while (!text.empty() && text.back() == 0) text.pop_back();
  return text;
}

std::u16string Extension(const std::u16string& path) {
  size_t name = path.find_last_of(u"\\/");
  size_t dot = path.rfind(u'.');
  if (dot == std::u16string::npos || (name != std::u16string::npos && dot < name)) return {};
  return path.substr(dot);
}

}  // namespace

namespace ZYT {

namespace {

std::u16string LookUpFilterClass(const std::u16string& ext) {
  std::u16string handler = DefaultValue(ext + u"\\PersistentHandler");
  if (handler.empty()) {
    std::u16string progId = DefaultValue(ext);
    std::u16string documentClass = progId.empty() ? std::u16string() : DefaultValue(progId + u"\\CLSID");
    if (!documentClass.empty()) handler = DefaultValue(u"CLSID\\" + documentClass + u"\\PersistentHandler");
  }
  if (handler.empty()) return {};
  return DefaultValue(u"CLSID\\" + handler + u"\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}");
}

}  // namespace

std::u16string FilterClassForPath(const std::u16string& path) {
  std::u16string ext = ToLower(Extension(path));
  if (ext.size() < 2) return {};
  // Extension to filter class, as the indexer keeps it between files.
  static auto* cache = new StampedCache<std::u16string, std::u16string>;
  return cache->Get(ext, [&] { return LookUpFilterClass(ext); });
}

}  // namespace ZYT

HRESULT LoadIFilter(LPCWSTR pwcsPath, IUnknown* pUnkOuter, void** ppIUnk) {
  if (!ppIUnk) return E_POINTER;
  *ppIUnk = nullptr;
  if (!pwcsPath || !*pwcsPath) return E_INVALIDARG;
  std::u16string filterClass = ZYT::FilterClassForPath(pwcsPath);
  CLSID clsid{};
  if (filterClass.empty() || FAILED(CLSIDFromString(filterClass.c_str(), &clsid))) return FILTER_E_UNKNOWNFORMAT;
  ZYT::ComPtr<IFilter> filter;
  HRESULT hr = CoCreateInstance(clsid, pUnkOuter, CLSCTX_INPROC_SERVER, IID_IFilter, filter.put_void());
  if (FAILED(hr)) return hr;
  ZYT::ComPtr<IPersistFile> persist;
  hr = filter.As(persist);
  if (FAILED(hr)) return hr;
  hr = persist->Load(pwcsPath, STGM_READ | STGM_SHARE_DENY_NONE);
  if (FAILED(hr)) return hr;
  *ppIUnk = filter.Detach();
  return S_OK;
}
