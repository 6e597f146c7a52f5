#include <gtest/gtest.h>

#include "platform/com/Registrar.h"
#include "platform/win32/RegistryFile.h"
#include "platform/win32/RegistryKey.h"
#include "tests/support/TestEnvironment.h"

namespace {

class RegistrarTest : public ZYT::Test::MachineTest {
 protected:
  std::string Export(const std::u16string& key) {
    std::string text;
    if (ZYT::RegExportKey(HKEY_CLASSES_ROOT, key, text) != ERROR_SUCCESS) return "(missing)";
    return text.substr(text.find('\n') + 1);
  }
  const std::u16string kScript =
      u"HKCR\n"
      u"{\n"
      u"  Zyt.Sample = s 'Sample Class'\n"
      u"  {\n"
      u"    CLSID = s '{11111111-2222-3333-4444-555555555555}'\n"
      u"  }\n"
      u"  NoRemove .smp\n"
      u"  {\n"
      u"    ForceRemove PersistentHandler = s '{66666666-2222-3333-4444-555555555555}'\n"
      u"    val 'Content Type' = s 'application/x-sample'\n"
      u"  }\n"
      u"  NoRemove CLSID\n"
      u"  {\n"
      u"    ForceRemove {11111111-2222-3333-4444-555555555555} = s 'Sample Class'\n"
      u"    {\n"
      u"      InprocServer32 = s '%MODULE%'\n"
      u"      {\n"
      u"        val ThreadingModel = s 'Both'\n"
      u"      }\n"
      u"      'Programmable'\n"
      u"      Count = d '7'\n"
      u"    }\n"
      u"  }\n"
      u"}\n";
};

TEST_F(RegistrarTest, RegistersWithReplacementsAndQuotes) {
  ZYT::CRegistrar registrar;
  registrar.AddReplacement(u"%MODULE%", u"/opt/o'brien/sample.dll.so");
  ASSERT_EQ(registrar.Register(kScript), S_OK) << registrar.LastError();
  EXPECT_EQ(Export(u"CLSID\\{11111111-2222-3333-4444-555555555555}"),
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{11111111-2222-3333-4444-555555555555}]\n"
            "@=\"Sample Class\"\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{11111111-2222-3333-4444-555555555555}\\Count]\n"
            "@=dword:00000007\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32]\n"
            "@=\"/opt/o'brien/sample.dll.so\"\n"
            "\"ThreadingModel\"=\"Both\"\n"
            "\n[HKEY_CLASSES_ROOT\\CLSID\\{11111111-2222-3333-4444-555555555555}\\Programmable]\n\n");
}

TEST_F(RegistrarTest, ForceRemoveStartsAfreshAndUnregisteringKeepsForeignEntries) {
  ZYT::CRegKey key;
  ASSERT_EQ(key.Create(HKEY_CLASSES_ROOT, u"CLSID\\{11111111-2222-3333-4444-555555555555}\\Old"), ERROR_SUCCESS);
  ASSERT_EQ(key.Create(HKEY_CLASSES_ROOT, u".smp"), ERROR_SUCCESS);
  key.SetStringValue(nullptr, u"smpfile");
  ASSERT_EQ(key.Create(HKEY_CLASSES_ROOT, u"Zyt.Sample\\Shell"), ERROR_SUCCESS);
  key.Close();
  ZYT::CRegistrar registrar;
  ASSERT_EQ(registrar.Register(kScript), S_OK);
  EXPECT_FALSE(ZYT::CRegistryKey(HKEY_CLASSES_ROOT, u"CLSID\\{11111111-2222-3333-4444-555555555555}\\Old", KEY_READ)
                   .IsOpen())
      << "ForceRemove clears the key first";

  ASSERT_EQ(registrar.Unregister(kScript), S_OK);
  EXPECT_EQ(Export(u".smp"), "\n[HKEY_CLASSES_ROOT\\.smp]\n@=\"smpfile\"\n\n")
      << "NoRemove keeps the key and its foreign value, the script's value and ForceRemove subkey go";
  EXPECT_EQ(Export(u"Zyt.Sample"), "\n[HKEY_CLASSES_ROOT\\Zyt.Sample]\n\n[HKEY_CLASSES_ROOT\\Zyt.Sample\\Shell]\n\n")
      << "a plain key with a foreign subkey stays, without the script's values";
  EXPECT_EQ(Export(u"CLSID\\{11111111-2222-3333-4444-555555555555}"), "(missing)");
  EXPECT_NE(Export(u"CLSID"), "(missing)") << "NoRemove CLSID stays";
  ASSERT_EQ(registrar.Unregister(kScript), S_OK) << "unregistering twice is harmless";
}

TEST_F(RegistrarTest, SyntaxErrorsAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    const char16_t* script;
    const char* error;
  };
  const Case cases[] = {
      {u"HKXX { a }", "line 1: unknown root key 'HKXX'"},
      {u"HKCR {\n a = s 'open\n}", "line 3: unterminated string"},
      {u"HKCR {\n a = q 'x'\n}", "line 2: unknown value type 'q'"},
      {u"HKCR {\n a {\n b\n", "line 4: missing '}'"},
      {u"HKCR {\n val = s 'x'\n}", "line 2: expected a name"},
      {u"HKCR {\n val v s 'x'\n}", "line 2: expected '=' after the value name"},
  };
  for (const Case& c : cases) {
    ZYT::CRegistrar registrar;
    EXPECT_EQ(registrar.Register(c.script), E_INVALIDARG);
    EXPECT_EQ(registrar.LastError(), c.error);
  }
  EXPECT_EQ(Export(u"a"), "(missing)");
}

}  // namespace
