// Module resources. A module carries its resources in the ELF section
// ".zytres", written at build time by tools/zytrc from a resource list; they
// are read from the module's file, as Windows reads a module mapped as a data
// file. Types and names are strings or integer ids (MAKEINTRESOURCEW).
#pragma once

#include <string>

#include "platform/win32/WinError.h"
#include "platform/win32/WinTypes.h"

struct HRSRC__;
using HRSRC = HRSRC__*;
using HGLOBAL = void*;

inline LPCWSTR MAKEINTRESOURCEW(WORD id) {
  return reinterpret_cast<LPCWSTR>(static_cast<uintptr_t>(id));
}
inline bool IS_INTRESOURCE(LPCWSTR p) { return (reinterpret_cast<uintptr_t>(p) >> 16) == 0; }

#define RT_STRING MAKEINTRESOURCEW(6)
#define RT_RCDATA MAKEINTRESOURCEW(10)
#define RT_VERSION MAKEINTRESOURCEW(16)
#define RT_HTML MAKEINTRESOURCEW(23)

// Works on modules loaded with LoadLibraryW and on LOAD_LIBRARY_AS_DATAFILE
// handles; ERROR_RESOURCE_TYPE_NOT_FOUND / ERROR_RESOURCE_NAME_NOT_FOUND as on Windows.
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
// Copies string `id` of the module's string table (type RT_STRING, name "#id")
// into buffer; returns its length, 0 when missing.
int LoadStringW(HMODULE module, UINT id, LPWSTR buffer, int bufferMax);

namespace ZYT {
// A module opened with LOAD_LIBRARY_AS_DATAFILE: its file is only read, never
// run. The handle has its low bit set, as Windows marks data-file handles.
HMODULE LoadDataFileModule(const std::string& posixPath);
bool IsDataFileModule(HMODULE module);
std::string DataFileModulePath(HMODULE module);
void FreeDataFileModule(HMODULE module);
// A resource of a module file as text (UTF-8 bytes widened); empty when the
// module or the resource is missing.
std::u16string LoadModuleResourceText(const std::u16string& moduleFile, LPCWSTR type, LPCWSTR name);
}  // namespace ZYT
