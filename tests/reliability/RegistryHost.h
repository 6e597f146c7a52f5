// The built zytfilt on a test's machine for the registry's reliability tests:
// several at once, killed, or with a process limit or fewer privileges set up
// in the child (prepare) before it starts.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT::Test {

class RegistryHost {
 public:
  // Imports of thousands of keys under a sanitizer take their time.
  static constexpr int kPatienceSeconds = 180;

  explicit RegistryHost(MachineTest& test) : m_test(test) {}

  ChildProcess& Start(const std::vector<std::string>& args, const std::function<void()>& prepare = {}) {
    std::vector<std::string> argv{ZYT_ZYTFILT};
    argv.insert(argv.end(), args.begin(), args.end());
    ProcessOptions options = OnMachine(m_test, m_test.TempDir());
    options.prepare = prepare;
    return *m_hosts.emplace_back(std::make_unique<ChildProcess>(argv, options));
  }
  ProcessResult Run(const std::vector<std::string>& args, const std::function<void()>& prepare = {}) {
    return Start(args, prepare).Wait(kPatienceSeconds);
  }

 private:
  MachineTest& m_test;
  std::vector<std::unique_ptr<ChildProcess>> m_hosts;
};

}  // namespace ZYT::Test
