#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "doctypes/ProxyFilterRegistryStuff.h"
#include "module/FiltersModule.h"
#include "platform/win32/PathFunctions.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/Strings.h"
#include "platform/xml/XmlDocument.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;

constexpr char16_t kProxy[] = u"{A71A5A80-E4CA-46C0-9183-0CBC48108EA7}";
constexpr char16_t kAddin[] = u"\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}";
// A text handler with its native filter, and an HTML handler with another.
constexpr char16_t kTextHandler[] = u"{5E941D80-BF96-11CD-B579-08002B30BFEB}";
constexpr char16_t kTextFilter[] = u"{C1243CA0-BF96-11CD-B579-08002B30BFEB}";
constexpr char16_t kHtmlHandler[] = u"{EEC97550-47A9-11CF-B952-00AA0051FE20}";
constexpr char16_t kHtmlFilter[] = u"{E0CA5340-4534-11CF-B952-00AA0051FE20}";

class RegistryStuffTest : public MachineTest {
 protected:
  static std::u16string Addin(const std::u16string& handler) { return u"CLSID\\" + handler + kAddin; }
  static std::u16string Value(const std::u16string& key, const std::u16string& name = u"") {
    return ZYT::CRegistryKey(HKEY_CLASSES_ROOT, key, KEY_READ).GetStringValue(name);
  }
  static bool HasValue(const std::u16string& key, const char16_t* name) {
    ZYT::CRegKey k;
    if (k.Open(HKEY_CLASSES_ROOT, key.c_str(), KEY_READ) != ERROR_SUCCESS) return false;
    ULONG chars = 0;
    return k.QueryStringValue(name, nullptr, &chars) == ERROR_SUCCESS;
  }
  static void Set(const std::u16string& key, const std::u16string& name, const std::u16string& value) {
    SetRegistryString(HKEY_CLASSES_ROOT, key, name, value);
  }
  // Two handlers with native filters, as a machine has them before the product.
  void NativeMachine() {
    Set(u"CLSID\\" + std::u16string(kTextHandler), u"", u"Plain Text persistent handler");
    Set(Addin(kTextHandler), u"", kTextFilter);
    Set(u".txt\\PersistentHandler", u"", kTextHandler);
    Set(u"CLSID\\" + std::u16string(kHtmlFilter), u"", u"HTML filter");
    Set(Addin(kHtmlHandler), u"", u"{e0ca5340-4534-11cf-b952-00aa0051fe20}");
    Set(u".html\\PersistentHandler", u"", u"{eec97550-47a9-11cf-b952-00aa0051fe20}");
  }
  static ZYT::XmlDocument Parse(const std::u16string& xml) {
    ZYT::XmlDocument document;
    EXPECT_TRUE(document.LoadXml(ZYT::WideToUtf8(xml))) << ZYT::WideToUtf8(xml);
    return document;
  }
};

