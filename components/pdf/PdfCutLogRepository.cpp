// The PDF module asks the settings server, as any other module of the machine would.
#include "components/filters/CutLog.h"
#include "interfaces/SettingsServer.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComVariant.h"
#include "platform/com/ObjBase.h"

std::u16string CutLogRepository() {
  ZYT::ComPtr<IUnknown> unknown;
  if (FAILED(CoCreateInstance(CLSID_SettingsServer, nullptr, CLSCTX_ALL, IID_IUnknown, unknown.put_void())) ||
      FAILED(OleRun(unknown.get())))
    return {};
  ZYT::ComPtr<ISettingsServer> server;
  if (FAILED(unknown.As(server))) return {};
  ZYT::CBstr xpath(u"/*/repository/user/@location");
  ZYT::CVariant location;
  if (FAILED(server->Query(xpath.get(), ZYT::OmittedArgument(), location.put()))) return {};
  return location.Text();
}
