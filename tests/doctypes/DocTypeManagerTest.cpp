#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "doctypes/DocTypeManager.h"
#include "platform/com/ComVariant.h"
#include "platform/win32/Registry.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"
#include "platform/xml/XmlDocument.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using ZYT::CBstr;
using ZYT::ComPtr;

constexpr char16_t kTextHandler[] = u"{5e941d80-bf96-11cd-b579-08002b30bfeb}";
constexpr char16_t kAdapterHandler[] = u"{32E04D13-5E47-11D7-B40F-00D009EF4932}";
constexpr char16_t kXmlProxyHandler[] = u"{32E04D19-5E47-11D7-B40F-00D009EF4932}";

// A value under HKEY_CLASSES_ROOT; "<missing>" when the key or value is not there.
std::u16string Classes(const std::u16string& key, const char16_t* name = nullptr) {
  ZYT::CRegKey k;
  if (k.Open(HKEY_CLASSES_ROOT, key.c_str(), KEY_READ) != ERROR_SUCCESS) return u"<missing>";
  WCHAR buffer[256] = {};
  ULONG chars = 256;
  if (k.QueryStringValue(name, buffer, &chars) != ERROR_SUCCESS) return u"<missing>";
  return buffer;
}

bool ClassesKeyExists(const std::u16string& key) {
  ZYT::CRegKey k;
  return k.Open(HKEY_CLASSES_ROOT, key.c_str(), KEY_READ) == ERROR_SUCCESS;
}

std::string U8(const std::u16string& text) { return ZYT::WideToUtf8(text); }

class DocTypeManagerTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ASSERT_EQ(ZYT::CComObject<CDocTypeManager>::Create(m_object), S_OK);
    m_manager = m_object.get();
  }
  void TearDown() override {
    m_manager = nullptr;
    m_object.Reset();
    ZYT::SetRegistryRootReadOnly(HKEY_LOCAL_MACHINE, false);
    MachineTest::TearDown();
  }
  // The registry writer lives in the components module.
  void InstallWriter() { ASSERT_EQ(RegisterModule(ZYT_COMPONENTS_MODULE), S_OK); }

  HRESULT SetFilter(const std::u16string& ext, const std::u16string& guid) {
    return m_manager->SetFilter(CBstr(ext).get(), CBstr(guid).get());
  }
  std::u16string GetFilter(const std::u16string& ext) {
    CBstr out;
    HRESULT hr = m_manager->GetFilter(CBstr(ext).get(), out.put());
    return SUCCEEDED(hr) ? out.str() : u"<failed>";
  }
  std::u16string GetThumbnailer(const std::u16string& ext) {
    CBstr out;
    EXPECT_EQ(m_manager->GetThumbnailer(CBstr(ext).get(), out.put()), S_OK);
    return out.str();
  }

  ComPtr<ZYT::CComObject<CDocTypeManager>> m_object;
  IOrreryDocTypeManager* m_manager = nullptr;
};

TEST_F(DocTypeManagerTest, SetFilterOnAnExtensionWithoutHandlerIsUndoneByRemovingTheKey) {
  InstallWriter();
  SetRegistryString(HKEY_CLASSES_ROOT, u".foo", u"", u"foofile");
  ASSERT_EQ(SetFilter(u".foo", kAdapterHandler), S_OK);
  // Without its dot the extension is the same one; here it had no key at all.
  ASSERT_EQ(SetFilter(u"bar", kXmlProxyHandler), S_OK);
  EXPECT_EQ(GetFilter(u".foo"), kAdapterHandler);
  EXPECT_EQ(GetFilter(u".bar"), kXmlProxyHandler);
  EXPECT_EQ(Classes(u".foo\\PersistentHandler", u"ZYTOrreryTempPH"), u"") << "the key is marked as made by us";
  EXPECT_EQ(Classes(u".foo\\PersistentHandler", u"ZYTOrreryNewExtensionKey"), kAdapterHandler);

  ASSERT_EQ(m_manager->RestoreDefaults(), S_OK);
  EXPECT_FALSE(ClassesKeyExists(u".foo\\PersistentHandler"));
  EXPECT_FALSE(ClassesKeyExists(u".bar\\PersistentHandler"));
  EXPECT_EQ(Classes(u".foo"), u"foofile") << "the extension's own key stays";
  EXPECT_EQ(GetFilter(u".foo"), u"<failed>");
  EXPECT_EQ(Classes(u"", u"ZYTTest"), u"<missing>") << "the probe value is removed again";
}

