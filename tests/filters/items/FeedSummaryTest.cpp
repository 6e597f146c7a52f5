#include <gtest/gtest.h>

#include <string>

#include "filters/items/FeedSummary.h"
#include "platform/win32/Strings.h"

namespace {

using ZYT::FeedSummaryOf;
using ZYT::ShortenText;

std::u16string Repeat(char16_t c, size_t n) { return std::u16string(n, c); }

TEST(FeedSummaryTest, MarkupLineBreaksAndSpaceRuns) {
  const struct {
    const char16_t* description;
    const char16_t* summary;
  } cases[] = {
      {u"Hello <b>big</b>   world\n", u"Hello big world"},
      {u"\r\nline\r\nbreaks\n", u"linebreaks"},
      {u"  leading and trailing  ", u" leading and trailing "},
      {u"a<br/>b< i >c", u"abc"},
      {u"cut <a href=\"x", u"cut "},
      {u"no markup > here", u"no markup > here"},
      {u"tab\tkept", u"tab\tkept"},
      {u"<p></p>", u""},
      {u"", u""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FeedSummaryOf(c.description), c.summary) << ZYT::WideToUtf8(c.description);
}

TEST(FeedSummaryTest, ShortenCutsAtTheLastSpaceOrKeepsRoomForTheDots) {
  const std::u16string a300 = Repeat(u'a', 300);
  const struct {
    const char* name;
    std::u16string text;
    size_t limit;
    std::u16string expected;
  } cases[] = {
      {"at the limit", Repeat(u'x', 320), 320, Repeat(u'x', 320)},
      {"one over, no space", Repeat(u'x', 321), 320, Repeat(u'x', 317) + u"..."},
      {"space at the last kept place", Repeat(u'a', 319) + u" b", 320, Repeat(u'a', 319) + u" ..."},
      {"space just past the kept places", Repeat(u'a', 320) + u" b", 320, Repeat(u'a', 317) + u"..."},
      {"space early", a300 + u" " + Repeat(u'b', 50), 320, a300 + u" ..."},
      {"space first", u" " + Repeat(u'b', 400), 320, u" ..."},
      {"title", u"one two three four five six seven eight nine ten eleven twelve thirteen fourteen fifteen", 80,
       u"one two three four five six seven eight nine ten eleven twelve thirteen ..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::u16string shortened = ShortenText(c.text, c.limit);
    EXPECT_EQ(shortened, c.expected);
    EXPECT_LE(shortened.size(), c.limit + 3);
  }
}

TEST(FeedSummaryTest, LongDescriptionsEndWithDots) {
  // The markup and spaces that are dropped do not count toward the limit.
  std::u16string description;
  for (int i = 0; i < 100; ++i) description += u"<i>word</i>     ";
  std::u16string summary = FeedSummaryOf(description);
  // "word " is five characters: 64 of them fill the 320 exactly, the last space at 319.
  std::u16string expected;
  for (int i = 0; i < 64; ++i) expected += u"word ";
  EXPECT_EQ(summary, expected + u"...");
  EXPECT_EQ(ShortenText(summary, 80), expected.substr(0, 80) + u"...");

  EXPECT_EQ(FeedSummaryOf(Repeat(u'c', 5000)), Repeat(u'c', 317) + u"...");
  EXPECT_EQ(FeedSummaryOf(Repeat(u'c', 320) + u"<b>"), Repeat(u'c', 320)) << "markup after the limit is no text";
}

TEST(FeedSummaryTest, OnlyTheLongFormOfAPathIsRewritten) {
  const struct {
    const char16_t* path;
    const char16_t* normalised;
  } cases[] = {
      {u"\\\\?\\UNC\\server\\share\\item.qhitem", u"\\\\server\\share\\item.qhitem"},
      {u"\\\\?\\C:\\feeds\\item.qhitem", u"C:\\feeds\\item.qhitem"},
      {u"\\\\?\\/home/ann/item.qhitem", u"/home/ann/item.qhitem"},
      {u"\\\\server\\share\\item.qhitem", u"\\\\server\\share\\item.qhitem"},
      {u"/home/ann/UNC\\item.qhitem", u"/home/ann/UNC\\item.qhitem"},
      {u"\\\\?\\UNCitem.qhitem", u"UNCitem.qhitem"},
      {u"\\\\?\\", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(ZYT::NormaliseItemPath(c.path), c.normalised) << ZYT::WideToUtf8(c.path);
}

}  // namespace
