#include <gtest/gtest.h>

#include "platform/storage/SummaryInformation.h"
#include "tests/support/CompoundFile.h"
#include "tests/support/TestEnvironment.h"

namespace {

using ZYT::Test::WriteCompoundFile;

class SummaryInformationTest : public ZYT::Test::MachineTest {};

TEST_F(SummaryInformationTest, KeywordsOfACompoundFile) {
  WriteCompoundFile(PathIn("report.doc"), "budget caf\xc3\xa9 2026");
  std::string before = ReadBytes(PathIn("report.doc"));
  std::u16string keywords;
  ASSERT_EQ(ZYT::ReadSummaryKeywords(PathIn("report.doc"), keywords), S_OK);
  EXPECT_EQ(keywords, u"budget caf\u00e9 2026");
  EXPECT_EQ(ReadBytes(PathIn("report.doc")), before) << "the file is only read";
  EXPECT_EQ(ZYT::ReadSummaryKeywordsFromMemory(before, keywords), S_OK);
  EXPECT_EQ(keywords, u"budget caf\u00e9 2026");
}

TEST_F(SummaryInformationTest, OtherFilesHaveNoKeywords) {
  WriteCompoundFile(PathIn("untagged.doc"), nullptr);
  std::u16string keywords = u"stale";
  EXPECT_EQ(ZYT::ReadSummaryKeywords(PathIn("untagged.doc"), keywords), S_FALSE);
  EXPECT_EQ(keywords, u"");
  WriteBytes(PathIn("text.doc"), "not a compound file at all");
  EXPECT_EQ(ZYT::ReadSummaryKeywords(PathIn("text.doc"), keywords), S_FALSE);
  WriteBytes(PathIn("fake.doc"), std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\xFF'));
  EXPECT_EQ(ZYT::ReadSummaryKeywords(PathIn("fake.doc"), keywords), S_FALSE) << "a signature alone is not a storage";
  EXPECT_EQ(ZYT::ReadSummaryKeywords(PathIn("missing.doc"), keywords), HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));
  // A damaged summary stream found by fuzzing: libgsf gives up, so do we.
  const std::string damaged = ReadBytes(ZYT_TEST_DATA "/gsf-leak.doc");
  EXPECT_EQ(ZYT::ReadSummaryKeywordsFromMemory(damaged, keywords), S_FALSE);
  const std::string file = ReadBytes(PathIn("untagged.doc"));
  for (size_t n = 0; n <= file.size(); n += 97) ZYT::ReadSummaryKeywordsFromMemory(file.substr(0, n), keywords);
}

}  // namespace