TEST_F(RegistryStuffTest, FilterInventoryNamesEachHandlersNativeFilter) {
  NativeMachine();
  // A handler whose add-in is already the proxy, with the native filter saved
  // and described by its module only.
  const std::u16string proxied = u"{11111111-2222-3333-4444-555555555555}";
  Set(Addin(proxied), u"", kProxy);
  Set(Addin(proxied), u"ZYTOrrerySavedFilterKey", u"{aaaaaaaa-2222-3333-4444-555555555555}");
  Set(u"CLSID\\{aaaaaaaa-2222-3333-4444-555555555555}\\InprocServer32", u"", u"/lib/other.dll");
  // A class without an IFilter add-in is no handler.
  Set(u"CLSID\\{22222222-2222-3333-4444-555555555555}\\InprocServer32", u"", u"/lib/x.dll");
  // The proxy's CLSID in another letter case is not the proxy.
  const std::u16string lower = u"{33333333-2222-3333-4444-555555555555}";
  Set(Addin(lower), u"", ZYT::ToLower(kProxy));

  CProxyFilterRegistryStuff stuff;
  ZYT::XmlDocument document = Parse(stuff.InventoryRegisteredFilters());
  EXPECT_EQ(document.DocumentElement().Name(), "registered-filters");
  EXPECT_EQ(document.SelectNodes("/registered-filters/filter").size(), 4u);

  ZYT::XmlNode text = document.SelectSingleNode("//filter[@PersistentHandler='{5E941D80-BF96-11CD-B579-08002B30BFEB}']");
  ASSERT_TRUE(text);
  EXPECT_EQ(text.Attribute("IFilter"), "{C1243CA0-BF96-11CD-B579-08002B30BFEB}");
  EXPECT_EQ(text.Attribute("proxy"), "false");
  EXPECT_EQ(text.Text(), "Plain Text persistent handler");

  ZYT::XmlNode html = document.SelectSingleNode("//filter[@PersistentHandler='{EEC97550-47A9-11CF-B952-00AA0051FE20}']");
  ASSERT_TRUE(html) << "the handler's key name is upper-cased";
  EXPECT_EQ(html.Attribute("IFilter"), "{E0CA5340-4534-11CF-B952-00AA0051FE20}") << "upper-cased";
  EXPECT_EQ(html.Text(), "") << "no description of the handler and nothing saved";

  ZYT::XmlNode saved = document.SelectSingleNode("//filter[@PersistentHandler='{11111111-2222-3333-4444-555555555555}']");
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved.Attribute("proxy"), "true");
  EXPECT_EQ(saved.Attribute("IFilter"), "{AAAAAAAA-2222-3333-4444-555555555555}") << "the saved native filter";
  EXPECT_EQ(saved.Text(), "/lib/other.dll") << "the saved filter's module when it has no description";

  ZYT::XmlNode other = document.SelectSingleNode("//filter[@PersistentHandler='{33333333-2222-3333-4444-555555555555}']");
  ASSERT_TRUE(other);
  EXPECT_EQ(other.Attribute("proxy"), "false");
  EXPECT_EQ(other.Attribute("IFilter"), ZYT::WideToUtf8(kProxy));
}

TEST_F(RegistryStuffTest, ExtensionInventoryFallsBackToTheProgIdsHandler) {
  NativeMachine();
  // No PersistentHandler of its own: through the ProgID's document class.
  Set(u".doc", u"", u"Word.Document.8");
  Set(u"Word.Document.8\\CLSID", u"", u"{00020906-0000-0000-C000-000000000046}");
  Set(u"CLSID\\{00020906-0000-0000-C000-000000000046}\\PersistentHandler", u"", u"{98de59a0-d175-11cd-a7bd-00006b827d94}");
  // A ProgID that leads nowhere, an empty handler, and a key that is no extension.
  Set(u".xyz", u"", u"Nothing.Here");
  Set(u".nul\\PersistentHandler", u"", u"");
  Set(u"txtfile\\PersistentHandler", u"", kTextHandler);

  CProxyFilterRegistryStuff stuff;
  ZYT::XmlDocument document = Parse(stuff.InventoryExtensions());
  EXPECT_EQ(document.DocumentElement().Name(), "inventory-extensions-ret");
  std::vector<std::string> found;
  for (const ZYT::XmlNode& e : document.SelectNodes("/inventory-extensions-ret/extensions/extension"))
    found.push_back(e.Attribute("name") + "=" + e.Attribute("persistent-handler"));
  std::sort(found.begin(), found.end());
  EXPECT_EQ(found, (std::vector<std::string>{".doc={98DE59A0-D175-11CD-A7BD-00006B827D94}",
                                             ".html={EEC97550-47A9-11CF-B952-00AA0051FE20}",
                                             ".txt={5E941D80-BF96-11CD-B579-08002B30BFEB}"}));
}

