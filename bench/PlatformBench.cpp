// The two platform operations on every filter's path: a registry value read
// through an open key, and CoCreateInstance of a class whose module is loaded.
// Each is shown beside the bare operation it is built on (a prepared SQLite
// point query; a plain new/delete behind a virtual call), so the ratio is the
// layer's overhead.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/com/ObjBase.h"
#include "platform/win32/Registry.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"
#include "framework/SettingsAccess.h"
#include "tests/platform/TestWidget.h"

namespace {

// A private machine for the run, removed at exit.
struct Machine {
  Machine() {
    char pattern[] = "/tmp/zytbench.XXXXXX";
    dir = mkdtemp(pattern);
    setenv("ZYT_REGISTRY", (dir + "/registry.db").c_str(), 1);
    ZYT::ResetRegistryStore();
    HKEY key = nullptr;
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.mp3\\PersistentHandler", 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, &key, nullptr);
    const char16_t handler[] = u"{888471FB-9560-47CF-A4B4-3B9E89B56C6D}";
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(handler), sizeof handler);
    RegCloseKey(key);
    for (const char* path : {ZYT_TEST_MODULE, ZYT_COMPONENTS_MODULE}) {
      HMODULE module = LoadLibraryW(ZYT::Utf8ToWide(path).c_str());
      reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, "DllRegisterServer"))();
      FreeLibrary(module);
    }
    setenv("ZYT_SETTINGS", (dir + "/settings.xml").c_str(), 1);
  }
  ~Machine() {
    ZYT::ResetRegistryStore();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  std::string dir;
};

Machine& TheMachine() {
  static Machine machine;
  return machine;
}

void RegistryValueRead(benchmark::State& state) {
  TheMachine();
  HKEY key = nullptr;
  RegOpenKeyExW(HKEY_CLASSES_ROOT, u".mp3\\PersistentHandler", 0, KEY_READ, &key);
  WCHAR buffer[256];
  for (auto _ : state) {
    DWORD cb = sizeof buffer, type = 0;
    LONG rc = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &cb);
    benchmark::DoNotOptimize(rc);
  }
  RegCloseKey(key);
}
BENCHMARK(RegistryValueRead);

void SqlitePointQuery(benchmark::State& state) {
  TheMachine();
  sqlite3* db = nullptr;
  sqlite3_open_v2((TheMachine().dir + "/registry.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(db, "SELECT type,data FROM vals WHERE key=? AND folded=?", -1, &stmt, nullptr);
  for (auto _ : state) {
    sqlite3_reset(stmt);
    sqlite3_bind_int64(stmt, 1, 5);
    sqlite3_bind_text(stmt, 2, "", 0, SQLITE_STATIC);
    benchmark::DoNotOptimize(sqlite3_step(stmt));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}
BENCHMARK(SqlitePointQuery);

void CreateLoadedClass(benchmark::State& state) {
  TheMachine();
  ITestWidget* keep = nullptr;  // keeps the module loaded, as the indexer's first filter would
  CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, uuidof<ITestWidget>(), reinterpret_cast<void**>(&keep));
  if (!keep) {
    state.SkipWithError("the test class could not be created");
    return;
  }
  for (auto _ : state) {
    ITestWidget* widget = nullptr;
    CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, uuidof<ITestWidget>(), reinterpret_cast<void**>(&widget));
    widget->Release();
  }
  keep->Release();
}
BENCHMARK(CreateLoadedClass);

// Every filter asks for it at construction: a settings server created,
// queried and released, with the settings file unchanged.
void DebugFolder(benchmark::State& state) {
  TheMachine();
  if (ZYT::GetDebugFolder().empty()) state.SkipWithError("no debug folder");
  for (auto _ : state) benchmark::DoNotOptimize(ZYT::GetDebugFolder());
}
BENCHMARK(DebugFolder)->Iterations(100000);

struct Plain {
  virtual ~Plain() = default;
  virtual int Value() { return 42; }
};

void PlainNewDelete(benchmark::State& state) {
  for (auto _ : state) {
    Plain* p = new Plain;
    benchmark::DoNotOptimize(p->Value());
    delete p;
  }
}
BENCHMARK(PlainNewDelete);

}  // namespace

BENCHMARK_MAIN();
