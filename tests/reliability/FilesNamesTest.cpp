// A file whose name is not UTF-8 (Latin-1 names from old archives, random
// bytes) can be named, listed, filtered and reported like any other.
#include <gtest/gtest.h>

#include <string>

#include "interfaces/ProductServices.h"
#include "platform/com/ComPtr.h"
#include "platform/com/ComVariant.h"
#include "platform/com/ObjBase.h"
#include "platform/indexer/FilterWalk.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/PathMap.h"
#include "platform/win32/Strings.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT {
namespace {

// "café" in Latin-1, a stray continuation byte and a cut-off sequence.
const std::string kName = "caf\xe9-\x80-\xe2\x82.txt";
const std::u16string kWideName = u"caf\xdce9-\xdc80-\xdce2\xdc82.txt";

class FilesNamesTest : public Test::MachineTest {};

TEST_F(FilesNamesTest, NamesThatAreNotUtf8RoundTripThroughTheFileLayer) {
  WriteBytes(PathIn(kName), "hello from a Latin-1 name\n");
  std::u16string wide = TempDirW() + u"/" + kWideName;
  EXPECT_EQ(FromPosixPath(PathIn(kName)), wide);
  EXPECT_EQ(ToPosixPath(wide.c_str()), PathIn(kName));

  WIN32_FIND_DATAW data;
  HANDLE find = FindFirstFileW((TempDirW() + u"/*.txt").c_str(), &data);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  EXPECT_EQ(std::u16string(data.cFileName), kWideName) << "the listing names it as the path map does";
  EXPECT_FALSE(FindNextFileW(find, &data));
  FindClose(find);
  find = FindFirstFileW((TempDirW() + u"/caf\xdce9*").c_str(), &data);
  EXPECT_NE(find, INVALID_HANDLE_VALUE) << "a pattern with an escaped byte matches it";
  if (find != INVALID_HANDLE_VALUE) FindClose(find);

  HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << "the listed name opens the file";
  char buffer[64];
  DWORD read = 0;
  EXPECT_TRUE(ReadFile(h, buffer, sizeof buffer, &read, nullptr));
  EXPECT_EQ(std::string(buffer, read), "hello from a Latin-1 name\n");
  CloseHandle(h);
  EXPECT_EQ(GetFileAttributesW((TempDirW() + u"/caf\xfffd-\xfffd-\xfffd.txt").c_str()), INVALID_FILE_ATTRIBUTES)
      << "U+FFFD is not a stand-in for the bytes";
}

TEST_F(FilesNamesTest, DumpFiltersAndReportsAFileNamedInLatin1) {
  const std::string path = PathIn(kName);
  WriteBytes(path, "hello from a Latin-1 name\n");
  ZYT::Test::ProcessResult r = ZYT::Test::RunZytfilt({"dump", path}, ZYT::Test::OnMachine(*this, PathIn("home")), 20);
  ASSERT_FALSE(r.hung);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind("file " + path + "\n", 0), 0u) << "text output names the file by its own bytes";
  EXPECT_NE(r.out.find("hello from a Latin-1 name"), std::string::npos) << r.out;

  r = ZYT::Test::RunZytfilt({"dump", "--json", path}, ZYT::Test::OnMachine(*this, PathIn("home")), 20);
  ASSERT_FALSE(r.hung);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string file = "{\"file\":\"" + TempDir() + "/caf\\udce9-\\udc80-\\udce2\\udc82.txt\"";
  const std::vector<std::string> lines = ZYT::Test::Lines(r.out);
  for (const std::string& line : lines) {
    EXPECT_EQ(line.rfind(file, 0), 0u) << "each object names the file with its bytes escaped: " << line;
    std::u16string decoded = Utf8ToWide(line);
    EXPECT_EQ(decoded.find(u'\xfffd'), std::u16string::npos) << "the output is valid UTF-8: " << line;
  }
  EXPECT_GE(lines.size(), 2u);
  EXPECT_NE(r.out.find("\"text\":\"hello from a Latin-1 name"), std::string::npos) << r.out;
}

// The catalog proxy asks the thumbnail service for an item id per path; two
// names that differ only in bytes that are not UTF-8 are two items.
TEST_F(FilesNamesTest, ItemIdsTellNamesApartByTheirBytes) {
  setenv("ZYT_THUMBNAILS", PathIn("thumbs.db").c_str(), 1);
  ASSERT_EQ(ZYT::Test::RegisterModule(ZYT_COMPONENTS_MODULE), S_OK);
  ComPtr<IThumbnailService> service;
  ASSERT_EQ(CoCreateInstance(CLSID_ThumbnailService, nullptr, CLSCTX_ALL, uuidof<IThumbnailService>(),
                             service.put_void()),
            S_OK);
  auto id = [&](const char16_t* path) {
    CBstr result;
    EXPECT_EQ(service->ItemId(CBstr(path).get(), CBstr(u"local").get(), 0, result.put()), S_OK);
    return result.str();
  };
  std::u16string latin1 = id(u"/home/ann/caf\xdce9.txt");
  EXPECT_NE(latin1, id(u"/home/ann/caf\xdce8.txt"));
  EXPECT_EQ(latin1, id(u"/home/ann/caf\xdce9.txt")) << "and the same name keeps its id";
  unsetenv("ZYT_THUMBNAILS");
}

TEST(FilesJsonTest, LoneSurrogatesAreEscapedAndPairsKept) {
  EXPECT_EQ(JsonString(u"a\xdcff\"\U0001D11E\xd800\n"), "\"a\\udcff\\\"\xf0\x9d\x84\x9e\\ud800\\n\"");
  EXPECT_EQ(JsonString(u"\xdc80\xdc81"), "\"\\udc80\\udc81\"");
  EXPECT_EQ(JsonString(u"\xd834\xdd1e"), "\"\xf0\x9d\x84\x9e\"") << "a pair is one character";
}

}  // namespace
}  // namespace ZYT
