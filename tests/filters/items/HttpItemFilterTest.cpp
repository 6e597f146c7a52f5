#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "interfaces/ClassIds.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ObjBase.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/Registry.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using ZYT::ComPtr;
using ZYT::WalkResult;

const char kPage[] =
    "<html><head><title>Stored page</title></head>"
    "<body><h1>Heading</h1><p>Some <b>bold</b> text.</p></body></html>";

class HttpItemFilterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    // The settings server and the machine's HTML filter.
    UseSettingsServer(*this, "<settings><repository><user location=\"" + PathIn("repo") + "\"/></repository></settings>");
    ASSERT_EQ(RegisterModule(ZYT_FILTERS_MODULE), S_OK);
    WriteBytes(PathIn("page.qhhttp"), kPage);
  }
  std::vector<std::string> TempFiles() { return ListDir(PathIn("repo/temp")); }
  ComPtr<IPersistFile> NewFilter() {
    ComPtr<IPersistFile> persist;
    EXPECT_EQ(CoCreateInstance(CLSID_HttpItemFilter, nullptr, CLSCTX_INPROC_SERVER, uuidof<IPersistFile>(),
                               persist.put_void()),
              S_OK);
    return persist;
  }
};

TEST_F(HttpItemFilterTest, PageTextThenTheCopysSize) {
  ComPtr<IFilter> filter;
  ASSERT_EQ(LoadIFilter(PathInW("page.qhhttp").c_str(), nullptr, filter.put_void()), S_OK);
  auto temp = TempFiles();
  ASSERT_EQ(temp.size(), 1u);
  EXPECT_EQ(temp[0].substr(0, 3), "htp");
  struct stat st;
  ASSERT_EQ(stat(PathIn("repo/temp/" + temp[0]).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "the copy is as private as any temporary file";
  EXPECT_EQ(ReadBytes(PathIn("repo/temp/" + temp[0])), kPage);

  DriveOptions options;
  options.valueTextForwarded = true;
  WalkResult r = DriveFilter(filter.get(), options);
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Texts(r), (std::vector<std::u16string>{u"Heading", u"Some bold text."})) << "the HTML filter read the copy";
  ASSERT_EQ(r.chunks.size(), 4u);
  EXPECT_EQ(r.chunks[0].valueJson, "\"Stored page\"");
  const ZYT::WalkedChunk& size = r.chunks[3];
  EXPECT_EQ(size.stat.idChunk, 4u);
  EXPECT_EQ(size.stat.attribute.psProperty.propid, 15u);
  EXPECT_EQ(ZYT::GuidToString(size.stat.attribute.guidPropSet), u"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}");
  EXPECT_EQ(size.vt, VT_UI4);
  EXPECT_EQ(size.valueJson, std::to_string(sizeof kPage - 1));
  filter.Reset();
  EXPECT_TRUE(TempFiles().empty()) << "the copy goes with the filter";
}

TEST_F(HttpItemFilterTest, APageThatCannotBeCopiedFailsLoadAndLeavesNoFile) {
  ASSERT_EQ(mkfifo(PathIn("fifo.qhhttp").c_str(), 0600), 0);
  ASSERT_EQ(mkdir(PathIn("dir.qhhttp").c_str(), 0700), 0);
  for (const char* name : {"absent.qhhttp", "fifo.qhhttp", "dir.qhhttp"}) {
    SCOPED_TRACE(name);
    ComPtr<IPersistFile> persist = NewFilter();
    ASSERT_TRUE(persist);
    HRESULT hr = persist->Load(PathInW(name).c_str(), 0);
    EXPECT_TRUE(FAILED(hr)) << std::hex << hr;
    if (std::string(name) == "absent.qhhttp") {
      EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    }
    EXPECT_TRUE(TempFiles().empty()) << "deleted at once, not at release";
  }
}

TEST_F(HttpItemFilterTest, APageLargerThanTheLimitIsNotCopied) {
  SetLimit(u"MaxWebItemBytes", 1048576);
  WriteBytes(PathIn("limit.qhhttp"), std::string(1048576, 'x'));
  WriteBytes(PathIn("over.qhhttp"), std::string(1048577, 'x'));
  ComPtr<IPersistFile> persist = NewFilter();
  ASSERT_TRUE(persist);
  EXPECT_EQ(persist->Load(PathInW("over.qhhttp").c_str(), 0), HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));
  EXPECT_TRUE(TempFiles().empty());
  EXPECT_EQ(persist->Load(PathInW("limit.qhhttp").c_str(), 0), S_OK) << "a page of exactly the limit is copied";
  EXPECT_EQ(TempFiles().size(), 1u);
}

TEST_F(HttpItemFilterTest, TheSavedHtmlFiltersFailureDeletesTheCopyAtOnce) {
  // The catalog proxy's saved filter for ".htm" is the one driven: here the
  // simple filter adapter, which has no plug-in for the copy's extension.
  SetRegistryString(HKEY_LOCAL_MACHINE,
                    u"SOFTWARE\\Classes\\CLSID\\{EEC97550-47A9-11CF-B952-00AA0051FE20}\\PersistentAddinsRegistered\\"
                    u"{89BCB740-6119-101A-BCB7-00DD010655AF}",
                    u"ZYTOrrerySavedFilterKey", u"{32E04D12-5E47-11D7-B40F-00D009EF4932}");
  ComPtr<IPersistFile> persist = NewFilter();
  ASSERT_TRUE(persist);
  HRESULT hr = persist->Load(PathInW("page.qhhttp").c_str(), 0);
  EXPECT_EQ(hr, static_cast<HRESULT>(0x800401F3)) << "the adapter's answer: no plug-in for the copy";
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(HttpItemFilterTest, ASecondLoadReplacesTheFirstCopy) {
  ComPtr<IPersistFile> persist = NewFilter();
  ASSERT_TRUE(persist);
  ASSERT_EQ(persist->Load(PathInW("page.qhhttp").c_str(), 0), S_OK);
  auto first = TempFiles();
  WriteBytes(PathIn("other.qhhttp"), "<p>Other</p>");
  ASSERT_EQ(persist->Load(PathInW("other.qhhttp").c_str(), 0), S_OK);
  auto second = TempFiles();
  ASSERT_EQ(second.size(), 1u) << "the first copy went with the second Load";
  EXPECT_NE(first, second);
  EXPECT_EQ(ReadBytes(PathIn("repo/temp/" + second[0])), "<p>Other</p>");
  persist.Reset();
  EXPECT_TRUE(TempFiles().empty());
}

}  // namespace
