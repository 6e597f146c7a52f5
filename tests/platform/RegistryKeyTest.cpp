#include <gtest/gtest.h>

#include "platform/win32/RegistryKey.h"
#include "tests/support/TestEnvironment.h"

namespace {

class RegistryKeyTest : public ZYT::Test::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ASSERT_EQ(m_key.Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Sample"), ERROR_SUCCESS);
    m_key.SetStringValue(u"text", u"value");
    m_key.SetStringValue(u"empty", u"");
    m_key.SetStringValue(u"expand", u"%ZYT_SAMPLE_DIR%\\x", REG_EXPAND_SZ);
    m_key.SetDWORDValue(u"number", 7);
    const char16_t bare[] = {u'a', u'b'};
    RegSetValueExW(m_key, u"bare", 0, REG_SZ, reinterpret_cast<const BYTE*>(bare), sizeof bare);
  }
  ZYT::CRegKey m_key;
};

TEST_F(RegistryKeyTest, GetStringValueReadsOnlyStrings) {
  setenv("ZYT_SAMPLE_DIR", "/data", 1);
  ZYT::CRegistryKey key(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Sample", KEY_READ);
  ASSERT_TRUE(key.IsOpen());
  EXPECT_EQ(key.GetStringValue(u"text"), u"value");
  EXPECT_EQ(key.GetStringValue(u"expand"), u"/data\\x");
  EXPECT_EQ(key.GetStringValue(u"number"), u"") << "a DWORD is not text";
  EXPECT_EQ(key.GetStringValue(u"empty"), u"");
  EXPECT_EQ(key.GetStringValue(u"missing"), u"");
  EXPECT_EQ(key.GetStringValue(u"bare"), u"ab");
  ZYT::CRegistryKey missing(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Nothing", KEY_READ);
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_EQ(missing.GetStringValue(u"text"), u"") << "a key that did not open is not an error";
  unsetenv("ZYT_SAMPLE_DIR");
}

TEST_F(RegistryKeyTest, QueryStringValueChecksTypeAndTerminator) {
  WCHAR buffer[16];
  ULONG chars = 0;
  EXPECT_EQ(m_key.QueryStringValue(u"text", nullptr, &chars), ERROR_SUCCESS);
  EXPECT_EQ(chars, 6u) << "the size with the terminator, in characters";
  chars = 16;
  EXPECT_EQ(m_key.QueryStringValue(u"text", buffer, &chars), ERROR_SUCCESS);
  EXPECT_EQ(std::u16string(buffer), u"value");
  chars = 3;
  EXPECT_EQ(m_key.QueryStringValue(u"text", buffer, &chars), ERROR_MORE_DATA);
  chars = 16;
  EXPECT_EQ(m_key.QueryStringValue(u"number", buffer, &chars), ERROR_INVALID_DATA);
  chars = 16;
  EXPECT_EQ(m_key.QueryStringValue(u"bare", buffer, &chars), ERROR_INVALID_DATA) << "no terminator stored";
  EXPECT_EQ(m_key.QueryStringValue(u"missing", buffer, &chars), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeyTest, OpenReplacesTheHandleOnlyOnSuccess) {
  HKEY before = m_key.Handle();
  EXPECT_EQ(m_key.Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Nothing"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(m_key.Handle(), before);
  WCHAR buffer[16];
  ULONG chars = 16;
  EXPECT_EQ(m_key.QueryStringValue(u"text", buffer, &chars), ERROR_SUCCESS) << "the old key still answers";
  DWORD n = 0;
  EXPECT_EQ(m_key.QueryDWORDValue(u"number", n), ERROR_SUCCESS);
  EXPECT_EQ(n, 7u);
}

}  // namespace
