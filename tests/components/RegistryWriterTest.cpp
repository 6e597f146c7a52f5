#include <gtest/gtest.h>

#include "interfaces/RegistryWriter.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComVariant.h"
#include "platform/com/ObjBase.h"
#include "platform/win32/Registry.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/RegistryStore.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using ZYT::CBstr;
using ZYT::ComPtr;

std::u16string Machine(const std::u16string& key, const char16_t* name = nullptr) {
  ZYT::CRegKey k;
  if (k.Open(HKEY_LOCAL_MACHINE, key.c_str(), KEY_READ) != ERROR_SUCCESS) return u"<no key>";
  WCHAR buffer[256] = {};
  ULONG chars = 256;
  if (k.QueryStringValue(name, buffer, &chars) != ERROR_SUCCESS) return u"<no value>";
  return buffer;
}

class RegistryWriterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ASSERT_EQ(RegisterModule(ZYT_COMPONENTS_MODULE), S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_RegistryWriter, nullptr, CLSCTX_ALL, IID_IRegistryWriter, m_writer.put_void()),
              S_OK);
  }
  void TearDown() override {
    m_writer.Reset();
    ZYT::SetRegistryRootReadOnly(HKEY_LOCAL_MACHINE, false);
    MachineTest::TearDown();
  }
  HRESULT Write(const std::u16string& path, const std::u16string& value) {
    CBstr p(path), v(value);
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_BSTR;
    var.bstrVal = v.get();
    return m_writer->WriteRegistryValue(p.get(), var);
  }
  HRESULT Remove(const std::u16string& path) {
    return m_writer->WriteRegistryValue(CBstr(path).get(), ZYT::OmittedArgument());
  }
  ComPtr<IRegistryWriter> m_writer;
};

TEST_F(RegistryWriterTest, ATrailingSeparatorNamesTheDefaultValueAndTheMarkerRemoves) {
  ASSERT_EQ(Write(u"SOFTWARE\\Classes\\.foo\\PersistentHandler\\", u"{ABC}"), S_OK);
  ASSERT_EQ(Write(u"SOFTWARE\\Classes\\.foo\\PersistentHandler\\Saved", u"{DEF}"), S_OK);
  EXPECT_EQ(Machine(u"SOFTWARE\\Classes\\.foo\\PersistentHandler"), u"{ABC}");
  EXPECT_EQ(Machine(u"SOFTWARE\\Classes\\.foo\\PersistentHandler", u"Saved"), u"{DEF}");
  EXPECT_EQ(Machine(u"SOFTWARE\\Classes\\.foo\\PersistentHandler\\Saved"), u"<no key>") << "a value, not a key";

  ASSERT_EQ(Remove(u"SOFTWARE\\Classes\\.foo\\PersistentHandler\\Saved"), S_OK);
  EXPECT_EQ(Machine(u"SOFTWARE\\Classes\\.foo\\PersistentHandler", u"Saved"), u"<no value>");
  EXPECT_EQ(Machine(u"SOFTWARE\\Classes\\.foo\\PersistentHandler"), u"{ABC}") << "the default stays";

  ASSERT_EQ(Write(u"SOFTWARE\\Classes\\.foo\\PersistentHandler\\Deeper\\", u"x"), S_OK);
  ASSERT_EQ(Remove(u"SOFTWARE\\Classes\\.foo\\PersistentHandler\\"), S_OK);
  EXPECT_EQ(Machine(u"SOFTWARE\\Classes\\.foo\\PersistentHandler"), u"<no key>") << "the key with its subkeys";
  EXPECT_EQ(Machine(u"SOFTWARE\\Classes\\.foo"), u"<no value>") << "its parent stays";
  EXPECT_EQ(Remove(u"SOFTWARE\\Classes\\.foo\\PersistentHandler\\"), S_OK) << "nothing left to remove";
  EXPECT_EQ(Remove(u"SOFTWARE\\Classes\\.none\\Value"), S_OK);
}

TEST_F(RegistryWriterTest, WritesWhereTheProcessMayNot) {
  ZYT::SetRegistryRootReadOnly(HKEY_LOCAL_MACHINE, true);
  ZYT::CRegKey own;
  ASSERT_EQ(own.Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Test", KEY_ALL_ACCESS), ERROR_ACCESS_DENIED);
  ASSERT_EQ(Write(u"SOFTWARE\\ZYT\\Test\\Name", u"value"), S_OK);
  EXPECT_EQ(Machine(u"SOFTWARE\\ZYT\\Test", u"Name"), u"value");
  ASSERT_EQ(Remove(u"SOFTWARE\\ZYT\\Test\\"), S_OK);
  EXPECT_EQ(Machine(u"SOFTWARE\\ZYT\\Test"), u"<no key>");
  EXPECT_EQ(own.Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Test", KEY_ALL_ACCESS), ERROR_ACCESS_DENIED)
      << "the process's own writes are still refused afterwards";
}

TEST_F(RegistryWriterTest, RefusesWhatItCannotWrite) {
  VARIANT number;
  VariantInit(&number);
  number.vt = VT_I4;
  number.lVal = 1;
  EXPECT_EQ(m_writer->WriteRegistryValue(CBstr(u"SOFTWARE\\ZYT\\Test\\N").get(), number), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Write(u"", u"x"), E_INVALIDARG);
  EXPECT_EQ(Write(u"NoSeparator", u"x"), E_INVALIDARG);
  EXPECT_EQ(Write(u"\\Name", u"x"), E_INVALIDARG);
  EXPECT_EQ(Machine(u"SOFTWARE\\ZYT\\Test"), u"<no key>");
  // The entries before the write method belong to the writer's other duties.
  EXPECT_EQ(m_writer->Reserved7(), E_NOTIMPL);
}

}  // namespace
