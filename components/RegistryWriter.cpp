#include "components/RegistryWriter.h"

#include <string>

#include "platform/com/ComVariant.h"
#include "platform/win32/Registry.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/RegistryStore.h"

HRESULT CRegistryWriter::WriteRegistryValue(BSTR path, VARIANT value) {
  return ZYT::ComBoundary("WriteRegistryValue", [&] {
    std::u16string text = path ? std::u16string(path, SysStringLen(path)) : std::u16string();
    const bool remove = ZYT::IsOmittedArgument(value);
    if (!remove && value.vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    size_t split = text.rfind(u'\\');
    if (text.empty() || split == std::u16string::npos || split == 0) return E_INVALIDARG;
    const std::u16string key = text.substr(0, split);
    const std::u16string name = text.substr(split + 1);  // empty: the default value

    ZYT::CPrivilegedRegistryWrites privileged;
    if (remove) {
      LONG rc;
      if (name.empty()) {
        rc = RegDeleteTreeW(HKEY_LOCAL_MACHINE, key.c_str());
      } else {
        ZYT::CRegKey k;
        rc = k.Open(HKEY_LOCAL_MACHINE, key.c_str(), KEY_SET_VALUE);
        if (rc == ERROR_SUCCESS) rc = k.DeleteValue(name.c_str());
      }
      if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) return HRESULT_FROM_WIN32(rc);
      return S_OK;
    }
    ZYT::CRegKey k;
    ZYT::ThrowIfWin32Error(k.Create(HKEY_LOCAL_MACHINE, key.c_str(), KEY_ALL_ACCESS));
    const std::u16string data = value.bstrVal ? std::u16string(value.bstrVal, SysStringLen(value.bstrVal)) : u"";
    ZYT::ThrowIfWin32Error(k.SetStringValue(name.empty() ? nullptr : name.c_str(), data));
    return S_OK;
  });
}
