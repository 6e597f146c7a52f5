#pragma once

#include <string>
#include <vector>

// Each command takes its arguments (without the command word) and returns the
// process exit code; errors are one line on stderr.
int RunRegCommand(const std::vector<std::string>& args);
