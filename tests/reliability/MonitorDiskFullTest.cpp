// A monitor whose answer does not fit on the disk: the request fails with the
// reason, the target is left empty, and the message filter's Load fails with
// it, instead of a message indexed as empty.
#include <gtest/gtest.h>

#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cstdio>

#include "filters/items/MonitorRequest.h"
#include "platform/win32/Strings.h"
#include "platform/win32/WinError.h"
#include "tests/reliability/MonitorRequests.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT::Test {
namespace {

constexpr DWORD ERROR_FILE_TOO_LARGE = 223;

// A message of about 100 KB: more than the small disk and the file size limit hold.
std::string BigMessage() {
  std::string message = "From: ann@example.org\r\nSubject: Logs\r\nContent-Type: text/plain\r\n\r\n";
  for (int i = 0; i < 2000; ++i) message += "line " + std::to_string(i) + " of a long log, padded to fifty bytes\r\n";
  return message;
}

class MonitorDiskFullTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    WriteBytes(PathIn("big.eml"), BigMessage());
    WriteBytes(PathIn("big.qhm"), "message: big.eml\n");
    WriteBytes(PathIn("small.eml"), "Subject: hi\r\n\r\nshort\r\n");
    WriteBytes(PathIn("small.qhm"), "message: small.eml\n");
  }
  void TearDown() override {
    if (m_mounted) umount2(PathIn("disk").c_str(), MNT_DETACH);
    MachineTest::TearDown();
  }

  // A 64 KiB file system at PathIn("disk"), seen by this process and the
  // processes it starts (a mount namespace of their own); false where this
  // process may not mount.
  bool MountSmallDisk() {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    if (mkdir(PathIn("disk").c_str(), 0700) != 0) return false;
    m_mounted = mount("tmpfs", PathIn("disk").c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=64k,mode=0700") == 0;
    return m_mounted;
  }

  std::function<HRESULT()> FetchMessage(const std::string& document, const std::string& target) {
    std::u16string source = PathInW(document), targetW = PathInW(target);
    return [source, targetW] { return CMonitorRequest::FetchMessage(source, targetW, 1, 0); };
  }

  bool m_mounted = false;
};

TEST_F(MonitorDiskFullTest, AFullDiskFailsTheRequestAndTheFiltersLoad) {
  if (!MountSmallDisk()) GTEST_SKIP() << "cannot mount a small file system here (needs CAP_SYS_ADMIN)";
  ChildProcess monitor({ZYT_MONITOR});
  ASSERT_TRUE(monitor.WaitForErr("serving")) << monitor.Err();

  WriteBytes(PathIn("disk/out.eml"), "");
  EXPECT_EQ(InClientProcess(FetchMessage("big.qhm", "disk/out.eml")), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
  EXPECT_EQ(ReadBytes(PathIn("disk/out.eml")), "") << "no half message is left for a reader";
  WriteBytes(PathIn("disk/small.eml"), "");
  EXPECT_EQ(InClientProcess(FetchMessage("small.qhm", "disk/small.eml")), S_OK) << "what fits is still served";

  // The message filter makes its temporary file on the full disk.
  ASSERT_EQ(RegisterModule(ZYT_COMPONENTS_MODULE), S_OK);
  ASSERT_EQ(RegisterModule(ZYT_FILTERS_MODULE), S_OK);
  WriteBytes(SettingsPath(),
             "<settings><repository><user location=\"" + PathIn("disk/repo") + "\"/></repository></settings>");
  ProcessResult dump = RunZytfilt({"dump", "--json", PathIn("big.qhm")}, {.env = {{"ZYT_SETTINGS", SettingsPath()}}});
  EXPECT_NE(dump.out.find("\"error\":\"0x80070070\",\"step\":\"Load\""), std::string::npos) << dump.out;
  EXPECT_NE(dump.status, 0) << dump.out;
  EXPECT_TRUE(ListDir(PathIn("disk/repo/temp")).empty()) << "no temporary file is left";
  EXPECT_EQ(monitor.Stop().status, 0);
}

TEST_F(MonitorDiskFullTest, AFileSizeLimitFailsTheRequestNotTheMonitor) {
  ChildProcess monitor({ZYT_MONITOR});
  ASSERT_TRUE(monitor.WaitForErr("serving")) << monitor.Err();
  rlimit small{4096, 4096};
  ASSERT_EQ(prlimit(monitor.Pid(), RLIMIT_FSIZE, &small, nullptr), 0);

  WriteBytes(PathIn("out.eml"), "");
  EXPECT_EQ(InClientProcess(FetchMessage("big.qhm", "out.eml")), HRESULT_FROM_WIN32(ERROR_FILE_TOO_LARGE));
  EXPECT_EQ(ReadBytes(PathIn("out.eml")), "");
  WriteBytes(PathIn("small.out"), "");
  EXPECT_EQ(InClientProcess(FetchMessage("small.qhm", "small.out")), S_OK) << "the monitor lives on";
  EXPECT_EQ(ReadBytes(PathIn("small.out")), "Subject: hi\r\n\r\nshort\r\n");
  EXPECT_EQ(monitor.Stop().status, 0);
}

}  // namespace
}  // namespace ZYT::Test
