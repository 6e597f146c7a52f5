// The machine the archive filter tests run on: the module registered, the
// indexer's idle time-out set, archives written into the test's folder and
// walked through LoadIFilter.
#pragma once

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/com/ComPtr.h"
#include "platform/com/Filter.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT::Test {

inline void SetFilterIdleTimeout(DWORD milliseconds) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\ContentIndex", 0, nullptr, 0,
                            KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(key, u"FilterIdleTimeout", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&milliseconds),
                           sizeof milliseconds),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

// Chunk ids of member chunks keep their own source ids.
inline DriveOptions ArchiveDrive() {
  DriveOptions options;
  options.sourceRule = WalkOptions::SourceRule::Any;
  return options;
}

// The summary's text, the last chunk's value (a JSON string).
inline std::string SummaryOf(const WalkResult& result) {
  if (result.chunks.empty() || !result.chunks.back().hasValue) return {};
  return result.chunks.back().valueJson;
}

// Every path below dir, relative, sorted (folders end in "/").
inline std::vector<std::string> TreeOf(const std::string& dir, const std::string& prefix = "") {
  std::vector<std::string> all;
  std::unique_ptr<DIR, int (*)(DIR*)> d(opendir(dir.c_str()), closedir);
  if (!d) return all;
  while (dirent* e = readdir(d.get())) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    lstat((dir + "/" + name).c_str(), &st);
    all.push_back(prefix + name + (S_ISDIR(st.st_mode) ? "/" : ""));
    if (S_ISDIR(st.st_mode))
      for (const std::string& inner : TreeOf(dir + "/" + name, prefix + name + "/")) all.push_back(inner);
  }
  std::sort(all.begin(), all.end());
  return all;
}

// Both modules registered, a long idle time-out, a watchdog, and no extract
// folder left when the test ends.
class ArchiveMachineTest : public MachineTest {
 protected:
  explicit ArchiveMachineTest(unsigned watchdogSeconds = 60) : m_watchdogSeconds(watchdogSeconds) {}
  void SetUp() override {
    MachineTest::SetUp();
    alarm(m_watchdogSeconds);  // a guard that does not hold turns into a hang, not a pass
    ASSERT_EQ(RegisterModule(ZYT_FILTERS_MODULE), S_OK);
    ASSERT_EQ(RegisterModule(ZYT_COMPONENTS_MODULE), S_OK);
    SetFilterIdleTimeout(600000);
  }
  void TearDown() override {
    alarm(0);
    EXPECT_EQ(TreeOf(PathIn("tmp")), std::vector<std::string>{}) << "the extract folder outlived its filter";
    MachineTest::TearDown();
  }

 private:
  unsigned m_watchdogSeconds;
};

}  // namespace ZYT::Test
