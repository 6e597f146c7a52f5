// Whether the log folder exists is kept between entries while an inotify
// watch says nothing on its path changed. Every way the answer can change
// must reach the next look: the folder itself, its parent, a folder further
// up, a file or a link in its place, and a link whose target goes.
#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/win32/DirectoryPresence.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT::Test {
namespace {

class ProxyPerfLogFolderTest : public MachineTest {};

TEST_F(ProxyPerfLogFolderTest, EveryChangeOnThePathIsSeenByTheNextLook) {
  const std::string top = PathIn("top"), parent = top + "/repo", folder = parent + "/Debug.Filter";
  const std::string target = PathIn("target");
  auto ok = [](int result) { ASSERT_EQ(result, 0) << strerror(errno); };
  struct Step {
    const char* change;
    std::function<void()> make;
    bool present;
  };
  const Step steps[] = {
      {"nothing there, the parent missing too", [] {}, false},
      {"the parent and the folder made", [&] { ok(mkdir(top.c_str(), 0700)); ok(mkdir(parent.c_str(), 0700)); ok(mkdir(folder.c_str(), 0700)); }, true},
      {"the folder removed", [&] { ok(rmdir(folder.c_str())); }, false},
      {"a file in its place", [&] { WriteBytes(folder, "x"); }, false},
      {"the file replaced by a folder", [&] { ok(unlink(folder.c_str())); ok(mkdir(folder.c_str(), 0700)); }, true},
      {"the parent renamed away", [&] { ok(rename(parent.c_str(), (parent + ".old").c_str())); }, false},
      {"another parent with the folder renamed in",
       [&] { ok(mkdir((parent + ".new").c_str(), 0700)); ok(mkdir((parent + ".new/Debug.Filter").c_str(), 0700));
             ok(rename((parent + ".new").c_str(), parent.c_str())); }, true},
      {"a folder above the parent swapped for an empty one",
       [&] { ok(rename(top.c_str(), (top + ".gone").c_str())); ok(mkdir(top.c_str(), 0700)); }, false},
      {"the old tree moved back", [&] { ok(rmdir(top.c_str())); ok(rename((top + ".gone").c_str(), top.c_str())); }, true},
      {"a link to a folder in its place",
       [&] { ok(rmdir(folder.c_str())); ok(mkdir(target.c_str(), 0700)); ok(symlink(target.c_str(), folder.c_str())); }, true},
      {"the link's target removed", [&] { ok(rmdir(target.c_str())); }, false},
      {"the link's target made again", [&] { ok(mkdir(target.c_str(), 0700)); }, true},
  };
  CDirectoryPresence presence = CDirectoryPresence::Of(folder);
  for (const Step& step : steps) {
    step.make();
    EXPECT_EQ(presence.Exists(), step.present) << step.change;
    EXPECT_EQ(presence.Exists(), step.present) << step.change << ", asked again with nothing changed";
    EXPECT_EQ(CDirectoryPresence::Of(folder).Exists(), step.present) << step.change << ", another logger";
  }
  ok(unlink(folder.c_str()));
  ok(rmdir(target.c_str()));
  ok(rmdir(parent.c_str()));
  ok(rmdir((parent + ".old/Debug.Filter").c_str()));
  ok(rmdir((parent + ".old").c_str()));
  ok(rmdir(top.c_str()));
}

}  // namespace
}  // namespace ZYT::Test