TEST_F(DocTypeManagerTest, SetFilterTwiceKeepsTheFirstHandlerForRestore) {
  InstallWriter();
  SetRegistryString(HKEY_CLASSES_ROOT, u".txt\\PersistentHandler", u"", kTextHandler);
  ASSERT_EQ(SetFilter(u"txt", kAdapterHandler), S_OK);
  ASSERT_EQ(SetFilter(u".txt", kXmlProxyHandler), S_OK);
  EXPECT_EQ(GetFilter(u".txt"), kXmlProxyHandler);
  EXPECT_EQ(Classes(u".txt\\PersistentHandler", u"ZYTOrrerySavedExtensionKey"), ZYT::ToUpper(kTextHandler));
  EXPECT_EQ(Classes(u".txt\\PersistentHandler", u"ZYTOrreryNewExtensionKey"), kXmlProxyHandler);
  EXPECT_EQ(Classes(u".txt\\PersistentHandler", u"ZYTOrreryTempPH"), u"<missing>");

  ASSERT_EQ(m_manager->RestoreDefaults(), S_OK);
  EXPECT_EQ(GetFilter(u".txt"), ZYT::ToUpper(kTextHandler));
  EXPECT_EQ(Classes(u".txt\\PersistentHandler", u"ZYTOrrerySavedExtensionKey"), u"<missing>");
  EXPECT_EQ(Classes(u".txt\\PersistentHandler", u"ZYTOrreryNewExtensionKey"), u"<missing>");
  // A second restore finds nothing left to undo.
  ASSERT_EQ(m_manager->RestoreDefaults(), S_OK);
  EXPECT_EQ(GetFilter(u".txt"), ZYT::ToUpper(kTextHandler));
}

TEST_F(DocTypeManagerTest, GetFilterReadsTheExtensionAsGiven) {
  SetRegistryString(HKEY_CLASSES_ROOT, u".txt\\PersistentHandler", u"", kTextHandler);
  EXPECT_EQ(GetFilter(u".txt"), kTextHandler) << "as stored, not upper-cased";
  EXPECT_EQ(GetFilter(u"txt"), u"<failed>");
  EXPECT_EQ(GetFilter(u".none"), u"<failed>");
  EXPECT_EQ(m_manager->GetFilter(CBstr(u".txt").get(), nullptr), E_POINTER);
}

