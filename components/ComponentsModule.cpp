#include "components/ComponentsModule.h"

#include "components/ContentTypeService.h"
#include "components/IndexAdmin.h"
#include "components/RegistryWriter.h"
#include "components/SettingsServer.h"
#include "components/ThumbnailService.h"
#include "components/filters/MachineFilters.h"
#include "platform/com/Registrar.h"
#include "platform/win32/Resources.h"
#include "platform/win32/SysInfo.h"

namespace {

template <UINT id>
HRESULT UpdateRegistry(bool doRegister) {
  std::u16string script = ZYT::LoadModuleResourceText(g_componentsPath, u"REGISTRY", MAKEINTRESOURCEW(id));
  if (script.empty()) return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
  ZYT::CRegistrar registrar;
  registrar.AddReplacement(u"%MODULE%", g_componentsPath);
  return doRegister ? registrar.Register(script) : registrar.Unregister(script);
}

const ZYT::ClassEntry kClasses[] = {
    {&CLSID_SettingsServer, &ZytCreateInstance<CSettingsServer>, &UpdateRegistry<101>},
    {&CLSID_PlainTextFilter, &ZytCreateInstance<CPlainTextFilter>, &UpdateRegistry<102>},
    {&CLSID_HtmlFilter, &ZytCreateInstance<CHtmlFilter>, &UpdateRegistry<103>},
    {&CLSID_MailFilter, &ZytCreateInstance<CMailFilter>, &UpdateRegistry<104>},
    {&CLSID_NullFilter, &ZytCreateInstance<CNullFilter>, &UpdateRegistry<105>},
    {&CLSID_AdminIndexServer, &ZytCreateInstance<CIndexAdmin>, &UpdateRegistry<106>},
    {&CLSID_ContentTypeService, &ZytCreateInstance<CContentTypeService>, &UpdateRegistry<107>},
    {&CLSID_ThumbnailService, &ZytCreateInstance<CThumbnailService>, &UpdateRegistry<108>},
    {&CLSID_RegistryWriter, &ZytCreateInstance<CRegistryWriter>, &UpdateRegistry<109>},
};

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv);

ZYT::CComModule g_componentsModule;
std::u16string g_componentsPath;

namespace {

// Load and unload of the module; defined after the globals it fills, so that
// it is constructed after them and destroyed before them.
struct ModuleLifetime {
  ModuleLifetime() {
    const void* self = reinterpret_cast<const void*>(&DllGetClassObject);
    g_componentsModule.Init(kClasses, std::size(kClasses), ZytModuleFromAddress(self), GUID_NULL);
    g_componentsPath = ZytModulePathFromAddress(self);
  }
  ~ModuleLifetime() { g_componentsModule.Term(); }
} g_lifetime;

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return g_componentsModule.GetClassObject(clsid, riid, ppv);
}
extern "C" HRESULT DllCanUnloadNow() { return g_componentsModule.CanUnloadNow(); }
extern "C" HRESULT DllRegisterServer() { return g_componentsModule.UpdateClassRegistry(true); }
extern "C" HRESULT DllUnregisterServer() { return g_componentsModule.UpdateClassRegistry(false); }
