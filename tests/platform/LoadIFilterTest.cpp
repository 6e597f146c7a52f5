#include <gtest/gtest.h>

#include "platform/com/ComPtr.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "tests/platform/TestWidget.h"
#include "tests/support/TestEnvironment.h"

namespace {

using ZYT::Test::SetRegistryString;

class LoadIFilterTest : public ZYT::Test::MachineTest {};

TEST_F(LoadIFilterTest, FollowsExtensionHandlerAndAddin) {
  const std::u16string handler = u"{11111111-AAAA-BBBB-CCCC-000000000001}";
  SetRegistryString(HKEY_CLASSES_ROOT, u".abc\\PersistentHandler", u"", handler);
  SetRegistryString(HKEY_CLASSES_ROOT,
                    u"CLSID\\" + handler + u"\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}", u"",
                    u"{22222222-AAAA-BBBB-CCCC-000000000002}");
  EXPECT_EQ(ZYT::FilterClassForPath(u"C:\\dir.v2\\File.ABC"), u"{22222222-AAAA-BBBB-CCCC-000000000002}")
      << "extensions match without case";
  EXPECT_EQ(ZYT::FilterClassForPath(u"C:\\dir.abc\\noext"), u"") << "a dot in a folder is not an extension";
  // Through the ProgID and the document class, and seen at once after a registry change.
  SetRegistryString(HKEY_CLASSES_ROOT, u".xyz", u"", u"Xyz.Document");
  EXPECT_EQ(ZYT::FilterClassForPath(u"/a/b.xyz"), u"");
  SetRegistryString(HKEY_CLASSES_ROOT, u"Xyz.Document\\CLSID", u"", u"{33333333-AAAA-BBBB-CCCC-000000000003}");
  SetRegistryString(HKEY_CLASSES_ROOT, u"CLSID\\{33333333-AAAA-BBBB-CCCC-000000000003}\\PersistentHandler", u"",
                    handler);
  EXPECT_EQ(ZYT::FilterClassForPath(u"/a/b.xyz"), u"{22222222-AAAA-BBBB-CCCC-000000000002}");

  void* p = reinterpret_cast<void*>(0xCAFECAFE);
  EXPECT_EQ(LoadIFilter(u"/a/b.nothing", nullptr, &p), FILTER_E_UNKNOWNFORMAT);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(LoadIFilter(u"/a/b.abc", nullptr, &p), REGDB_E_CLASSNOTREG) << "the class itself is not registered";
  EXPECT_EQ(LoadIFilter(nullptr, nullptr, &p), E_INVALIDARG);
  EXPECT_EQ(LoadIFilter(u"/a/b.abc", nullptr, nullptr), E_POINTER);
}

TEST_F(LoadIFilterTest, AClassWithoutIFilterIsRefused) {
  ASSERT_EQ(ZYT::Test::RegisterModule(ZYT_TEST_MODULE), S_OK);
  const std::u16string handler = u"{11111111-AAAA-BBBB-CCCC-000000000009}";
  SetRegistryString(HKEY_CLASSES_ROOT, u".wid\\PersistentHandler", u"", handler);
  SetRegistryString(HKEY_CLASSES_ROOT,
                    u"CLSID\\" + handler + u"\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}", u"",
                    ZYT::GuidToString(CLSID_TestWidget));
  void* p = reinterpret_cast<void*>(0xCAFECAFE);
  EXPECT_EQ(LoadIFilter(u"/a/b.wid", nullptr, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
}

}  // namespace
