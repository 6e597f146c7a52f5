// A registry write that runs out of disk is reported as a full disk, and the
// registry is left as it was before the command.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include "platform/win32/Registry.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/Strings.h"
#include "tests/reliability/RegistryHost.h"

namespace ZYT {
namespace {

class RegistryDiskFullTest : public Test::MachineTest {
 protected:
  // The child may write files up to `bytes` long: beyond, a write fails with
  // EFBIG, as a full disk fails with ENOSPC.
  static std::function<void()> FileSizeLimit(rlim_t bytes) {
    return [bytes] {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit = {bytes, bytes};
      setrlimit(RLIMIT_FSIZE, &limit);
    };
  }

  bool KeyExists(HKEY root, const char16_t* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }

  // A REGEDIT file far larger than the limit lets the registry grow.
  std::string BigImport() {
    std::string text = "Windows Registry Editor Version 5.00\n";
    for (int k = 0; k < 2000; ++k) {
      text += "\n[HKEY_CURRENT_USER\\Big\\K" + std::to_string(k) + "]\n";
      for (int v = 0; v < 10; ++v) text += "\"V" + std::to_string(v) + "\"=\"" + std::string(200, 'x') + "\"\n";
    }
    return text;
  }
};

TEST_F(RegistryDiskFullTest, ImportThatFillsTheDiskSaysSoAndChangesNothing) {
  ZYT::Test::SetRegistryString(HKEY_CURRENT_USER, u"Before", u"v", u"kept");
  ResetRegistryStore();  // the child must find the store as this process left it
  WriteBytes(PathIn("big.reg"), BigImport());
  ZYT::Test::RegistryHost host(*this);
  ZYT::Test::ProcessResult r = host.Run({"reg", "import", PathIn("big.reg")}, FileSizeLimit(256 * 1024));
  EXPECT_EQ(r.status, 1) << r.err;
  auto lines = ZYT::Test::Lines(r.err);
  ASSERT_EQ(lines.size(), 1u) << r.err;
  EXPECT_NE(lines[0].find("There is not enough space on the disk."), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].find("could not be written"), std::string::npos) << lines[0];
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Big")) << "a failed import leaves nothing of itself";
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"Before"));

  ZYT::Test::ProcessResult again = host.Run({"reg", "import", PathIn("big.reg")});
  EXPECT_EQ(again.status, 0) << "with space, the same import goes through: " << again.err;
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"Big\\K1999"));
}

TEST_F(RegistryDiskFullTest, SetupThatFillsTheDiskBlamesTheRegistryNotAModule) {
  // The disk fills at a different write for each size: while a module
  // registers, while the indexer's settings are written, or at the commit.
  for (size_t kilobytes = 40; kilobytes <= 120; kilobytes += 2) {
    SCOPED_TRACE(std::to_string(kilobytes) + " KB");
    ZYT::Test::RegistryHost host(*this);
    ZYT::Test::ProcessResult r = host.Run({"setup"}, FileSizeLimit(kilobytes * 1024));
    EXPECT_EQ(r.status, 1);
    auto lines = ZYT::Test::Lines(r.err);
    ASSERT_EQ(lines.size(), 1u) << r.err;
    EXPECT_NE(lines[0].find("0x80070070 (There is not enough space on the disk.) writing " + RegistryStorePath()),
              std::string::npos)
        << lines[0];
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, u"CLSID\\{32E04D14-5E47-11D7-B40F-00D009EF4932}"))
        << "a set-up that fails registers nothing, not even the components that fitted";
  }
}

// In-process: a full disk inside an open transaction fails the rest of it and
// its commit; no later write slips past it into the registry on its own.
TEST_F(RegistryDiskFullTest, TransactionThatFillsTheDiskCommitsNothing) {
  ZYT::Test::SetRegistryString(HKEY_CURRENT_USER, u"Before", u"v", u"kept");
  ResetRegistryStore();
  ZYT::Test::ChildExit child = ZYT::Test::RunInChild([] {
    FileSizeLimit(128 * 1024)();
    HKEY before = nullptr, filling = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Before", 0, KEY_ALL_ACCESS, &before) != ERROR_SUCCESS) return 10;
    CRegistryTransaction transaction;
    if (transaction.Status() != ERROR_SUCCESS) return 11;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, u"Filling", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &filling, nullptr))
      return 12;
    std::vector<BYTE> block(64 * 1024, 0x5a);
    LONG first = ERROR_SUCCESS;
    for (int i = 0; i < 64 && first == ERROR_SUCCESS; ++i) {
      std::u16string name = u"V" + Utf8ToWide(std::to_string(i));
      first = RegSetValueExW(filling, name.c_str(), 0, REG_BINARY, block.data(), static_cast<DWORD>(block.size()));
    }
    const DWORD one = 1;
    RegSetValueExW(before, u"late", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    LONG commit = transaction.Commit();
    if (first != ERROR_SUCCESS && first != ERROR_DISK_FULL) return 20;
    return commit == ERROR_DISK_FULL ? 0 : 21;
  }, ZYT::Test::RegistryHost::kPatienceSeconds);
  ASSERT_FALSE(child.hung);
  ASSERT_EQ(child.signal, 0);
  EXPECT_EQ(child.status, 0) << "1x: set-up failed; 20: a write failed otherwise; 21: the commit did not "
                                       "report a full disk";
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Filling"));
  HKEY before = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Before", 0, KEY_READ, &before), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValueExW(before, u"late", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND)
      << "a write after the transaction was lost must not be committed on its own";
  RegCloseKey(before);
}

}  // namespace
}  // namespace ZYT
