#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>

#include "framework/PathUtilities.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Resources.h"
#include "platform/win32/Strings.h"
#include "tests/support/TestEnvironment.h"

namespace {

using ZYT::Utf8ToWide;

TEST(PathTest, SplitsLikeWindows) {
  struct Case {
    const char16_t* path;
    const char16_t* directory;
    const char16_t* name;
    const char16_t* title;
    const char16_t* extension;
  };
  const Case cases[] = {
      {u"C:\\song.mp3", u"C:\\", u"song.mp3", u"song", u"mp3"},
      {u"C:\\Music\\song.mp3", u"C:\\Music", u"song.mp3", u"song", u"mp3"},
      {u"C:\\Music\\Old\\a.b.tar.gz", u"C:\\Music\\Old", u"a.b.tar.gz", u"a.b.tar", u"gz"},
      {u"/home/ann/notes", u"/home/ann", u"notes", u"notes", u""},
      {u"/song.ogg", u"/", u"song.ogg", u"song", u"ogg"},
      {u"dir.v2\\README", u"dir.v2", u"README", u"README", u""},
      {u"\\\\server\\share\\x.eml", u"\\\\server\\share", u"x.eml", u"x", u"eml"},
      {u"C:relative.txt", u"C:", u"relative.txt", u"relative", u"txt"},
      {u"trailing\\", u"trailing", u"", u"", u""},
      {u".profile", u"", u".profile", u"", u"profile"},
      {u"", u"", u"", u"", u""},
  };
  for (const Case& c : cases) {
    std::string what = ZYT::WideToUtf8(c.path);
    EXPECT_EQ(ZYT::DirectoryOf(c.path), c.directory) << what;
    EXPECT_EQ(ZYT::FileNameOf(c.path), c.name) << what;
    EXPECT_EQ(ZYT::FileTitleOf(c.path), c.title) << what;
    EXPECT_EQ(ZYT::ExtensionOf(c.path), c.extension) << what;
  }
}

TEST(PathTest, MakePathAddsSeparatorAndDotOnlyWhenNeeded) {
  EXPECT_EQ(ZYT::MakePath(u"C:\\Temp", u"qhm1a2b", u"tmp"), u"C:\\Temp\\qhm1a2b.tmp");
  EXPECT_EQ(ZYT::MakePath(u"C:\\Temp\\", u"x", u".eml"), u"C:\\Temp\\x.eml");
  EXPECT_EQ(ZYT::MakePath(u"/var/tmp", u"x", u""), u"/var/tmp/x") << "a POSIX folder keeps its separator";
  EXPECT_EQ(ZYT::MakePath(u"", u"x", u"txt"), u"x.txt");
  EXPECT_EQ(ZYT::MakePath(u"C:\\Temp", u"", u""), u"C:\\Temp");
  EXPECT_EQ(ZYT::MakePath(u"", u"", u""), u"");
}

class FoldersTest : public ZYT::Test::MachineTest {};

TEST_F(FoldersTest, LongPathTakesTheFileSystemsSpelling) {
  mkdir(PathIn("Music").c_str(), 0700);
  WriteBytes(PathIn("Music/Song.MP3"), "");
  EXPECT_EQ(ZYT::LongPathOf(TempDirW() + u"/MUSIC\\song.mp3"), TempDirW() + u"/Music\\Song.MP3");
  EXPECT_EQ(ZYT::LongPathOf(TempDirW() + u"/music/missing/song.mp3"), TempDirW() + u"/Music/missing/song.mp3")
      << "a missing component and what follows stay as written";
}

TEST_F(FoldersTest, CreateDirectoryTreeMakesEveryLevel) {
  EXPECT_FALSE(ZYT::CreateDirectoryTree(u""));
  std::u16string deep = PathInW("a\\b\\c");
  EXPECT_TRUE(ZYT::CreateDirectoryTree(deep));
  EXPECT_TRUE(ZYT::IsDirectory(deep));
  EXPECT_TRUE(ZYT::CreateDirectoryTree(deep)) << "an existing folder is fine";
  WriteBytes(PathIn("file"), "");
  EXPECT_FALSE(ZYT::CreateDirectoryTree(PathInW("file\\sub"))) << "a file in the way";
}

TEST_F(FoldersTest, AppDataFolderIsCreatedOnlyWhenAsked) {
  setenv("XDG_DATA_HOME", PathIn("data").c_str(), 1);
  std::u16string expected = PathInW("data/Halvorine/Orrery");
  std::u16string fallback = ZYT::GetAppDataFolder(true, false);
  EXPECT_NE(fallback, expected) << "not created, so the executable's folder stands in";
  EXPECT_TRUE(ZYT::EqualsNoCase(fallback, ZYT::DirectoryOf(ZYT::ModuleFileName(nullptr))));
  EXPECT_EQ(ZYT::GetAppDataFolder(true, true), expected);
  EXPECT_TRUE(ZYT::IsDirectory(expected));
  setenv("ZYT_COMMON_APPDATA", PathIn("common").c_str(), 1);
  mkdir(PathIn("common").c_str(), 0700);
  EXPECT_EQ(ZYT::GetAppDataFolder(false, true), PathInW("common/Halvorine/Orrery"));
  unsetenv("ZYT_COMMON_APPDATA");
  unsetenv("XDG_DATA_HOME");
}

TEST_F(FoldersTest, DeleteDirectoryContentsHonoursItsFlags) {
  auto make = [&] {
    mkdir(PathIn("t").c_str(), 0700);
    mkdir(PathIn("t/sub").c_str(), 0700);
    WriteBytes(PathIn("t/a.tmp"), "");
    WriteBytes(PathIn("t/keep.txt"), "");
    WriteBytes(PathIn("t/ro.tmp"), "");
    WriteBytes(PathIn("t/sub/b.tmp"), "");
    SetFileAttributesW(PathInW("t/ro.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
  };
  make();
  ZYT::DeleteDirectoryContents(PathInW("t"), u"*.tmp", false, false, false, false);
  EXPECT_EQ(ListDir(PathIn("t")), (std::vector<std::string>{"keep.txt", "ro.tmp", "sub"}))
      << "only matching files, read-only ones spared";
  ZYT::DeleteDirectoryContents(PathInW("t"), u"*", true, true, true, true);
  EXPECT_FALSE(Exists(PathIn("t"))) << "everything, the folder included";
  make();
  ZYT::DeleteDirectoryContents(PathInW("t"), u"*", false, true, false, false);
  EXPECT_EQ(ListDir(PathIn("t")), (std::vector<std::string>{"ro.tmp", "sub"}))
      << "without recursion a non-empty subfolder cannot be removed";
}

TEST_F(FoldersTest, UniqueTempPathNamesAndExhaustion) {
  std::u16string dir = PathInW("u");
  mkdir(PathIn("u").c_str(), 0700);
  std::u16string file = ZYT::MakeUniqueTempPath(dir, u"arc", u"zip", false);
  ASSERT_FALSE(file.empty());
  std::u16string name = ZYT::FileNameOf(file);
  EXPECT_EQ(name.size(), 11u);
  EXPECT_EQ(name.substr(0, 3), u"arc");
  EXPECT_EQ(name.find_first_not_of(u"0123456789abcdef", 3), 7u) << "four lower-case hex digits";
  EXPECT_EQ(ZYT::ExtensionOf(file), u"zip");
  EXPECT_EQ(GetFileAttributesW(file.c_str()), FILE_ATTRIBUTE_NORMAL);
  std::u16string folder = ZYT::MakeUniqueTempPath(dir, u"", u"", true);
  EXPECT_TRUE(ZYT::IsDirectory(folder));
  EXPECT_EQ(ZYT::ExtensionOf(folder), u"tmp");
  // Take every remaining name: the search must end, empty-handed.
  for (unsigned n = 0; n < 0x10000; ++n) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "%04x", n);
    WriteBytes(PathIn("u/arc") + hex + ".zip", "");
  }
  EXPECT_EQ(ZYT::MakeUniqueTempPath(dir, u"arc", u"zip", false), u"");
}

TEST_F(FoldersTest, ResourceTextOfAMissingModuleIsEmpty) {
  EXPECT_EQ(ZYT::LoadModuleResourceText(PathInW("none.dll.so"), u"REGISTRY", MAKEINTRESOURCEW(105)), u"");
  WriteBytes(PathIn("not-elf.dll.so"), "just text");
  EXPECT_EQ(ZYT::LoadModuleResourceText(PathInW("not-elf.dll.so"), u"REGISTRY", MAKEINTRESOURCEW(105)), u"");
  std::u16string script =
      ZYT::LoadModuleResourceText(Utf8ToWide(ZYT_FILTERS_MODULE), u"REGISTRY", MAKEINTRESOURCEW(106));
  EXPECT_NE(script.find(u"ZytFilters.Mp3Filter"), std::u16string::npos);
}

TEST_F(FoldersTest, WindowsVersionCheckFollowsTheConfiguredVersion) {
  EXPECT_FALSE(ZYT::IsWindowsXPOrLater()) << "this platform reports Windows 2000 unless told otherwise";
  ZYT::Test::SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                               u"CurrentVersion", u"5.2");
  EXPECT_TRUE(ZYT::IsWindowsXPOrLater());
}

}  // namespace
