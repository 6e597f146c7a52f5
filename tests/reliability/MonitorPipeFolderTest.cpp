// The folder of the monitor's sockets stands for the pipes' security: a
// folder that someone else made, or can write in, would let them serve the
// requests (and so learn every path and write every answer). Neither the
// monitor nor a client uses one; the monitor talks only to its own user, and
// a client only to a server of its own user.
#include <gtest/gtest.h>
#include <poll.h>

#include <grp.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>

#include <cstdlib>
#include <filesystem>

#include "filters/items/MonitorRequest.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/ObjectNames.h"
#include "platform/win32/Strings.h"
#include "platform/win32/Sync.h"
#include "platform/win32/WinError.h"
#include "tests/reliability/MonitorRequests.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT::Test {
namespace {

constexpr uid_t kNobody = 65534;
const char kCard[] = "BEGIN:VCARD\r\nVERSION:3.0\r\nUID:ann\r\nFN:Ann Example\r\nEND:VCARD\r\n";

// Turns this (child) process into user 65534 that can still reach the
// test's private folders, as a process of another user with a way in
// would: what is left to stop it is the peer check.
bool BecomeAnotherUserWhoCanReachTheSockets() {
  if (prctl(PR_SET_KEEPCAPS, 1) != 0 || setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
      setresuid(kNobody, kNobody, kNobody) != 0)
    return false;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  data[0].effective = data[0].permitted = 1u << CAP_DAC_OVERRIDE;
  return syscall(SYS_capset, &header, data) == 0 && getuid() == kNobody;
}

class MonitorPipeFolderTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    WriteBytes(PathIn("people.vcf"), kCard);
    WriteBytes(PathIn("ann.qhcontact"), "item: people.vcf\n");
    WriteBytes(PathIn("ann.xml"), "");
  }

  HRESULT FetchAnn() { return CMonitorRequest::FetchPimItem(PathInW("ann.qhcontact"), PathInW("ann.xml"), 1, 0); }

  // Signals the event as a monitor would, so that a client goes on to the pipe.
  void SignalRunning() {
    HANDLE running = CreateEventW(nullptr, FALSE, FALSE, kPimServerEvent);
    ASSERT_NE(running, nullptr);
    SetEvent(running);
    CloseHandle(running);
  }

  // The monitor refuses the folder with one line naming it; nothing is put inside.
  void ExpectRefused(const std::string& folder, const std::string& why) {
    ChildProcess monitor({ZYT_MONITOR});
    EXPECT_FALSE(monitor.WaitForErr("serving")) << why;
    EXPECT_EQ(monitor.Wait().status, 1) << why;
    std::string errors = monitor.Err();
    EXPECT_NE(errors.find("zyt-monitor: the pipe folder " + folder + " " + why), std::string::npos) << errors;
    EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line:\n" << errors;
    EXPECT_FALSE(Exists(SocketPathFor(kPimServerPipe))) << why;
  }

  // A client does not reach a socket in the folder, not even one that listens there.
  void ExpectClientRefuses(const std::string& why) {
    std::string path = SocketPathFor(kPimServerPipe);
    int listener = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << why;
    ASSERT_EQ(listen(listener, 4), 0);
    SignalRunning();
    EXPECT_EQ(FetchAnn(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)) << why;
    pollfd asked{listener, POLLIN, 0};
    EXPECT_EQ(poll(&asked, 1, 0), 0) << why << ": the socket there was never asked";
    close(listener);
    unlink(path.c_str());
  }
};

TEST_F(MonitorPipeFolderTest, FoldersOthersCanUseAreRefused) {
  struct Case {
    const char* name;
    mode_t mode;
    const char* why;
  };
  for (const Case& c : {Case{"open", 0777, "is open to other users (mode 0777)"},
                        Case{"readable", 0755, "is open to other users (mode 0755)"},
                        Case{"group", 0770, "is open to other users (mode 0770)"}}) {
    std::string folder = PathIn(c.name);
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    ASSERT_EQ(chmod(folder.c_str(), c.mode), 0);
    setenv("ZYT_PIPE_DIR", folder.c_str(), 1);
    ExpectRefused(folder, c.why);
    struct stat st;
    ASSERT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.mode) << "the folder is left as it was";
    ExpectClientRefuses(c.why);
  }

  std::string real = PathIn("private"), link = PathIn("link");
  ASSERT_EQ(mkdir(real.c_str(), 0700), 0);
  ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
  setenv("ZYT_PIPE_DIR", link.c_str(), 1);
  ExpectRefused(link, "is a symbolic link");
  ExpectClientRefuses("a symbolic link");
  EXPECT_TRUE(ListDir(real).empty());

  if (geteuid() == 0) {  // only root can give a folder away
    std::string foreign = PathIn("foreign");
    ASSERT_EQ(mkdir(foreign.c_str(), 0700), 0);
    ASSERT_EQ(chown(foreign.c_str(), kNobody, kNobody), 0);
    setenv("ZYT_PIPE_DIR", foreign.c_str(), 1);
    ExpectRefused(foreign, "belongs to another user (uid 65534)");
    ExpectClientRefuses("another user's folder");
  }
}

