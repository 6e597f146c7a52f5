// Hostile tags: an ID3v2 header that declares a tag of half a gigabyte in a
// sparse file, an Ogg comment list of millions of empty comments. The filters
// keep within their limits, say in their log when a limit cut the tag, and
// still give what comes before the cut.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/com/ComPtr.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/Strings.h"
#include "tests/filters/media/MediaBytes.h"
#include "tests/reliability/ParsersChild.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/Repository.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using namespace ZYT::Test::Parsers;
using Texts16 = std::vector<std::u16string>;

class ParsersTagLimitsTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    UseRepository(*this, true);
    ASSERT_EQ(RegisterModule(ZYT_FILTERS_MODULE), S_OK);
  }
  ZYT::WalkResult Drive(const std::string& name) {
    ZYT::ComPtr<IFilter> filter;
    EXPECT_EQ(LoadIFilter(PathInW(name).c_str(), nullptr, filter.put_void()), S_OK) << name;
    DriveOptions options;
    options.sourceRule = ZYT::WalkOptions::SourceRule::ZeroForValues;
    options.bufferSize = 4096;
    return filter ? DriveFilter(filter.get(), options) : ZYT::WalkResult();
  }
  // Writes bytes at offset of a file of the given size; the rest stays a hole.
  void WriteSparse(const std::string& path, uint64_t size, const std::vector<std::pair<uint64_t, std::string>>& pieces) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(ftruncate(fd, static_cast<off_t>(size)), 0);
    for (const auto& [offset, bytes] : pieces)
      ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(bytes.size()));
    ASSERT_EQ(close(fd), 0);
  }
};

TEST_F(ParsersTagLimitsTest, HugeDeclaredId3v2TagIsWalkedNotLoaded) {
  // "ID3" v2.3, no flags, size bytes 0xFF each: taken whole they declare
  // 538 984 575 bytes, which a 2 GB file holds; only two frames are real,
  // the rest is a hole of zeros (padding).
  const std::string frames = Frame("TIT2", Text("Title")) + Frame("TPE1", Text("Artist"));
  const std::string header = std::string("ID3\x03\x00\x00", 6) + "\xFF\xFF\xFF\xFF";
  const uint64_t size = 2ull << 30;
  WriteSparse(PathIn("huge.mp3"), size,
              {{0, header + frames}, {size - 128, Id3v1("v1 title", "v1 artist", "Album", "1999", "Note", 17)}});

  ZYT::WalkResult r = Drive("huge.mp3");
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Values(r), (std::vector<std::string>{"\"Title\"", "\"Title\"", "\"Artist\"", "\"Rock\""}))
      << "the frames before the padding, then the genre the ID3v1 tag supplies";
  EXPECT_EQ(Texts(r), (Texts16{u"Artist: Artist\nTitle: Title\nGenre: Rock\n\n", u"Title ", u"Artist ", u"Rock ",
                               u"Album ", u"1999 ", u"Note"}));
  EXPECT_EQ(FilterLogs(*this).find("cut"), std::string::npos) << "nothing was cut:\n" << FilterLogs(*this);

  if (!kMeasureMemory) return;  // peak memory means nothing under AddressSanitizer
  int code = -1;
  long extraKb = ExtraKbToFilter(PathInW("huge.mp3"), &code);
  EXPECT_EQ(code, 0);
  EXPECT_LT(extraKb, 32 * 1024) << "the declared 539 MB tag must not be read into memory";
}

