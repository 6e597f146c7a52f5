// Keys as deep as Windows allows (512 levels) export, import and delete
// without the depth exhausting the stack; deeper ones are refused.
#include <gtest/gtest.h>

#include "platform/win32/Registry.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"
#include "tests/reliability/RegistryHost.h"

namespace ZYT {
namespace {

class RegistryDeepKeyTest : public Test::MachineTest, public ::testing::WithParamInterface<int> {
 protected:
  // "Deep\K\K...": `levels` levels below HKEY_CURRENT_USER.
  static std::u16string Path(int levels) {
    std::u16string path = u"Deep";
    for (int i = 1; i < levels; ++i) path += u"\\K";
    return path;
  }
  LONG Create(const std::u16string& path, HKEY* key = nullptr) {
    HKEY handle = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &handle,
                              nullptr);
    if (rc == ERROR_SUCCESS && key) *key = handle;
    else if (rc == ERROR_SUCCESS) RegCloseKey(handle);
    return rc;
  }
  bool Exists(const std::u16string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }
};

TEST_P(RegistryDeepKeyTest, ExportImportAndDeleteAtDepth) {
  const int levels = GetParam();
  HKEY deepest = nullptr;
  ASSERT_EQ(Create(Path(levels), &deepest), ERROR_SUCCESS);
  const char16_t text[] = u"bottom";
  ASSERT_EQ(RegSetValueExW(deepest, u"v", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text), ERROR_SUCCESS);
  RegCloseKey(deepest);
  ResetRegistryStore();

  ZYT::Test::RegistryHost host(*this);
  ZYT::Test::ProcessResult exported = host.Run({"reg", "export", "HKCU\\Deep", PathIn("deep.reg")});
  ASSERT_EQ(exported.status, 0) << "signal " << exported.signal << ": " << exported.err;
  std::string file = ReadBytes(PathIn("deep.reg"));
  std::string bottom = "[HKEY_CURRENT_USER\\" + WideToUtf8(Path(levels)) + "]\n\"v\"=\"bottom\"\n";
  EXPECT_NE(file.find(bottom), std::string::npos) << "the deepest key and its value are exported";

  ASSERT_EQ(RegDeleteTreeW(HKEY_CURRENT_USER, u"Deep"), ERROR_SUCCESS);
  EXPECT_FALSE(Exists(u"Deep"));
  ResetRegistryStore();
  ZYT::Test::ProcessResult imported = host.Run({"reg", "import", PathIn("deep.reg")});
  ASSERT_EQ(imported.status, 0) << "signal " << imported.signal << ": " << imported.err;
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Path(levels).c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  WCHAR value[16] = {};
  DWORD size = sizeof value;
  EXPECT_EQ(RegQueryValueExW(key, u"v", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(value), u"bottom");
  RegCloseKey(key);
}

INSTANTIATE_TEST_SUITE_P(Levels, RegistryDeepKeyTest, ::testing::Values(300, 512));

using RegistryKeyDepthLimitTest = RegistryDeepKeyTest;

TEST_F(RegistryKeyDepthLimitTest, NoKeyBelowTheFiveHundredAndTwelfthLevel) {
  EXPECT_EQ(Create(Path(513)), ERROR_INVALID_PARAMETER) << "513 levels at once";
  EXPECT_FALSE(Exists(u"Deep")) << "a refused create leaves none of the keys it would have made";
  ASSERT_EQ(Create(Path(256)), ERROR_SUCCESS);
  HKEY middle = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, Path(256).c_str(), 0, KEY_ALL_ACCESS, &middle), ERROR_SUCCESS);
  std::u16string rest = u"K";
  for (int i = 1; i < 256; ++i) rest += u"\\K";
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(middle, rest.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr), ERROR_SUCCESS)
      << "256 + 256 is the deepest, counted from the root and not from the handle";
  if (key) RegCloseKey(key);
  EXPECT_EQ(RegCreateKeyExW(middle, (rest + u"\\K").c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_INVALID_PARAMETER);
  RegCloseKey(middle);
  EXPECT_TRUE(Exists(Path(512)));
  EXPECT_EQ(Create(Path(513)), ERROR_INVALID_PARAMETER) << "one level below an existing 512-level key";

  std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\" + WideToUtf8(Path(513)) + "]\n";
  WriteBytes(PathIn("deeper.reg"), text);
  ResetRegistryStore();
  ZYT::Test::ProcessResult r = ZYT::Test::RegistryHost(*this).Run({"reg", "import", PathIn("deeper.reg")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(ZYT::Test::Lines(r.err).size(), 1u) << r.err;
  EXPECT_NE(r.err.find("line 3: cannot create"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace ZYT
