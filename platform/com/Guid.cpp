#include "platform/com/Guid.h"

#include <sys/random.h>

#include <cstdio>
#include <cstring>

#include "platform/com/ObjBase.h"
#include "platform/com/TaskAllocator.h"

namespace ZYT {

std::u16string GuidToString(REFGUID g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return std::u16string(text, text + 38);
}

bool GuidFromString(const std::u16string& text, GUID& guid) {
  GUID parsed{};
  if (!detail::ParseGuid(text.data(), text.size(), parsed)) return false;
  guid = parsed;
  return true;
}

}  // namespace ZYT

int StringFromGUID2(REFGUID guid, LPOLESTR buffer, int cchMax) {
  if (!buffer || cchMax < 39) return 0;
  std::u16string text = ZYT::GuidToString(guid);
  std::memcpy(buffer, text.c_str(), 39 * sizeof(WCHAR));
  return 39;
}

HRESULT StringFromCLSID(REFCLSID clsid, LPOLESTR* text) {
  if (!text) return E_INVALIDARG;
  *text = ZYT::CoTaskStrDup(ZYT::GuidToString(clsid));
  return *text ? S_OK : E_OUTOFMEMORY;
}

HRESULT StringFromIID(REFIID iid, LPOLESTR* text) { return StringFromCLSID(iid, text); }

HRESULT CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
  if (!clsid) return E_INVALIDARG;
  if (!text) {
    *clsid = CLSID_NULL;
    return S_OK;
  }
  if (text[0] == u'{') {
    GUID parsed;
    if (!ZYT::GuidFromString(text, parsed)) return CO_E_CLASSSTRING;
    *clsid = parsed;
    return S_OK;
  }
  HRESULT hr = CLSIDFromProgID(text, clsid);
  return FAILED(hr) ? CO_E_CLASSSTRING : hr;
}

HRESULT IIDFromString(LPCOLESTR text, IID* iid) {
  if (!iid) return E_INVALIDARG;
  if (!text) {
    *iid = GUID_NULL;
    return S_OK;
  }
  GUID parsed;
  if (!ZYT::GuidFromString(text, parsed)) return E_INVALIDARG;
  *iid = parsed;
  return S_OK;
}

HRESULT CoCreateGuid(GUID* guid) {
  if (!guid) return E_INVALIDARG;
  BYTE bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n <= 0) return E_FAIL;
    got += static_cast<size_t>(n);
  }
  bytes[6] = static_cast<BYTE>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<BYTE>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  guid->Data1 = (DWORD(bytes[0]) << 24) | (DWORD(bytes[1]) << 16) | (DWORD(bytes[2]) << 8) | bytes[3];
  guid->Data2 = static_cast<WORD>((bytes[4] << 8) | bytes[5]);
  guid->Data3 = static_cast<WORD>((bytes[6] << 8) | bytes[7]);
  std::memcpy(guid->Data4, bytes + 8, 8);
  return S_OK;
}