TEST_F(DocTypeManagerTest, ThumbnailerDefaultsToTheInternalOneAndChoosingItRemovesAStoredOne) {
  InstallWriter();
  SetRegistryString(HKEY_CLASSES_ROOT, u".png", u"", u"pngfile");
  EXPECT_EQ(GetThumbnailer(u".png"), u"Internal Thumbnailer");
  EXPECT_EQ(GetThumbnailer(u".never"), u"Internal Thumbnailer");

  ASSERT_EQ(m_manager->SetThumbnailer(CBstr(u".png").get(), CBstr(u"Gallery").get()), S_OK);
  EXPECT_EQ(GetThumbnailer(u".png"), u"Gallery");
  EXPECT_EQ(Classes(u".png\\ZYTThumbnail"), u"Gallery");

  ASSERT_EQ(m_manager->SetThumbnailer(CBstr(u".png").get(), CBstr(u"Internal Thumbnailer").get()), S_OK);
  EXPECT_FALSE(ClassesKeyExists(u".png\\ZYTThumbnail"));
  EXPECT_EQ(GetThumbnailer(u".png"), u"Internal Thumbnailer");

  ASSERT_EQ(m_manager->SetThumbnailer(CBstr(u".png").get(), CBstr(u"Gallery").get()), S_OK);
  ASSERT_EQ(m_manager->SetThumbnailer(CBstr(u".png").get(), CBstr(u"").get()), S_OK);
  EXPECT_FALSE(ClassesKeyExists(u".png\\ZYTThumbnail")) << "an empty choice is the internal one too";

  // Choosing the internal thumbnailer for an unknown extension makes no key.
  ASSERT_EQ(m_manager->SetThumbnailer(CBstr(u".never").get(), CBstr(u"Internal Thumbnailer").get()), S_OK);
  EXPECT_FALSE(ClassesKeyExists(u".never"));

  // An empty stored value counts as none.
  SetRegistryString(HKEY_CLASSES_ROOT, u".png\\ZYTThumbnail", u"", u"");
  EXPECT_EQ(GetThumbnailer(u".png"), u"Internal Thumbnailer");
  // Restore removes a stored thumbnailer.
  ASSERT_EQ(m_manager->SetThumbnailer(CBstr(u".png").get(), CBstr(u"Gallery").get()), S_OK);
  ASSERT_EQ(m_manager->RestoreDefaults(), S_OK);
  EXPECT_FALSE(ClassesKeyExists(u".png\\ZYTThumbnail"));
}

