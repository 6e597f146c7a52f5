#include <gtest/gtest.h>

#include "filters/media/Mp3Tag.h"
#include "tests/filters/media/MediaBytes.h"

namespace {

using namespace ZYT::Test;
using Items = std::vector<std::u16string>;

CMp3Tag Read(const std::string& bytes) { return CMp3Tag(CMemoryByteSource(bytes)); }

TEST(Mp3TagTest, Id3v1AloneGivesEveryField) {
  const std::string file = std::string(1000, '\xFF') + Id3v1("Song", "Band", "Album", "1999", "Nice", 17);
  CMp3Tag tag = Read(file);
  EXPECT_EQ(tag.Title(), u"Song");
  EXPECT_EQ(tag.Artist(), u"Band");
  EXPECT_EQ(tag.Genre(), u"Rock");
  EXPECT_EQ(tag.Items(), (Items{u"Rock", u"Song", u"Band", u"Album", u"1999", u"Nice"}));
}

TEST(Mp3TagTest, CompleteId3v2TagLeavesId3v1Unread) {
  const auto tag = Read(Id3v2(Frame("TIT2", Text("Title")) +  // the three fields, Latin-1
                              Frame("TPE1", Text("Artist")) + Frame("TCON", Text("(17)"))) +
                        Id3v1("Other", "Other", "Album", "2000", "", 3));
  EXPECT_EQ(tag.Genre(), u"(17)") << "a numeric genre stays as written";
  EXPECT_EQ(tag.Items(), (Items{u"Title", u"Artist", u"(17)"}));
}

TEST(Mp3TagTest, AnotherEncodingEndsTheId3v2Reading) {
  const std::string utf16 = std::string("\xFF\xFE" "A\0r\0", 6);
  const auto tag = Read(Id3v2(Frame("TIT2", Text("Kept")) + Frame("TPE1", Text(utf16, 1)) +  // UTF-16: stop here
                              Frame("TALB", Text("Never read"))) +
                        Id3v1("v1 title", "v1 artist", "v1 album", "1980", "c", 0));
  EXPECT_EQ(tag.Title(), u"Kept");
  EXPECT_EQ(tag.Artist(), u"v1 artist");
  EXPECT_EQ(tag.Genre(), u"Blues");
  EXPECT_EQ(tag.Items(), (Items{u"Kept", u"Blues", u"v1 artist", u"v1 album", u"1980", u"c"}));
}

TEST(Mp3TagTest, FieldsAreLatin1UpToTheFirstControlByte) {
  const std::string bytes = "Caf\xE9\x00rest";
  EXPECT_EQ(Latin1Field(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size(), 0, bytes.size(), 0),
            std::u16string(u"Caf\u00E9"));
  EXPECT_EQ(Latin1Field(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size(), 0, bytes.size(), 3), u"");
  EXPECT_EQ(Latin1Field(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size(), 2, 99, 0), u"f\u00E9")
      << "an end past the buffer is clamped";
  const auto tag = Read(Id3v2(Frame("TIT2", Text("Two\nLines"))));
  EXPECT_EQ(tag.Title(), u"Two");
}

TEST(Mp3TagTest, GenreTableEndsAt147) {
  EXPECT_EQ(std::u16string(Id3v1Genre(16)), u"Reggea");
  EXPECT_EQ(std::u16string(Id3v1Genre(147)), u"Synthpop");
  EXPECT_EQ(Id3v1Genre(148), nullptr);
  const auto unset = Read(Id3v1("T", "A", "", "", "", 255));
  EXPECT_EQ(unset.Genre(), u"");
  EXPECT_EQ(unset.Items(), (Items{u"T", u"A", u"", u"", u""})) << "no genre item either";
}

TEST(Mp3TagTest, Id3v2HeaderRules) {
  struct Case {
    const char* name;
    std::string bytes;
    std::u16string title;
  };
  const std::string frames = Frame("TIT2", Text("T"));
  // Extended header: its own size first (7 bits a byte), then the frames.
  const std::string extended = std::string("\x00\x00\x00\x06", 4) + std::string(2, '\0') + frames;
  const Case cases[] = {
      {"version 4", Id3v2(frames, 4), u"T"},
      {"version 5 is not read", Id3v2(frames, 5), u""},
      {"extended header skipped", Id3v2(extended, 3, 0x40), u"T"},
      {"footer read with the tag", Id3v2(frames, 4, 0x10) + std::string(10, '\0'), u"T"},
      {"footer missing: a short read", Id3v2(frames, 4, 0x10), u""},
      {"compressed frame stops", Id3v2(Frame("TIT2", Text("T"), 0x08)), u""},
      {"encrypted frame stops", Id3v2(Frame("TIT2", Text("T"), 0x04)), u""},
      {"padding stops", Id3v2(std::string(20, '\0') + frames), u""},
      {"unknown frame skipped", Id3v2(Frame("APIC", std::string(50, 'x')) + frames), u"T"},
      {"later frame overwrites", Id3v2(frames + Frame("TIT2", Text("Second"))), u"Second"},
      {"size beyond the file", Id3v2(frames).substr(0, 10) + "\x00", u""},
  };
  for (const Case& c : cases) EXPECT_EQ(Read(c.bytes).Title(), c.title) << c.name;
}

TEST(Mp3TagTest, HostileSizesNeverReadPastTheData) {
  // A frame that claims 4 GiB, another that ends in the middle of its header.
  const std::string huge = Id3v2(Frame("TIT2", Text("Big")).substr(0, 4) + "\xFF\xFF\xFF\xFF" + std::string(2, '\0') +
                                 Text("Big"));
  EXPECT_EQ(Read(huge).Title(), u"Big") << "the field is clamped to the tag";
  const std::string file = Id3v2(Frame("TIT2", Text("Title")) + Frame("TPE1", Text("Artist")) +
                                 Frame("TCON", Text("Genre"))) +
                           std::string(100, '\xFF') + Id3v1("t", "a", "al", "1999", "c", 2);
  // Every prefix of a tagged file is a file someone may own.
  for (size_t n = 0; n <= file.size(); ++n) {
    CMp3Tag tag = Read(file.substr(0, n));
    for (const auto& item : tag.Items()) ASSERT_LE(item.size(), n) << "prefix " << n;
  }
}

}  // namespace

