#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "filters/xml/XMLProxyFilter.h"
#include "framework/FilterInit.h"
#include "platform/com/ClassFactory.h"
#include "platform/com/ObjBase.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/TestEnvironment.h"
#include "tests/support/WholeFileFilter.h"

namespace {

using namespace ZYT::Test;
using ZYT::ComPtr;

// What the XML filter was handed.
WholeFileSeen g_seen;
using CStandInXmlFilter = CWholeFileFilter<CLSID_XMLFilter, g_seen>;

using Proxy = ZYT::CComObject<CXMLProxyFilter>;

class XMLProxyFilterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    g_seen = WholeFileSeen{};
    UseSettingsServer(*this, "<settings><repository><user location=\"" + PathIn("repo") + "\"/></repository></settings>");
    ASSERT_EQ(RegisterFake<CStandInXmlFilter>(CLSID_XMLFilter, &m_cookie), S_OK);
    // A converter that writes its arguments as an XML document.
    m_converter = PathIn("conv");
    WriteBytes(m_converter,
               "#!/bin/sh\nprintf '<doc>'; for a in \"$@\"; do printf '<a>%s</a>' \"$a\"; done; printf '</doc>'\n");
    ASSERT_EQ(chmod(m_converter.c_str(), 0700), 0);
  }
  void TearDown() override {
    CoRevokeClassObject(m_cookie);
    EXPECT_EQ(g_seen.alive, 0) << "the XML filter was not released";
    MachineTest::TearDown();
  }
  static void Define(const std::u16string& extension, const std::u16string& definition) {
    SetRegistryString(HKEY_LOCAL_MACHINE, u"Software\\ZYT\\Orrery\\Filters\\XMLProxyFilter\\." + extension, u"",
                      definition);
  }
  // The converter outputs left in the repository's temporary folder.
  std::vector<std::string> Outputs() const {
    std::vector<std::string> found;
    if (!Exists(PathIn("repo/temp"))) return found;
    for (const auto& name : ListDir(PathIn("repo/temp")))
      if (name.rfind("XML", 0) == 0) found.push_back(name);
    return found;
  }
  std::u16string Converter() const { return u"\"" + ZYT::Utf8ToWide(m_converter) + u"\""; }

  DWORD m_cookie = 0;
  std::string m_converter;
};

TEST(XMLProxyCommandLine, PercentRules) {
  setenv("ZYT_XPF_TOOLS", "/opt/tools", 1);
  const std::u16string path = u"C:\\my docs\\a.conv";
  EXPECT_EQ(CXMLProxyFilter::BuildCommandLine(u"conv %1 -x", path), u"conv C:\\my docs\\a.conv -x")
      << "the path goes in as it is, without quotes";
  EXPECT_EQ(CXMLProxyFilter::BuildCommandLine(u"conv \"%1\"", path), u"conv \"C:\\my docs\\a.conv\"");
  EXPECT_EQ(CXMLProxyFilter::BuildCommandLine(u"conv %%1 50%x %", path), u"conv %1 50%x %");
  EXPECT_EQ(CXMLProxyFilter::BuildCommandLine(u"%ZYT_XPF_TOOLS%/conv %ZYT_XPF_UNSET% %1%1", u"p"),
            u"/opt/tools/conv %ZYT_XPF_UNSET% pp");
  unsetenv("ZYT_XPF_TOOLS");
}

