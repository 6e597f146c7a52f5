// pdffilt.dll.so: the machine's PDF filter, a module of its own as on a
// Windows machine, where the indexer's list of modules to register names it.
#include <string>

#include "components/pdf/PdfFilter.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/Registrar.h"
#include "platform/win32/Resources.h"
#include "platform/win32/SysInfo.h"

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv);

namespace {

ZYT::CComModule g_pdfModule;
std::u16string g_pdfModulePath;

HRESULT UpdateRegistry(bool doRegister) {
  std::u16string script = ZYT::LoadModuleResourceText(g_pdfModulePath, u"REGISTRY", MAKEINTRESOURCEW(101));
  if (script.empty()) return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
  ZYT::CRegistrar registrar;
  registrar.AddReplacement(u"%MODULE%", g_pdfModulePath);
  return doRegister ? registrar.Register(script) : registrar.Unregister(script);
}

const ZYT::ClassEntry kClasses[] = {
    {&CLSID_PdfFilter, &ZytCreateInstance<CPdfFilter>, &UpdateRegistry},
};

// Load and unload of the module; defined after the globals it fills, so that
// it is constructed after them and destroyed before them.
struct ModuleLifetime {
  ModuleLifetime() {
    const void* self = reinterpret_cast<const void*>(&DllGetClassObject);
    g_pdfModule.Init(kClasses, std::size(kClasses), ZytModuleFromAddress(self), GUID_NULL);
    g_pdfModulePath = ZytModulePathFromAddress(self);
  }
  ~ModuleLifetime() { g_pdfModule.Term(); }
} g_lifetime;

}  // namespace

extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  return g_pdfModule.GetClassObject(clsid, riid, ppv);
}
extern "C" HRESULT DllCanUnloadNow() { return g_pdfModule.CanUnloadNow(); }
extern "C" HRESULT DllRegisterServer() { return g_pdfModule.UpdateClassRegistry(true); }
extern "C" HRESULT DllUnregisterServer() { return g_pdfModule.UpdateClassRegistry(false); }
