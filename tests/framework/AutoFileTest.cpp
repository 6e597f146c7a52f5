#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "framework/AutoFile.h"
#include "framework/AutoHandle.h"
#include "framework/Cguid.h"
#include "framework/CoString.h"
#include "platform/win32/FileApi.h"
#include "tests/support/TestEnvironment.h"

namespace {

class AutoFileTest : public ZYT::Test::MachineTest {};

TEST_F(AutoFileTest, DeletesReadOnlyFilesToo) {
  WriteBytes(PathIn("a.tmp"), "x");
  SetFileAttributesW(PathInW("a.tmp").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
  { ZYT::CAutoFile file(PathInW("a.tmp")); }
  EXPECT_FALSE(Exists(PathIn("a.tmp")));
  ZYT::CAutoFile file(PathInW("b.tmp"));
  WriteBytes(PathIn("b.tmp"), "x");
  std::u16string kept = file.Detach();
  EXPECT_EQ(kept, PathInW("b.tmp"));
  file.Release();
  EXPECT_TRUE(Exists(PathIn("b.tmp"))) << "a detached file is the caller's";
}

TEST_F(AutoFileTest, FileHeldOpenByAnotherProcessIsGoneWhenItCloses) {
  WriteBytes(PathIn("held.tmp"), "data");
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int fd = open(PathIn("held.tmp").c_str(), O_RDONLY);
    char c = 1;
    (void)!write(ready[1], &c, 1);
    (void)!read(release[0], &c, 1);
    close(fd);
    _exit(0);
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  { ZYT::CAutoFile file(PathInW("held.tmp")); }
  (void)!write(release[1], &c, 1);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_FALSE(Exists(PathIn("held.tmp")));
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

TEST_F(AutoFileTest, HandleAndStringOwners) {
  ZYT::CAutoHandle handle(CreateFileW(PathInW("h").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
  EXPECT_TRUE(handle.IsValid());
  HANDLE raw = handle.get();
  handle.Close();
  EXPECT_EQ(handle.get(), INVALID_HANDLE_VALUE);
  EXPECT_FALSE(CloseHandle(raw)) << "the handle was closed once already";

  LONG before = ZYT::OutstandingTaskAllocations();
  {
    CCoString text(u"C:\\file.mp3");
    ASSERT_NE(text.get(), nullptr);
    text = u"shorter";
    EXPECT_EQ(std::u16string(text.get()), u"shorter");
    ZYT::FailTaskAllocations(0, 1);
    text = u"fails";
    EXPECT_EQ(text.get(), nullptr) << "a failed allocation leaves the string null";
  }
  EXPECT_EQ(ZYT::OutstandingTaskAllocations(), before);

  Cguid fresh, other;
  EXPECT_NE(fresh.guid(), other.guid());
  EXPECT_EQ(fresh.str().size(), 38u);
  EXPECT_EQ(&fresh.str(), &fresh.str()) << "the text is made once";
  EXPECT_EQ(Cguid(ZYT::MakeGuid("{098f2470-bae0-11cd-b579-08002b30bfeb}")).str(),
            u"{098F2470-BAE0-11CD-B579-08002B30BFEB}");
}

}  // namespace
