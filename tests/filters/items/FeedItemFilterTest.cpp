#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "interfaces/ClassIds.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ObjBase.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using ZYT::ComPtr;
using ZYT::WalkResult;

constexpr PROPID kOwnIds[] = {16, 17, 15, 12, 6, 11};  // feed name, URL, size, from, summary, title

// The XML filter walks its text nodes once per Load and refuses GetValue on
// a text chunk with FILTER_E_NO_MORE_VALUES; the rest of the protocol is checked.
DriveOptions ProxyOptions() {
  DriveOptions options;
  options.valueTextForwarded = true;
  options.crossCallsAnyRefusal = true;
  options.checkReinit = false;
  return options;
}

std::string Quoted(const std::string& text) { return ZYT::JsonString(ZYT::Utf8ToWide(text)); }

class FeedItemFilterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ASSERT_EQ(RegisterModule(ZYT_FILTERS_MODULE), S_OK);
  }

  // The walk of an item document through the registry chain.
  WalkResult Walk(const std::u16string& path, HRESULT* load = nullptr) {
    ComPtr<IFilter> filter;
    HRESULT hr = LoadIFilter(path.c_str(), nullptr, filter.put_void());
    if (load) *load = hr;
    if (FAILED(hr)) return {};
    return DriveFilter(filter.get(), ProxyOptions());
  }
  WalkResult WalkItem(const std::string& xml) {
    WriteBytes(PathIn("item.qhitem"), xml);
    return Walk(PathInW("item.qhitem"));
  }

  // The six own values, after the XML filter's chunks, checked for their place and type.
  static std::vector<std::string> OwnValues(const WalkResult& r) {
    EXPECT_GE(r.chunks.size(), 6u);
    if (r.chunks.size() < 6) return {};
    std::vector<std::string> values;
    const size_t first = r.chunks.size() - 6;
    for (size_t i = 0; i < 6; ++i) {
      const ZYT::WalkedChunk& chunk = r.chunks[first + i];
      EXPECT_EQ(chunk.stat.attribute.psProperty.propid, kOwnIds[i]) << i;
      EXPECT_EQ(chunk.stat.idChunk, first + i + 1) << "own chunks continue after the XML filter's last";
      EXPECT_EQ(chunk.vt, i == 2 ? VT_UI4 : VT_LPWSTR) << i;
      values.push_back(chunk.valueJson);
    }
    return values;
  }
};

TEST_F(FeedItemFilterTest, SummaryAndTitleFromLongDescriptions) {
  const std::string a300(300, 'a'), c400(400, 'c');
  const struct {
    const char* name;
    std::string description;
    std::string summary;
    std::string title;
  } cases[] = {
      {"cut at the last space", a300 + " <i>" + std::string(50, 'b') + "</i>", a300 + " ...", std::string(77, 'a') + "..."},
      {"cut without a space", c400, std::string(317, 'c') + "...", std::string(77, 'c') + "..."},
      {"space at the last kept place", std::string(319, 'd') + " e", std::string(319, 'd') + " ...",
       std::string(77, 'd') + "..."},
      {"title cut at a space", "twelve chars " + std::string(400, 'f'), "twelve chars ...", "twelve chars ..."},
      {"exactly 320", std::string(320, 'g'), std::string(320, 'g'), std::string(77, 'g') + "..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string escaped;
    for (char ch : c.description) escaped += ch == '<' ? std::string("&lt;") : ch == '>' ? std::string("&gt;") : std::string(1, ch);
    WalkResult r = WalkItem("<item><feed-name>F</feed-name><description>" + escaped + "</description></item>");
    ASSERT_TRUE(ObeysProtocol(r));
    auto values = OwnValues(r);
    ASSERT_EQ(values.size(), 6u);
    EXPECT_EQ(values[4], Quoted(c.summary));
    EXPECT_EQ(values[5], Quoted(c.title));
  }
}

TEST_F(FeedItemFilterTest, TitleFromTheItemOrTheFeedName) {
  const struct {
    const char* name;
    std::string item;
    std::string summary, title;
  } cases[] = {
      {"own title, kept whole", "<item><feed-name>F</feed-name><title>" + std::string(100, 't') +
                                    "</title><description>d</description></item>",
       "d", std::string(100, 't')},
      {"no title, no description", "<item><feed-name>Feed Name</feed-name></item>", "", "Feed Name"},
      {"description of markup only", "<item><feed-name>N</feed-name><description>&lt;img/&gt;</description></item>", "",
       "N"},
      {"nothing at all", "<item/>", "", ""},
      {"not XML", "feed-name: N", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WalkResult r = WalkItem(c.item);
    ASSERT_TRUE(ObeysProtocol(r));
    auto values = OwnValues(r);
    ASSERT_EQ(values.size(), 6u);
    EXPECT_EQ(values[4], Quoted(c.summary));
    EXPECT_EQ(values[5], Quoted(c.title));
  }
}

TEST_F(FeedItemFilterTest, TheLongUncFormReadsTheShare) {
  SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Platform\\Shares", u"server\\share", TempDirW());
  const std::string item = "<item><feed-name>On a share</feed-name><title>T</title></item>";
  WriteBytes(PathIn("item.qhitem"), item);
  const std::u16string longForm = u"\\\\?\\UNC\\server\\share\\item.qhitem";
  ComPtr<IFilter> filter;
  ASSERT_EQ(LoadIFilter(longForm.c_str(), nullptr, filter.put_void()), S_OK);
  WalkResult r = DriveFilter(filter.get(), ProxyOptions());
  ASSERT_TRUE(ObeysProtocol(r));
  auto values = OwnValues(r);
  ASSERT_EQ(values.size(), 6u);
  EXPECT_EQ(values[0], "\"On a share\"");
  EXPECT_EQ(values[2], std::to_string(item.size())) << "the size of the file on the share";
  ComPtr<IPersistFile> persist;
  ASSERT_EQ(filter.As(persist), S_OK);
  LPOLESTR current = nullptr;
  ASSERT_EQ(persist->GetCurFile(&current), S_OK);
  EXPECT_EQ(std::u16string(current), longForm) << "the path as the indexer gave it";
  CoTaskMemFree(current);
}

TEST_F(FeedItemFilterTest, AnItemThatCannotBeReadFailsLoad) {
  HRESULT load = S_OK;
  Walk(PathInW("absent.qhitem"), &load);
  EXPECT_EQ(load, HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) << "the XML filter's answer";
  ASSERT_EQ(mkfifo(PathIn("pipe.qhitem").c_str(), 0600), 0);
  load = S_OK;
  Walk(PathInW("pipe.qhitem"), &load);  // must not block on the FIFO
  EXPECT_TRUE(FAILED(load)) << std::hex << load;
}

}  // namespace
