#include "platform/win32/Limits.h"

#include <gtest/gtest.h>

#include "platform/win32/Registry.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT {
namespace {

class LimitsTest : public Test::MachineTest {
 protected:
  void SetValue(LPCWSTR name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLimitsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(key);
  }
};

TEST_F(LimitsTest, DefaultUntilADwordIsSet) {
  EXPECT_EQ(GetLimit(u"MaxThings", 77), 77u) << "no limits key at all";
  const DWORD five = 5;
  SetValue(u"MaxThings", REG_DWORD, &five, sizeof five);
  EXPECT_EQ(GetLimit(u"maxthings", 77), 5u) << "value names are case-insensitive";
  EXPECT_EQ(GetLimit(u"MaxOther", 9), 9u) << "another limit keeps its default";
  const DWORD zero = 0;
  SetValue(u"MaxThings", REG_DWORD, &zero, sizeof zero);
  EXPECT_EQ(GetLimit(u"MaxThings", 77), 0u) << "zero is a value, not a missing one";
}

TEST_F(LimitsTest, ValuesOfAnotherTypeAreIgnored) {
  const char16_t text[] = u"12";
  SetValue(u"MaxThings", REG_SZ, text, sizeof text);
  EXPECT_EQ(GetLimit(u"MaxThings", 77), 77u);
  const BYTE shortDword[2] = {1, 0};
  SetValue(u"MaxBinary", REG_BINARY, shortDword, sizeof shortDword);
  EXPECT_EQ(GetLimit(u"MaxBinary", 3), 3u);
}

}  // namespace
}  // namespace ZYT
