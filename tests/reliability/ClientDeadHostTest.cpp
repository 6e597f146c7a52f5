// A filter host waits for the monitor without a time-out. The wait must show
// in the filter's log, and a host killed during it must not leave its
// temporary file behind for good: the next host or the monitor removes it,
// and never a live host's file or anything that is not a filter's.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "framework/TempFileLock.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Strings.h"
#include "tests/reliability/ClientHosts.h"

namespace ZYT::Test::MonitorClient {
namespace {

class ClientDeadHostTest : public ClientMachineTest {
 protected:
  // Starts a host on document and waits until it sits in the wait for the
  // monitor with its temporary file made; returns that file's name.
  std::string HostWaiting(ChildProcess& host, size_t logsBefore) {
    std::string made;
    auto before = TempFiles();
    EXPECT_TRUE(Eventually([&] {
      for (const std::string& name : TempFiles())
        if (name.rfind("qhm", 0) == 0 && std::find(before.begin(), before.end(), name) == before.end()) made = name;
      return !made.empty() && Count(MessageFilterLogs(), "Load: waiting for the monitor's message server") > logsBefore;
    })) << "the host does not wait for the monitor: " << host.Output();
    EXPECT_TRUE(host.Running()) << host.Output();
    return made;
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
  }
  // Names in the temp folder that look like a filter's but are not its files,
  // and a link to a file outside: none may be touched by a sweep.
  void PlantLookAlikes() {
    mkdir(TempFolder().c_str(), 0700);
    WriteBytes(TempFolder() + "/notes.txt", "mine");
    WriteBytes(TempFolder() + "/qhm12345.tmp", "five digits");
    WriteBytes(TempFolder() + "/abc1.tmp", "another prefix");
    WriteBytes(TempFolder() + "/qhm1.tmpx", "another extension");
    mkdir((TempFolder() + "/pim2.tmp").c_str(), 0700);
    WriteBytes(PathIn("outside"), "not in the folder");
    ASSERT_EQ(symlink(PathIn("outside").c_str(), (TempFolder() + "/zyt3.tmp").c_str()), 0);
  }
  const std::vector<std::string> kLookAlikes{"abc1.tmp", "notes.txt", "pim2.tmp", "qhm1.tmpx", "qhm12345.tmp",
                                             "zyt3.tmp"};
  std::vector<std::string> Without(std::vector<std::string> names, const std::vector<std::string>& gone) {
    std::erase_if(names, [&](const std::string& n) { return std::find(gone.begin(), gone.end(), n) != gone.end(); });
    return names;
  }
};

TEST_F(ClientDeadHostTest, WaitForTheMonitorIsLoggedWhileItLasts) {
  LogWaitEverySecond();
  WriteMessage(PathIn("a.qhm"), "Alpha");
  ChildProcess& host = StartDump({PathIn("a.qhm")});
  HostWaiting(host, 0);
  EXPECT_TRUE(Eventually([&] {
    return MessageFilterLogs().find("Load: still waiting for the monitor's message server after 2 s") != std::string::npos;
  })) << "the wait is reported again while it lasts:\n" << MessageFilterLogs();
  EXPECT_TRUE(host.Running()) << "there is no time-out: " << host.Output();

  StartMonitor();
  EXPECT_EQ(host.Wait().status, 0) << host.Output();
  EXPECT_NE(host.Output().find("Body of Alpha"), std::string::npos) << host.Output();
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(ClientDeadHostTest, KilledHostsFileGoesWithTheNextHostNotALiveOne) {
  WriteMessage(PathIn("a.qhm"), "Alpha");
  WriteMessage(PathIn("b.qhm"), "Bravo");
  WriteMessage(PathIn("c.qhm"), "Charlie");
  PlantLookAlikes();

  ChildProcess& killed = StartDump({PathIn("a.qhm")});
  std::string dead = HostWaiting(killed, 0);
  killed.Kill();
  ASSERT_TRUE(Exists(TempFolder() + "/" + dead)) << "a killed host leaves its file";

  ChildProcess& b = StartDump({PathIn("b.qhm")});
  std::string live = HostWaiting(b, 1);
  EXPECT_FALSE(Exists(TempFolder() + "/" + dead)) << "the next host removes the dead host's file";

  // C sweeps before it makes its own file, so once that exists B's file has
  // been through a sweep.
  ChildProcess& c = StartDump({PathIn("c.qhm")});
  std::string third = HostWaiting(c, 2);
  EXPECT_TRUE(Exists(TempFolder() + "/" + live)) << "a waiting host's file is live";
  EXPECT_EQ(Without(TempFiles(), {live, third}), kLookAlikes) << "nothing else is touched";

  StartMonitor();
  EXPECT_EQ(b.Wait().status, 0) << b.Output();
  EXPECT_NE(b.Output().find("Body of Bravo"), std::string::npos) << b.Output();
  EXPECT_EQ(c.Wait().status, 0) << c.Output();
  EXPECT_NE(c.Output().find("Body of Charlie"), std::string::npos) << c.Output();
  EXPECT_EQ(TempFiles(), kLookAlikes);
  EXPECT_EQ(ReadBytes(PathIn("outside")), "not in the folder");
}

TEST_F(ClientDeadHostTest, MonitorRemovesDeadHostsFilesAtStartUp) {
  WriteMessage(PathIn("a.qhm"), "Alpha");
  PlantLookAlikes();
  ChildProcess& killed = StartDump({PathIn("a.qhm")});
  std::string dead = HostWaiting(killed, 0);
  killed.Kill();
  ASSERT_TRUE(Exists(TempFolder() + "/" + dead));

  // A file that this process holds as a filter does.
  WCHAR name[MAX_PATH];
  ASSERT_NE(GetTempFileNameW(Utf8ToWide(TempFolder()).c_str(), u"pim", 0, name), 0u);
  CTempFileLock held;
  ASSERT_TRUE(held.Lock(name));
  std::string live = WideToUtf8(name).substr(TempFolder().size() + 1);

  StartMonitor();  // sweeps before it serves
  EXPECT_FALSE(Exists(TempFolder() + "/" + dead)) << "the monitor removes the dead host's file";
  EXPECT_TRUE(Exists(TempFolder() + "/" + live)) << "a held file stays";
  EXPECT_EQ(Without(TempFiles(), {live}), kLookAlikes);
  held.Release();
  EXPECT_TRUE(DeleteFileW(name));
}

}  // namespace
}  // namespace ZYT::Test::MonitorClient