TEST_F(XMLProxyFilterTest, ConverterOutputIsIndexedAndSaveDeletesIt) {
  Define(u"conv", Converter() + u" \"%1\" -o");
  std::string doc = PathIn("my doc.conv");
  WriteBytes(doc, "anything");
  std::u16string docW = ZYT::Utf8ToWide(doc);
  ComPtr<Proxy> proxy;
  ASSERT_EQ(Proxy::Create(proxy), S_OK);
  ASSERT_EQ(proxy->Load(docW.c_str(), 0), S_OK);
  const std::string expected = "<doc><a>" + doc + "</a><a>-o</a></doc>";
  EXPECT_EQ(g_seen.loadedBytes, expected);
  EXPECT_EQ(Outputs().size(), 1u);
  EXPECT_NE(g_seen.loadedPath.find(u"XML"), std::u16string::npos);
  struct stat st;
  ASSERT_EQ(stat(ZYT::WideToUtf8(g_seen.loadedPath).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "the converter's output is its owner's alone";

  ZYT::WalkResult r = DriveFilter(proxy.get());
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(r.initOutFlags, ULONG(IFILTER_FLAGS_OLE_PROPERTIES));
  EXPECT_EQ(Texts(r), std::vector<std::u16string>{ZYT::Utf8ToWide(expected)});

  LPOLESTR current = nullptr;
  ASSERT_EQ(proxy->GetCurFile(&current), S_OK);
  EXPECT_EQ(std::u16string(current), docW);
  CoTaskMemFree(current);

  EXPECT_EQ(proxy->Save(nullptr, FALSE), S_OK);
  EXPECT_TRUE(Outputs().empty()) << "Save deletes the converter's output";
  EXPECT_EQ(proxy->Save(nullptr, FALSE), S_OK) << "a second Save still succeeds";
  ULONG flags = 0;
  ASSERT_EQ(proxy->Init(0, 0, nullptr, &flags), S_OK);
  STAT_CHUNK chunk{};
  EXPECT_EQ(proxy->GetChunk(&chunk), S_OK) << "the XML filter still holds the document";
  proxy.Reset();
  EXPECT_TRUE(Outputs().empty());
  EXPECT_FALSE(Exists(PathIn("my doc.conv.tmp")));
  EXPECT_EQ(ReadBytes(doc), "anything") << "the document is not changed";
}

TEST_F(XMLProxyFilterTest, ReleaseDeletesTheOutputAndAPathIsNeverAShellCommand) {
  Define(u"conv", Converter() + u" \"%1\"");
  std::string doc = PathIn("x;touch pwned $(touch pwned2).conv");
  WriteBytes(doc, "");
  std::u16string docW = ZYT::Utf8ToWide(doc);
  {
    ComPtr<Proxy> proxy;
    ASSERT_EQ(Proxy::Create(proxy), S_OK);
    ASSERT_EQ(proxy->Load(docW.c_str(), 0), S_OK);
    EXPECT_EQ(g_seen.loadedBytes, "<doc><a>" + doc + "</a></doc>");
    EXPECT_EQ(Outputs().size(), 1u);
    // A second Load drops the first output at once.
    ASSERT_EQ(proxy->Load(docW.c_str(), 0), S_OK);
    EXPECT_EQ(Outputs().size(), 1u);
  }
  EXPECT_TRUE(Outputs().empty()) << "release deletes the output";
  EXPECT_FALSE(Exists(PathIn("pwned")));
  EXPECT_FALSE(Exists(PathIn("pwned2")));
}

TEST_F(XMLProxyFilterTest, FailedLoadsLeaveNoOutput) {
  ComPtr<Proxy> proxy;
  ASSERT_EQ(Proxy::Create(proxy), S_OK);
  std::u16string doc = PathInW("a.none");
  WriteBytes(PathIn("a.none"), "x");
  // No definition: an empty command line starts nothing.
  EXPECT_TRUE(FAILED(proxy->Load(doc.c_str(), 0)));
  EXPECT_TRUE(Outputs().empty());

  Define(u"miss", u"zyt-no-such-converter-4711 %1");
  std::u16string missing = PathInW("a.miss");
  EXPECT_EQ(proxy->Load(missing.c_str(), 0), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(Outputs().empty());

  Define(u"conv", Converter() + u" %1");
  std::u16string doc2 = PathInW("b.conv");
  g_seen.loadResult = E_INVALIDARG;
  EXPECT_EQ(proxy->Load(doc2.c_str(), 0), E_INVALIDARG) << "the XML filter's failure is Load's";
  EXPECT_TRUE(Outputs().empty());

  // A converter that never ends is stopped at its limit.
  g_seen.loadResult = S_OK;
  SetLimit(u"XMLProxyConverterSeconds", 1);
  std::string hang = PathIn("hang");
  WriteBytes(hang, "#!/bin/sh\nexec sleep 60\n");
  ASSERT_EQ(chmod(hang.c_str(), 0700), 0);
  Define(u"hang", u"\"" + ZYT::Utf8ToWide(hang) + u"\" %1");
  std::u16string doc3 = PathInW("c.hang");
  EXPECT_EQ(proxy->Load(doc3.c_str(), 0), HRESULT_FROM_WIN32(ERROR_TIMEOUT));
  EXPECT_TRUE(Outputs().empty());
}

TEST_F(XMLProxyFilterTest, WithoutTheXmlFilterLoadFails) {
  CoRevokeClassObject(m_cookie);
  m_cookie = 0;
  Define(u"conv", Converter() + u" %1");
  ComPtr<Proxy> proxy;
  ASSERT_EQ(Proxy::Create(proxy), S_OK);
  std::u16string doc = PathInW("a.conv");
  EXPECT_TRUE(FAILED(proxy->Load(doc.c_str(), 0)));
  EXPECT_TRUE(Outputs().empty());
  STAT_CHUNK chunk{};
  EXPECT_EQ(proxy->GetChunk(&chunk), E_FAIL);
}

}  // namespace
