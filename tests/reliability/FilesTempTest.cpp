// Temporary copies of mail and documents are their owner's alone, and their
// names can be neither foreseen nor handed out twice, from any thread.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>
#include <vector>

#include "filters/items/MonitorRequest.h"
#include "framework/PathUtilities.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Pipes.h"
#include "platform/win32/Sync.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tools/zyt-monitor/MonitorItems.h"

namespace ZYT {
namespace {

class FilesTempTest : public Test::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    // The most open umask: whatever is private below is so by its own mode.
    m_savedUmask = umask(0);
  }
  void TearDown() override {
    umask(m_savedUmask);
    MachineTest::TearDown();
  }
  static mode_t ModeOf(const std::u16string& path) {
    struct stat st;
    std::string posix = ToPosixPath(path.c_str());
    return stat(posix.c_str(), &st) == 0 ? st.st_mode & 07777 : 07777;
  }
  static unsigned NumberOf(const std::u16string& path) {
    std::u16string title = FileTitleOf(path);
    return static_cast<unsigned>(std::stoul(std::string(title.end() - 4, title.end()), nullptr, 16));
  }
  mode_t m_savedUmask = 0;
};

TEST_F(FilesTempTest, TemporaryFilesAndFoldersAreTheOwnersAlone) {
  WCHAR name[MAX_PATH];
  ASSERT_NE(GetTempFileNameW(TempDirW().c_str(), u"qhm", 0, name), 0u);
  EXPECT_EQ(ModeOf(name), 0600u) << "the message filter's copy of a mail (GetTempFileNameW)";
  std::u16string copy = MakeUniqueTempPath({}, u"tmp", u"qhk");
  ASSERT_FALSE(copy.empty());
  EXPECT_EQ(ModeOf(copy), 0600u) << "the catalog proxy's copy of a compound file (MakeUniqueTempPath)";
  std::u16string folder = MakeUniqueTempPath(TempDirW(), u"arc", u"", true);
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(ModeOf(folder), 0700u) << "a temporary folder";
  std::u16string temp = PathInW("repository/user/temp");
  ASSERT_TRUE(CreateDirectoryTree(temp));
  EXPECT_EQ(ModeOf(PathInW("repository")), 0700u) << "each level the tree makes";
  EXPECT_EQ(ModeOf(temp), 0700u);
  mkdir(PathIn("shared").c_str(), 0755);
  ASSERT_TRUE(CreateDirectoryTree(PathInW("shared/temp")));
  EXPECT_EQ(ModeOf(PathInW("shared")), 0755u) << "a folder that was there keeps its mode";

  // Files a user asked for are not temporary and keep the usual mode.
  HANDLE h = CreateFileW(PathInW("export.reg").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
  EXPECT_EQ(ModeOf(PathInW("export.reg")), 0666u);
  ASSERT_TRUE(CreateDirectoryW(PathInW("output").c_str(), nullptr));
  EXPECT_EQ(ModeOf(PathInW("output")), 0777u);
  WriteBytes(PathIn("source.doc"), "bytes");
  chmod(PathIn("source.doc").c_str(), 0644);
  ASSERT_TRUE(CopyFileW(PathInW("source.doc").c_str(), copy.c_str(), FALSE));
  EXPECT_EQ(ModeOf(copy), 0600u) << "copying into a temporary file keeps it private";
}

// Many threads at once, each making names as fast as it can: every name is
// new, and no thread's names follow from the clock.
TEST_F(FilesTempTest, NamesFromManyThreadsAreDistinctAndUnforeseeable) {
  constexpr int kThreads = 8, kEach = 64;
  std::vector<std::vector<std::u16string>> made(kThreads), named(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        made[t].push_back(MakeUniqueTempPath(TempDirW(), u"tmp", u"tmp"));
        WCHAR name[MAX_PATH];
        named[t].push_back(GetTempFileNameW(TempDirW().c_str(), u"z", 0, name) ? name : u"");
      }
    });
  }
  for (std::thread& t : threads) t.join();
  std::set<std::u16string> all;
  for (int t = 0; t < kThreads; ++t) {
    for (const auto& list : {made[t], named[t]}) {
      for (const std::u16string& path : list) {
        ASSERT_FALSE(path.empty()) << "a name could not be made";
        EXPECT_TRUE(all.insert(path).second) << "handed out twice";
        EXPECT_EQ(GetFileAttributesW(path.c_str()), FILE_ATTRIBUTE_NORMAL) << "each name is a file of its own";
      }
    }
    // Seeded from the clock, names made within one tick are neighbours.
    int neighbours = 0;
    for (int i = 1; i < kEach; ++i) neighbours += NumberOf(made[t][i]) == ((NumberOf(made[t][i - 1]) + 1) & 0xFFFF);
    EXPECT_LT(neighbours, kEach / 4) << "thread " << t << ": the next name follows from the last";
  }
  EXPECT_EQ(all.size(), size_t{2 * kThreads * kEach});
}

