// OLE compound files for the tests, written by libgsf as Office writes them.
#pragma once

#include <string>

namespace ZYT::Test {

// A compound file with a summary information stream holding a title and the
// keywords (none when keywords is null). Fails the test when it cannot.
void WriteCompoundFile(const std::string& path, const char* keywords);

}  // namespace ZYT::Test
