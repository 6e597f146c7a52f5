// A FIFO, socket or device named like a document must fail at once: opening
// a FIFO for reading waits for a writer that never comes.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <regex>
#include <string>

#include "platform/storage/SummaryInformation.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"
#include "platform/xml/XmlDocument.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"
#include "tools/zyt-monitor/MonitorItems.h"

namespace ZYT {
namespace {

class FilesFifoTest : public Test::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    alarm(30);  // a regression hangs in open(); this turns it into a failure
  }
  void TearDown() override {
    alarm(0);
    MachineTest::TearDown();
  }
  std::string MakeFifo(const std::string& name) {
    std::string path = PathIn(name);
    EXPECT_EQ(mkfifo(path.c_str(), 0600), 0) << std::strerror(errno);
    return path;
  }
  // A listening socket's file; the descriptor stays open until the test ends.
  std::string MakeSocket(const std::string& name) {
    std::string path = PathIn(name);
    m_socket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    EXPECT_LT(path.size(), sizeof address.sun_path);
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    EXPECT_EQ(bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
    EXPECT_EQ(listen(m_socket, 1), 0);
    return path;
  }
  ~FilesFifoTest() override {
    if (m_socket >= 0) close(m_socket);
  }
  int m_socket = -1;
};

// Every way of opening a path, for one non-regular file.
void ExpectRefused(const std::string& path, const char* what) {
  SCOPED_TRACE(what);
  std::u16string wide = FromPosixPath(path);
  struct Case {
    DWORD access, disposition, flags;
  } cases[] = {
      {GENERIC_READ, OPEN_EXISTING, 0},
      {GENERIC_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS},
      {GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, 0},
      {GENERIC_WRITE, CREATE_ALWAYS, 0},
      {GENERIC_WRITE, TRUNCATE_EXISTING, 0},
      {FILE_READ_ATTRIBUTES, OPEN_EXISTING, 0},
  };
  for (const Case& c : cases) {
    SetLastError(0xCAFE);
    HANDLE h = CreateFileW(wide.c_str(), c.access, FILE_SHARE_READ, nullptr, c.disposition, c.flags, nullptr);
    EXPECT_EQ(h, INVALID_HANDLE_VALUE) << "access " << std::hex << c.access << " disposition " << c.disposition;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << "access " << std::hex << c.access;
  }
  DWORD error = 0;
  EXPECT_EQ(OpenRegularFile(path, error), -1);
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
  std::string bytes = "untouched";
  EXPECT_FALSE(ReadRegularFile(path, bytes, error));
  EXPECT_EQ(bytes, "");
}

TEST_F(FilesFifoTest, CreateFileRefusesFifosSocketsDevicesAndFolders) {
  ExpectRefused(MakeFifo("song.mp3"), "a FIFO");
  ExpectRefused(MakeSocket("notes.txt"), "a socket");
  ExpectRefused("/dev/null", "a character device");
  ASSERT_EQ(symlink(PathIn("song.mp3").c_str(), PathIn("link.eml").c_str()), 0);
  ExpectRefused(PathIn("link.eml"), "a link to a FIFO");
  struct stat st;
  ASSERT_EQ(lstat(PathIn("song.mp3").c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode)) << "CREATE_ALWAYS must not have replaced the FIFO";

  mkdir(PathIn("folder.txt").c_str(), 0700);
  HANDLE h = CreateFileW(FromPosixPath(PathIn("folder.txt")).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                         0, nullptr);
  EXPECT_EQ(h, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED) << "a folder, as Windows refuses it";
  h = CreateFileW(FromPosixPath(PathIn("folder.txt")).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << "with backup semantics a folder opens";
  CloseHandle(h);

  WriteBytes(PathIn("plain.txt"), "text");
  h = CreateFileW(FromPosixPath(PathIn("plain.txt")).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                  nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << "a regular file still opens";
  char buffer[8];
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr)) << "and reads as a blocking file";
  EXPECT_EQ(std::string(buffer, read), "text");
  CloseHandle(h);
}

TEST_F(FilesFifoTest, CopiesParsersAndTheMonitorRefuseFifos) {
  std::string fifo = MakeFifo("in.xml");
  WriteBytes(PathIn("plain.txt"), "text");
  std::u16string fifoW = FromPosixPath(fifo), plainW = FromPosixPath(PathIn("plain.txt"));
  EXPECT_FALSE(CopyFileW(fifoW.c_str(), FromPosixPath(PathIn("copy.txt")).c_str(), FALSE));
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(Exists(PathIn("copy.txt"))) << "no target is made for a refused source";
  EXPECT_FALSE(CopyFileW(plainW.c_str(), fifoW.c_str(), FALSE)) << "nor is a FIFO written to";
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

  XmlDocument document;
  XmlParseError error;
  EXPECT_FALSE(document.Load(fifo, &error));
  std::u16string keywords = u"stale";
  EXPECT_TRUE(FAILED(ReadSummaryKeywords(MakeFifo("in.doc"), keywords)));
  EXPECT_EQ(keywords, u"");
  EXPECT_EQ(LoadLibraryExW(FromPosixPath(MakeFifo("module.dll.so")).c_str(), nullptr,
                           LOAD_LIBRARY_AS_DATAFILE),
            nullptr);
  EXPECT_EQ(LoadLibraryW(FromPosixPath(PathIn("module.dll.so")).c_str()), nullptr) << "nor is it loaded as code";

  // The monitor follows paths written in item documents; one may name a FIFO.
  WriteBytes(PathIn("mail.qhm"), "message: " + MakeFifo("mail.eml") + "\n");
  WriteBytes(PathIn("answer.tmp"), "");
  EXPECT_TRUE(FAILED(ZytMonitor::ProduceMessage(PathIn("mail.qhm"), PathIn("answer.tmp"))));
  EXPECT_EQ(ReadBytes(PathIn("answer.tmp")), "");
  EXPECT_TRUE(FAILED(ZytMonitor::ProduceMessage(MakeFifo("fifo.qhm"), PathIn("answer.tmp"))))
      << "nor may the document itself be one";
}

// Through the real filters, as a user runs them: each FIFO fails on its own
// line and the command ends with a non-zero status.
TEST_F(FilesFifoTest, DumpOfAFifoNamedLikeADocumentFailsPromptly) {
  alarm(90);  // RunZytfilt's own watchdog kills a hung zytfilt first
  for (const char* name : {"x.mp3", "x.txt", "x.eml"}) {
    SCOPED_TRACE(name);
    std::string fifo = MakeFifo(name);
    ZYT::Test::ProcessResult r =
        ZYT::Test::RunZytfilt({"dump", fifo}, ZYT::Test::OnMachine(*this, PathIn("home")), 20);
    ASSERT_FALSE(r.hung) << "zytfilt dump hung on a FIFO";
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
    // Filters open their file in Load or in Init; either refuses it.
    EXPECT_EQ(r.err.rfind("zytfilt dump: " + fifo + ": ", 0), 0u) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    EXPECT_TRUE(r.err.find("0x80070005") != std::string::npos || r.err.find("0x80041703") != std::string::npos)
        << "access denied, or the filter's FILTER_E_ACCESS: " << r.err;
    r = ZYT::Test::RunZytfilt({"dump", "--json", fifo}, ZYT::Test::OnMachine(*this, PathIn("home")), 20);
    ASSERT_FALSE(r.hung);
    EXPECT_NE(r.status, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("\\{\"file\":\"" + fifo +
                                                   "\",\"error\":\"0x800(70005|41703)\",\"step\":\"(Load|Init)\","
                                                   "\"message\":\"[^\"]+\",\"cause\":\"is not a regular file \\(a FIFO\\)\"\\}\n")))
        << r.out;
  }
  // The catalog proxy reads a file's signature itself before its native filter runs.
  ZYT::Test::ProcessResult r =
      ZYT::Test::RunZytfilt({"dump", "--class", "ZytFilters.OrreryCISProxyFilter", PathIn("x.txt")},
                            ZYT::Test::OnMachine(*this, PathIn("home")), 20);
  ASSERT_FALSE(r.hung) << "the catalog proxy hung on a FIFO";
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(ListDir(PathIn("tmp")), std::vector<std::string>{}) << "no temporary file is left";
}

}  // namespace
}  // namespace ZYT
