#include <dlfcn.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/com/ObjBase.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Registry.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/SysInfo.h"

namespace {

struct LoadedModule {
  std::string path;
  void* handle;
  LPFNGETCLASSOBJECT getClassObject;
  LPFNCANUNLOADNOW canUnloadNow;
};

struct Registration {
  DWORD cookie;
  CLSID clsid;
  IUnknown* object;
  DWORD context;
};

struct ActivationState {
  std::recursive_mutex lock;
  std::vector<LoadedModule> modules;
  std::vector<Registration> registrations;
  DWORD nextCookie = 1;
  // Read without the lock: activation looks at the registrations only when
  // there are any, and a change of unloads drops every thread's resolved classes.
  std::atomic<size_t> registered{0};
  std::atomic<uint64_t> unloads{0};
};

// Class to entry point, valid while the registry keeps the stamp it was read
// at and no module was unloaded: per thread, so that objects created on
// different threads take no lock once their class is known.
struct ResolvedClasses {
  std::map<CLSID, LPFNGETCLASSOBJECT> entries;
  ZYT::RegistryStamp stamp;
  uint64_t unloads = ~uint64_t{0};
};
thread_local ResolvedClasses t_resolved;

ActivationState& State() {
  static ActivationState* state = new ActivationState;  // modules stay loaded to the end
  return *state;
}

thread_local int t_initCount = 0;

// Reads a string value (expanding REG_EXPAND_SZ); false when missing or not a string.
bool ReadString(HKEY root, const std::u16string& subKey, LPCWSTR name, std::u16string& out) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subKey.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
  WCHAR stack[MAX_PATH * 2];
  DWORD cb = sizeof stack;
  DWORD type = 0;
  std::vector<WCHAR> heap;
  LONG rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(stack), &cb);
  WCHAR* data = stack;
  if (rc == ERROR_MORE_DATA) {
    heap.resize(cb / sizeof(WCHAR) + 1);
    rc = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(heap.data()), &cb);
    data = heap.data();
  }
  RegCloseKey(key);
  if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return false;
  std::u16string text(data, cb / sizeof(WCHAR));
  while (!text.empty() && text.back() == 0) text.pop_back();
  if (type == REG_EXPAND_SZ) {
    DWORD need = ExpandEnvironmentStringsW(text.c_str(), nullptr, 0);
    std::u16string expanded(need, u'\0');
    ExpandEnvironmentStringsW(text.c_str(), expanded.data(), need);
    expanded.resize(need ? need - 1 : 0);
    text = expanded;
  }
  out = std::move(text);
  return true;
}

HRESULT LoadModule(const std::u16string& serverPath, LPFNGETCLASSOBJECT& getClassObject) {
  std::string path = ZYT::ToPosixPath(serverPath.c_str());
  if (path.empty()) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  ActivationState& state = State();
  std::lock_guard guard(state.lock);
  for (const LoadedModule& m : state.modules) {
    if (m.path == path) {
      getClassObject = m.getClassObject;
      return S_OK;
    }
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  auto get = reinterpret_cast<LPFNGETCLASSOBJECT>(dlsym(handle, "DllGetClassObject"));
  auto canUnload = reinterpret_cast<LPFNCANUNLOADNOW>(dlsym(handle, "DllCanUnloadNow"));
  if (!get) {
    dlclose(handle);
    return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  }
  state.modules.push_back({path, handle, get, canUnload});
  getClassObject = get;
  return S_OK;
}

}  // namespace

HRESULT CoInitializeEx(LPVOID, DWORD) { return t_initCount++ == 0 ? S_OK : S_FALSE; }
HRESULT CoInitialize(LPVOID reserved) { return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED); }
void CoUninitialize() {
  if (t_initCount > 0) --t_initCount;
}

