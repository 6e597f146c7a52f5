#include <gtest/gtest.h>

#include "filters/media/OggComments.h"
#include "tests/filters/media/MediaBytes.h"

namespace {

using namespace ZYT::Test;
using Items = std::vector<std::u16string>;

bool Read(const std::string& bytes, OggComments& comments) {
  return ReadOggComments(CMemoryByteSource(bytes), comments);
}

TEST(OggCommentsTest, ReadsVendorAndComments) {
  OggComments c;
  ASSERT_TRUE(Read(VorbisFile("v", {"TITLE=t", "ARTIST=a", "GENRE=g", "title=lower", "K=a=b", "TITLE=second"}), c));
  EXPECT_EQ(c.items, (Items{u"v", u"t", u"a", u"g", u"lower", u"b", u"second"}));
  EXPECT_EQ(c.fields.at(u"TITLE"), u"t") << "the first TITLE stays";
  EXPECT_EQ(c.fields.size(), 3u) << "keys are case-sensitive";
  EXPECT_EQ(c.valueChunks, 4);
}

TEST(OggCommentsTest, SplitKeepsTheTextAfterTheLastEquals) {
  struct Case {
    std::string bytes;
    std::u16string key, value;
  };
  const Case cases[] = {
      {"ARTIST=Band", u"ARTIST", u"Band"},
      {"no equals", u"", u"no equals"},
      {"K=a=b", u"a", u"b"},
      {"=", u"", u""},
      {"T=\xC3\xA9", u"T", u"\u00C3\u00A9"},  // bytes, not UTF-8
  };
  for (const Case& c : cases) {
    std::u16string key, value;
    SplitComment(reinterpret_cast<const BYTE*>(c.bytes.data()), c.bytes.size(), key, value);
    EXPECT_EQ(key, c.key) << c.bytes;
    EXPECT_EQ(value, c.value) << c.bytes;
  }
}

TEST(OggCommentsTest, EmptyListStillGivesValueChunks) {
  OggComments c;
  ASSERT_TRUE(Read(VorbisFile("vendor=x", {}), c));
  EXPECT_EQ(c.items, (Items{u"x"}));
  EXPECT_EQ(c.valueChunks, 4);
}

TEST(OggCommentsTest, ListCutShortKeepsWhatWasRead) {
  std::string file = VorbisFile("v", {"TITLE=t", "ARTIST=a"});
  file.resize(file.size() - 6);  // into the second comment
  OggComments c;
  ASSERT_TRUE(Read(file, c));
  EXPECT_EQ(c.items, (Items{u"v", u"t"}));
  EXPECT_EQ(c.valueChunks, 0) << "no value chunks for a cut list";
}

TEST(OggCommentsTest, WhatIsNotAVorbisFileIsRefused) {
  OggComments c;
  EXPECT_FALSE(Read("", c));
  EXPECT_FALSE(Read("RIFF....WAVEfmt ", c));
  std::string second = VorbisFile("v", {});
  second[OggPage(std::string("\x01vorbis", 7) + std::string(23, '\0')).size()] = 'X';  // second page's capture
  EXPECT_FALSE(Read(second, c));
  EXPECT_TRUE(c.items.empty());
}

TEST(OggCommentsTest, LengthsBeyondTheFileEndTheReading) {
  // A count of four billion comments of length zero: the reader must stop at the end of the data.
  std::string packet = "\x03vorbis" + Le32(1) + "v" + Le32(0xFFFFFFFF) + Le32(0) + Le32(0);
  OggComments c;
  ASSERT_TRUE(Read(OggPage(std::string("\x01vorbis", 7)) + OggPage(packet), c));
  EXPECT_EQ(c.items.size(), 3u);
  EXPECT_EQ(c.valueChunks, 0);
  std::string vendor = "\x03vorbis" + Le32(0x7FFFFFFF) + "v";  // a vendor longer than the file
  OggComments d;
  EXPECT_FALSE(Read(OggPage(std::string("\x01vorbis", 7)) + OggPage(vendor), d));
  const std::string file = VorbisFile("vendor", {"TITLE=t", "ARTIST=a", "GENRE=g"});
  for (size_t n = 0; n <= file.size(); ++n) {
    OggComments e;
    Read(file.substr(0, n), e);
    size_t total = 0;
    for (const auto& item : e.items) total += item.size();
    ASSERT_LE(total, n) << "prefix " << n;
  }
}

}  // namespace

namespace {

TEST(OggCommentsTest, LimitsKeepTheFirstCommentsAtTheirExactSize) {
  // Vendor "v", then "aa" and "bbb": 3 items, 6 characters in all.
  const std::string file = VorbisFile("v", {"TITLE=aa", "GENRE=bbb"});
  struct Case {
    size_t maxItems, maxText;
    std::vector<std::u16string> items;
    size_t fields;
    bool cut;
  };
  const Case cases[] = {
      {3, 6, {u"v", u"aa", u"bbb"}, 2, false},  // exactly the limits
      {4, 7, {u"v", u"aa", u"bbb"}, 2, false},
      {2, 6, {u"v", u"aa"}, 1, true},           // one comment less
      {3, 5, {u"v", u"aa", u"bb"}, 2, true},    // one character less: the last value is shortened
      {1, 6, {u"v"}, 0, true},
  };
  for (const Case& c : cases) {
    OggComments comments;
    ASSERT_TRUE(ReadOggComments(CMemoryByteSource(file), comments, TagLimits{c.maxItems, c.maxText}));
    EXPECT_EQ(comments.items, c.items) << c.maxItems << "/" << c.maxText;
    EXPECT_EQ(comments.fields.size(), c.fields) << c.maxItems << "/" << c.maxText;
    EXPECT_EQ(comments.cut, c.cut) << c.maxItems << "/" << c.maxText;
    EXPECT_EQ(comments.valueChunks, 4) << "a limit is not a list cut short by the file";
  }
}

}  // namespace