TEST_F(DocTypeManagerTest, SimpleAndXmlFilterChoicesAreStoredPerExtension) {
  InstallWriter();
  CBstr out;
  EXPECT_EQ(m_manager->GetISimpleFilterGuid(CBstr(u".log").get(), out.put()), E_FAIL);
  EXPECT_EQ(m_manager->GetXMLFilterName(CBstr(u".odt").get(), out.put()), E_FAIL);
  ASSERT_EQ(m_manager->SetISimpleFilter(CBstr(u".log").get(), CBstr(u"{1EA6ECE6-4BB3-4e6e-9ECE-9AB728505106}").get()),
            S_OK);
  ASSERT_EQ(m_manager->SetXMLFilter(CBstr(u".odt").get(), CBstr(u"unzip -p \"%1\" content.xml").get()), S_OK);
  ASSERT_EQ(m_manager->GetISimpleFilterGuid(CBstr(u".log").get(), out.put()), S_OK);
  EXPECT_EQ(out.str(), u"{1EA6ECE6-4BB3-4e6e-9ECE-9AB728505106}");
  ASSERT_EQ(m_manager->GetXMLFilterName(CBstr(u".odt").get(), out.put()), S_OK);
  EXPECT_EQ(out.str(), u"unzip -p \"%1\" content.xml");
  // The key the XML proxy filter reads its converter from.
  ZYT::CRegistryKey proxy(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Orrery\\Filters\\XMLProxyFilter\\.odt", KEY_READ);
  EXPECT_EQ(proxy.GetStringValue(u""), u"unzip -p \"%1\" content.xml");
  // An empty simple filter is no choice.
  ASSERT_EQ(m_manager->SetISimpleFilter(CBstr(u".log").get(), CBstr(u"").get()), S_OK);
  EXPECT_EQ(m_manager->GetISimpleFilterGuid(CBstr(u".log").get(), out.put()), E_FAIL);
}

TEST_F(DocTypeManagerTest, WritesFailWithoutTheRegistryWriter) {
  // Every change but the direct restore goes through the writer; a machine
  // without one refuses them instead of writing behind its back.
  EXPECT_TRUE(FAILED(SetFilter(u".foo", kAdapterHandler)));
  EXPECT_TRUE(FAILED(m_manager->SetThumbnailer(CBstr(u".foo").get(), CBstr(u"Gallery").get())));
  EXPECT_FALSE(ClassesKeyExists(u".foo"));
}

TEST_F(DocTypeManagerTest, EnumFiltersNumbersIFiltersThenSimpleThenXmlFilters) {
  InstallWriter();
  auto addFilter = [](const std::u16string& handler, const std::u16string& filter) {
    SetRegistryString(HKEY_CLASSES_ROOT, u"CLSID\\" + handler, u"", u"Handler " + handler);
    SetRegistryString(HKEY_CLASSES_ROOT,
                      u"CLSID\\" + handler + u"\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}", u"",
                      filter);
  };
  addFilter(u"{00000001-0000-0000-0000-000000000001}", u"{F0000001-0000-0000-0000-000000000001}");
  addFilter(kAdapterHandler, u"{32E04D12-5E47-11D7-B40F-00D009EF4932}");  // the module's own: not offered
  addFilter(u"{00000002-0000-0000-0000-000000000002}", u"{F0000002-0000-0000-0000-000000000002}");
  const std::u16string simple = u"SOFTWARE\\ZYT\\Orrery\\Filters\\ISimpleFileFilter\\";
  SetRegistryString(HKEY_LOCAL_MACHINE, simple + u"{5A000001-0000-0000-0000-000000000001}", u"", u"Null");
  SetRegistryString(HKEY_LOCAL_MACHINE, simple + u"{5A000002-0000-0000-0000-000000000002}", u"", u"");
  const std::u16string xml = u"SOFTWARE\\ZYT\\Orrery\\Filters\\XMLFilter\\";
  SetRegistryString(HKEY_LOCAL_MACHINE, xml + u"OpenDocument", u"", u"OpenDocument text");
  SetRegistryString(HKEY_LOCAL_MACHINE, xml + u"OpenDocument", u"command", u"unzip -p \"%1\" content.xml");
  SetRegistryString(HKEY_LOCAL_MACHINE, xml + u"NoCommand", u"", u"never offered");

  CBstr out;
  ASSERT_EQ(m_manager->EnumFilters(out.put()), S_OK);
  ZYT::XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml(U8(out.str()))) << U8(out.str());
  // The components module registered the machine's own filters too.
  std::vector<ZYT::XmlNode> filters = doc.SelectNodes("/enum-filters-ret/filters/filter");
  ASSERT_GE(filters.size(), 5u) << U8(out.str());
  const size_t ifilters = filters.size() - 3;
  std::vector<std::string> handlers;
  for (size_t i = 0; i < filters.size(); ++i) {
    EXPECT_EQ(filters[i].Attribute("filter-code"), std::to_string(i)) << i;
    const char* type = i < ifilters ? "IFilter" : i < ifilters + 2 ? "ISimpleFilter" : "XMLFilter";
    EXPECT_EQ(filters[i].Attribute("type"), type) << i;
    if (i < ifilters) handlers.push_back(filters[i].Attribute("PersistentHandler"));
  }
  EXPECT_EQ(std::count(handlers.begin(), handlers.end(), "{00000001-0000-0000-0000-000000000001}"), 1);
  EXPECT_EQ(std::count(handlers.begin(), handlers.end(), "{00000002-0000-0000-0000-000000000002}"), 1);
  EXPECT_EQ(std::count(handlers.begin(), handlers.end(), U8(kAdapterHandler)), 0);
  EXPECT_EQ(filters[ifilters].Attribute("guid"), "{5A000001-0000-0000-0000-000000000001}");
  EXPECT_EQ(filters[ifilters].Text(), "Null");
  EXPECT_EQ(filters[ifilters + 2].Attribute("name"), "OpenDocument");
  EXPECT_EQ(filters[ifilters + 2].Attribute("command"), "unzip -p \"%1\" content.xml");

  // Without XML filter definitions the other sections are still listed.
  ASSERT_EQ(RegDeleteTreeW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Orrery\\Filters\\XMLFilter"), ERROR_SUCCESS);
  EXPECT_EQ(m_manager->EnumXmlFilters(out.put()), E_FAIL);
  ASSERT_EQ(m_manager->EnumFilters(out.put()), S_OK);
  ASSERT_TRUE(doc.LoadXml(U8(out.str())));
  EXPECT_EQ(doc.SelectNodes("/enum-filters-ret/filters/filter").size(), filters.size() - 1);
}

TEST_F(DocTypeManagerTest, EnumSimpleFiltersMakesItsKeyOnAFreshMachine) {
  InstallWriter();
  CBstr out;
  ASSERT_EQ(m_manager->EnumSimpleFilters(out.put()), S_OK);
  ZYT::XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml(U8(out.str())));
  EXPECT_TRUE(doc.SelectSingleNode("/enum-simple-filters-ret/filters"));
  EXPECT_TRUE(doc.SelectNodes("//filter").empty());
  ZYT::CRegKey key;
  EXPECT_EQ(key.Open(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Orrery\\Filters\\ISimpleFileFilter", KEY_READ), ERROR_SUCCESS);
}

TEST_F(DocTypeManagerTest, EnumExtensionsLeavesOutTheMessageTypeAndNullHandlers) {
  SetRegistryString(HKEY_CLASSES_ROOT, u".txt\\PersistentHandler", u"", kTextHandler);
  SetRegistryString(HKEY_CLASSES_ROOT, u".qhm\\PersistentHandler", u"", u"{8AED2655-017E-11D7-B3E2-00D009EF4932}");
  SetRegistryString(HKEY_CLASSES_ROOT, u".nul\\PersistentHandler", u"", u"null");
  CBstr out;
  ASSERT_EQ(m_manager->EnumExtensions(out.put()), S_OK);
  ZYT::XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml(U8(out.str())));
  std::vector<ZYT::XmlNode> extensions = doc.SelectNodes("/inventory-extensions-ret/extensions/extension");
  ASSERT_EQ(extensions.size(), 1u) << U8(out.str());
  EXPECT_EQ(extensions[0].Attribute("name"), ".txt");
  EXPECT_EQ(extensions[0].Attribute("persistent-handler"), U8(ZYT::ToUpper(kTextHandler)));
}

// ---- RestoreDefaults in both modes ----

class DocTypeRestoreTest : public DocTypeManagerTest {
 protected:
  void MakeChanges() {
    InstallWriter();
    SetRegistryString(HKEY_CLASSES_ROOT, u".txt\\PersistentHandler", u"", kTextHandler);
    ASSERT_EQ(SetFilter(u".txt", kAdapterHandler), S_OK);
    ASSERT_EQ(SetFilter(u".new", kAdapterHandler), S_OK);
    ASSERT_EQ(m_manager->SetThumbnailer(CBstr(u".txt").get(), CBstr(u"Gallery").get()), S_OK);
  }
  void ExpectUndone() {
    EXPECT_EQ(GetFilter(u".txt"), ZYT::ToUpper(kTextHandler));
    EXPECT_EQ(Classes(u".txt\\PersistentHandler", u"ZYTOrrerySavedExtensionKey"), u"<missing>");
    EXPECT_EQ(Classes(u".txt\\PersistentHandler", u"ZYTOrreryNewExtensionKey"), u"<missing>");
    EXPECT_FALSE(ClassesKeyExists(u".txt\\ZYTThumbnail"));
    EXPECT_FALSE(ClassesKeyExists(u".new\\PersistentHandler"));
    EXPECT_EQ(Classes(u"", u"ZYTTest"), u"<missing>");
  }
  void RemoveWriter() {
    ASSERT_EQ(RegDeleteTreeW(HKEY_CLASSES_ROOT, u"CLSID\\{A068F714-39CC-42EF-B1BE-4475629EB7A1}"), ERROR_SUCCESS);
  }
};

TEST_F(DocTypeRestoreTest, WorksDirectlyWhenTheProcessMayWrite) {
  MakeChanges();
  RemoveWriter();
  ASSERT_EQ(m_manager->RestoreDefaults(), S_OK) << "no writer needed";
  ExpectUndone();
}

TEST_F(DocTypeRestoreTest, GoesThroughTheWriterWhenTheProcessMayNotWrite) {
  MakeChanges();
  ZYT::SetRegistryRootReadOnly(HKEY_LOCAL_MACHINE, true);
  ZYT::CRegKey probe;
  ASSERT_EQ(probe.Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.txt", KEY_ALL_ACCESS), ERROR_ACCESS_DENIED)
      << "the process's own writes are refused";
  ASSERT_EQ(m_manager->RestoreDefaults(), S_OK);
  ExpectUndone();
  EXPECT_EQ(probe.Create(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Classes\\.txt", KEY_ALL_ACCESS), ERROR_ACCESS_DENIED)
      << "the writer lends its right to its own writes only";
}

TEST_F(DocTypeRestoreTest, FailsWhenNeitherWayCanWrite) {
  MakeChanges();
  RemoveWriter();
  ZYT::SetRegistryRootReadOnly(HKEY_LOCAL_MACHINE, true);
  EXPECT_TRUE(FAILED(m_manager->RestoreDefaults()));
  EXPECT_EQ(GetFilter(u".txt"), kAdapterHandler) << "nothing was undone";
}

// ---- IDispatch ----

class DocTypeDispatchTest : public DocTypeManagerTest {
 protected:
  void SetUp() override {
    DocTypeManagerTest::SetUp();
    ASSERT_EQ(m_manager->QueryInterface(IID_IDispatch, m_dispatch.put_void()), S_OK);
  }
  void TearDown() override {
    m_dispatch.Reset();
    DocTypeManagerTest::TearDown();
  }
  DISPID IdOf(const std::u16string& name) {
    std::u16string copy = name;
    LPOLESTR names[] = {copy.data()};
    DISPID id = 12345;
    HRESULT hr = m_dispatch->GetIDsOfNames(GUID_NULL, names, 1, 0x409, &id);
    return SUCCEEDED(hr) ? id : hr;
  }
  // Calls with the arguments in the caller's order; COM wants them last first.
  HRESULT Call(DISPID id, std::vector<VARIANT> args, VARIANT* result, UINT* argErr = nullptr,
               WORD flags = DISPATCH_METHOD) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    return m_dispatch->Invoke(id, GUID_NULL, 0x409, flags, &params, result, nullptr, argErr);
  }
  VARIANT Str(const std::u16string& text) {
    m_strings.emplace_back(text);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = m_strings.back().get();
    return v;
  }
  std::vector<CBstr> m_strings;
  ComPtr<IDispatch> m_dispatch;
};

TEST_F(DocTypeDispatchTest, NamesMapToTheirDispIdsInAnyLetterCase) {
  EXPECT_EQ(IdOf(u"SetFilter"), 1);
  EXPECT_EQ(IdOf(u"getfilter"), 2);
  EXPECT_EQ(IdOf(u"ENUMEXTENSIONS"), 3);
  EXPECT_EQ(IdOf(u"EnumXmlFilters"), 6);
  EXPECT_EQ(IdOf(u"GetXMLFilterName"), 9);
  EXPECT_EQ(IdOf(u"restoreDefaults"), 13);
  EXPECT_EQ(IdOf(u"SetFilterX"), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(IdOf(u"Set"), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(IdOf(u""), DISP_E_UNKNOWNNAME);

  // Argument names are not known: the method's id is still given.
  std::u16string method = u"SetFilter", argument = u"extension";
  LPOLESTR names[] = {method.data(), argument.data()};
  DISPID ids[2] = {0, 0};
  EXPECT_EQ(m_dispatch->GetIDsOfNames(GUID_NULL, names, 2, 0x409, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], 1);
  EXPECT_EQ(ids[1], DISPID_UNKNOWN);
  UINT count = 7;
  EXPECT_EQ(m_dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
}

TEST_F(DocTypeDispatchTest, InvokeTakesTheArgumentsLastFirstAndReturnsTheOutValue) {
  InstallWriter();
  VARIANT result;
  VariantInit(&result);
  ASSERT_EQ(Call(IdOf(u"SetFilter"), {Str(u".foo"), Str(kAdapterHandler)}, &result), S_OK);
  EXPECT_EQ(result.vt, VT_EMPTY) << "SetFilter has no result";
  EXPECT_EQ(Classes(u".foo\\PersistentHandler"), kAdapterHandler) << "extension first, handler second";
  EXPECT_FALSE(ClassesKeyExists(std::u16string(u".") + kAdapterHandler));

  ASSERT_EQ(Call(IdOf(u"GetFilter"), {Str(u".foo")}, &result, nullptr, DISPATCH_METHOD | DISPATCH_PROPERTYGET), S_OK);
  ASSERT_EQ(result.vt, VT_BSTR);
  EXPECT_EQ(std::u16string(result.bstrVal), kAdapterHandler);
  VariantClear(&result);

  // The out value passed as a last by-reference argument is filled too.
  BSTR out = nullptr;
  VARIANT byRef;
  VariantInit(&byRef);
  byRef.vt = VT_BSTR | VT_BYREF;
  byRef.pbstrVal = &out;
  ASSERT_EQ(Call(IdOf(u"GetThumbnailer"), {Str(u".foo"), byRef}, nullptr), S_OK);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(std::u16string(out), u"Internal Thumbnailer");
  SysFreeString(out);

  // A method's own failure comes back as its HRESULT.
  EXPECT_EQ(Call(IdOf(u"GetFilter"), {Str(u".none")}, &result), E_FAIL);
  EXPECT_EQ(result.vt, VT_EMPTY);

  ASSERT_EQ(Call(IdOf(u"RestoreDefaults"), {}, &result), S_OK);
  EXPECT_FALSE(ClassesKeyExists(u".foo\\PersistentHandler"));
}

TEST_F(DocTypeDispatchTest, CallerMistakesGetTheirDispatchErrors) {
  InstallWriter();
  VARIANT result;
  VariantInit(&result);
  EXPECT_EQ(Call(0, {}, &result), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(14, {}, &result), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(-1, {}, &result), DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(Call(DISPID_GetThumbnailer, {Str(u".foo")}, &result, nullptr, DISPATCH_PROPERTYPUT),
            DISP_E_MEMBERNOTFOUND);

  EXPECT_EQ(Call(DISPID_SetFilter, {Str(u".foo")}, &result), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(DISPID_SetFilter, {Str(u".foo"), Str(u"{X}"), Str(u"extra")}, &result), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(DISPID_RestoreDefaults, {Str(u"x")}, &result), DISP_E_BADPARAMCOUNT);
  EXPECT_EQ(Call(DISPID_GetFilter, {}, &result), DISP_E_BADPARAMCOUNT);

  VARIANT number;
  VariantInit(&number);
  number.vt = VT_I4;
  number.lVal = 42;
  UINT argErr = 99;
  EXPECT_EQ(Call(DISPID_SetFilter, {Str(u".foo"), number}, &result, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u) << "the second argument is rgvarg[0]";
  argErr = 99;
  EXPECT_EQ(Call(DISPID_SetFilter, {number, Str(u"{X}")}, &result, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 1u);
  EXPECT_FALSE(ClassesKeyExists(u".foo")) << "a refused call changes nothing";

  // An out argument that is not a BSTR reference.
  argErr = 99;
  EXPECT_EQ(Call(DISPID_GetFilter, {Str(u".foo"), Str(u"not a reference")}, &result, &argErr), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);

  VARIANT args[2] = {Str(u"{X}"), Str(u".foo")};
  DISPID named[1] = {0};
  DISPPARAMS params{args, named, 2, 1};
  EXPECT_EQ(m_dispatch->Invoke(DISPID_SetFilter, GUID_NULL, 0x409, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
            DISP_E_NONAMEDARGS);
  EXPECT_EQ(m_dispatch->Invoke(DISPID_SetFilter, IID_IDispatch, 0x409, DISPATCH_METHOD, &params, &result, nullptr,
                               nullptr),
            DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(result.vt, VT_EMPTY);
}

}  // namespace
