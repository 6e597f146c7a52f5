// zytfilt register | unregister | setup: modules' entry points and a machine's first set-up.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>
#include <sys/stat.h>

#include "framework/PathUtilities.h"
#include "framework/PersistentHandler.h"
#include "framework/SettingsAccess.h"
#include "interfaces/ClassIds.h"
#include "platform/com/Guid.h"
#include "platform/com/ComError.h"
#include "platform/indexer/Catalogs.h"
#include "platform/win32/Limits.h"
#include "platform/win32/PathFunctions.h"
#include "platform/win32/Registry.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"
#include "platform/xml/XmlDocument.h"
#include "tools/zytfilt/Commands.h"

namespace {

// What a machine whose indexer was never told otherwise gives a filter: 15
// minutes (the archive filter keeps 60 s of it in reserve).
constexpr DWORD kDefaultFilterIdleTimeoutMs = 900000;

const char kRegisterUsage[] =
    "usage: zytfilt register MODULE     run the module's DllRegisterServer\n"
    "       zytfilt unregister MODULE   run the module's DllUnregisterServer\n"
    "MODULE is a path, or the name of a module of this build (zytfilters, zytcomponents, pdffilt).\n";

const char kSetupUsage[] =
    "usage: zytfilt setup [--product]\n"
    "Prepares this machine: the registry, the components module, the settings file\n"
    "and the filter module. Safe to run again. The machine is chosen by ZYT_REGISTRY\n"
    "and ZYT_SETTINGS; modules are looked for in ZYT_MODULE_DIR, else beside zytfilt.\n"
    "--product also marks the product as set up and makes a catalog of type 'local'\n"
    "(named \"Orrery Local\") that covers your home folder, and registers the filter\n"
    "module again, which puts the catalog proxy filter in front of every filter,\n"
    "and gives .odt, .ods, .odp and .docx to the XML proxy ('zytfilt doctypes\n"
    "restore' takes them back).\n";

// The code in words, then what the failing component described (the
// settings file that is broken, and where).
std::string Describe(HRESULT hr) {
  std::string described = ZYT::WideToUtf8(ZYT::TakeErrorDescription());
  return ZYT::DescribeHResult(hr) + (described.empty() ? "" : ": " + described);
}

// Failures that lie with the registry file rather than with a module.
std::string RegistryBlame(HRESULT hr) {
  for (DWORD code : {ERROR_DISK_FULL, ERROR_BADDB, ERROR_CANTWRITE, ERROR_BUSY})
    if (hr == HRESULT_FROM_WIN32(code)) return " writing " + ZYT::RegistryStorePath();
  if (hr == HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED) && ZYT::RegistryStoreIsReadOnly())
    return " (" + ZYT::RegistryStorePath() + " is read-only for this user)";
  return {};
}

// The registry must open before anything is blamed on a module.
bool RegistryOpens() {
  std::string problem;
  if (ZYT::OpenRegistryStore(problem) == ERROR_SUCCESS) return true;
  std::fprintf(stderr, "zytfilt: %s\n", problem.c_str());
  return false;
}

