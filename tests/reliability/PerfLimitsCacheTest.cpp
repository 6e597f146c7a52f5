// Limits are kept between reads while the registry is unchanged; a change,
// made here or by another process, is what the next read gives. A limit is a
// DWORD: a value of another type leaves the caller's default.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>

#include "platform/win32/Limits.h"
#include "platform/win32/Registry.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT {
namespace {

using Test::Eventually;
using Test::ProcessResult;
using Test::RunZytfilt;

class PerfLimitsCacheTest : public ZYT::Test::MachineTest {
 protected:
  // Sets or (value empty) deletes the limit from another process, zytfilt reg import.
  void ImportLimit(const std::string& name, const std::string& value) {
    WriteBytes(PathIn("limit.reg"), "Windows Registry Editor Version 5.00\r\n\r\n"
                                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZYT\\Orrery\\Limits]\r\n\"" +
                                        name + "\"=" + (value.empty() ? "-" : "dword:" + value) + "\r\n");
    ProcessResult import = RunZytfilt({"reg", "import", PathIn("limit.reg")}, ZYT::Test::OnMachine(*this, PathIn("home")));
    ASSERT_EQ(import.status, 0) << import.err;
  }
};

TEST_F(PerfLimitsCacheTest, AnotherProcessChangingALimitIsSeenByTheNextRead) {
  // Read first, so that the value (and the missing key) are what is kept.
  ASSERT_EQ(GetLimit(u"MaxPerfThings", 77), 77u);
  ASSERT_EQ(GetLimit(u"MaxPerfThings", 77), 77u);
  ImportLimit("MaxPerfThings", "00000005");
  EXPECT_TRUE(Eventually([] { return GetLimit(u"MaxPerfThings", 77) == 5; })) << "a missing limit set elsewhere";
  ImportLimit("MaxPerfThings", "00000009");
  EXPECT_TRUE(Eventually([] { return GetLimit(u"MaxPerfThings", 77) == 9; })) << "a limit changed elsewhere";
  ImportLimit("MaxPerfThings", "");
  EXPECT_TRUE(Eventually([] { return GetLimit(u"MaxPerfThings", 77) == 77; })) << "a limit deleted elsewhere";
}

TEST_F(PerfLimitsCacheTest, OwnWritesCountAtOnceAndEachDefaultStaysItsCallers) {
  EXPECT_EQ(GetLimit(u"MaxPerfOther", 3), 3u);
  EXPECT_EQ(GetLimit(u"MaxPerfOther", 4), 4u) << "what is kept is the value read, not the first caller's default";
  ZYT::Test::SetLimit(u"MaxPerfOther", 12);
  EXPECT_EQ(GetLimit(u"maxperfother", 3), 12u) << "this process's write, the very next read; names case-blind";
  EXPECT_EQ(GetLimit(u"MaxPerfUnset", 6), 6u);
  ZYT::Test::SetLimit(u"MaxPerfOther", 0);
  EXPECT_EQ(GetLimit(u"MaxPerfOther", 3), 0u) << "zero is a value, not a missing one";
}

TEST_F(PerfLimitsCacheTest, ValuesOfAnotherTypeAreIgnored) {
  const char16_t text[] = u"12";
  const BYTE shortDword[2] = {1, 0};
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, kLimitsKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, u"MaxThings", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExW(key, u"MaxBinary", 0, REG_BINARY, shortDword, sizeof shortDword), ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(GetLimit(u"MaxThings", 77), 77u);
  EXPECT_EQ(GetLimit(u"MaxBinary", 3), 3u);
}

TEST_F(PerfLimitsCacheTest, AWriteOnOneThreadIsTheNextReadOnAnother) {
  // Filter objects on other threads keep their limits per thread.
  std::promise<void> read, written;
  DWORD before = 0, after = 0;
  std::thread filterThread([&] {
    before = GetLimit(u"MaxPerfThreads", 7);
    read.set_value();
    written.get_future().wait();
    after = GetLimit(u"MaxPerfThreads", 7);
  });
  read.get_future().wait();
  ZYT::Test::SetLimit(u"MaxPerfThreads", 21);
  written.set_value();
  filterThread.join();
  EXPECT_EQ(before, 7u);
  EXPECT_EQ(after, 21u);
}

}  // namespace
}  // namespace ZYT