// The message filter's copy of a mail, seen from the monitor's side while
// the filter waits for it: this test answers the request itself.
class FilesMailCopyTest : public Test::MachineTest {};

TEST_F(FilesMailCopyTest, TheMessageFiltersCopyIsPrivateWhileItExists) {
  ASSERT_EQ(ZYT::Test::RegisterModule(ZYT_COMPONENTS_MODULE), S_OK);
  ASSERT_EQ(ZYT::Test::RegisterModule(ZYT_FILTERS_MODULE), S_OK);
  WriteBytes(SettingsPath(), "<settings><repository><user location=\"" + PathIn("repo") + "\"/></repository></settings>");
  WriteBytes(PathIn("mail.eml"), "From: ann@example.org\r\nSubject: Minutes\r\n\r\nAgenda\r\n");
  WriteBytes(PathIn("msg.qhm"), "message: mail.eml\n");

  HANDLE pipe = CreateNamedPipeW(kMessageServerPipe, PIPE_ACCESS_DUPLEX,
                                 PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                 CMonitorRequest::kRecordSize, CMonitorRequest::kRecordSize, 0, nullptr);
  ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
  HANDLE running = CreateEventW(nullptr, FALSE, FALSE, kMessageServerEvent);
  ASSERT_NE(running, nullptr);
  SetEvent(running);
  std::atomic<bool> served{false};
  mode_t copyMode = 0;
  std::string copy;
  std::thread server([&] {
    if (!ConnectNamedPipe(pipe, nullptr)) return;
    BYTE record[CMonitorRequest::kRecordSize] = {};
    DWORD read = 0;
    HRESULT result = E_INVALIDARG;
    if (ReadFile(pipe, record, sizeof record, &read, nullptr) && read == sizeof record) {
      CMonitorRequest::Request request = CMonitorRequest::Parse(record);
      copy = ToPosixPath(request.target.c_str());
      struct stat st;
      if (stat(copy.c_str(), &st) == 0) copyMode = st.st_mode & 07777;
      result = ZytMonitor::ProduceMessage(ToPosixPath(request.source.c_str()), copy);
    }
    CMonitorRequest::SetResult(record, result);
    DWORD written = 0;
    WriteFile(pipe, record, sizeof record, &written, nullptr);
    DisconnectNamedPipe(pipe);
    served = true;
  });
  ZYT::Test::ProcessResult r =
      ZYT::Test::RunZytfilt({"dump", "--json", PathIn("msg.qhm")}, ZYT::Test::OnMachine(*this, PathIn("home")), 20);
  if (!served) CMonitorRequest::FetchMessage(u"/", u"/", 1, 0);  // lets the server thread end
  server.join();
  CloseHandle(pipe);
  CloseHandle(running);
  ASSERT_FALSE(r.hung);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\"data\":\"Minutes\""), std::string::npos) << r.out;
  ASSERT_TRUE(served) << "the message filter never asked for the message";
  EXPECT_EQ(copy.rfind(PathIn("repo/temp/"), 0), 0u) << copy;
  EXPECT_EQ(copyMode, 0600u) << "the copy of the mail, while the filter had it";
  struct stat st;
  ASSERT_EQ(stat(PathIn("repo/temp").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u) << "the folder made for the copies";
  EXPECT_TRUE(ListDir(PathIn("repo/temp")).empty()) << "no copy is left";
}

}  // namespace
}  // namespace ZYT
