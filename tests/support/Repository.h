// The repository folder of the filters (temporary files, logs) inside a
// test's private folder.
#pragma once

#include <string>

#include "tests/support/TestEnvironment.h"

namespace ZYT::Test {

// The settings server with the repository in the test's folder "repo",
// created, with its log folder when logged.
void UseRepository(MachineTest& test, bool logged);
// Every entry the filters logged in that repository.
std::string FilterLogs(const MachineTest& test);

}  // namespace ZYT::Test
