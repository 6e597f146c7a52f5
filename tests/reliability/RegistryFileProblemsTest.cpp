// A registry file that is not a registry, or that this user may only read:
// the host names the file and what is wrong with it, in one line, and reads
// what it may.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sqlite3.h>
#include <sys/prctl.h>
#include <sys/stat.h>

#include "platform/win32/Registry.h"
#include "platform/win32/RegistryStore.h"
#include "tests/reliability/RegistryHost.h"

namespace ZYT {
namespace {

class RegistryFileProblemsTest : public Test::MachineTest {
 protected:
  // The commands a user would try first; each must fail with one line that
  // names the registry file and says `why`, and leave the file as it was.
  void ExpectEachBlamesTheFile(const std::string& why) {
    const std::string path = RegistryStorePath();
    const std::string before = ReadBytes(path);
    const std::vector<std::vector<std::string>> commands = {{"setup"},
                                                            {"dump", ZYT_SAMPLES "/sample.mp3"},
                                                            {"reg", "query", "HKLM"},
                                                            {"reg", "export", "HKCR\\CLSID"},
                                                            {"register", "zytfilters"}};
    ZYT::Test::RegistryHost host(*this);
    for (const auto& args : commands) {
      ZYT::Test::ProcessResult r = host.Run(args);
      EXPECT_EQ(r.status, 1) << args[0] << ": " << r.err;
      auto lines = ZYT::Test::Lines(r.err);
      ASSERT_EQ(lines.size(), 1u) << args[0] << ": " << r.err;
      EXPECT_NE(lines[0].find(path + ": " + why), std::string::npos) << args[0] << ": " << lines[0];
      EXPECT_EQ(lines[0].find(".dll.so"), std::string::npos) << "no module is to blame: " << lines[0];
    }
    EXPECT_TRUE(ReadBytes(path) == before) << "the file is not changed";
  }
};

TEST_F(RegistryFileProblemsTest, TextFileIsNotARegistryDatabase) {
  WriteBytes(RegistryStorePath(), "these are someone's notes, long enough to pass for a database header\n");
  ExpectEachBlamesTheFile("is not a registry database (file is not a database)");
}

TEST_F(RegistryFileProblemsTest, AnotherProgramsDatabaseIsLeftAlone) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(RegistryStorePath().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE photos(name TEXT); INSERT INTO photos VALUES('cat.jpg');", nullptr,
                         nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  ExpectEachBlamesTheFile("is not a registry database (it holds other tables)");
}

// Tables of the registry's names but not its columns: told apart when the
// store is opened, before any key is read.
TEST_F(RegistryFileProblemsTest, LookAlikeTablesAreNotARegistry) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(RegistryStorePath().c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "PRAGMA journal_mode=WAL; CREATE TABLE keys(k TEXT); CREATE TABLE vals(v TEXT);",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  ExpectEachBlamesTheFile("is not a registry database (its tables are not the registry's)");
}

TEST_F(RegistryFileProblemsTest, FifoIsNeitherOpenedNorWaitedFor) {
  ASSERT_EQ(mkfifo(RegistryStorePath().c_str(), 0600), 0);
  ZYT::Test::ProcessResult r = ZYT::Test::RegistryHost(*this).Run({"reg", "query", "HKLM"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "zytfilt reg: " + RegistryStorePath() + ": is not a registry database (not a regular file)\n");
}

// As root, permissions do not stop writes; without the capabilities that let
// root past them, a folder of mode 0500 is read-only to its owner too.
void DropFilePrivileges() {
  for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
}

TEST_F(RegistryFileProblemsTest, RegistryInAReadOnlyFolderIsReadButNotWritten) {
  ASSERT_EQ(mkdir(PathIn("ro").c_str(), 0700), 0);
  setenv("ZYT_REGISTRY", PathIn("ro/registry.db").c_str(), 1);
  ResetRegistryStore();
  ZYT::Test::RegistryHost host(*this);
  ZYT::Test::ProcessResult setup = host.Run({"setup"});
  ASSERT_EQ(setup.status, 0) << setup.err;
  // The last connection to close folds the log back into the file, as a
  // registry that nobody uses is left.
  HKEY probe = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, u".mp3", 0, KEY_READ, &probe), ERROR_SUCCESS);
  RegCloseKey(probe);
  ResetRegistryStore();
  ASSERT_FALSE(Exists(PathIn("ro/registry.db-wal")));
  ASSERT_EQ(chmod(PathIn("ro").c_str(), 0500), 0);
  WriteBytes(PathIn("new.reg"), "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\New]\n");

  ZYT::Test::ProcessResult query = host.Run({"reg", "query", "HKCR\\.mp3"}, DropFilePrivileges);
  EXPECT_EQ(query.status, 0) << query.err;
  EXPECT_EQ(query.out, "HKCR\\.mp3\\PersistentHandler\n");
  ZYT::Test::ProcessResult dump = host.Run({"dump", ZYT_SAMPLES "/sample.mp3"}, DropFilePrivileges);
  EXPECT_EQ(dump.status, 0) << dump.err;
  EXPECT_NE(dump.out.find("end of chunks"), std::string::npos) << dump.out;

  const std::string readOnly = "(" + PathIn("ro/registry.db") + " is read-only for this user)";
  ZYT::Test::ProcessResult import = host.Run({"reg", "import", PathIn("new.reg")}, DropFilePrivileges);
  EXPECT_EQ(import.status, 1);
  EXPECT_EQ(import.err, "zytfilt reg: " + PathIn("new.reg") + ": cannot write the registry: Access is denied. " +
                            readOnly + "\n");
  ZYT::Test::ProcessResult again = host.Run({"setup"}, DropFilePrivileges);
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(again.err, "zytfilt: " + PathIn("ro/registry.db") + ": is read-only for this user; it can be read but "
                                                                 "not set up\n");
  EXPECT_FALSE(Exists(PathIn("ro/registry.db-wal"))) << "nothing was written beside it";
  chmod(PathIn("ro").c_str(), 0700);
}

}  // namespace
}  // namespace ZYT
