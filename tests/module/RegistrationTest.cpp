#include <gtest/gtest.h>

#include "module/FiltersModule.h"
#include "platform/com/ObjBase.h"
#include "platform/win32/RegistryFile.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/PathFunctions.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"
#include "tests/support/TestEnvironment.h"

namespace {

// Calls an entry point of the filters module, as regsvr32 would.
HRESULT Call(const char* entry) {
  HMODULE module = LoadLibraryW(ZYT::Utf8ToWide(ZYT_FILTERS_MODULE).c_str());
  auto fn = reinterpret_cast<HRESULT (*)()>(GetProcAddress(module, entry));
  HRESULT hr = fn ? fn() : E_FAIL;
  FreeLibrary(module);
  return hr;
}

class RegistrationTest : public ZYT::Test::MachineTest {
 protected:
  // The export of HKCR with the module's path written as %MODULE%.
  std::string ClassesExport(const std::string& modulePath) {
    std::string text;
    EXPECT_EQ(ZYT::RegExportKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes", text), ERROR_SUCCESS);
    for (size_t pos = 0; (pos = text.find(modulePath, pos)) != std::string::npos;)
      text.replace(pos, modulePath.size(), "%MODULE%");
    std::string dir = modulePath.substr(0, modulePath.find_last_of('/'));
    for (size_t pos = 0; (pos = text.find("\"" + dir + "\"", pos)) != std::string::npos;)
      text.replace(pos + 1, dir.size(), "%MODULEDIR%");
    return text;
  }
  std::string Expected(const std::string& name) { return ReadBytes(std::string(ZYT_TEST_DATA) + "/" + name); }
  std::u16string Default(const std::u16string& key) {
    return ZYT::CRegistryKey(HKEY_CLASSES_ROOT, key, KEY_READ).GetStringValue(u"");
  }
};

TEST_F(RegistrationTest, RegistrationWritesEveryScriptAndTheTypeLibrary) {
  ASSERT_EQ(Call("DllRegisterServer"), S_OK);
  EXPECT_EQ(ClassesExport(ZYT_FILTERS_MODULE), Expected("registered.reg"));

  EXPECT_EQ(Default(u".mp3\\PersistentHandler"), u"{888471FB-9560-47cf-A4B4-3B9E89B56C6D}");
  EXPECT_EQ(Default(u"CLSID\\{888471FB-9560-47CF-A4B4-3B9E89B56C6D}\\PersistentAddinsRegistered\\"
                    u"{89BCB740-6119-101A-BCB7-00DD010655AF}"),
            u"{0DE9957F-E255-47CC-B920-1CFD54251DED}");
  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID(u"ZYTFilters.DocTypeManager", &clsid), S_OK);
  EXPECT_EQ(ZYT::GuidToString(clsid), u"{B8E73B4C-6D87-4C72-8364-FA3EBDD47465}");
  EXPECT_EQ(Default(u"ZYTFilters.DocTypeManager\\CurVer"), u"ZYTFilters.DocTypeManager.1");
  EXPECT_EQ(Default(u"TypeLib\\{C5777E4D-D78C-48B1-81B8-716256D1986C}\\1.0\\409\\win32"),
            ZYT::Utf8ToWide(ZYT_FILTERS_MODULE));

