// COM activation: class objects from the registry (InprocServer32 modules
// loaded with dlopen) or registered by the process itself.
#pragma once

#include "platform/com/ObjIdl.h"
#include "platform/com/TaskAllocator.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                             CLSCTX_REMOTE_SERVER;  // 0x17, what the module passes

constexpr DWORD REGCLS_SINGLEUSE = 0;
constexpr DWORD REGCLS_MULTIPLEUSE = 1;
constexpr DWORD REGCLS_MULTI_SEPARATE = 2;

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;

// Apartments are not modelled: every call works without initialisation;
// CoInitializeEx answers S_FALSE after the first call on a thread, as Windows does.
HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit);
HRESULT CoInitialize(LPVOID reserved);
void CoUninitialize();

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD clsctx, LPVOID reserved, REFIID riid, LPVOID* ppv);
HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* outer, DWORD clsctx, REFIID riid, LPVOID* ppv);
HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* unk, DWORD clsctx, DWORD flags,
                              LPDWORD cookie);
HRESULT CoRevokeClassObject(DWORD cookie);
// Unloads every module loaded by activation whose DllCanUnloadNow answers S_OK.
void CoFreeUnusedLibraries();
HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid);
// Puts an object into its running state (IRunnableObject::Run when it has it).
HRESULT OleRun(IUnknown* unk);

namespace ZYT {
// Modules currently loaded by activation, for tests.
size_t LoadedComModules();
}  // namespace ZYT

using LPFNGETCLASSOBJECT = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using LPFNCANUNLOADNOW = HRESULT (*)();
