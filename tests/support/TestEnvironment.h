// Every test gets its own registry file and temporary folder, so tests run in
// parallel and leave nothing behind.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/WinTypes.h"

namespace ZYT::Test {

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The test's private folder (POSIX path, no trailing separator).
  const std::string& TempDir() const { return m_dir; }
  std::u16string TempDirW() const;
  // A path inside the private folder.
  std::string PathIn(const std::string& name) const { return m_dir + "/" + name; }
  std::u16string PathInW(const std::string& name) const;
  void WriteBytes(const std::string& path, const std::string& bytes) const;
  std::string ReadBytes(const std::string& path) const;
  bool Exists(const std::string& path) const;
  std::vector<std::string> ListDir(const std::string& path) const;

 private:
  std::string m_dir;
  std::string m_savedTmp;
  bool m_hadTmp = false;
};

// "\x41\x00" style literals with embedded NULs.
template <size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

}  // namespace ZYT::Test