  ASSERT_EQ(Call("DllRegisterServer"), S_OK) << "registering again";
  EXPECT_EQ(ClassesExport(ZYT_FILTERS_MODULE), Expected("registered.reg")) << "registration is idempotent";
}

TEST_F(RegistrationTest, UnregistrationLeavesWhatIsNotTheModules) {
  ASSERT_EQ(Call("DllRegisterServer"), S_OK);
  // Another program's value on one of the product's own extensions keeps that key.
  ZYT::CRegKey qhevent;
  ASSERT_EQ(qhevent.Open(HKEY_CLASSES_ROOT, u".qhevent"), ERROR_SUCCESS);
  qhevent.SetStringValue(u"Content Type", u"text/calendar");
  qhevent.Close();
  ASSERT_EQ(Call("DllUnregisterServer"), S_OK);
  // What stays: the machine's extension keys, and the stored web pages'
  // handler, which is the machine's HTML handler (here its usual class, as
  // this machine has no ".html").
  EXPECT_EQ(ClassesExport(ZYT_FILTERS_MODULE), Expected("unregistered.reg"));

  ZYT::CRegistryKey qhm(HKEY_CLASSES_ROOT, u".qhm", KEY_READ);
  EXPECT_FALSE(qhm.IsOpen()) << ".qhm belongs to the product and goes";
  ZYT::CRegistryKey zip(HKEY_CLASSES_ROOT, u".zip", KEY_READ);
  EXPECT_TRUE(zip.IsOpen()) << ".zip is the machine's and stays";
  ZYT::CRegistryKey handler(HKEY_CLASSES_ROOT, u".zip\\PersistentHandler", KEY_READ);
  EXPECT_FALSE(handler.IsOpen());
  EXPECT_EQ(ZYT::CRegistryKey(HKEY_CLASSES_ROOT, u".qhevent", KEY_READ).GetStringValue(u"Content Type"),
            u"text/calendar");
}

TEST_F(RegistrationTest, ScriptsReplaceWhatAForceRemoveKeyHeld) {
  ZYT::CRegKey stale;
  ASSERT_EQ(stale.Create(HKEY_CLASSES_ROOT, u"CLSID\\{0DE9957F-E255-47CC-B920-1CFD54251DED}\\Stale"), ERROR_SUCCESS);
  stale.Close();
  ZYT::CRegKey mp3;
  ASSERT_EQ(mp3.Create(HKEY_CLASSES_ROOT, u".mp3"), ERROR_SUCCESS);
  mp3.SetStringValue(nullptr, u"WMP11.AssocFile.MP3");
  mp3.Close();
  ASSERT_EQ(Call("DllRegisterServer"), S_OK);
  EXPECT_FALSE(ZYT::CRegistryKey(HKEY_CLASSES_ROOT, u"CLSID\\{0DE9957F-E255-47CC-B920-1CFD54251DED}\\Stale", KEY_READ)
                   .IsOpen());
  EXPECT_EQ(Default(u".mp3"), u"WMP11.AssocFile.MP3") << "the machine's own value of .mp3 stays";
  ASSERT_EQ(Call("DllUnregisterServer"), S_OK);
  EXPECT_EQ(Default(u".mp3"), u"WMP11.AssocFile.MP3");
}

TEST_F(RegistrationTest, ReadOnlyMachineFailsWithTheRegistryError) {
  ZYT::SetRegistryRootReadOnly(HKEY_LOCAL_MACHINE, true);
  EXPECT_EQ(Call("DllRegisterServer"), E_ACCESSDENIED);
  ZYT::SetRegistryRootReadOnly(HKEY_LOCAL_MACHINE, false);
}

class ConfiguredTest : public ZYT::Test::MachineTest {
 protected:
  void SetConfigured(const char16_t* value) {
    ZYT::CRegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Orrery"), ERROR_SUCCESS);
    key.SetStringValue(u"configured", value);
  }
};

TEST_F(ConfiguredTest, RegistryValueMustBeExactlyYes) {
  ZYT::Test::UseSettingsServer(*this, "<settings><repository><user location=\"/tmp\"/></repository></settings>");
  EXPECT_FALSE(IsProductConfigured()) << "neither settings nor registry";
  SetConfigured(u"Yes");
  EXPECT_FALSE(IsProductConfigured()) << "the comparison is case-sensitive";
  SetConfigured(u"yes");
  EXPECT_TRUE(IsProductConfigured());
}

TEST_F(ConfiguredTest, UserElementInTheSettingsIsEnough) {
  ZYT::Test::UseSettingsServer(*this, "<settings><user name=\"ann\"/></settings>");
  EXPECT_TRUE(IsProductConfigured());
}

TEST_F(ConfiguredTest, WithoutASettingsServerNothingIsConfigured) {
  SetConfigured(u"yes");
  EXPECT_FALSE(IsProductConfigured()) << "a failing server ends the test before the registry is read";
}

// A machine with filters and extensions of its own, before and after the
// product is set up.
class MachineRegistrationTest : public ConfiguredTest {
 protected:
  static constexpr char16_t kTextAddin[] =
      u"CLSID\\{5E941D80-BF96-11CD-B579-08002B30BFEB}\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}";
  static constexpr char16_t kTextFilter[] = u"{C1243CA0-BF96-11CD-B579-08002B30BFEB}";
  static constexpr char16_t kProxy[] = u"{A71A5A80-E4CA-46C0-9183-0CBC48108EA7}";
  static constexpr char16_t kIndex[] = u"SYSTEM\\CurrentControlSet\\Control\\ContentIndex";