TEST_F(RegistryStuffTest, InventoriesOfAnEmptyMachineAreEmptyDocuments) {
  CProxyFilterRegistryStuff stuff;
  EXPECT_TRUE(Parse(stuff.InventoryRegisteredFilters()).SelectNodes("//filter").empty());
  ZYT::XmlDocument extensions = Parse(stuff.InventoryExtensions());
  EXPECT_TRUE(extensions.SelectSingleNode("/inventory-extensions-ret/extensions"));
  EXPECT_TRUE(extensions.SelectNodes("//extension").empty());
}

TEST_F(RegistryStuffTest, ProxyGoesInFrontOfEveryFilterOnceAndComesAwayAgain) {
  NativeMachine();
  Set(u"CLSID\\{4C904448-74A9-11d0-AF6E-00C04FD8DC02}\\InprocServer32", u"", u"/lib/offfilt.dll");
  CProxyFilterRegistryStuff stuff;
  for (int round = 0; round < 2; ++round) {
    stuff.ApplyProxyToFilters(true, stuff.InventoryRegisteredFilters());
    for (const char16_t* handler : {kTextHandler, kHtmlHandler}) {
      EXPECT_EQ(Value(Addin(handler)), kProxy) << round;
    }
    EXPECT_EQ(Value(Addin(kTextHandler), u"ZYTOrrerySavedFilterKey"), kTextFilter) << "round " << round;
    EXPECT_EQ(Value(Addin(kHtmlHandler), u"ZYTOrrerySavedFilterKey"), kHtmlFilter)
        << "round " << round << ": the native filter upper-cased, never the proxy";
  }
  EXPECT_EQ(Value(u"CLSID\\{4C904448-74A9-11d0-AF6E-00C04FD8DC02}\\InprocServer32", u"ThreadingModel"), u"Both");

  stuff.ApplyProxyToFilters(false, stuff.InventoryRegisteredFilters());
  EXPECT_EQ(Value(Addin(kTextHandler)), kTextFilter);
  EXPECT_EQ(Value(Addin(kHtmlHandler)), kHtmlFilter);
  for (const char16_t* handler : {kTextHandler, kHtmlHandler})
    EXPECT_FALSE(HasValue(Addin(handler), u"ZYTOrrerySavedFilterKey")) << ZYT::WideToUtf8(handler);
}

TEST_F(RegistryStuffTest, ApplyingTheProxyLendsHandlersToProductExtensions) {
  CProxyFilterRegistryStuff stuff;
  // Without ".html" the stored web pages get the machine's HTML handler by name.
  stuff.ApplyProxyToFilters(false, u"<registered-filters/>");
  EXPECT_EQ(Value(u".qhpd\\PersistentHandler"), u"{eec97550-47a9-11cf-b952-00aa0051fe20}");
  EXPECT_FALSE(ZYT::CRegistryKey(HKEY_CLASSES_ROOT, u".zot", KEY_READ).IsOpen()) << "no key is made for .zot";

  Set(u".html\\PersistentHandler", u"", u"{11111111-0000-0000-0000-000000000001}");
  Set(u".exe\\PersistentHandler", u"", u"{098f2470-bae0-11cd-b579-08002b30bfeb}");
  Set(u".zot", u"", u"");
  Set(u".pub\\PersistentHandler", u"", u"{22222222-0000-0000-0000-000000000002}");
  stuff.ApplyProxyToFilters(true, u"<registered-filters/>");
  EXPECT_EQ(Value(u".qhpd\\PersistentHandler"), u"{11111111-0000-0000-0000-000000000001}");
  EXPECT_EQ(Value(u".zot\\PersistentHandler"), u"{098F2470-BAE0-11CD-B579-08002B30BFEB}");
  EXPECT_EQ(Value(u".pub\\PersistentHandler"), u"{22222222-0000-0000-0000-000000000002}") << "its own handler stays";
  EXPECT_FALSE(ZYT::CRegistryKey(HKEY_CLASSES_ROOT, u"CLSID\\{4C904448-74A9-11d0-AF6E-00C04FD8DC02}", KEY_READ).IsOpen())
      << "ThreadingModel only where the server is registered";
}

