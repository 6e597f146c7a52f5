#include "components/SettingsServer.h"

#include "components/SettingsStore.h"
#include "platform/com/ComVariant.h"
#include "platform/win32/Strings.h"

namespace {

std::string Narrow(BSTR text) { return text ? ZYT::WideToUtf8(std::u16string(text, SysStringLen(text))) : std::string(); }

HRESULT ReturnText(const std::string& text, BSTR* out) {
  *out = ZYT::CBstr(ZYT::Utf8ToWide(text)).Detach();
  return S_OK;
}

}  // namespace

HRESULT CSettingsServer::Query(BSTR xpath, VARIANT defaultValue, VARIANT* value) {
  return ZYT::ComBoundary("Query", [&] {
    if (!value) return E_POINTER;
    VariantInit(value);
    CSettingsStore::Answer answer;
    HRESULT hr = CSettingsStore::Instance().Query(Narrow(xpath), answer);
    if (FAILED(hr)) return hr;
    if (!answer.found) return VariantCopy(value, &defaultValue);
    value->bstrVal = ZYT::CBstr(ZYT::Utf8ToWide(answer.text)).Detach();
    value->vt = VT_BSTR;
    return S_OK;
  });
}

HRESULT CSettingsServer::SetValue(BSTR xpath, BSTR value) {
  return ZYT::ComBoundary("SetValue", [&] { return CSettingsStore::Instance().SetValue(Narrow(xpath), Narrow(value)); });
}

HRESULT CSettingsServer::GetDocument(BSTR* xml) {
  return ZYT::ComBoundary("GetDocument", [&] {
    if (!xml) return E_POINTER;
    *xml = nullptr;
    std::string text;
    HRESULT hr = CSettingsStore::Instance().Document(text);
    return FAILED(hr) ? hr : ReturnText(text, xml);
  });
}

HRESULT CSettingsServer::GetSettingsPath(BSTR* path) {
  return ZYT::ComBoundary("GetSettingsPath", [&] {
    if (!path) return E_POINTER;
    *path = nullptr;
    std::string text;
    HRESULT hr = CSettingsStore::Instance().Path(text);
    return FAILED(hr) ? hr : ReturnText(text, path);
  });
}

HRESULT CSettingsServer::GetTempFolder(BSTR* folder) {
  return ZYT::ComBoundary("GetTempFolder", [&] {
    if (!folder) return E_POINTER;
    *folder = nullptr;
    std::string text;
    HRESULT hr = CSettingsStore::Instance().TempFolder(text);
    return FAILED(hr) ? hr : ReturnText(text, folder);
  });
}
