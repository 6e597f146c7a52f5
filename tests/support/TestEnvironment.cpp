#include "tests/support/TestEnvironment.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/com/TaskAllocator.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"

namespace ZYT::Test {

void MachineTest::SetUp() {
  char pattern[] = "/tmp/zyttest.XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  m_dir = pattern;
  setenv("ZYT_REGISTRY", (m_dir + "/registry.db").c_str(), 1);
  mkdir((m_dir + "/tmp").c_str(), 0700);
  if (const char* t = std::getenv("TMPDIR")) {
    m_hadTmp = true;
    m_savedTmp = t;
  }
  setenv("TMPDIR", (m_dir + "/tmp").c_str(), 1);
  ResetRegistryStore();
  FailTaskAllocations(0, 0);
}

void MachineTest::TearDown() {
  FailTaskAllocations(0, 0);
  ResetRegistryStore();
  unsetenv("ZYT_REGISTRY");
  if (m_hadTmp)
    setenv("TMPDIR", m_savedTmp.c_str(), 1);
  else
    unsetenv("TMPDIR");
  std::error_code ec;
  // Read-only files and folders must not keep the folder alive.
  for (auto& entry : std::filesystem::recursive_directory_iterator(m_dir, ec))
    chmod(entry.path().c_str(), entry.is_directory() ? 0700 : 0600);
  std::filesystem::remove_all(m_dir, ec);
}

std::u16string MachineTest::TempDirW() const { return Utf8ToWide(m_dir); }
std::u16string MachineTest::PathInW(const std::string& name) const { return Utf8ToWide(PathIn(name)); }

void MachineTest::WriteBytes(const std::string& path, const std::string& bytes) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  ASSERT_TRUE(out.good()) << "cannot write " << path;
}

std::string MachineTest::ReadBytes(const std::string& path) const {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

bool MachineTest::Exists(const std::string& path) const {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> MachineTest::ListDir(const std::string& path) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto& entry : std::filesystem::directory_iterator(path, ec)) names.push_back(entry.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace ZYT::Test
