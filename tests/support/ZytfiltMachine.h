// A machine as a person meets it: every zytfilt command of a test runs with a
// home in the test's private folder, against the test's registry.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT::Test {

// How a run ended and what it said on stderr, for a failed assertion's message.
inline std::string Outcome(const ProcessResult& r) {
  std::string how = r.hung ? "hung (killed by the watchdog)"
                    : r.signal ? "killed by signal " + std::to_string(r.signal)
                               : "exit " + std::to_string(r.status);
  return how + "; stderr: " + (r.err.empty() ? "(empty)" : r.err);
}

class ZytfiltMachineTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    m_machine = OnMachine(*this, PathIn("home"));
  }
  ProcessResult Zytfilt(const std::vector<std::string>& args, int timeoutSeconds = kWatchdogSeconds) {
    return RunZytfilt(args, m_machine, timeoutSeconds);
  }
  // Runs a command that must succeed (wrap in ASSERT_NO_FATAL_FAILURE to stop there).
  void Ok(const std::vector<std::string>& args) {
    ProcessResult r = Zytfilt(args);
    std::string command;
    for (const std::string& a : args) command += " " + a;
    ASSERT_EQ(r.status, 0) << "zytfilt" << command << ": " << Outcome(r);
  }
  // Imports keys and values written as a .reg file's body.
  void Import(const std::string& regedit) {
    WriteBytes(PathIn("import.reg"), "Windows Registry Editor Version 5.00\r\n\r\n" + regedit);
    Ok({"reg", "import", PathIn("import.reg")});
  }
  ProcessOptions m_machine;
};

}  // namespace ZYT::Test
