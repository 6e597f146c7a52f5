// The catalog proxy's diagnostic log is switched on by creating the folder
// "Debug.Filter"; an object already filtering a file starts logging at its
// next entry, and stops when the folder goes.
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/com/OleAuto.h"
#include "platform/com/TaskAllocator.h"
#include "tests/reliability/ProxyMachine.h"

namespace ZYT::Test {
namespace {

class ProxyLogFolderTest : public ProxyMachineTest {};

TEST_F(ProxyLogFolderTest, TheFolderSwitchesTheLogOfALiveObject) {
  Configure(Field(3));
  WriteBytes(PathIn("in/note.txt"), "Hello proxy.\n");
  ComPtr<IFilter> proxy = LoadedProxy(PathInW("in/note.txt"));
  ASSERT_TRUE(proxy);
  const std::string folder = PathIn("repo/Debug.Filter");
  ASSERT_FALSE(Exists(folder)) << "logging starts off";

  ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
  ULONG flags = 0;
  ASSERT_EQ(proxy->Init(IFILTER_INIT_APPLY_INDEX_ATTRIBUTES, 0, nullptr, &flags), S_OK);
  std::vector<std::string> files = ListDir(folder);
  ASSERT_EQ(files.size(), 1u) << "the entry after the folder appeared has a file";
  const std::string log = folder + "/" + files[0];
  EXPECT_EQ(files[0].rfind("FLT", 0), 0u) << files[0];
  std::string text = ReadBytes(log);
  EXPECT_NE(text.find("Proxy Init called\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("Filtering: "), std::string::npos) << "Load ran while logging was off";

  ASSERT_EQ(unlink(log.c_str()), 0);
  ASSERT_EQ(rmdir(folder.c_str()), 0);
  STAT_CHUNK chunk;
  while (proxy->GetChunk(&chunk) == S_OK) {
    PROPVARIANT* value = nullptr;
    if ((chunk.flags & CHUNK_VALUE) && proxy->GetValue(&value) == S_OK) {
      PropVariantClear(value);
      CoTaskMemFree(value);
    }
  }
  EXPECT_FALSE(Exists(folder)) << "removing the folder switches logging off again";
}

}  // namespace
}  // namespace ZYT::Test