  void SetUp() override {
    ConfiguredTest::SetUp();
    ZYT::Test::UseSettingsServer(*this, "<settings/>");
    Set(u".txt\\PersistentHandler", u"", u"{5E941D80-BF96-11CD-B579-08002B30BFEB}");
    Set(kTextAddin, u"", kTextFilter);
    Set(u".foo\\PersistentHandler", u"", u"{aaaaaaaa-0000-0000-0000-00000000000a}");
    Set(u".foo\\PersistentHandler", u"ZYTOrreryNewExtensionKey", u"{BBBBBBBB-0000-0000-0000-00000000000B}");
    ZYT::CRegKey index;
    ASSERT_EQ(index.Create(HKEY_LOCAL_MACHINE, kIndex), ERROR_SUCCESS);
    const char16_t list[] = u"C:\\Adobe\\PDFFILT.DLL\0C:\\query.dll\0";
    ASSERT_EQ(RegSetValueExW(index, u"DLLsToRegister", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list), sizeof list),
              ERROR_SUCCESS);
  }
  static void Set(const std::u16string& key, const std::u16string& name, const std::u16string& value) {
    ZYT::Test::SetRegistryString(HKEY_CLASSES_ROOT, key, name, value);
  }
  static std::u16string Value(const std::u16string& key, const std::u16string& name = u"") {
    return ZYT::CRegistryKey(HKEY_CLASSES_ROOT, key, KEY_READ).GetStringValue(name);
  }
  static bool Has(const std::u16string& key, const char16_t* name) {
    ZYT::CRegKey k;
    ULONG chars = 0;
    return k.Open(HKEY_CLASSES_ROOT, key.c_str(), KEY_READ) == ERROR_SUCCESS &&
           k.QueryStringValue(name, nullptr, &chars) == ERROR_SUCCESS;
  }
  static std::string Export(HKEY root, const std::u16string& key) {
    std::string text;
    EXPECT_EQ(ZYT::RegExportKey(root, key, text), ERROR_SUCCESS);
    return text;
  }
  static std::vector<std::u16string> DllList() {
    ZYT::CRegKey key;
    EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, kIndex, KEY_READ), ERROR_SUCCESS);
    char16_t buffer[2048] = {};
    DWORD bytes = sizeof buffer - 2 * sizeof(char16_t);
    EXPECT_EQ(RegQueryValueExW(key, u"DLLsToRegister", nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &bytes),
              ERROR_SUCCESS);
    std::vector<std::u16string> entries;
    for (const char16_t* p = buffer; *p; p += entries.back().size() + 1) entries.emplace_back(p);
    return entries;
  }
};

TEST_F(MachineRegistrationTest, UnconfiguredMachineKeepsItsFiltersAndExtensions) {
  const std::string text = Export(HKEY_CLASSES_ROOT, u"CLSID\\{5E941D80-BF96-11CD-B579-08002B30BFEB}");
  const std::string foo = Export(HKEY_CLASSES_ROOT, u".foo");
  SetConfigured(u"Yes");
  ASSERT_EQ(Call("DllRegisterServer"), S_OK);
  EXPECT_EQ(Export(HKEY_CLASSES_ROOT, u"CLSID\\{5E941D80-BF96-11CD-B579-08002B30BFEB}"), text)
      << "\"Yes\" is not \"yes\": no proxy";
  EXPECT_EQ(Export(HKEY_CLASSES_ROOT, u".foo"), foo);
  EXPECT_FALSE(ZYT::CRegistryKey(HKEY_CLASSES_ROOT, u".qhpd", KEY_READ).IsOpen());
  EXPECT_EQ(DllList(), (std::vector<std::u16string>{u"c:\\query.dll", u"c:\\adobe\\pdffilt.dll",
                                                    ZYT::LongPathOf(ZYT::Utf8ToWide(ZYT_FILTERS_MODULE))}))
      << "the indexer's list is kept on every machine";
}

// Unregistration undoes the proxy and the extension choices even on a machine
// no longer set up for the product.
TEST_F(MachineRegistrationTest, ConfiguredMachineGetsTheProxyUntilUnregistered) {
  SetConfigured(u"yes");
  for (int round = 0; round < 2; ++round) {
    ASSERT_EQ(Call("DllRegisterServer"), S_OK) << round;
    EXPECT_EQ(Value(kTextAddin), kProxy);
    EXPECT_EQ(Value(kTextAddin, u"ZYTOrrerySavedFilterKey"), kTextFilter) << "round " << round;
    EXPECT_EQ(Value(u".foo\\PersistentHandler"), u"{BBBBBBBB-0000-0000-0000-00000000000B}");
    EXPECT_EQ(Value(u".foo\\PersistentHandler", u"ZYTOrrerySavedExtensionKey"), u"{AAAAAAAA-0000-0000-0000-00000000000A}");
    // The module's own handlers get the proxy as well.
    EXPECT_EQ(Value(u"CLSID\\{888471FB-9560-47CF-A4B4-3B9E89B56C6D}\\PersistentAddinsRegistered\\"
                    u"{89BCB740-6119-101A-BCB7-00DD010655AF}"),
              kProxy);
  }
  SetConfigured(u"no");
  ASSERT_EQ(Call("DllUnregisterServer"), S_OK);
  EXPECT_EQ(Value(kTextAddin), kTextFilter);
  EXPECT_FALSE(Has(kTextAddin, u"ZYTOrrerySavedFilterKey"));
  EXPECT_EQ(Value(u".foo\\PersistentHandler"), u"{AAAAAAAA-0000-0000-0000-00000000000A}");
  EXPECT_FALSE(Has(u".foo\\PersistentHandler", u"ZYTOrreryNewExtensionKey"));
  EXPECT_EQ(DllList(), (std::vector<std::u16string>{u"c:\\query.dll", u"c:\\adobe\\pdffilt.dll"}));
}

}  // namespace
