#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <string>
#include <vector>

#include "archive/LibzipUnZipper.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Strings.h"
#include "tests/archive/ArchiveTestMachine.h"
#include "tests/archive/ZipBuilder.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT::Test {
namespace {

class ArchiveUnZipperTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    alarm(60);  // a guard that does not hold turns into a hang, not a pass
    mkdir(PathIn("tmp").c_str(), 0700);
  }
  void TearDown() override {
    alarm(0);
    MachineTest::TearDown();
  }
  std::string Folder() const { return PathIn("tmp/arc" + std::to_string(m_folders)); }
  // An unzipper over the archive, its folder made.
  std::unique_ptr<LibzipUnZipper> Open(const std::string& zip, const UnZipLimits& limits = {}) {
    ++m_folders;
    WriteBytes(PathIn("a.zip"), zip);
    auto unzipper = std::make_unique<LibzipUnZipper>(limits);
    EXPECT_TRUE(unzipper->setExtractPath(Utf8ToWide(Folder())));
    EXPECT_TRUE(unzipper->openFile(PathInW("a.zip")));
    return unzipper;
  }
  int m_folders = 1;
};

TEST(ArchiveSafeEntryPath, EveryNameEndsBelowTheFolder) {
  const std::string longName(300, 'a');
  const struct {
    std::string name, expected;
  } cases[] = {
      {"plain.txt", "plain.txt"},
      {"../evil.txt", "evil.txt"},
      {"../../../../etc/x", "etc/x"},
      {"..\\..\\evil.txt", "evil.txt"},
      {"/etc/x", "etc/x"},
      {"C:\\Windows\\x", "Windows/x"},
      {"c:x", "c_x"},  // not a drive followed by a separator: one name
      {"a/./b//c/", "a/b/c"},
      {"a/../b", "a/b"},
      {"..", ""},
      {"/", ""},
      {std::string("tab\there\x01\x7f", 11), "tab_here___"},  // NUL included
      {"what?<is>|this*\"", "what__is__this__"},
      {longName, std::string(255, 'a')},
      {std::string(254, 'b') + "\xc3\xa9", std::string(254, 'b')},  // "é" would be split at 255
      {std::string(253, 'b') + "\xc3\xa9", std::string(253, 'b') + "\xc3\xa9"},
  };
  for (const auto& c : cases) EXPECT_EQ(SafeEntryPath(c.name, 1024), c.expected) << c.name;
  // The whole path is bounded too: components past the limit are dropped.
  EXPECT_EQ(SafeEntryPath("abc/def/ghi", 7), "abc/def");
  EXPECT_EQ(SafeEntryPath("abc/def/ghi", 6), "abc");
  EXPECT_EQ(SafeEntryPath("abcdefgh", 5), "abcde");
}

