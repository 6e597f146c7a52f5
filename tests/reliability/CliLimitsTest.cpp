// The host's own limits: the chunks one file may print (MaxDumpChunks) and
// the GetText buffer it allocates (MaxDumpBuffer). A cut is said, not hidden
// behind a normal end.
#include <gtest/gtest.h>

#include "platform/win32/Limits.h"
#include "platform/win32/Registry.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT {
namespace {

class CliLimitsTest : public Test::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    setenv("ZYT_SETTINGS", SettingsPath().c_str(), 1);
  }
};

TEST_F(CliLimitsTest, AFileWithMoreChunksThanTheLimitIsCutAndSaysSo) {
  const std::string sample = ZYT_SAMPLES "/sample.mp3";
  ZYT::Test::ProcessResult whole = ZYT::Test::RunZytfilt({"dump", "--json", sample});
  ASSERT_EQ(whole.status, 0) << whole.err;
  auto lines = ZYT::Test::Lines(whole.out);
  ASSERT_GE(lines.size(), 3u);
  const size_t chunks = lines.size() - 1;  // every line but the end line is a chunk

  ZYT::Test::SetLimit(u"MaxDumpChunks", static_cast<DWORD>(chunks));
  ZYT::Test::ProcessResult exact = ZYT::Test::RunZytfilt({"dump", "--json", sample});
  EXPECT_EQ(exact.status, 0) << "a filter that ends at the limit is not cut: " << exact.err;
  EXPECT_EQ(exact.out, whole.out);
  EXPECT_EQ(exact.err, "");

  ZYT::Test::SetLimit(u"MaxDumpChunks", static_cast<DWORD>(chunks - 1));
  ZYT::Test::ProcessResult cut = ZYT::Test::RunZytfilt({"dump", "--json", sample});
  EXPECT_EQ(cut.status, 1);
  auto cutLines = ZYT::Test::Lines(cut.out);
  ASSERT_EQ(cutLines.size(), chunks);
  for (size_t i = 0; i + 1 < chunks; ++i) EXPECT_EQ(cutLines[i], lines[i]);
  EXPECT_EQ(cutLines.back(), "{\"file\":\"" + sample + "\",\"cut\":\"MaxDumpChunks\",\"chunks\":" +
                                 std::to_string(chunks - 1) + "}");
  auto errors = ZYT::Test::Lines(cut.err);
  ASSERT_EQ(errors.size(), 1u) << cut.err;
  EXPECT_EQ(errors[0].rfind("zytfilt dump: " + sample + ": cut after " + std::to_string(chunks - 1) +
                                " chunks, the limit MaxDumpChunks",
                            0),
            0u)
      << errors[0];

  ZYT::Test::ProcessResult text = ZYT::Test::RunZytfilt({"dump", sample});
  EXPECT_EQ(text.status, 1);
  EXPECT_EQ(ZYT::Test::Lines(text.out).back(), "cut after " + std::to_string(chunks - 1) + " chunks");
  for (const std::string& line : ZYT::Test::Lines(text.out))
    EXPECT_NE(line.rfind("end ", 0), 0u) << "a cut file has no end line";
}

TEST_F(CliLimitsTest, TextBuffersAboveTheMaximumAreRefused) {
  const std::string sample = ZYT_SAMPLES "/sample.ogg";
  ZYT::Test::ProcessResult normal = ZYT::Test::RunZytfilt({"dump", sample});
  ASSERT_EQ(normal.status, 0) << normal.err;
  ZYT::Test::ProcessResult largest = ZYT::Test::RunZytfilt({"dump", "--buffer", "1048576", sample});
  EXPECT_EQ(largest.status, 0) << largest.err;
  EXPECT_EQ(largest.out, normal.out);
  for (const char* size : {"1048577", "4294967295", "4294967296", "99999999999999999999"}) {
    ZYT::Test::ProcessResult o = ZYT::Test::RunZytfilt({"dump", "--buffer", size, sample});
    EXPECT_EQ(o.status, 2) << size;
    EXPECT_EQ(o.out, "") << size;
    auto lines = ZYT::Test::Lines(o.err);
    ASSERT_EQ(lines.size(), 1u) << o.err;
    EXPECT_NE(lines[0].find("MaxDumpBuffer"), std::string::npos) << lines[0];
  }

  ZYT::Test::SetLimit(u"MaxDumpBuffer", 16);
  EXPECT_EQ(ZYT::Test::RunZytfilt({"dump", "--buffer", "16", sample}).out, normal.out);
  ZYT::Test::ProcessResult over = ZYT::Test::RunZytfilt({"dump", "--buffer", "17", sample});
  EXPECT_EQ(over.status, 2);
  EXPECT_NE(over.err.find("is more than 16 characters"), std::string::npos) << over.err;
}

}  // namespace
}  // namespace ZYT
