#include <string>

#include "framework/PathUtilities.h"
#include "framework/SettingsAccess.h"
#include "framework/TypeLibrary.h"
#include "module/FiltersModule.h"
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

// The steps that install the catalog proxy over the machine's filters and bind
// the product's extensions belong to the filter inventory, which this module
// does not have yet; until it does, registration writes the module's own
// classes and type library only.
//
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
  return FAILED(hr) ? hr : HRESULT_FROM_WIN32(transaction.Commit());
}

extern "C" HRESULT DllUnregisterServer() {
  ZYT::CRegistryTransaction transaction;
  if (transaction.Status() != ERROR_SUCCESS) return HRESULT_FROM_WIN32(transaction.Status());
  // The type library stays registered.
  HRESULT hr = g_module.UpdateClassRegistry(false);
  return FAILED(hr) ? hr : HRESULT_FROM_WIN32(transaction.Commit());
}
