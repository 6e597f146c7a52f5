#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "filters/items/MonitorRequest.h"
#include "interfaces/ClassIds.h"
#include "platform/com/ObjBase.h"
#include "platform/com/ComPtr.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/Strings.h"
#include "tests/filters/items/FakeMonitor.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using ZYT::ComPtr;
using ZYT::WalkResult;

constexpr PROPID kSize = 15, kStatus = 18, kSummary = 6, kTitle = 11;

// The XML filter walks its text nodes once per Load and refuses GetValue on
// a text chunk with FILTER_E_NO_MORE_VALUES; the rest of the protocol is checked.
DriveOptions ProxyOptions() {
  DriveOptions options;
  options.valueTextForwarded = true;
  options.crossCallsAnyRefusal = true;
  options.checkReinit = false;
  return options;
}

class FakePimServer : public FakeMonitor {
 public:
  explicit FakePimServer(std::string item, HRESULT result = S_OK)
      : FakeMonitor(kPimServerPipe, kPimServerEvent, std::move(item), result) {}
};

class PimFilterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    UseSettingsServer(*this, "<settings><repository><user location=\"" + PathIn("repo") + "\"/></repository></settings>");
    ASSERT_EQ(RegisterModule(ZYT_FILTERS_MODULE), S_OK);
    WriteBytes(PathIn("ann.qhcontact"), "item: whatever the monitor understands\n");
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};  // 2001-09-09
    utimensat(AT_FDCWD, PathIn("ann.qhcontact").c_str(), times, 0);
  }
  std::vector<std::string> TempFiles() { return ListDir(PathIn("repo/temp")); }

  // The own chunks: the last four of the walk.
  static std::vector<ZYT::WalkedChunk> OwnChunks(const WalkResult& r) {
    if (r.chunks.size() < 4) return {};
    return std::vector<ZYT::WalkedChunk>(r.chunks.end() - 4, r.chunks.end());
  }
};

const char kContact[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<contact><title>Ann Example</title><status>Busy</status><email>ann@example.org</email></contact>\n";

TEST_F(PimFilterTest, ItemTextThenSizeStatusXmlAndTitle) {
  FakePimServer monitor(kContact);
  ComPtr<IFilter> filter;
  ASSERT_EQ(LoadIFilter(PathInW("ann.qhcontact").c_str(), nullptr, filter.put_void()), S_OK);
  EXPECT_EQ(monitor.Requests(), 1);
  auto temp = TempFiles();
  ASSERT_EQ(temp.size(), 1u);
  EXPECT_EQ(temp[0].substr(0, 3), "pim");
  struct stat st;
  ASSERT_EQ(stat(PathIn("repo/temp/" + temp[0]).c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1000000000) << "the item file carries the document's time";
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  WalkResult r = DriveFilter(filter.get(), ProxyOptions());
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Texts(r), (std::vector<std::u16string>{u"Ann Example", u"Busy", u"ann@example.org"}))
      << "the XML filter reads the item the monitor wrote";
  auto own = OwnChunks(r);
  ASSERT_EQ(r.chunks.size(), 7u);
  const PROPID ids[] = {kSize, kStatus, kSummary, kTitle};
  const VARTYPE types[] = {VT_UI4, VT_LPWSTR, VT_LPWSTR, VT_LPWSTR};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(own[i].stat.idChunk, 4 + i) << "own chunks continue after the XML filter's last";
    EXPECT_EQ(own[i].stat.attribute.psProperty.propid, ids[i]);
    EXPECT_EQ(ZYT::GuidToString(own[i].stat.attribute.guidPropSet), u"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}");
    EXPECT_EQ(own[i].stat.breakType, CHUNK_EOS);
    EXPECT_EQ(own[i].vt, types[i]);
  }
  EXPECT_EQ(own[0].valueJson, std::to_string(sizeof kContact - 1));
  EXPECT_EQ(own[1].valueJson, "\"Busy\"");
  EXPECT_NE(own[2].valueJson.find("<email>ann@example.org</email>"), std::string::npos)
      << "the summary is the item's whole XML text: " << own[2].valueJson;
  EXPECT_EQ(own[3].valueJson, "\"Ann Example\"");
  filter.Reset();
  EXPECT_TRUE(TempFiles().empty()) << "the item file goes with the filter";
}

