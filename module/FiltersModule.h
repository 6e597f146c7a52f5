// The module object of zytfilters.dll.so and its module-wide state.
#pragma once

#include <string>

#include "platform/com/ClassFactory.h"

class CFiltersModule : public ZYT::CComModule {};

extern CFiltersModule g_module;
// The module's full path (GetModuleFileNameW of its instance), set at load.
extern std::u16string g_modulePath;

// Whether the product has been set up on this machine: the settings have a
// "/*/user" element, or HKLM\SOFTWARE\ZYT\Orrery has "configured" = "yes".
bool IsProductConfigured();

// Runs the registry script resource `id` of this module.
HRESULT UpdateRegistryFromResource(UINT id, bool doRegister);

extern "C" {
HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv);
HRESULT DllCanUnloadNow();
HRESULT DllRegisterServer();
HRESULT DllUnregisterServer();
}
