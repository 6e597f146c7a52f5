// A message document waits for the monitor without a time-out; zytfilt dump
// says so while it waits instead of looking hung.
#include <gtest/gtest.h>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT {
namespace {

class CliProgressTest : public Test::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    setenv("ZYT_SETTINGS", SettingsPath().c_str(), 1);
  }
};

TEST_F(CliProgressTest, AWaitForTheMonitorIsReportedWhileItLasts) {
  ASSERT_EQ(ZYT::Test::RunZytfilt({"setup"}).status, 0);
  WriteBytes(PathIn("note.qhm"), "message: note.eml\n");  // no monitor runs: the filter waits
  ZYT::Test::ChildProcess dump({ZYT_ZYTFILT, "dump", "--progress", "1", "note.qhm"}, {.cwd = TempDir()});
  ASSERT_TRUE(dump.WaitForErr("zytfilt dump: note.qhm: still filtering after 1 s", 1, 30))
      << dump.Err();
  ASSERT_TRUE(dump.WaitForErr("zytfilt dump: note.qhm: still filtering after 2 s", 1, 30))
      << "the report repeats with the time so far: " << dump.Err();
  dump.Kill();
  EXPECT_EQ(dump.Out(), "");
}

TEST_F(CliProgressTest, AQuickFileGetsNoReport) {
  ZYT::Test::ProcessResult o = ZYT::Test::RunZytfilt({"dump", ZYT_SAMPLES "/sample.mp3", ZYT_SAMPLES "/sample.ogg"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.err, "");
  o = ZYT::Test::RunZytfilt({"dump", "--progress", "soon", "x.mp3"});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(ZYT::Test::Lines(o.err).size(), 1u) << o.err;
}

}  // namespace
}  // namespace ZYT