TEST_F(PimFilterTest, MissingOrUnreadableFieldsGiveEmptyStrings) {
  const struct {
    const char* name;
    std::string item;
  } cases[] = {
      {"no status, no title", "<note><text>Call Bob</text></note>"},
      {"empty elements", "<task><status/><title></title></task>"},
      {"status of another level", "<task><sub><status>Done</status></sub></task>"},
      {"not XML", "BEGIN:VCARD\r\nFN:raw\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakePimServer monitor(c.item);
    ComPtr<IFilter> filter;
    ASSERT_EQ(LoadIFilter(PathInW("ann.qhcontact").c_str(), nullptr, filter.put_void()), S_OK);
    WalkResult r = DriveFilter(filter.get(), ProxyOptions());
    ASSERT_TRUE(ObeysProtocol(r));
    auto own = OwnChunks(r);
    ASSERT_EQ(own.size(), 4u);
    EXPECT_EQ(own[1].vt, VT_LPWSTR) << "a status that is not there is an empty string, not an empty value";
    EXPECT_EQ(own[1].valueJson, "\"\"");
    EXPECT_EQ(own[3].vt, VT_LPWSTR);
    EXPECT_EQ(own[3].valueJson, "\"\"");
    if (c.item[0] != '<') {
      EXPECT_EQ(own[2].valueJson, "\"\"") << "a document that did not parse has no XML text";
    }
  }
}

TEST_F(PimFilterTest, AFailingLoadLeavesNoFile) {
  {
    FakePimServer monitor("", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
    ComPtr<IFilter> filter;
    EXPECT_EQ(LoadIFilter(PathInW("ann.qhcontact").c_str(), nullptr, filter.put_void()),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND))
        << "the monitor's answer";
    EXPECT_TRUE(TempFiles().empty()) << "deleted at once, not at release";
  }
  {
    // The XML filter refuses an item past its size limit.
    SetLimit(u"MaxXmlFileBytes", 1048576);
    FakePimServer monitor("<contact><title>" + std::string(1048576, 'x') + "</title></contact>");
    ComPtr<IFilter> filter;
    ComPtr<IPersistFile> persist;
    ASSERT_EQ(CoCreateInstance(CLSID_PimFilter, nullptr, CLSCTX_INPROC_SERVER,
                               uuidof<IPersistFile>(), persist.put_void()),
              S_OK);
    EXPECT_EQ(persist->Load(PathInW("ann.qhcontact").c_str(), 0), HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));
    EXPECT_TRUE(TempFiles().empty()) << "the XML filter's failure deletes the item at once";
  }
}

TEST_F(PimFilterTest, ASecondLoadReplacesTheFirstItem) {
  FakePimServer monitor(kContact);
  ComPtr<IPersistFile> persist;
  ASSERT_EQ(CoCreateInstance(CLSID_PimFilter, nullptr, CLSCTX_INPROC_SERVER,
                             uuidof<IPersistFile>(), persist.put_void()),
            S_OK);
  ASSERT_EQ(persist->Load(PathInW("ann.qhcontact").c_str(), 0), S_OK);
  auto first = TempFiles();
  ASSERT_EQ(persist->Load(PathInW("ann.qhcontact").c_str(), 0), S_OK);
  auto second = TempFiles();
  ASSERT_EQ(second.size(), 1u) << "the first item's file went with the second Load";
  EXPECT_NE(first, second);
  persist.Reset();
  EXPECT_TRUE(TempFiles().empty());
}

}  // namespace