TEST_F(RegistryStuffTest, BrokenFilterListChangesNothing) {
  NativeMachine();
  CProxyFilterRegistryStuff stuff;
  stuff.ApplyProxyToFilters(true, u"<registered-filters><filter");
  EXPECT_EQ(Value(Addin(kTextHandler)), kTextFilter);
  // A handler the list names that has no add-in key is passed over.
  stuff.ApplyProxyToFilters(
      true, u"<registered-filters><filter PersistentHandler=\"{99999999-0000-0000-0000-000000000009}\" IFilter=\"x\" "
            u"proxy=\"false\"/></registered-filters>");
  EXPECT_FALSE(ZYT::CRegistryKey(HKEY_CLASSES_ROOT, u"CLSID\\{99999999-0000-0000-0000-000000000009}", KEY_READ).IsOpen());
  EXPECT_THROW(stuff.ApplyExtensionChoices(true, u"<inventory-extensions-ret>"), _com_error);
}

TEST_F(RegistryStuffTest, ExtensionChoicesAreAppliedOnceAndUndone) {
  const std::u16string key = u".odt\\PersistentHandler";
  Set(key, u"", u"{aaaaaaaa-0000-0000-0000-00000000000a}");
  Set(key, u"ZYTOrreryNewExtensionKey", u"{BBBBBBBB-0000-0000-0000-00000000000B}");
  // Chosen through the document type manager and undone since: nothing to apply.
  Set(u".ods\\PersistentHandler", u"", u"{cccccccc-0000-0000-0000-00000000000c}");
  CProxyFilterRegistryStuff stuff;
  for (int round = 0; round < 2; ++round) {
    stuff.ApplyExtensionChoices(true, stuff.InventoryExtensions());
    EXPECT_EQ(Value(key), u"{BBBBBBBB-0000-0000-0000-00000000000B}") << round;
    EXPECT_EQ(Value(key, u"ZYTOrrerySavedExtensionKey"), u"{AAAAAAAA-0000-0000-0000-00000000000A}")
        << "round " << round << ": what the extension had first, upper-cased";
  }
  EXPECT_EQ(Value(u".ods\\PersistentHandler"), u"{cccccccc-0000-0000-0000-00000000000c}");
  EXPECT_FALSE(HasValue(u".ods\\PersistentHandler", u"ZYTOrrerySavedExtensionKey"));

  stuff.ApplyExtensionChoices(false, stuff.InventoryExtensions());
  EXPECT_EQ(Value(key), u"{AAAAAAAA-0000-0000-0000-00000000000A}");
  EXPECT_FALSE(HasValue(key, u"ZYTOrreryNewExtensionKey"));
}

TEST_F(RegistryStuffTest, ChoiceWithoutADefaultStopsTheBinding) {
  // The handler key has the product's choice but no default; the extension
  // is listed through its ProgID.
  Set(u".abc", u"", u"Abc.Document");
  Set(u"Abc.Document\\CLSID", u"", u"{dddddddd-0000-0000-0000-00000000000d}");
  Set(u"CLSID\\{dddddddd-0000-0000-0000-00000000000d}\\PersistentHandler", u"", u"{eeeeeeee-0000-0000-0000-00000000000e}");
  Set(u".abc\\PersistentHandler", u"ZYTOrreryNewExtensionKey", u"{BBBBBBBB-0000-0000-0000-00000000000B}");
  CProxyFilterRegistryStuff stuff;
  std::u16string inventory = stuff.InventoryExtensions();
  ASSERT_NE(inventory.find(u"name=\".abc\""), std::u16string::npos) << ZYT::WideToUtf8(inventory);
  try {
    stuff.ApplyExtensionChoices(true, inventory);
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "Fail, no default value");
  }
  EXPECT_FALSE(HasValue(u".abc\\PersistentHandler", u"")) << "nothing written";
  EXPECT_FALSE(HasValue(u".abc\\PersistentHandler", u"ZYTOrrerySavedExtensionKey"));
}

