#include "components/SettingsServer.h"

#include "components/SettingsStore.h"
#include "platform/com/ComVariant.h"
#include "platform/win32/Strings.h"

namespace {

std::string Narrow(BSTR text) { return text ? ZYT::WideToUtf8(std::u16string(text, SysStringLen(text))) : std::string(); }

// The methods that answer one text of the store's.
HRESULT AnswerText(const char* method, HRESULT (CSettingsStore::*read)(std::string&), BSTR* out) {
  return ZYT::ComBoundary(method, [&] {
    if (!out) return E_POINTER;
    *out = nullptr;
    std::string text;
    HRESULT hr = (CSettingsStore::Instance().*read)(text);
    if (FAILED(hr)) return hr;
    *out = ZYT::CBstr(ZYT::Utf8ToWide(text)).Detach();
    return S_OK;
  });
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

HRESULT CSettingsServer::GetDocument(BSTR* xml) { return AnswerText("GetDocument", &CSettingsStore::Document, xml); }

HRESULT CSettingsServer::GetSettingsPath(BSTR* path) { return AnswerText("GetSettingsPath", &CSettingsStore::Path, path); }

HRESULT CSettingsServer::GetTempFolder(BSTR* folder) { return AnswerText("GetTempFolder", &CSettingsStore::TempFolder, folder); }