HRESULT CoGetClassObject(REFCLSID rclsid, DWORD clsctx, LPVOID, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_INVALIDARG;
  *ppv = nullptr;
  ActivationState& state = State();
  IUnknown* registered = nullptr;
  if (state.registered.load(std::memory_order_acquire) != 0) {
    std::lock_guard guard(state.lock);
    for (const Registration& r : state.registrations) {
      if (r.clsid == rclsid && (r.context & clsctx)) {
        registered = r.object;
        registered->AddRef();
        break;
      }
    }
  }
  if (registered) {
    HRESULT hr = registered->QueryInterface(riid, ppv);
    registered->Release();
    return hr;
  }
  // Only in-process servers exist on this platform.
  if (!(clsctx & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER))) return REGDB_E_CLASSNOTREG;
  ZYT::RegistryStamp stamp;
  bool stamped = ZYT::GetRegistryStamp(stamp);
  ResolvedClasses& resolved = t_resolved;
  const uint64_t unloads = state.unloads.load(std::memory_order_acquire);
  if (!stamped || !(stamp == resolved.stamp) || unloads != resolved.unloads) {
    resolved.entries.clear();
    resolved.stamp = stamp;
    resolved.unloads = unloads;
  }
  if (auto it = resolved.entries.find(rclsid); it != resolved.entries.end()) return it->second(rclsid, riid, ppv);
  std::u16string server;
  if (!ReadString(HKEY_CLASSES_ROOT, u"CLSID\\" + ZYT::GuidToString(rclsid) + u"\\InprocServer32",
                  nullptr, server) ||
      server.empty())
    return REGDB_E_CLASSNOTREG;
  LPFNGETCLASSOBJECT getClassObject = nullptr;
  HRESULT hr = LoadModule(server, getClassObject);
  if (FAILED(hr)) return hr;
  // An unload while the module was looked up may have been of this one.
  if (stamped && stamp == resolved.stamp && unloads == resolved.unloads &&
      state.unloads.load(std::memory_order_acquire) == unloads)
    resolved.entries[rclsid] = getClassObject;
  return getClassObject(rclsid, riid, ppv);
}

HRESULT CoCreateInstance(REFCLSID rclsid, IUnknown* outer, DWORD clsctx, REFIID riid, LPVOID* ppv) {
  if (!ppv) return E_POINTER;
  *ppv = nullptr;
  IClassFactory* factory = nullptr;
  HRESULT hr = CoGetClassObject(rclsid, clsctx, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&factory));
  if (FAILED(hr)) return hr;
  hr = factory->CreateInstance(outer, riid, ppv);
  factory->Release();
  return hr;
}

HRESULT CoRegisterClassObject(REFCLSID rclsid, IUnknown* unk, DWORD clsctx, DWORD, LPDWORD cookie) {
  if (!unk || !cookie) return E_INVALIDARG;
  *cookie = 0;
  ActivationState& state = State();
  std::lock_guard guard(state.lock);
  unk->AddRef();
  DWORD c = state.nextCookie++;
  state.registrations.push_back({c, rclsid, unk, clsctx});
  state.registered.fetch_add(1, std::memory_order_release);
  *cookie = c;
  return S_OK;
}

HRESULT CoRevokeClassObject(DWORD cookie) {
  IUnknown* object = nullptr;
  {
    ActivationState& state = State();
    std::lock_guard guard(state.lock);
    for (auto it = state.registrations.begin(); it != state.registrations.end(); ++it) {
      if (it->cookie == cookie) {
        object = it->object;
        state.registrations.erase(it);
        state.registered.fetch_sub(1, std::memory_order_release);
        break;
      }
    }
  }
  if (!object) return CO_E_OBJNOTREG;
  object->Release();
  return S_OK;
}

void CoFreeUnusedLibraries() {
  ActivationState& state = State();
  std::lock_guard guard(state.lock);
  for (auto it = state.modules.begin(); it != state.modules.end();) {
    if (it->canUnloadNow && it->canUnloadNow() == S_OK) {
      state.unloads.fetch_add(1, std::memory_order_acq_rel);
      dlclose(it->handle);
      it = state.modules.erase(it);
    } else {
      ++it;
    }
  }
}

HRESULT CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) {
  if (!progId || !clsid) return E_INVALIDARG;
  std::u16string text;
  std::u16string id(progId);
  if (!ReadString(HKEY_CLASSES_ROOT, id + u"\\CLSID", nullptr, text)) {
    // A version-independent ProgID may name its current version only.
    std::u16string current;
    if (!ReadString(HKEY_CLASSES_ROOT, id + u"\\CurVer", nullptr, current) ||
        !ReadString(HKEY_CLASSES_ROOT, current + u"\\CLSID", nullptr, text))
      return CO_E_CLASSSTRING;
  }
  GUID parsed;
  if (!ZYT::GuidFromString(text, parsed)) return CO_E_CLASSSTRING;
  *clsid = parsed;
  return S_OK;
}

HRESULT OleRun(IUnknown* unk) {
  if (!unk) return E_INVALIDARG;
  IRunnableObject* runnable = nullptr;
  if (FAILED(unk->QueryInterface(IID_IRunnableObject, reinterpret_cast<void**>(&runnable))) ||
      !runnable)
    return S_OK;  // an object without a running state is running already
  HRESULT hr = runnable->Run(nullptr);
  runnable->Release();
  return hr;
}

namespace ZYT {
size_t LoadedComModules() {
  ActivationState& state = State();
  std::lock_guard guard(state.lock);
  return state.modules.size();
}
}  // namespace ZYT