TEST_F(ArchiveUnZipperTest, EntriesComeInArchiveOrderAndTheLastIsFollowedByNothing) {
  auto unzipper = Open(BuildZip({{.name = "b.txt", .content = "bee"},
                                 {.name = "dir/", .content = "", .unixMode = 040755},
                                 {.name = "dir/a.txt", .content = "ay", .deflate = false}}));
  const std::u16string folder = Utf8ToWide(Folder());
  EXPECT_EQ(unzipper->getFileCount(), 2) << "folders are not files";
  ASSERT_TRUE(unzipper->hasMoreFiles());
  EXPECT_EQ(unzipper->extractNextFile(), folder + u"/b.txt");
  EXPECT_EQ(ReadBytes(Folder() + "/b.txt"), "bee");
  EXPECT_EQ(unzipper->extractNextFile(), folder + u"/dir");
  EXPECT_EQ(unzipper->extractNextFile(), folder + u"/dir/a.txt");
  EXPECT_EQ(ReadBytes(Folder() + "/dir/a.txt"), "ay");
  EXPECT_FALSE(unzipper->lastEntryWithheld());
  EXPECT_FALSE(unzipper->hasMoreFiles());
  EXPECT_EQ(unzipper->extractNextFile(), u"");
  struct stat st;
  ASSERT_EQ(stat(Folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  ASSERT_EQ(stat((Folder() + "/b.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(unzipper->cleanUp());
  EXPECT_FALSE(Exists(Folder()));
}

TEST_F(ArchiveUnZipperTest, TotalsAreSummedAndClampedToThirtyOneBits) {
  auto unzipper = Open(BuildZip({{.name = "a", .content = std::string(4096, 'x'), .padding = 2000},
                                 {.name = "b", .content = "short", .deflate = false}}));
  EXPECT_EQ(unzipper->getUncompressedSize(), 4096 + 5);
  EXPECT_EQ(unzipper->getCompressedSize(), static_cast<int32_t>(Deflate(std::string(4096, 'x')).size() + 2000 + 5));
  auto big = Open(BuildZip({{.name = "huge", .content = "x", .declaredSize = 0xC0000000},
                            {.name = "huge2", .content = "y", .declaredSize = 0x7FFFFFFF}}));
  EXPECT_EQ(big->getUncompressedSize(), 2147483647);
  auto exact = Open(BuildZip({{.name = "edge", .content = "x", .declaredSize = 0x7FFFFFFF}}));
  EXPECT_EQ(exact->getUncompressedSize(), 2147483647);
  auto below = Open(BuildZip({{.name = "edge", .content = "x", .declaredSize = 0x7FFFFFFE}}));
  EXPECT_EQ(below->getUncompressedSize(), 2147483646);
}

TEST_F(ArchiveUnZipperTest, WithoutAnArchiveCountsAndSizesThrow) {
  LibzipUnZipper unzipper(UnZipLimits{});
  EXPECT_ANY_THROW(unzipper.getFileCount());
  EXPECT_ANY_THROW(unzipper.getUncompressedSize());
  EXPECT_FALSE(unzipper.hasMoreFiles());
  EXPECT_EQ(unzipper.extractNextFile(), u"");
  EXPECT_TRUE(unzipper.isReady());
}

TEST_F(ArchiveUnZipperTest, WhatCannotBeOpenedIsRefusedWithoutHanging) {
  LibzipUnZipper unzipper(UnZipLimits{});
  ASSERT_EQ(mkfifo(PathIn("fifo.zip").c_str(), 0600), 0);
  EXPECT_FALSE(unzipper.openFile(PathInW("fifo.zip")));
  EXPECT_FALSE(unzipper.openFile(PathInW("missing.zip")));
  EXPECT_FALSE(unzipper.openFile(TempDirW()));
  WriteBytes(PathIn("text.zip"), "this is not an archive");
  EXPECT_FALSE(unzipper.openFile(PathInW("text.zip")));
  // The central directory cut in the middle.
  std::string zip = BuildZip({{.name = "a.txt", .content = "alpha"}, {.name = "b.txt", .content = "beta"}});
  for (size_t cut : {zip.size() - 1, zip.size() - 22, zip.size() - 30, size_t(10)}) {
    WriteBytes(PathIn("cut.zip"), zip.substr(0, cut));
    EXPECT_FALSE(unzipper.openFile(PathInW("cut.zip"))) << cut;
  }
}

TEST_F(ArchiveUnZipperTest, TheExtractFolderMustBeNewAndIsPrivate) {
  LibzipUnZipper unzipper(UnZipLimits{});
  ASSERT_EQ(mkdir(Folder().c_str(), 0755), 0);
  EXPECT_FALSE(unzipper.setExtractPath(Utf8ToWide(Folder()))) << "someone else's folder is never used";
  rmdir(Folder().c_str());
  ASSERT_EQ(symlink(TempDir().c_str(), Folder().c_str()), 0);
  EXPECT_FALSE(unzipper.setExtractPath(Utf8ToWide(Folder())));
  unlink(Folder().c_str());
  umask(0);
  EXPECT_TRUE(unzipper.setExtractPath(Utf8ToWide(Folder())));
  umask(022);
  struct stat st;
  ASSERT_EQ(stat(Folder().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_TRUE(unzipper.cleanUp());
}

TEST_F(ArchiveUnZipperTest, CleanUpRemovesReadOnlyHiddenAndSystemFilesAndTheFolder) {
  auto unzipper = Open(BuildZip({{.name = "deep/er/ro.txt", .content = "r"},
                                 {.name = ".hidden", .content = "h"},
                                 {.name = "sys.txt", .content = "s"}}));
  while (unzipper->hasMoreFiles()) unzipper->extractNextFile();
  ASSERT_TRUE(SetFileAttributesW(Utf8ToWide(Folder() + "/deep/er/ro.txt").c_str(), FILE_ATTRIBUTE_READONLY));
  SetFileAttributesW(Utf8ToWide(Folder() + "/sys.txt").c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
  chmod((Folder() + "/deep/er").c_str(), 0500);  // a read-only folder
  ASSERT_EQ(TreeOf(Folder()), (std::vector<std::string>{".hidden", "deep/", "deep/er/", "deep/er/ro.txt", "sys.txt"}));
  EXPECT_TRUE(unzipper->cleanUp());
  EXPECT_FALSE(Exists(Folder()));
  EXPECT_TRUE(unzipper->cleanUp()) << "a second clean-up has nothing left to do";
}

TEST_F(ArchiveUnZipperTest, HostileEntriesLeaveOnlyTheirNames) {
  UnZipLimits limits;
  limits.maxMemberBytes = 1 << 20;
  limits.ratioFreeBytes = 64 << 10;
  const std::string zeros(4 << 20, '\0');
  const struct {
    ZipEntry entry;
    bool withheld;
  } cases[] = {
      {{.name = "fine.txt", .content = "fine"}, false},
      {{.name = "link", .content = "/etc", .deflate = false, .unixMode = 0120777}, true},
      {{.name = "device", .content = "", .unixMode = 0020644}, true},
      {{.name = "fifo", .content = "", .unixMode = 0010644}, true},
      {{.name = "secret.txt", .content = "garbled", .deflate = false, .flags = 1}, true},
      {{.name = "lzma.txt", .content = "x", .deflate = false, .method = 14}, true},
      {{.name = "unknown.txt", .content = "x", .deflate = false, .method = 77}, true},
      // declared over the limit, inflating over it while claiming little, and
      // past the ratio though below the size limit
      {{.name = "declared.bin", .content = "x", .declaredSize = 2 << 20}, true},
      {{.name = "liar.bin", .content = zeros, .declaredSize = 10}, true},
      {{.name = "ratio.bin", .content = std::string(900 << 10, '\0')}, true},
      {{.name = "at-limit.bin", .content = std::string(1 << 20, 'a'), .deflate = false}, false},
  };
  std::vector<ZipEntry> entries;
  for (const auto& c : cases) entries.push_back(c.entry);
  // A stored entry whose data is not what its CRC says.
  entries.push_back({.name = "crc.txt", .content = "abc", .deflate = false});
  std::string zip = BuildZip(entries);
  const size_t crcData = zip.find("crc.txtabc") + 7;
  zip[crcData] = 'X';
  auto unzipper = Open(zip, limits);
  for (const auto& c : cases) {
    const std::u16string path = unzipper->extractNextFile();
    const std::string name = c.entry.name;
    EXPECT_EQ(path, Utf8ToWide(Folder() + "/" + name));
    EXPECT_EQ(unzipper->lastEntryWithheld(), c.withheld) << name << ": " << WideToUtf8(unzipper->lastEntryNote());
    struct stat st;
    const bool present = lstat((Folder() + "/" + name).c_str(), &st) == 0;
    EXPECT_EQ(present, !c.withheld) << name;
    if (present) {
      EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
      unlink((Folder() + "/" + name).c_str());  // as the filter does before the next
    }
  }
  EXPECT_EQ(unzipper->extractNextFile(), Utf8ToWide(Folder() + "/crc.txt"));
  EXPECT_TRUE(unzipper->lastEntryWithheld()) << "a CRC that does not match is damage";
  EXPECT_FALSE(Exists(Folder() + "/crc.txt"));
  EXPECT_TRUE(unzipper->cleanUp());
}

TEST_F(ArchiveUnZipperTest, ASymlinkEntryNeverLeadsOutOfTheFolder) {
  mkdir(PathIn("outside").c_str(), 0700);
  auto unzipper = Open(BuildZip({{.name = "link", .content = PathIn("outside"), .deflate = false, .unixMode = 0120777},
                                 {.name = "link/planted.txt", .content = "gotcha"},
                                 {.name = "../outside/slip.txt", .content = "gotcha"}}));
  while (unzipper->hasMoreFiles()) EXPECT_NE(unzipper->extractNextFile(), u"");
  EXPECT_TRUE(ListDir(PathIn("outside")).empty());
  struct stat st;
  ASSERT_EQ(lstat((Folder() + "/link").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode)) << "the link's name became a plain folder for the file after it";
  EXPECT_EQ(TreeOf(Folder()), (std::vector<std::string>{"link/", "link/planted.txt", "outside/", "outside/slip.txt"}));
  EXPECT_TRUE(unzipper->cleanUp());
}

TEST_F(ArchiveUnZipperTest, ADuplicateNameReplacesTheEarlierMemberAndAFolderKeepsItsName) {
  auto unzipper = Open(BuildZip({{.name = "same.txt", .content = "first"},
                                 {.name = "same.txt", .content = "second"},
                                 {.name = "d/", .content = "", .unixMode = 040755},
                                 {.name = "d", .content = "a file named like the folder"},
                                 {.name = "f.txt", .content = "file"},
                                 {.name = "f.txt/inner.txt", .content = "under a file"}}));
  unzipper->extractNextFile();
  EXPECT_EQ(ReadBytes(Folder() + "/same.txt"), "first");
  unzipper->extractNextFile();
  EXPECT_FALSE(unzipper->lastEntryWithheld());
  EXPECT_EQ(ReadBytes(Folder() + "/same.txt"), "second");
  unzipper->extractNextFile();
  unzipper->extractNextFile();
  EXPECT_TRUE(unzipper->lastEntryWithheld());
  unzipper->extractNextFile();
  EXPECT_NE(unzipper->extractNextFile(), u"");
  EXPECT_TRUE(unzipper->lastEntryWithheld());
  EXPECT_EQ(ReadBytes(Folder() + "/f.txt"), "file");
  EXPECT_TRUE(unzipper->cleanUp());
}

TEST_F(ArchiveUnZipperTest, ThePassedDeadlineStopsAMemberWhileItIsWritten) {
  UnZipLimits limits;
  limits.maxRatio = 100000;
  auto unzipper = Open(BuildZip({{.name = "slow.bin", .content = std::string(3 << 20, 'z')},
                                 {.name = "small.txt", .content = "small"}}),
                       limits);
  unzipper->setDeadline(time(nullptr) - 1);
  unzipper->extractNextFile();
  EXPECT_TRUE(unzipper->lastEntryWithheld());
  EXPECT_FALSE(Exists(Folder() + "/slow.bin"));
  unzipper->extractNextFile();
  EXPECT_FALSE(unzipper->lastEntryWithheld()) << "below a megabyte the clock is not asked";
  unzipper->setDeadline(0);
  EXPECT_TRUE(unzipper->cleanUp());
}

TEST_F(ArchiveUnZipperTest, TheSweepRemovesOnlyFoldersNoLiveProcessHolds) {
  const std::string tmp = PathIn("tmp");
  mkdir((tmp + "/arc1").c_str(), 0700);  // a dead host's
  WriteBytes(tmp + "/arc1/member.txt", "left behind");
  mkdir((tmp + "/arc1/sub").c_str(), 0500);
  mkdir((tmp + "/arcZZ").c_str(), 0700);   // not a name the filter makes
  mkdir((tmp + "/arc12345").c_str(), 0700);
  WriteBytes(tmp + "/arc2", "a file");  // not a folder
  WriteBytes(tmp + "/arc4.tmp", "");     // a name reserved by a host killed at once
  WriteBytes(tmp + "/arc5.tmp", "x");    // not such a reservation
  WriteBytes(tmp + "/arcG.tmp", "");
  mkdir((tmp + "/keep").c_str(), 0700);
  ASSERT_EQ(symlink((tmp + "/keep").c_str(), (tmp + "/arc3").c_str()), 0);
  LibzipUnZipper live(UnZipLimits{});
  ASSERT_TRUE(live.setExtractPath(Utf8ToWide(tmp + "/arcF00")));
  WriteBytes(tmp + "/arcF00/busy.txt", "in use");
  EXPECT_EQ(SweepDeadExtractFolders(Utf8ToWide(tmp)), 2u);
  std::vector<std::string> left = ListDir(tmp);
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"arc12345", "arc2", "arc3", "arc5.tmp", "arcF00", "arcG.tmp", "arcZZ", "keep"}));
  EXPECT_TRUE(Exists(tmp + "/arcF00/busy.txt"));
  EXPECT_TRUE(live.cleanUp());
  EXPECT_EQ(SweepDeadExtractFolders(Utf8ToWide(tmp)), 0u);
  // A folder held by another process is left alone as well.
  mkdir((tmp + "/arcB").c_str(), 0700);
  pid_t child = fork();
  if (child == 0) {
    int fd = open((tmp + "/arcB").c_str(), O_RDONLY | O_DIRECTORY);
    flock(fd, LOCK_SH);
    pause();
    _exit(0);
  }
  for (int i = 0; i < 200; ++i) {
    int fd = open((tmp + "/arcB").c_str(), O_RDONLY | O_DIRECTORY);
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (!held) flock(fd, LOCK_UN);
    close(fd);
    if (held) break;
    usleep(10000);
  }
  EXPECT_EQ(SweepDeadExtractFolders(Utf8ToWide(tmp)), 0u);
  EXPECT_TRUE(Exists(tmp + "/arcB"));
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(SweepDeadExtractFolders(Utf8ToWide(tmp)), 1u) << "its process is gone";
  EXPECT_FALSE(Exists(tmp + "/arcB"));
}

}  // namespace
}  // namespace ZYT::Test
