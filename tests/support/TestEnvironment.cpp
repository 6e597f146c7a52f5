#include "tests/support/TestEnvironment.h"

#include "tests/support/Repository.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/com/TaskAllocator.h"
#include "platform/win32/Limits.h"
#include "platform/win32/Registry.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"
#include "platform/win32/Volume.h"

namespace ZYT::Test {

void MachineTest::SetUp() {
  char pattern[] = "/tmp/zyttest.XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  m_dir = pattern;
  setenv("ZYT_REGISTRY", (m_dir + "/registry.db").c_str(), 1);
  mkdir((m_dir + "/tmp").c_str(), 0700);
  if (const char* t = std::getenv("TMPDIR")) {
    m_hadTmp = true;
    m_savedTmp = t;
  }
  setenv("TMPDIR", (m_dir + "/tmp").c_str(), 1);
  // Pipes and events of this test only.
  setenv("ZYT_PIPE_DIR", (m_dir + "/pipes").c_str(), 1);
  m_namespace = "zt" + m_dir.substr(m_dir.find_last_of('.') + 1);
  setenv("ZYT_OBJECT_NAMESPACE", m_namespace.c_str(), 1);
  // Item ids of the thumbnail service, never the user's own.
  setenv("ZYT_THUMBNAILS", (m_dir + "/thumbnails.db").c_str(), 1);
  ResetRegistryStore();
  ResetCodePageCache();
  FailTaskAllocations(0, 0);
}

void SetRegistryString(HKEY root, const std::u16string& key, const std::u16string& name, const std::u16string& value) {
  HKEY handle = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(handle, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR))),
            ERROR_SUCCESS);
  RegCloseKey(handle);
}

void SetRegistryDword(HKEY root, const std::u16string& key, const std::u16string& name, DWORD value) {
  HKEY handle = nullptr;
  ASSERT_EQ(RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(handle, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value),
            ERROR_SUCCESS);
  RegCloseKey(handle);
}

void SetLimit(const char16_t* name, DWORD value) { SetRegistryDword(HKEY_LOCAL_MACHINE, kLimitsKey, name, value); }

void SetCodePage(const std::u16string& acp) {
  SetRegistryString(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage", u"ACP", acp);
  ResetCodePageCache();
}

void DeclareVolume(const std::u16string& root, const std::u16string& label, DWORD serial) {
  const std::u16string key = std::u16string(kVolumesKey) + u"\\" + root;
  SetRegistryString(HKEY_LOCAL_MACHINE, key, u"VolumeName", label);
  SetRegistryDword(HKEY_LOCAL_MACHINE, key, u"SerialNumber", serial);
}

std::string Utf16File(std::u16string_view text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t c : text) {
    const char high = static_cast<char>(c >> 8), low = static_cast<char>(c & 0xFF);
    bytes += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

HRESULT RegisterModule(const std::string& path) {
  HMODULE module = LoadLibraryW(Utf8ToWide(path).c_str());
  if (!module) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  auto entry = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, "DllRegisterServer"));
  HRESULT hr = entry ? entry() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
  FreeLibrary(module);
  return hr;
}

void UseSettingsServer(MachineTest& test, const std::string& settingsXml) {
  setenv("ZYT_SETTINGS", test.SettingsPath().c_str(), 1);
  if (!settingsXml.empty()) test.WriteBytes(test.SettingsPath(), settingsXml);
  ASSERT_EQ(RegisterModule(ZYT_COMPONENTS_MODULE), S_OK);
}

void UseRepository(MachineTest& test, bool logged) {
  UseSettingsServer(test, "<settings><repository><user location=\"" + test.PathIn("repo") +
                              "\"/></repository></settings>");
  ASSERT_EQ(mkdir(test.PathIn("repo").c_str(), 0700), 0);
  if (logged) {
    ASSERT_EQ(mkdir(test.PathIn("repo/Debug.Filter").c_str(), 0700), 0);
  }
}

std::string FilterLogs(const MachineTest& test) {
  std::string all;
  for (const std::string& name : test.ListDir(test.PathIn("repo/Debug.Filter")))
    all += test.ReadBytes(test.PathIn("repo/Debug.Filter/" + name));
  return all;
}

void MachineTest::TearDown() {
  unsetenv("ZYT_SETTINGS");
  unsetenv("ZYT_PIPE_DIR");
  unsetenv("ZYT_OBJECT_NAMESPACE");
  unsetenv("ZYT_THUMBNAILS");
  std::error_code shm;
  for (auto& entry : std::filesystem::directory_iterator("/dev/shm", shm))
    if (entry.path().filename().string().rfind("sem." + m_namespace + ".", 0) == 0) std::filesystem::remove(entry.path(), shm);
  FailTaskAllocations(0, 0);
  ResetRegistryStore();
  ResetCodePageCache();
  unsetenv("ZYT_REGISTRY");
  if (m_hadTmp)
    setenv("TMPDIR", m_savedTmp.c_str(), 1);
  else
    unsetenv("TMPDIR");
  std::error_code ec;
  // Read-only files and folders must not keep the folder alive.
  for (auto& entry : std::filesystem::recursive_directory_iterator(m_dir, ec))
    chmod(entry.path().c_str(), entry.is_directory() ? 0700 : 0600);
  std::filesystem::remove_all(m_dir, ec);
}

std::u16string MachineTest::TempDirW() const { return Utf8ToWide(m_dir); }
std::u16string MachineTest::PathInW(const std::string& name) const { return Utf8ToWide(PathIn(name)); }

void MachineTest::WriteBytes(const std::string& path, const std::string& bytes) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string MachineTest::ReadBytes(const std::string& path) const {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool MachineTest::Exists(const std::string& path) const {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> MachineTest::ListDir(const std::string& path) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto& entry : std::filesystem::directory_iterator(path, ec)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace ZYT::Test
