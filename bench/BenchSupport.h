// What the benchmarks share: a private machine in a temporary folder (its own
// registry, settings and item ids), removed however the benchmark ends.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/win32/RegistryStore.h"
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

class BenchMachine {
 public:
  // name: the folder's prefix under /tmp.
  explicit BenchMachine(const std::string& name) {
    std::string pattern = "/tmp/" + name + ".XXXXXX";
    m_dir = mkdtemp(pattern.data()) ? pattern : std::string();
    setenv("ZYT_REGISTRY", (m_dir + "/registry.db").c_str(), 1);
    setenv("ZYT_SETTINGS", (m_dir + "/settings.xml").c_str(), 1);
    setenv("ZYT_THUMBNAILS", (m_dir + "/thumbnails.db").c_str(), 1);
    ZYT::ResetRegistryStore();
  }
  ~BenchMachine() {
    ZYT::ResetRegistryStore();
    std::error_code ec;
    if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ec);
    // Named events outlive the processes that made them: a benchmark that
    // gave itself an object namespace removes what is left in it.
    if (const char* space = getenv("ZYT_OBJECT_NAMESPACE"); space && *space) {
      const std::string prefix = std::string("sem.") + space + ".";
      for (auto& entry : std::filesystem::directory_iterator("/dev/shm", ec))
        if (entry.path().filename().string().rfind(prefix, 0) == 0) std::filesystem::remove(entry.path(), ec);
    }
  }
  BenchMachine(const BenchMachine&) = delete;
  BenchMachine& operator=(const BenchMachine&) = delete;

  bool Ready() const { return !m_dir.empty(); }
  const std::string& Dir() const { return m_dir; }

 private:
  std::string m_dir;
};