TEST_F(MonitorPipeFolderTest, TheDefaultFolderInTmpIsPrivate) {
  // Without a runtime folder the sockets go to /tmp, where anybody could have
  // made the folder first.
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::string savedRuntime = runtime ? runtime : "";
  unsetenv("XDG_RUNTIME_DIR");
  unsetenv("ZYT_PIPE_DIR");
  std::string folder = "/tmp/" + ObjectNamespace() + "-pipes";
  ASSERT_EQ(PipeFolder(), folder);
  struct Restore {
    std::string folder, runtime;
    ~Restore() {
      std::error_code ec;
      std::filesystem::remove_all(folder, ec);
      if (!runtime.empty()) setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    }
  } restore{folder, savedRuntime};

  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
  ExpectRefused(folder, "is open to other users (mode 0777)");
  ASSERT_EQ(rmdir(folder.c_str()), 0);

  ChildProcess monitor({ZYT_MONITOR});
  ASSERT_TRUE(monitor.WaitForErr("serving")) << monitor.Err();
  struct stat st;
  ASSERT_EQ(lstat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(st.st_uid, geteuid());
  EXPECT_EQ(InClientProcess([this] { return FetchAnn(); }), S_OK);
  EXPECT_EQ(monitor.Stop().status, 0);
  EXPECT_FALSE(Exists(folder)) << "the monitor removes the folder it made";
}

TEST_F(MonitorPipeFolderTest, OnlyProcessesOfTheSameUserTalk) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to run a process of another user";
  ChildProcess monitor({ZYT_MONITOR});
  ASSERT_TRUE(monitor.WaitForErr("serving")) << monitor.Err();

  // Another user's client reaches the socket but gets no answer, and the
  // monitor writes nothing for it.
  std::optional<HRESULT> intruder = InClientProcess([this] {
    if (!BecomeAnotherUserWhoCanReachTheSockets()) return E_UNEXPECTED;
    int fd = ConnectToPipe(kPimServerPipe);
    if (fd < 0) return E_HANDLE;
    BYTE record[CMonitorRequest::kRecordSize];
    CMonitorRequest::Build(PathInW("ann.qhcontact"), PathInW("ann.xml"), 1, record);
    // The monitor may close the connection before the request is even sent.
    ssize_t answer = send(fd, record, sizeof record, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof record)
                         ? recv(fd, record, sizeof record, 0)
                         : -1;
    close(fd);
    return answer <= 0 ? S_FALSE : CMonitorRequest::ResultOf(record);
  });
  EXPECT_EQ(intruder, S_FALSE) << "the connection is closed unanswered";
  EXPECT_EQ(ReadBytes(PathIn("ann.xml")), "");
  EXPECT_EQ(InClientProcess([this] { return FetchAnn(); }), S_OK) << "the monitor still serves its own user";
  EXPECT_EQ(monitor.Stop().status, 0);

  // A server of another user in our folder is not told the request.
  ASSERT_EQ(mkdir(PipeFolder().c_str(), 0700), 0);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  ClientProcess impostor([&] {
    if (!BecomeAnotherUserWhoCanReachTheSockets()) return E_UNEXPECTED;
    std::string path = SocketPathFor(kPimServerPipe);
    int listener = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 4) != 0)
      return E_HANDLE;
    char one = 1;
    if (write(ready[1], &one, 1) != 1) return E_ABORT;
    int client = accept(listener, nullptr, nullptr);
    BYTE record[CMonitorRequest::kRecordSize];
    ssize_t got = recv(client, record, sizeof record, 0);
    unlink(path.c_str());
    return got > 0 ? E_FAIL : S_OK;
  });
  close(ready[1]);
  char one = 0;
  pollfd listening{ready[0], POLLIN, 0};
  ASSERT_EQ(poll(&listening, 1, kPatienceSeconds * 1000), 1);
  ASSERT_EQ(read(ready[0], &one, 1), 1);
  close(ready[0]);
  SignalRunning();
  EXPECT_EQ(FetchAnn(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
  EXPECT_EQ(impostor.Get(kPatienceSeconds), S_OK) << "the other user's server received nothing";
}

}  // namespace
}  // namespace ZYT::Test
