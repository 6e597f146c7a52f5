#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "platform/win32/FileApi.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "platform/win32/SysInfo.h"
#include "tests/support/TestEnvironment.h"

namespace {

class FileApiTest : public ZYT::Test::MachineTest {
 protected:
  bool XattrsWork() {
    std::string probe = PathIn("xattr-probe");
    WriteBytes(probe, "");
    bool ok = setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0;
    unlink(probe.c_str());
    return ok;
  }
};

TEST_F(FileApiTest, PathsMapThroughDrivesSharesAndPrefixes) {
  ZYT::Test::SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Platform\\Drives", u"C:", u"/srv/c");
  ZYT::Test::SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Platform\\Shares", u"fileserver\\Music",
                               u"/mnt/music");
  struct Case {
    const char16_t* windows;
    const char* posix;
  };
  const Case cases[] = {
      {u"/home/ann/song.mp3", "/home/ann/song.mp3"},
      {u"C:\\Docs\\a.txt", "/srv/c/Docs/a.txt"},
      {u"c:/Docs\\a.txt", "/srv/c/Docs/a.txt"},
      {u"C:\\", "/srv/c"},
      {u"Z:\\etc\\hosts", "/etc/hosts"},
      {u"\\\\?\\C:\\Long\\name.txt", "/srv/c/Long/name.txt"},
      {u"\\\\fileserver\\music\\a\\b.ogg", "/mnt/music/a/b.ogg"},
      {u"\\\\?\\UNC\\FileServer\\Music\\b.ogg", "/mnt/music/b.ogg"},
      {u"relative\\dir\\f.txt", "relative/dir/f.txt"},
  };
  for (const Case& c : cases) {
    std::string posix;
    DWORD error = 0;
    EXPECT_TRUE(ZYT::MapToPosixPath(c.windows, posix, error)) << ZYT::WideToUtf8(c.windows);
    EXPECT_EQ(posix, c.posix) << ZYT::WideToUtf8(c.windows);
  }
  std::string posix;
  DWORD error = 0;
  EXPECT_FALSE(ZYT::MapToPosixPath(u"Q:\\nowhere", posix, error));
  EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
  EXPECT_FALSE(ZYT::MapToPosixPath(u"\\\\otherserver\\share\\x", posix, error));
  EXPECT_EQ(error, ERROR_BAD_NETPATH);
  EXPECT_EQ(GetFileAttributesW(u"Q:\\nowhere"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FileApiTest, CreateFileDispositionsAndReadOnlyFiles) {
  std::u16string path = PathInW("doc.txt");
  HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(h, "hello", 5, &written, nullptr));
  EXPECT_EQ(written, 5u);
  CloseHandle(h);
  EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  h = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS) << "OPEN_ALWAYS tells that the file was there";
  char buffer[16];
  DWORD read = 0;
  ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(std::string(buffer, read), "hello");
  ASSERT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(read, 0u) << "end of file is a successful read of nothing";
  DWORD high = 0xCAFECAFE;
  EXPECT_EQ(GetFileSize(h, &high), 5u);
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(SetFilePointer(h, -1, nullptr, FILE_END), 4u);
  EXPECT_EQ(SetFilePointer(h, -10, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  CloseHandle(h);
  EXPECT_FALSE(CloseHandle(h)) << "a closed handle is invalid";
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_TRUE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  EXPECT_FALSE(DeleteFileW(path.c_str())) << "a read-only file is not deleted, even by root";
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_TRUE(DeleteFileW(path.c_str()));
  EXPECT_FALSE(Exists(PathIn("doc.txt")));
  EXPECT_FALSE(DeleteFileW(path.c_str()));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(CreateFileW(PathInW("no\\such\\dir\\f").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FileApiTest, DosAttributesComeFromPermissionsNamesAndTheExtendedAttribute) {
  WriteBytes(PathIn(".profile"), "x");
  WriteBytes(PathIn("plain"), "x");
  EXPECT_EQ(GetFileAttributesW(PathInW(".profile").c_str()), FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(GetFileAttributesW(PathInW("plain").c_str()), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(GetFileAttributesW(TempDirW().c_str()), FILE_ATTRIBUTE_DIRECTORY);
  chmod(PathIn("plain").c_str(), 0444);
  EXPECT_EQ(GetFileAttributesW(PathInW("plain").c_str()), FILE_ATTRIBUTE_READONLY);
  ASSERT_TRUE(SetFileAttributesW(PathInW("plain").c_str(), FILE_ATTRIBUTE_NORMAL));
  struct stat st;
  stat(PathIn("plain").c_str(), &st);
  EXPECT_TRUE(st.st_mode & S_IWUSR) << "clearing read-only gives the owner write access";
  if (!XattrsWork()) GTEST_SKIP() << "the test folder's file system keeps no user attributes";
  const DWORD all = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;
  ASSERT_TRUE(SetFileAttributesW(PathInW("plain").c_str(), all));
  EXPECT_EQ(GetFileAttributesW(PathInW("plain").c_str()), all);
  char text[16] = {};
  ASSERT_GT(getxattr(PathIn("plain").c_str(), "user.DOSATTRIB", text, sizeof text), 0);
  EXPECT_EQ(std::string(text), "0x27") << "Samba's text form";
  ASSERT_TRUE(SetFileAttributesW(PathInW("plain").c_str(), FILE_ATTRIBUTE_ARCHIVE));
  EXPECT_EQ(GetFileAttributesW(PathInW("plain").c_str()), FILE_ATTRIBUTE_ARCHIVE);
  // Samba's binary form begins with the same text, NUL-terminated.
  const char binary[] = "0x22\0\x04\x00\x04\x00\x00\x00";
  setxattr(PathIn("plain").c_str(), "user.DOSATTRIB", binary, sizeof binary - 1, 0);
  EXPECT_EQ(GetFileAttributesW(PathInW("plain").c_str()), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
}

TEST_F(FileApiTest, TempFileNamesUseThePrefix) {
  // Names from many threads are distinct: a reliability test's concern.
  std::u16string dir = TempDirW();
  WCHAR name[MAX_PATH];
  UINT n = GetTempFileNameW(dir.c_str(), u"XMLfoo", 0, name);
  ASSERT_NE(n, 0u);
  char hex[8];
  std::snprintf(hex, sizeof hex, "%X", n);
  EXPECT_EQ(std::u16string(name), dir + u"/XML" + ZYT::Utf8ToWide(hex) + u".tmp") << "three characters of the prefix";
  EXPECT_EQ(GetFileAttributesW(name), FILE_ATTRIBUTE_NORMAL) << "the file is created empty";
  EXPECT_EQ(GetTempFileNameW((dir + u"/").c_str(), u"ab", 0x1BEEF, name), 0xBEEFu) << "16 bits of the number";
  EXPECT_EQ(std::u16string(name), dir + u"/abBEEF.tmp");
  EXPECT_EQ(GetFileAttributesW(name), INVALID_FILE_ATTRIBUTES) << "a given number creates nothing";
  EXPECT_EQ(GetTempFileNameW(PathInW("missing").c_str(), u"x", 0, name), 0u);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
  WCHAR tmp[MAX_PATH];
  DWORD len = GetTempPathW(MAX_PATH, tmp);
  EXPECT_EQ(std::u16string(tmp, len), ZYT::Utf8ToWide(PathIn("tmp/")));
  EXPECT_EQ(GetTempPathW(3, tmp), len + 1) << "a short buffer asks for the size with the terminator";
}

TEST_F(FileApiTest, FindEnumeratesMatchesInOrder) {
  mkdir(PathIn("find").c_str(), 0700);
  for (const char* n : {"b.MP3", "a.mp3", "c.ogg", "noext"}) WriteBytes(PathIn("find/") + n, "data");
  mkdir(PathIn("find/sub").c_str(), 0700);
  std::vector<std::string> found;
  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW(PathInW("find\\*.mp3").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  do found.push_back(ZYT::WideToUtf8(data.cFileName));
  while (FindNextFileW(find, &data));
  EXPECT_EQ(GetLastError(), ERROR_NO_MORE_FILES);
  FindClose(find);
  EXPECT_EQ(found, (std::vector<std::string>{"a.mp3", "b.MP3"}));

  found.clear();
  find = FindFirstFileW(PathInW("find/*.*").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  do {
    found.push_back(ZYT::WideToUtf8(data.cFileName));
    if (found.back() == "sub") {
      EXPECT_EQ(data.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY);
    }
    if (found.back() == "a.mp3") {
      EXPECT_EQ(data.nFileSizeLow, 4u);
    }
  } while (FindNextFileW(find, &data));
  FindClose(find);
  EXPECT_EQ(found, (std::vector<std::string>{".", "..", "a.mp3", "b.MP3", "c.ogg", "noext", "sub"}));
  EXPECT_EQ(FindFirstFileW(PathInW("find\\*.flac").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(FindFirstFileW(PathInW("gone\\*").c_str(), &data), INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

TEST_F(FileApiTest, DeleteOnCloseTimesAndCopies) {
  std::u16string path = PathInW("scratch.tmp");
  HANDLE h = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                         FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FILETIME when{0x12345600, 0x01D00000};
  ASSERT_TRUE(SetFileTime(h, nullptr, nullptr, &when));
  FILETIME back{};
  ASSERT_TRUE(GetFileTime(h, nullptr, nullptr, &back));
  EXPECT_EQ(back.dwHighDateTime, when.dwHighDateTime);
  EXPECT_EQ(back.dwLowDateTime, when.dwLowDateTime);
  ASSERT_TRUE(WriteFile(h, "abc", 3, nullptr, nullptr));
  ASSERT_TRUE(CopyFileW(path.c_str(), PathInW("copy.txt").c_str(), TRUE));
  EXPECT_FALSE(CopyFileW(path.c_str(), PathInW("copy.txt").c_str(), TRUE));
  EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
  EXPECT_EQ(ReadBytes(PathIn("copy.txt")), "abc");
  CloseHandle(h);
  EXPECT_FALSE(Exists(PathIn("scratch.tmp"))) << "the file goes with its last handle";
  EXPECT_TRUE(CreateDirectoryW(PathInW("d").c_str(), nullptr));
  EXPECT_FALSE(CreateDirectoryW(PathInW("d").c_str(), nullptr));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  WriteBytes(PathIn("d/f"), "");
  EXPECT_FALSE(RemoveDirectoryW(PathInW("d").c_str()));
  EXPECT_EQ(GetLastError(), ERROR_DIR_NOT_EMPTY);
  EXPECT_FALSE(MoveFileExW(PathInW("copy.txt").c_str(), PathInW("d\\f").c_str(), 0));
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(MoveFileExW(PathInW("copy.txt").c_str(), PathInW("d\\f").c_str(), MOVEFILE_REPLACE_EXISTING));
  EXPECT_EQ(ReadBytes(PathIn("d/f")), "abc");
}

TEST_F(FileApiTest, ReadRegularFileReadsUpToItsLimit) {
  WriteBytes(PathIn("data.bin"), std::string("ab\0cd", 5));
  std::string bytes;
  DWORD error = 0;
  ASSERT_TRUE(ZYT::ReadRegularFile(PathIn("data.bin"), bytes, error, 5)) << "exactly the limit";
  EXPECT_EQ(bytes, std::string("ab\0cd", 5));
  EXPECT_FALSE(ZYT::ReadRegularFile(PathIn("data.bin"), bytes, error, 4));
  EXPECT_EQ(error, ERROR_FILE_TOO_LARGE);
  EXPECT_EQ(bytes, "") << "nothing half-read is handed out";
  EXPECT_FALSE(ZYT::ReadRegularFile(PathIn("missing"), bytes, error));
  EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(ZYT::ReadRegularFile(PathIn("no/such/file"), bytes, error));
  EXPECT_EQ(error, ERROR_PATH_NOT_FOUND);
  int fd = ZYT::OpenRegularFile(PathIn("data.bin"), error);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << "the descriptor blocks again, as readers expect";
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "no child process inherits it";
  close(fd);
}

}  // namespace
