// The product's set-up through the real zytfilt: registration puts the catalog
// proxy in front of every filter, the machine's own handlers included, and
// unregistration gives each its native filter back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/Registry.h"
#include "platform/win32/RegistryFile.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/Strings.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/ZytfiltMachine.h"

namespace ZYT::Test {
namespace {

constexpr char kProxy[] = "{A71A5A80-E4CA-46C0-9183-0CBC48108EA7}";
constexpr char kTextFilter[] = "{C1243CA0-BF96-11CD-B579-08002B30BFEB}";
constexpr char kTextAddinKey[] =
    "HKCR\\CLSID\\{5E941D80-BF96-11CD-B579-08002B30BFEB}\\PersistentAddinsRegistered\\"
    "{89BCB740-6119-101A-BCB7-00DD010655AF}";
// A filter of another vendor, registered by hand as its installer would.
constexpr char16_t kForeignAddin[] =
    u"SOFTWARE\\Classes\\CLSID\\{F0F0F0F0-0000-0000-0000-0000000000F0}\\PersistentAddinsRegistered\\"
    u"{89BCB740-6119-101A-BCB7-00DD010655AF}";

class RegistrationProxySetupTest : public ZytfiltMachineTest {
 protected:
  std::string Export(const std::string& key) {
    ProcessResult o = Zytfilt({"reg", "export", key});
    EXPECT_EQ(o.status, 0) << o.err;
    return o.out;
  }
  static std::string ClassesExport() {
    std::string text;
    EXPECT_EQ(RegExportKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\CLSID", text), ERROR_SUCCESS);
    return text;
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t pos = 0; (pos = text.find(what, pos)) != std::string::npos; pos += what.size()) ++n;
    return n;
  }
};

TEST_F(RegistrationProxySetupTest, SetupForTheProductPutsTheProxyInFrontAndUnregisterTakesItAway) {
  WriteBytes(PathIn("home/note.txt"), "Hello proxy world.\n");
  ASSERT_EQ(Zytfilt({"setup"}).status, 0);
  SetRegistryString(HKEY_LOCAL_MACHINE, kForeignAddin, u"", u"{f1f1f1f1-0000-0000-0000-0000000000f1}");
  const std::string machine = ClassesExport();
  ASSERT_EQ(Count(machine, "@=\"" + std::string(kProxy) + "\""), 0u) << "the proxy is registered, but in front of nothing";

  for (int round = 0; round < 2; ++round) {
    ProcessResult setup = Zytfilt({"setup", "--product"});
    ASSERT_EQ(setup.status, 0) << setup.err;
    std::string text = Export(kTextAddinKey);
    EXPECT_NE(text.find("@=\"" + std::string(kProxy) + "\""), std::string::npos) << "round " << round << "\n" << text;
    EXPECT_NE(text.find("\"ZYTOrrerySavedFilterKey\"=\"" + std::string(kTextFilter) + "\""), std::string::npos)
        << "round " << round << ": the text filter, never the proxy\n"
        << text;
    EXPECT_EQ(CRegistryKey(HKEY_LOCAL_MACHINE, kForeignAddin, KEY_READ).GetStringValue(u"ZYTOrrerySavedFilterKey"),
              u"{F1F1F1F1-0000-0000-0000-0000000000F1}")
        << "the other vendor's filter is saved as well";
  }

  // No option: the registry's choice for a text file is now the proxy.
  ProcessResult o = Zytfilt({"dump", "--json", PathIn("home/note.txt")});
  ASSERT_EQ(o.status, 0) << o.err;
  std::vector<std::string> lines = Lines(o.out);
  ASSERT_EQ(lines.size(), 6u) << o.out;
  EXPECT_NE(lines[0].find("\"text\":\"Hello proxy world.\""), std::string::npos) << lines[0];
  const std::string product = "\"propset\":\"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}\",\"propid\":";
  for (int id = 2; id <= 4; ++id)
    EXPECT_NE(lines[id - 1].find(product + std::to_string(id) + ","), std::string::npos) << lines[id - 1];
  EXPECT_NE(lines[4].find("\"propset\":\"{F29F85E0-4FF9-1068-AB91-08002B27B3D9}\",\"propid\":5,"), std::string::npos)
      << "keywords: " << lines[4];

  ProcessResult unregister = Zytfilt({"unregister", "zytfilters"});
  ASSERT_EQ(unregister.status, 0) << unregister.err;
  std::string after = ClassesExport();
  EXPECT_EQ(Count(after, "ZYTOrrerySavedFilterKey"), 0u) << after;
  EXPECT_EQ(Count(after, kProxy), 0u) << "no add-in names the proxy, whose class is gone too";
  std::string text = Export(kTextAddinKey);
  EXPECT_NE(text.find("@=\"" + std::string(kTextFilter) + "\""), std::string::npos) << text;
  EXPECT_EQ(CRegistryKey(HKEY_LOCAL_MACHINE, kForeignAddin, KEY_READ).GetStringValue(u""),
            u"{F1F1F1F1-0000-0000-0000-0000000000F1}")
      << "back to its native filter (saved upper-case)";
}

// Earlier set-ups recorded the native filter without installing the proxy;
// such a value would later be taken for the filter the proxy replaced.
TEST_F(RegistrationProxySetupTest, SetupRemovesSavedFiltersLeftBesideOtherFilters) {
  ASSERT_EQ(Zytfilt({"setup"}).status, 0);
  SetRegistryString(HKEY_LOCAL_MACHINE, kForeignAddin, u"", u"{F1F1F1F1-0000-0000-0000-0000000000F1}");
  SetRegistryString(HKEY_LOCAL_MACHINE, kForeignAddin, u"ZYTOrrerySavedFilterKey", u"{F2F2F2F2-0000-0000-0000-0000000000F2}");
  // Beside the proxy the value is the proxy's own and stays.
  const std::u16string proxied =
      u"SOFTWARE\\Classes\\CLSID\\{F3F3F3F3-0000-0000-0000-0000000000F3}\\PersistentAddinsRegistered\\"
      u"{89BCB740-6119-101A-BCB7-00DD010655AF}";
  SetRegistryString(HKEY_LOCAL_MACHINE, proxied, u"", Utf8ToWide(kProxy));
  SetRegistryString(HKEY_LOCAL_MACHINE, proxied, u"ZYTOrrerySavedFilterKey", u"{F4F4F4F4-0000-0000-0000-0000000000F4}");

  ProcessResult o = Zytfilt({"setup"});
  ASSERT_EQ(o.status, 0) << o.err;
  CRegKey foreign;
  ASSERT_EQ(foreign.Open(HKEY_LOCAL_MACHINE, kForeignAddin, KEY_READ), ERROR_SUCCESS);
  ULONG chars = 0;
  EXPECT_EQ(foreign.QueryStringValue(u"ZYTOrrerySavedFilterKey", nullptr, &chars), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CRegistryKey(HKEY_LOCAL_MACHINE, kForeignAddin, KEY_READ).GetStringValue(u""),
            u"{F1F1F1F1-0000-0000-0000-0000000000F1}")
      << "the machine's not set up for the product: its filter stays the indexer's choice";
  EXPECT_EQ(CRegistryKey(HKEY_LOCAL_MACHINE, proxied, KEY_READ).GetStringValue(u"ZYTOrrerySavedFilterKey"),
            u"{F4F4F4F4-0000-0000-0000-0000000000F4}");

  // Set up for the product, the stale value cannot come back as the native filter.
  SetRegistryString(HKEY_LOCAL_MACHINE, kForeignAddin, u"ZYTOrrerySavedFilterKey", u"{F2F2F2F2-0000-0000-0000-0000000000F2}");
  ASSERT_EQ(Zytfilt({"setup", "--product"}).status, 0);
  EXPECT_EQ(CRegistryKey(HKEY_LOCAL_MACHINE, kForeignAddin, KEY_READ).GetStringValue(u"ZYTOrrerySavedFilterKey"),
            u"{F1F1F1F1-0000-0000-0000-0000000000F1}");
  ASSERT_EQ(Zytfilt({"unregister", "zytfilters"}).status, 0);
  EXPECT_EQ(CRegistryKey(HKEY_LOCAL_MACHINE, kForeignAddin, KEY_READ).GetStringValue(u""),
            u"{F1F1F1F1-0000-0000-0000-0000000000F1}");
}

// An extension choice that cannot be applied does not fail the set-up: the
// module is registered and the proxy installed; zytfilt says what is left.
TEST_F(RegistrationProxySetupTest, ExtensionChoiceWithoutADefaultIsReportedNotFatal) {
  ASSERT_EQ(Zytfilt({"setup"}).status, 0);
  SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.bad", u"", u"Bad.Document");
  SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\Bad.Document\\CLSID", u"",
                    u"{F5F5F5F5-0000-0000-0000-0000000000F5}");
  SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\CLSID\\{F5F5F5F5-0000-0000-0000-0000000000F5}\\PersistentHandler",
                    u"", u"{F6F6F6F6-0000-0000-0000-0000000000F6}");
  SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.bad\\PersistentHandler", u"ZYTOrreryNewExtensionKey",
                    u"{F7F7F7F7-0000-0000-0000-0000000000F7}");
  ProcessResult o = Zytfilt({"setup", "--product"});
  EXPECT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.err.find("not every filter or extension could be changed"), std::string::npos) << o.err;
  std::string text = Export(kTextAddinKey);
  EXPECT_NE(text.find("@=\"" + std::string(kProxy) + "\""), std::string::npos) << text;
  EXPECT_EQ(CRegistryKey(HKEY_CLASSES_ROOT, u".bad\\PersistentHandler", KEY_READ).GetStringValue(u""), u"")
      << "no default was made up";
}

}  // namespace
}  // namespace ZYT::Test