namespace {

TEST(Mp3TagTest, LimitsKeepTheFirstTextsAtTheirExactSize) {
  // Two frames of 2 and 3 characters: 2 items, 5 characters in all.
  const std::string file = Id3v2(Frame("TIT2", Text("ab")) + Frame("TPE1", Text("cde")));
  struct Case {
    size_t maxItems, maxText;
    Items items;
    std::u16string artist;
    bool cut;
  };
  const Case cases[] = {
      {2, 5, {u"ab", u"cde"}, u"cde", false},  // exactly the limits
      {3, 6, {u"ab", u"cde"}, u"cde", false},
      {1, 5, {u"ab"}, u"", true},              // one item less: the second frame is left
      {2, 4, {u"ab", u"cd"}, u"cd", true},     // one character less: the last text is shortened
      {2, 2, {u"ab"}, u"", true},              // no character left for the second frame
  };
  for (const Case& c : cases) {
    CMp3Tag tag(CMemoryByteSource(file), TagLimits{c.maxItems, c.maxText});
    EXPECT_EQ(tag.Items(), c.items) << c.maxItems << "/" << c.maxText;
    EXPECT_EQ(tag.Title(), u"ab");
    EXPECT_EQ(tag.Artist(), c.artist) << c.maxItems << "/" << c.maxText;
    EXPECT_EQ(tag.Cut(), c.cut) << c.maxItems << "/" << c.maxText;
  }

  // The ID3v1 fields come whatever the limits; its texts only while they fit.
  CMp3Tag v1(CMemoryByteSource(Id3v1("Song", "Band", "Album", "1999", "Nice", 17)), TagLimits{3, 100});
  EXPECT_EQ(v1.Items(), (Items{u"Rock", u"Song", u"Band"}));
  EXPECT_EQ(v1.Artist(), u"Band");
  EXPECT_TRUE(v1.Cut());
}

}  // namespace
