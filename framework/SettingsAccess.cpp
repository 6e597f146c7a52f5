#include "framework/SettingsAccess.h"

#include "framework/PathUtilities.h"
#include "platform/com/ObjBase.h"

namespace ZYT {

ComPtr<ISettingsServer> CreateSettingsServer() {
  ComPtr<IUnknown> unknown;
  HRESULT hr = CoCreateInstance(CLSID_SettingsServer, nullptr, CLSCTX_ALL, IID_IUnknown, unknown.put_void());
  if (FAILED(hr)) _com_issue_error(hr);
  hr = OleRun(unknown.get());
  if (FAILED(hr)) _com_issue_error(hr);
  ComPtr<ISettingsServer> server;
  hr = unknown.As(server);
  if (FAILED(hr)) _com_issue_error(hr);
  return server;
}

void QuerySettings(const std::u16string& xpath, const VARIANT& defaultValue, CVariant& answer) {
  ComPtr<ISettingsServer> server = CreateSettingsServer();
  CBstr path(xpath);
  HRESULT hr = server->Query(path.get(), defaultValue, answer.put());
  if (FAILED(hr)) _com_issue_error(hr);
}

std::u16string GetSettingsTempFolder() {
  ComPtr<ISettingsServer> server = CreateSettingsServer();
  CBstr folder;
  HRESULT hr = server->GetTempFolder(folder.put());
  if (FAILED(hr)) _com_issue_error(hr);
  return folder.str();
}

std::u16string GetDebugFolder() {
  std::u16string location;
  try {
    CVariant answer;
    QuerySettings(u"/*/repository/user/@location", OmittedArgument(), answer);
    if (answer.IsString()) location = answer.Text();
  } catch (const _com_error&) {
    // No settings server: the application-data folder below stands in.
  } catch (const std::bad_alloc&) {
  }
  if (location.empty()) location = GetAppDataFolder(true, true);
  return MakePath(location, u"Debug", u"");
}

}  // namespace ZYT