TEST_F(ParsersTagLimitsTest, Id3v2FramesBeyondTheLimitsAreLeftAndLogged) {
  SetLimit(u"MaxTagItems", 3);
  std::string frames;
  for (const char* text : {"one", "two", "three", "four", "five"}) frames += Frame("TXXX", Text(text));
  WriteBytes(PathIn("many.mp3"), Id3v2(frames + Frame("TIT2", Text("Late title"))));
  ZYT::WalkResult r = Drive("many.mp3");
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Texts(r), (Texts16{u"one ", u"two ", u"three"})) << "the first three texts, no header: no title came";
  EXPECT_NE(FilterLogs(*this).find("Init: the tag is cut at its first 3 texts, 11 characters (limits MaxTagItems 3, MaxTagText "
                        "1048576)\n"),
            std::string::npos)
      << FilterLogs(*this);

  SetLimit(u"MaxTagItems", 10000);
  SetLimit(u"MaxTagText", 1024);
  WriteBytes(PathIn("long.mp3"), Id3v2(Frame("TIT2", Text(std::string(5000, 'x'))) + Frame("TPE1", Text("Band"))));
  r = Drive("long.mp3");
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Values(r)[0], "\"" + std::string(1024, 'x') + "\"") << "the title is the text that fits";
  EXPECT_EQ(Values(r)[2], "\"\"") << "the artist frame after the cut is not read";
  EXPECT_NE(FilterLogs(*this).find("cut at its first 1 texts, 1024 characters"), std::string::npos) << FilterLogs(*this);
}

TEST_F(ParsersTagLimitsTest, MillionsOfEmptyOggCommentsKeepTheFirstOnes) {
  // The comment packet as one run of bytes after the second page's header
  // (one lacing value), as the reader takes it: 2.6 million empty comments.
  const uint32_t empties = (10u << 20) / 4;
  std::string packet = std::string("\x03vorbis", 7) + Le32(6) + "vendor" + Le32(2 + empties) + Le32(7) + "TITLE=t" +
                       Le32(8) + "ARTIST=a";
  packet.append(size_t{empties} * 4, '\0');
  std::string identification = std::string("\x01vorbis", 7) + std::string(23, '\0');
  std::string second = "OggS" + std::string(22, '\0') + "\x01\xFF";
  WriteBytes(PathIn("empties.ogg"), OggPage(identification) + second + packet);

  ZYT::WalkResult r = Drive("empties.ogg");
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Values(r), (std::vector<std::string>{"\"t\"", "\"t\"", "\"a\"", "\"\""}))
      << "the list was cut by a limit, not by the file: the fields of the kept comments are given";
  Texts16 texts = Texts(r);
  ASSERT_EQ(texts.size(), 1u + 10000u) << "the header, then the vendor and the first 9 999 comments";
  EXPECT_EQ(texts[0], u"Artist: a\nTitle: t\n\n");
  EXPECT_EQ((Texts16{texts[1], texts[2], texts[3], texts[4], texts.back()}),
            (Texts16{u"vendor ", u"t ", u"a ", u" ", u" "}));
  EXPECT_NE(FilterLogs(*this).find("Init: the tag is cut at its first 10000 texts, 8 characters (limits MaxTagItems 10000"),
            std::string::npos)
      << FilterLogs(*this);

  if (!kMeasureMemory) return;  // peak memory means nothing under AddressSanitizer
  int code = -1;
  long extraKb = ExtraKbToFilter(PathInW("empties.ogg"), &code);
  EXPECT_EQ(code, 0);
  EXPECT_LT(extraKb, 32 * 1024) << "10 MB of empty comments must not take hundreds of megabytes";
}

TEST_F(ParsersTagLimitsTest, LongOggCommentIsShortenedToTheTextLimit) {
  SetLimit(u"MaxTagText", 2000);
  // The value is what follows the last "=", so all of a long comment is read
  // to find it, yet only what fits is kept.
  WriteBytes(PathIn("long.ogg"), VorbisFile("v", {"TITLE=" + std::string(3000, 'y') + "=end", "ARTIST=a",
                                                   "GENRE=" + std::string(5000, 'g')}));
  ZYT::WalkResult r = Drive("long.ogg");
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Values(r), (std::vector<std::string>{"\"\"", "\"\"", "\"a\"", "\"" + std::string(1995, 'g') + "\""}))
      << "a key shortened by the limit names no field; the genre keeps what fits";
  Texts16 texts = Texts(r);
  ASSERT_EQ(texts.size(), 5u);
  EXPECT_EQ(texts[2], u"end ");
  EXPECT_EQ(texts[4].size(), 1995u + 1) << "vendor, end and a took 5 of the 2000 characters";
  EXPECT_NE(FilterLogs(*this).find("cut at its first 4 texts, 2000 characters"), std::string::npos) << FilterLogs(*this);
}

}  // namespace
