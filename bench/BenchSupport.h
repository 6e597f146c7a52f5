// What the benchmarks share: registering a built module on their private machine.
#pragma once

#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"

inline bool RegisterBuiltModule(const char* module) {
  HMODULE handle = LoadLibraryW(ZYT::Utf8ToWide(module).c_str());
  if (!handle) return false;
  auto entry = reinterpret_cast<HRESULT (*)()>(GetProcAddress(handle, "DllRegisterServer"));
  HRESULT hr = entry ? entry() : E_FAIL;
  FreeLibrary(handle);
  return SUCCEEDED(hr);
}
