// An import and one module's registration are each one registry transaction:
// another process sees the registry before or after them, never a mix, and a
// kill half-way leaves nothing of them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include "interfaces/ClassIds.h"
#include "platform/com/Guid.h"
#include "platform/win32/Registry.h"
#include "platform/win32/RegistryStore.h"
#include "tests/reliability/RegistryHost.h"

namespace ZYT {
namespace {

class RegistryTransactionTest : public Test::MachineTest {
 protected:
  bool KeyExists(HKEY root, const std::u16string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
  }

  static off_t SizeOf(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_size : 0;
  }

  // The first and the last things that registering the filter module writes:
  // a class of the first row of its table, and the type library.
  const std::u16string m_firstClass = u"CLSID\\" + GuidToString(CLSID_QhsFilter) + u"\\InprocServer32";
  const std::u16string m_typeLibrary = u"TypeLib\\" + GuidToString(LIBID_ZYTDocTypes) + u"\\1.0\\409\\win32";
};

TEST_F(RegistryTransactionTest, ImportKilledHalfWayLeavesNothingOfIt) {
  ZYT::Test::SetRegistryString(HKEY_CURRENT_USER, u"Before", u"v", u"kept");
  // The import first deletes a key, then writes far more than SQLite keeps
  // in memory, so that its writes reach the log file while it runs.
  std::string text = "Windows Registry Editor Version 5.00\n\n[-HKEY_CURRENT_USER\\Before]\n";
  for (int k = 0; k < 4000; ++k) {
    text += "\n[HKEY_CURRENT_USER\\Big\\K" + std::to_string(k) + "]\n";
    for (int v = 0; v < 10; ++v) text += "\"V" + std::to_string(v) + "\"=\"" + std::string(200, 'x') + "\"\n";
  }
  WriteBytes(PathIn("big.reg"), text);
  const std::string log = RegistryStorePath() + "-wal";
  const off_t start = SizeOf(log);

  ZYT::Test::RegistryHost host(*this);
  ZYT::Test::ChildProcess& import = host.Start({"reg", "import", PathIn("big.reg")});
  bool killed = false;
  for (int i = 0; i < 60000 && !killed; ++i) {
    if (!import.Running()) break;
    if (SizeOf(log) > start + 4 * 1024 * 1024) killed = kill(import.Pid(), SIGKILL) == 0;
    else std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ZYT::Test::ProcessResult r = import.Wait(host.kPatienceSeconds);
  ASSERT_TRUE(killed) << "the import ended before 4 MB of it were written, so it could not be killed half-way: "
                      << r.err;
  ASSERT_EQ(r.signal, SIGKILL);

  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"Before")) << "the import's deletion was undone with the rest";
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"Big")) << "no key of the killed import is visible";
  WriteBytes(PathIn("small.reg"), "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\After]\n");
  ZYT::Test::ProcessResult again = host.Run({"reg", "import", PathIn("small.reg")});
  EXPECT_EQ(again.status, 0) << "the store is intact after the kill: " << again.err;
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"After"));
}

TEST_F(RegistryTransactionTest, ImportWithABadLineChangesNothing) {
  ZYT::Test::SetRegistryString(HKEY_CURRENT_USER, u"Before", u"v", u"kept");
  WriteBytes(PathIn("bad.reg"),
             "Windows Registry Editor Version 5.00\n\n[-HKEY_CURRENT_USER\\Before]\n\n[HKEY_CURRENT_USER\\New]\n"
             "\"a\"=\"1\"\n\"b\"=dword:nothex\n");
  ZYT::Test::ProcessResult r = ZYT::Test::RegistryHost(*this).Run({"reg", "import", PathIn("bad.reg")});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "zytfilt reg: " + PathIn("bad.reg") + ": line 7: bad dword value\n");
  EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, u"Before"));
  EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, u"New"));
}

// A reader polls while other processes register the filter module: first on
// an empty machine, then again over a registered one.
TEST_F(RegistryTransactionTest, ReaderNeverSeesAModuleHalfRegistered) {
  ZYT::Test::RegistryHost host(*this);
  ZYT::Test::ChildProcess& registration = host.Start({"register", "zytfilters"});
  int polls = 0;
  while (registration.Running()) {
    ++polls;
    // Read in the order they are written: a class that is there while the
    // type library written after it is not is a half registration.
    if (!KeyExists(HKEY_CLASSES_ROOT, m_firstClass)) continue;
    ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, m_typeLibrary))
        << "poll " << polls << ": the first class is registered but not yet the type library";
  }
  ZYT::Test::ProcessResult first = registration.Wait();
  ASSERT_EQ(first.status, 0) << first.err;
  ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, m_typeLibrary));

  // Re-registering keeps every key that is already right: a handle held
  // across it stays valid, and a fresh look always finds the class.
  HKEY held = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CLASSES_ROOT, m_firstClass.c_str(), 0, KEY_READ, &held), ERROR_SUCCESS);
  std::vector<ZYT::Test::ChildProcess*> writers = {&host.Start({"register", "zytfilters"}), &host.Start({"setup"}),
                                                   &host.Start({"register", "zytfilters"})};
  std::vector<bool> done(writers.size());
  for (size_t finished = 0; finished < writers.size();) {
    WCHAR module[512];
    DWORD size = sizeof module;
    LONG rc = RegQueryValueExW(held, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(module), &size);
    EXPECT_EQ(rc, ERROR_SUCCESS) << "a held key was deleted under its handle (1018 = ERROR_KEY_DELETED)";
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, m_firstClass)) << "a fresh look missed the registered class";
    if (rc != ERROR_SUCCESS) break;
    for (size_t i = 0; i < writers.size(); ++i)
      if (!done[i] && !writers[i]->Running()) done[i] = true, ++finished;
  }
  for (ZYT::Test::ChildProcess* writer : writers) {
    ZYT::Test::ProcessResult r = writer->Wait(host.kPatienceSeconds);
    EXPECT_EQ(r.status, 0) << r.err;
  }
  RegCloseKey(held);
}

}  // namespace
}  // namespace ZYT
