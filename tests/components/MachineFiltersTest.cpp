#include <gtest/gtest.h>

#include "framework/FilterInit.h"
#include "platform/com/ComPtr.h"
#include "platform/indexer/LoadIFilter.h"
#include "tests/support/ProtocolDriver.h"
#include "platform/win32/Registry.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;

class MachineFiltersTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ASSERT_EQ(RegisterModule(ZYT_COMPONENTS_MODULE), S_OK);
  }
  ZYT::WalkResult Drive(const std::string& name, const std::string& bytes) {
    WriteBytes(PathIn(name), bytes);
    ZYT::ComPtr<IFilter> filter;
    EXPECT_EQ(LoadIFilter(PathInW(name).c_str(), nullptr, filter.put_void()), S_OK) << name;
    return filter ? DriveFilter(filter.get()) : ZYT::WalkResult();
  }
};

TEST_F(MachineFiltersTest, PlainTextBecomesParagraphs) {
  auto r = Drive("notes.txt", "First line\nsame paragraph\n\n\nSecond \xc3\xa9\r\n\r\nThird");
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Texts(r), (std::vector<std::u16string>{u"First line\nsame paragraph", u"Second \u00e9", u"Third"}));
  r = Drive("latin1.txt", "caf\xe9");  // not UTF-8: the system code page (UTF-8 here) replaces it
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Texts(r).size(), 1u);
  r = Drive("big.txt", std::string(10000, 'a'));
  EXPECT_EQ(Texts(r).size(), 3u) << "long paragraphs come in pieces";
}

// ASCII is widened in blocks before ICU converts the rest: what lies on
// either side of a block's end, and a file that is not UTF-8 after a long
// ASCII start, must come out whole.
TEST_F(MachineFiltersTest, ZipPerfTextDecodesAcrossTheAsciiBlocks) {
  const std::string ascii(37, 'a');
  const std::u16string wide(37, u'a');
  const struct {
    std::string bytes;
    std::u16string text;
  } cases[] = {
      {ascii + "\xc3\xa9 z", wide + u"\u00e9 z"},
      {std::string(16, 'b') + "\xe2\x82\xac", std::u16string(16, u'b') + u"\u20ac"},
      {ascii + "\xe9 z", wide + u"\ufffd z"},  // not UTF-8: the system code page (UTF-8 here) replaces it
      {"\xef\xbb\xbf" + ascii + "\xff", wide + u"\ufffd"},
      {std::string(32, 'c'), std::u16string(32, u'c')},
  };
  for (const auto& c : cases) {
    auto r = Drive("blocks.txt", c.bytes);
    ASSERT_TRUE(ObeysProtocol(r));
    EXPECT_EQ(Texts(r), std::vector<std::u16string>{c.text}) << c.bytes;
  }
  auto r = Drive("blocks.html", "<title>" + ascii + "\xc3\xa9</title><p>" + ascii + "  \xc3\xa9\n\n x</p>");
  EXPECT_EQ(Values(r), std::vector<std::string>{"\"" + ascii + "\xc3\xa9\""});
  EXPECT_EQ(Texts(r), (std::vector<std::u16string>{wide + u" \u00e9", u"x"}));
}

TEST_F(MachineFiltersTest, HtmlGivesVisibleTextAndTitle) {
  auto r = Drive("page.html",
                 "<html><head><title> The  Title </title><style>p{}</style></head>"
                 "<body><script>var hidden = 1;</script><h1>Heading</h1><p>Some <b>bold</b>\n text.</p>"
                 "<p>Unclosed &amp; broken<div>Block</body></html>");
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Values(r), std::vector<std::string>{"\"The Title\""});
  EXPECT_EQ(r.chunks[0].stat.attribute.guidPropSet, FMTID_SummaryInformation);
  EXPECT_EQ(r.chunks[0].stat.attribute.psProperty.propid, PIDSI_TITLE);
  EXPECT_EQ(Texts(r), (std::vector<std::u16string>{u"Heading", u"Some bold text.", u"Unclosed & broken", u"Block"}));
  r = Drive("other.htm", "<p>no title");
  EXPECT_TRUE(Values(r).empty());
}

TEST_F(MachineFiltersTest, MailGivesHeadersByIdAndName) {
  auto r = Drive("m.eml",
                 "From: =?UTF-8?Q?Ren=C3=A9?= <rene@example.org>\r\nTo: a@example.org, b@example.org\r\n"
                 "Cc: c@example.org\r\nSubject: =?UTF-8?B?SMOpbGxv?=\r\n\r\nBody line.\r\n");
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Values(r), (std::vector<std::string>{"\"Héllo\"", "\"René <rene@example.org>\"",
                                                 "\"a@example.org, b@example.org\"", "\"c@example.org\""}));
  EXPECT_EQ(r.chunks[2].propertyName, u"To");
  EXPECT_EQ(r.chunks[3].propertyName, u"Cc");
  EXPECT_EQ(Texts(r), std::vector<std::u16string>{u"Body line."});
}

TEST_F(MachineFiltersTest, NullHandlerGivesNothing) {
  SetRegistryString(HKEY_CLASSES_ROOT, u".bin\\PersistentHandler", u"", u"{098F2470-BAE0-11CD-B579-08002B30BFEB}");
  auto r = Drive("blob.bin", std::string("\0\1\2", 3));
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_TRUE(r.chunks.empty());
  EXPECT_EQ(r.end, FILTER_E_END_OF_CHUNKS);
}

}  // namespace