class DllListTest : public RegistryStuffTest {
 protected:
  static constexpr char16_t kIndex[] = u"SYSTEM\\CurrentControlSet\\Control\\ContentIndex";
  void SetList(const std::vector<std::u16string>& entries, DWORD type = REG_MULTI_SZ) {
    ZYT::CRegKey key;
    ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, kIndex), ERROR_SUCCESS);
    std::u16string data;
    for (const auto& e : entries) data += e + u'\0';
    data += u'\0';
    ASSERT_EQ(RegSetValueExW(key, u"DLLsToRegister", 0, type, reinterpret_cast<const BYTE*>(data.data()),
                             static_cast<DWORD>(data.size() * sizeof(char16_t))),
              ERROR_SUCCESS);
  }
  std::vector<std::u16string> List(DWORD* type = nullptr) {
    ZYT::CRegKey key;
    EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, kIndex, KEY_READ), ERROR_SUCCESS);
    std::vector<char16_t> buffer(40000);
    DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(char16_t)), t = 0;
    EXPECT_EQ(RegQueryValueExW(key, u"DLLsToRegister", nullptr, &t, reinterpret_cast<BYTE*>(buffer.data()), &bytes),
              ERROR_SUCCESS);
    if (type) *type = t;
    std::vector<std::u16string> entries;
    size_t end = bytes / sizeof(char16_t);
    EXPECT_GE(end, 2u);
    EXPECT_EQ(buffer[end - 1], u'\0');
    EXPECT_EQ(buffer[end - 2], u'\0') << "the list ends with a second NUL";
    for (size_t pos = 0; pos < end && buffer[pos];) {
      entries.emplace_back(buffer.data() + pos);
      pos += entries.back().size() + 1;
    }
    return entries;
  }
};

TEST_F(DllListTest, ThisModuleComesLastAfterThePdfFilter) {
  SetList({u"C:\\WINDOWS\\system32\\query.dll", u"C:\\Old\\ZYTFILTERS.DLL", u"C:\\Adobe\\PDFFILT.dll",
           u"C:\\WINDOWS\\system32\\nlhtml.dll"});
  const std::u16string self = ZYT::LongPathOf(g_modulePath);
  ASSERT_FALSE(self.empty());
  CProxyFilterRegistryStuff stuff;
  stuff.UpdateDllsToRegister(true);
  DWORD type = 0;
  EXPECT_EQ(List(&type), (std::vector<std::u16string>{u"c:\\windows\\system32\\query.dll",
                                                      u"c:\\windows\\system32\\nlhtml.dll", u"c:\\adobe\\pdffilt.dll",
                                                      self}));
  EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
  stuff.UpdateDllsToRegister(true);
  EXPECT_EQ(List().size(), 4u) << "registering again adds no second entry";

  stuff.UpdateDllsToRegister(false);
  EXPECT_EQ(List(), (std::vector<std::u16string>{u"c:\\windows\\system32\\query.dll",
                                                 u"c:\\windows\\system32\\nlhtml.dll", u"c:\\adobe\\pdffilt.dll"}));
}

TEST_F(DllListTest, NoListNoChange) {
  CProxyFilterRegistryStuff stuff;
  stuff.UpdateDllsToRegister(true);
  EXPECT_FALSE(ZYT::CRegistryKey(HKEY_LOCAL_MACHINE, kIndex, KEY_READ).IsOpen());
  ZYT::CRegKey key;
  ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, kIndex), ERROR_SUCCESS);
  stuff.UpdateDllsToRegister(true);
  EXPECT_NE(RegQueryValueExW(key, u"DLLsToRegister", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS)
      << "no value is made";
  // A list longer than the buffer is left as it is rather than cut.
  std::vector<std::u16string> many(600, u"c:\\windows\\system32\\some-long-module-name.dll");
  SetList(many);
  stuff.UpdateDllsToRegister(true);
  EXPECT_EQ(List(), many);
}

}  // namespace
