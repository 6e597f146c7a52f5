#include <gtest/gtest.h>

#include "framework/FilterInit.h"
#include "platform/com/ComPtr.h"
#include "platform/indexer/LoadIFilter.h"
#include "tests/filters/media/MediaBytes.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using ZYT::WalkOptions;
using ZYT::WalkResult;
using ZYT::ComPtr;

class OggVorbisFilterTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ASSERT_EQ(RegisterModule(ZYT_FILTERS_MODULE), S_OK);
  }
  WalkResult Drive(const std::string& bytes, DriveOptions options = {}) {
    WriteBytes(PathIn("song.ogg"), bytes);
    ComPtr<IFilter> filter;
    EXPECT_EQ(LoadIFilter(PathInW("song.ogg").c_str(), nullptr, filter.put_void()), S_OK);
    options.sourceRule = WalkOptions::SourceRule::ZeroForValues;
    return filter ? DriveFilter(filter.get(), options) : WalkResult();
  }
};

TEST_F(OggVorbisFilterTest, CommentsGiveValuesHeaderAndItems) {
  WalkResult r = Drive(VorbisFile("v", {"TITLE=t", "ARTIST=a", "GENRE=g"}));
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Values(r), (std::vector<std::string>{"\"t\"", "\"t\"", "\"a\"", "\"g\""}));
  EXPECT_EQ(Texts(r),
            (std::vector<std::u16string>{u"Artist: a\nTitle: t\nGenre: g\n\n", u"v ", u"t ", u"a ", u"g "}))
      << "every item, the last too, ends with a space";
}

TEST_F(OggVorbisFilterTest, MissingAndEmptyComments) {
  WalkResult r = Drive(VorbisFile("v", {"title=lower", "ARTIST="}));
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Values(r), (std::vector<std::string>{"\"\"", "\"\"", "\"\"", "\"\""}));
  EXPECT_EQ(Texts(r), (std::vector<std::u16string>{u"Artist: \n\n", u"v ", u"lower ", u" "}))
      << "a present ARTIST writes its line even when empty";
}

TEST_F(OggVorbisFilterTest, APictureCommentIsTextLikeAnyOther) {
  // Base64 without padding is the value; with padding ("="), the text after
  // the last "=" is, which is empty.
  std::string picture;
  for (int i = 0; picture.size() < 60000; ++i) picture += "QUJD" + std::to_string(i % 10);
  WalkResult r = Drive(VorbisFile("v", {"TITLE=t", "METADATA_BLOCK_PICTURE=" + picture,
                                        "METADATA_BLOCK_PICTURE=QUJDRA==", "GENRE=g"}));
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Values(r), (std::vector<std::string>{"\"t\"", "\"t\"", "\"\"", "\"g\""}));
  std::vector<std::u16string> texts = Texts(r);
  ASSERT_EQ(texts.size(), 6u);
  EXPECT_EQ(texts[3], std::u16string(picture.begin(), picture.end()) + u" ") << "the whole picture text, in order";
  EXPECT_EQ(texts[4], u" ");
  EXPECT_EQ(texts[5], u"g ");
}

TEST_F(OggVorbisFilterTest, ContentsOnlyStillGivesText) {
  DriveOptions options;
  FULLPROPSPEC property{PSGUID_STORAGE, {PRSPEC_PROPID, {PID_STG_CONTENTS}}};
  options.attributes = {property};
  WalkResult r = Drive(VorbisFile("v", {"TITLE=t"}), options);
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_TRUE(Values(r).empty());
  EXPECT_EQ(Texts(r), (std::vector<std::u16string>{u"Title: t\n\n", u"v ", u"t "}));
  EXPECT_EQ(r.chunks[0].stat.idChunk, 1u);
}

TEST_F(OggVorbisFilterTest, CutListAndForeignFiles) {
  std::string cut = VorbisFile("v", {"TITLE=t", "ARTIST=a"});
  cut.resize(cut.size() - 6);
  WalkResult r = Drive(cut);
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_TRUE(Values(r).empty()) << "a list cut short gives no value chunks";
  EXPECT_EQ(Texts(r).size(), 3u);

  r = Drive("ID3\x03 not an Ogg file at all");
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_TRUE(r.chunks.empty());
  EXPECT_EQ(r.end, FILTER_E_END_OF_CHUNKS);

  const std::string file = VorbisFile("vendor", {"TITLE=t", "ARTIST=a", "GENRE=g"});
  for (size_t n = 0; n <= file.size(); n += 2) ASSERT_TRUE(ObeysProtocol(Drive(file.substr(0, n)))) << n;
}

}  // namespace