// Machine-wide registry changes take turns with every other process's.
bool LockForSetup(ZYT::CRegistrySetupLock& lock) {
  if (!RegistryOpens()) return false;
  if (ZYT::RegistryStoreIsReadOnly()) {
    std::fprintf(stderr, "zytfilt: %s: is read-only for this user; it can be read but not set up\n",
                 ZYT::RegistryStorePath().c_str());
    return false;
  }
  DWORD wait = std::clamp<DWORD>(ZYT::GetLimit(u"SetupLockWaitSeconds", 300), 1, 86400);
  std::string problem;
  if (lock.Acquire(wait, problem) != ERROR_SUCCESS) {
    std::fprintf(stderr, "zytfilt: cannot lock the machine for set-up: %s\n", problem.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::string ModuleDirectory() {
  if (const char* dir = std::getenv("ZYT_MODULE_DIR"); dir && *dir) return dir;
  std::string exe = ZYT::WideToUtf8(ZYT::ModuleFileName(nullptr));
  std::string bin = exe.substr(0, exe.find_last_of('/'));
  std::string lib = bin.substr(0, bin.find_last_of('/')) + "/lib";
  // Installed, the modules have a folder of their own; in a build tree they
  // sit in lib itself.
  struct stat info {};
  if (stat((lib + "/zytfilters").c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return lib + "/zytfilters";
  return lib;
}

std::string ResolveModule(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  std::string file = name.size() > 7 && name.compare(name.size() - 7, 7, ".dll.so") == 0 ? name : name + ".dll.so";
  return ModuleDirectory() + "/" + file;
}

// Loads a module and calls one of its registration entry points; prints the
// failure as one line and returns the exit code.
int CallEntryPoint(const std::string& module, const char* entryPoint, bool quiet) {
  std::string path = ResolveModule(module);
  HMODULE handle = LoadLibraryW(ZYT::Utf8ToWide(path).c_str());
  if (!handle) {
    std::fprintf(stderr, "zytfilt: cannot load %s\n", path.c_str());
    return 1;
  }
  auto entry = reinterpret_cast<HRESULT (*)()>(GetProcAddress(handle, entryPoint));
  if (!entry) {
    std::fprintf(stderr, "zytfilt: %s has no %s\n", path.c_str(), entryPoint);
    FreeLibrary(handle);
    return 1;
  }
  // One module's registration is one registry transaction: other processes
  // see the module registered as before or as after, never half-way.
  ZYT::CRegistryTransaction transaction;
  HRESULT hr = transaction.Status() == ERROR_SUCCESS ? entry() : HRESULT_FROM_WIN32(transaction.Status());
  if (SUCCEEDED(hr))
    if (HRESULT commit = HRESULT_FROM_WIN32(transaction.Commit()); FAILED(commit)) hr = commit;
  FreeLibrary(handle);
  if (FAILED(hr)) {
    std::fprintf(stderr, "zytfilt: %s: %s failed: %s%s\n", path.c_str(), entryPoint, Describe(hr).c_str(),
                 RegistryBlame(hr).c_str());
    return 1;
  }
  // S_FALSE: the module's own entries are done, some of the machine's filters
  // or extensions could not be changed (its diagnostic log says which).
  if (hr == S_FALSE)
    std::fprintf(stderr, "zytfilt: %s: %s: not every filter or extension could be changed\n", path.c_str(), entryPoint);
  if (!quiet) std::printf("%s: %s succeeded\n", path.c_str(), entryPoint);
  return 0;
}

int RunRegisterCommand(const std::vector<std::string>& args, bool doRegister) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::fputs(kRegisterUsage, args.empty() ? stderr : stdout);
    return args.empty() ? 2 : 0;
  }
  ZYT::CRegistrySetupLock lock;
  if (!LockForSetup(lock)) return 1;
  return CallEntryPoint(args[0], doRegister ? "DllRegisterServer" : "DllUnregisterServer", false);
}

namespace {

// The product's own set-up: the "configured" mark, a local catalog over the
// user's home folder, and its entry in the settings.
int SetUpProduct() {
  ZYT::CRegKey orrery;
  if (orrery.Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Orrery", KEY_ALL_ACCESS) != ERROR_SUCCESS ||
      orrery.SetStringValue(u"configured", u"yes") != ERROR_SUCCESS) {
    std::fprintf(stderr, "zytfilt setup: cannot mark the product as set up in the registry\n");
    return 1;
  }
  std::string settings, location;
  try {
    auto server = ZYT::CreateSettingsServer();
    ZYT::CBstr path;
    HRESULT hr = server->GetSettingsPath(path.put());
    if (FAILED(hr)) _com_issue_error(hr);
    settings = ZYT::WideToUtf8(path.str());
    ZYT::CVariant answer;
    ZYT::QuerySettings(u"/*/repository/user/@location", ZYT::OmittedArgument(), answer);
    location = ZYT::WideToUtf8(answer.Text());
  } catch (const _com_error& e) {
    std::fprintf(stderr, "zytfilt setup: the settings cannot be read: %s\n", Describe(e.Error()).c_str());
    return 1;
  }
  ZYT::XmlDocument document;
  ZYT::XmlParseError error;
  if (!document.Load(settings, &error)) {
    std::fprintf(stderr, "zytfilt setup: %s:%d:%d: %s\n", settings.c_str(), error.line, error.column, error.reason.c_str());
    return 1;
  }
  ZYT::XmlNode catalogs = document.SelectSingleNode("/*/CIS/catalogs");
  if (!catalogs) {
    ZYT::XmlNode cis = document.SelectSingleNode("/*/CIS");
    if (!cis) cis = document.DocumentElement().AppendElement("CIS");
    catalogs = cis.AppendElement("catalogs");
  }
  if (!catalogs.SelectSingleNode("catalog[@catalog-type='local']")) {
    ZYT::XmlNode local = catalogs.AppendElement("catalog");
    local.SetAttribute("catalog-type", "local");
    local.SetAttribute("catalog-name", "Orrery Local");
    if (!document.Save(settings)) {
      std::fprintf(stderr, "zytfilt setup: cannot write %s\n", settings.c_str());
      return 1;
    }
  }
  const char* home = std::getenv("HOME");
  LONG rc = ZYT::AddCatalog({u"Orrery Local", ZYT::Utf8ToWide(location + "/catalogs/local"), u".",
                             {ZYT::Utf8ToWide(home && *home ? home : "/")}});
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "zytfilt setup: cannot write the catalog (error %d)\n", static_cast<int>(rc));
    return 1;
  }
  // Registering the module on a machine that is set up puts the catalog proxy
  // filter in front of every filter, with each native filter saved beside it.
  return CallEntryPoint("zytfilters", "DllRegisterServer", true);
}

int SetUpMachine(bool quiet, bool product);

}  // namespace

int RunSetupCommand(const std::vector<std::string>& args) {
  bool product = false;
  for (const std::string& a : args) {
    if (a == "--product") {
      product = true;
    } else {
      bool help = a == "--help" || a == "-h";
      std::fputs(kSetupUsage, help ? stdout : stderr);
      return help ? 0 : 2;
    }
  }
  return SetUpMachine(false, product);
}

int Setup(bool quiet) { return SetUpMachine(quiet, false); }

namespace {

// The indexer's own settings, as a machine with the Indexing Service has them,
// where no earlier set-up or administrator wrote them: the time a filter may
// take (the archive filter's budget) and the list of filter modules it loads,
// the machine's PDF filter last. Registering the filter module then adds it
// before the PDF filter's entry.
int SetUpIndexerSettings() {
  ZYT::CRegKey index;
  if (index.Create(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\ContentIndex", KEY_ALL_ACCESS) !=
      ERROR_SUCCESS) {
    std::fprintf(stderr, "zytfilt setup: cannot write the indexer's settings\n");
    return 1;
  }
  DWORD timeout = 0;
  LONG rc = ERROR_SUCCESS;
  if (index.QueryDWORDValue(u"FilterIdleTimeout", timeout) != ERROR_SUCCESS)
    rc = index.SetDWORDValue(u"FilterIdleTimeout", kDefaultFilterIdleTimeoutMs);
  DWORD type = 0;
  if (rc == ERROR_SUCCESS &&
      RegQueryValueExW(index, u"DLLsToRegister", nullptr, &type, nullptr, nullptr) == ERROR_FILE_NOT_FOUND) {
    std::u16string list;
    for (const char* module : {"zytcomponents", "pdffilt"})
      list += ZYT::LongPathOf(ZYT::Utf8ToWide(ResolveModule(module))) + u'\0';
    list += u'\0';
    rc = RegSetValueExW(index, u"DLLsToRegister", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list.data()),
                        static_cast<DWORD>(list.size() * sizeof(char16_t)));
  }
  if (rc != ERROR_SUCCESS) {
    std::fprintf(stderr, "zytfilt setup: the indexer's settings: %s%s\n", Describe(HRESULT_FROM_WIN32(rc)).c_str(),
                 RegistryBlame(HRESULT_FROM_WIN32(rc)).c_str());
    return 1;
  }
  return 0;
}

// The setting up that every machine needs: the components, the settings and
// the filter module.
int SetUpModules(std::u16string& settings) {
  if (CallEntryPoint("zytcomponents", "DllRegisterServer", true) != 0) return 1;
  if (CallEntryPoint("pdffilt", "DllRegisterServer", true) != 0) return 1;
  if (SetUpIndexerSettings() != 0) return 1;
  try {
    auto server = ZYT::CreateSettingsServer();
    BSTR path = nullptr;
    HRESULT hr = server->GetSettingsPath(&path);
    if (FAILED(hr)) _com_issue_error(hr);
    settings.assign(path, SysStringLen(path));
    SysFreeString(path);
  } catch (const _com_error& e) {
    std::fprintf(stderr, "zytfilt: the settings cannot be prepared: %s\n", Describe(e.Error()).c_str());
    return 1;
  }
  return CallEntryPoint("zytfilters", "DllRegisterServer", true);
}

// Earlier set-ups recorded each handler's filter as "ZYTOrrerySavedFilterKey"
// without putting the catalog proxy filter in front of it. Such a value beside
// any other filter than the proxy is stale: the next installation of the proxy
// would take it for the filter it replaced.
int RemoveStaleSavedFilters() {
  ZYT::CRegKey classes;
  if (classes.Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\CLSID", KEY_READ) != ERROR_SUCCESS) return 0;
  const std::u16string proxy = ZYT::ToUpper(ZYT::GuidToString(CLSID_OrreryCISProxyFilter));
  for (const std::u16string& handler : ZYT::SubkeyNames(classes)) {
    std::u16string path = u"SOFTWARE\\Classes\\CLSID\\" + handler + u"\\PersistentAddinsRegistered\\" + kIFilterAddinKey;
    ZYT::CRegKey addin;
    if (addin.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS) continue;
    ULONG chars = 0;
    if (addin.QueryStringValue(kSavedFilterValue, nullptr, &chars) != ERROR_SUCCESS) continue;
    WCHAR filter[256] = {};
    chars = 256;
    if (addin.QueryStringValue(nullptr, filter, &chars) == ERROR_SUCCESS && ZYT::ToUpper(filter) == proxy) continue;
    if (LONG rc = addin.DeleteValue(kSavedFilterValue); rc != ERROR_SUCCESS) {
      std::fprintf(stderr, "zytfilt setup: cannot remove the stale \"%s\" of %s: %s\n",
                   ZYT::WideToUtf8(kSavedFilterValue).c_str(), ZYT::WideToUtf8(handler).c_str(),
                   Describe(HRESULT_FROM_WIN32(rc)).c_str());
      return 1;
    }
  }
  return 0;
}

// Several set-ups at once (first dumps on a new machine, say) take turns, and
// each is one registry transaction, so a reader sees the machine before or
// after a set-up and nothing in between.
int SetUpMachine(bool quiet, bool product) {
  ZYT::CRegistrySetupLock lock;
  if (!LockForSetup(lock)) return 1;
  ZYT::CRegistryTransaction transaction;
  if (transaction.Status() != ERROR_SUCCESS) {
    std::fprintf(stderr, "zytfilt: cannot write %s: %s\n", ZYT::RegistryStorePath().c_str(),
                 Describe(HRESULT_FROM_WIN32(transaction.Status())).c_str());
    return 1;
  }
  std::u16string settings;
  int rc = RemoveStaleSavedFilters();
  if (rc == 0) rc = SetUpModules(settings);
  if (rc == 0 && product) rc = SetUpProduct();
  if (rc == 0 && product) rc = BindProductDocTypes();
  if (rc != 0) return rc;
  if (LONG commit = transaction.Commit(); commit != ERROR_SUCCESS) {
    std::fprintf(stderr, "zytfilt setup: %s writing %s\n", Describe(HRESULT_FROM_WIN32(commit)).c_str(),
                 ZYT::RegistryStorePath().c_str());
    return 1;
  }
  if (!quiet) {
    std::printf("registry: %s\n", ZYT::RegistryStorePath().c_str());
    std::printf("settings: %s\n", ZYT::WideToUtf8(settings).c_str());
    std::printf("modules:  %s\n", ModuleDirectory().c_str());
  }
  return 0;
}

}  // namespace
