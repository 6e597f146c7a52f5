#include <string>

#include "doctypes/ProxyFilterRegistryStuff.h"
#include "framework/EasyIFilterBase.h"
#include "framework/PathUtilities.h"
#include "framework/SettingsAccess.h"
#include "framework/SimpleLogger.h"
#include "framework/TypeLibrary.h"
#include "module/FiltersModule.h"
#include "platform/com/ComBoundary.h"
#include "platform/com/Registrar.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Resources.h"

HRESULT UpdateRegistryFromResource(UINT id, bool doRegister) {
  std::u16string script = ZYT::LoadModuleResourceText(g_modulePath, u"REGISTRY", MAKEINTRESOURCEW(static_cast<WORD>(id)));
  if (script.empty()) return HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND);
  ZYT::CRegistrar registrar;
  registrar.AddReplacement(u"%MODULE%", g_modulePath);
  return doRegister ? registrar.Register(script) : registrar.Unregister(script);
}

bool IsProductConfigured() {
  bool result = false;
  try {
    ZYT::CVariant answer;
    ZYT::QuerySettings(u"/*/user", ZYT::OmittedArgument(), answer);
    if (!ZYT::IsOmittedArgument(answer.get())) return true;
    ZYT::CRegKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Orrery", KEY_READ | KEY_WRITE) == ERROR_SUCCESS) {
      WCHAR value[256];
      ULONG chars = 256;
      if (key.QueryStringValue(u"configured", value, &chars) == ERROR_SUCCESS) result = std::u16string(value) == u"yes";
    }
  } catch (const _com_error&) {
    // Whatever stood before the error is the answer.
  }
  return result;
}

namespace {

// Installs the catalog proxy over the machine's filters (or takes it away) and
// re-applies (or undoes) the product's extension choices. An inventory or an
// extension binding that fails is logged and leaves what was done so far,
// entry by entry; the caller then answers S_FALSE: the module itself is
// registered, but the machine's filters or extensions are not all as asked.
HRESULT ApplyToMachine(CProxyFilterRegistryStuff& stuff, bool doRegister) {
  const char* method = doRegister ? "DllRegisterServer" : "DllUnregisterServer";
  // The filters' diagnostic log, written only while its folder exists.
  CSimpleLogger log(u"REG", true, true);
  ZYT::ComBoundary(method, [&] {
    log.SetFolder(FilterLogFolder());
    return S_OK;
  });
  HRESULT hr = ZYT::ComBoundary(method, &log, [&] {
    stuff.ApplyProxyToFilters(doRegister, stuff.InventoryRegisteredFilters());
    stuff.ApplyExtensionChoices(doRegister, stuff.InventoryExtensions());
    return S_OK;
  });
  return FAILED(hr) ? S_FALSE : S_OK;
}

}  // namespace

// Each is one registry transaction (nested in the caller's, if it has one), so
// that no other process sees the module half registered.
extern "C" HRESULT DllRegisterServer() {
  ZYT::CRegistryTransaction transaction;
  if (transaction.Status() != ERROR_SUCCESS) return HRESULT_FROM_WIN32(transaction.Status());
  HRESULT hr = g_module.UpdateClassRegistry(true);
  if (FAILED(hr)) return hr;
  std::u16string typeLibrary = ZYT::LoadModuleResourceText(g_modulePath, u"TYPELIB", MAKEINTRESOURCEW(1));
  if (typeLibrary.empty()) return TYPE_E_LIBNOTREGISTERED;
  hr = ZYT::RegisterTypeLibrary(typeLibrary, g_modulePath);
  if (hr != S_OK) return hr;
  CProxyFilterRegistryStuff stuff;
  stuff.UpdateDllsToRegister(true);
  // Until the product is set up the machine's filters and extensions stay as they are.
  if (IsProductConfigured()) hr = ApplyToMachine(stuff, true);
  LONG rc = transaction.Commit();
  return rc != ERROR_SUCCESS ? HRESULT_FROM_WIN32(rc) : hr;
}

extern "C" HRESULT DllUnregisterServer() {
  ZYT::CRegistryTransaction transaction;
  if (transaction.Status() != ERROR_SUCCESS) return HRESULT_FROM_WIN32(transaction.Status());
  // The type library stays registered.
  HRESULT hr = g_module.UpdateClassRegistry(false);
  if (hr != S_OK) return hr;
  CProxyFilterRegistryStuff stuff;
  stuff.UpdateDllsToRegister(false);
  // Whether or not the product is set up: whatever was installed goes.
  hr = ApplyToMachine(stuff, false);
  LONG rc = transaction.Commit();
  return rc != ERROR_SUCCESS ? HRESULT_FROM_WIN32(rc) : hr;
}
