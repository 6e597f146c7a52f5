#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "framework/PersistentHandler.h"
#include "interfaces/ClassIds.h"
#include "platform/com/ObjIdl.h"
#include "platform/com/PropIds.h"
#include "tests/archive/ArchiveTestMachine.h"

namespace ZYT::Test {
namespace {

using ZYT::ComPtr;

class ArchiveFilterTest : public ArchiveMachineTest {
 protected:
  ComPtr<IFilter> Open(const std::string& zip, const std::string& name = "a.zip") {
    WriteBytes(PathIn(name), zip);
    ComPtr<IFilter> filter;
    EXPECT_EQ(LoadIFilter(PathInW(name).c_str(), nullptr, filter.put_void()), S_OK);
    return filter;
  }
  WalkResult Walk(const std::string& zip, DriveOptions options = ArchiveDrive()) {
    ComPtr<IFilter> filter = Open(zip);
    if (!filter) return {};
    WalkResult r = DriveFilter(filter.get(), options);
    EXPECT_TRUE(ObeysProtocol(r));
    return r;
  }
  // The texts of the member name chunks, in order.
  static std::vector<std::u16string> Names(const WalkResult& r) {
    std::vector<std::u16string> names;
    for (const WalkedChunk& c : r.chunks)
      if (!c.hasValue && c.stat.breakType == CHUNK_EOS && !c.text.empty() && c.text.back() == u'\n')
        names.push_back(c.text);
    return names;
  }
};

const std::string kNotice =
    "Halvorine Orrery was unable to index some of the documents contained in this .zip file.  Halvorine Orrery "
    "indexed ";

TEST_F(ArchiveFilterTest, WithoutAnIdleTimeOutNoMemberIsTakenAndTheSummarySaysSo) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SYSTEM\\CurrentControlSet\\Control\\ContentIndex", 0, KEY_WRITE, &key),
            ERROR_SUCCESS);
  RegDeleteValueW(key, u"FilterIdleTimeout");
  RegCloseKey(key);
  WalkResult r = Walk(BuildZip({{.name = "a.txt", .content = std::string(2048, 'a')},
                                {.name = "b.txt", .content = std::string(2048, 'b'), .deflate = false}}));
  ASSERT_EQ(r.chunks.size(), 1u);
  EXPECT_EQ(r.end, FILTER_E_END_OF_CHUNKS);
  const WalkedChunk& summary = r.chunks[0];
  EXPECT_EQ(summary.stat.flags, CHUNK_VALUE);
  EXPECT_EQ(summary.stat.idChunk, 1u);
  EXPECT_EQ(ZYT::WideToUtf8(AttributeText(summary)), "{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}/0x6");
  EXPECT_EQ(summary.vt, VT_LPWSTR);
  const int compressed = static_cast<int>(Deflate(std::string(2048, 'a')).size()) + 2048;
  EXPECT_EQ(summary.valueJson,
            JsonString(ZYT::Utf8ToWide(kNotice + "0 files out of 2.  You may be able to successfully index the "
                                       "remaining items by creating a separate .zip file for them.\n\nFiles: 2\nSize: "
                                       "4KB\nCompressed: " + std::to_string(compressed / 1024) +
                                       "KB\nPercent Compressed: " +
                                       std::to_string(static_cast<int>((1.0 - compressed / 4096.0) * 100.0)) + "%\n")));
}

TEST_F(ArchiveFilterTest, AnArchiveOfFoldersOnlyEndsWithoutASummary) {
  WalkResult r = Walk(BuildZip({{.name = "a/", .content = "", .unixMode = 040755},
                                {.name = "a/b/", .content = "", .unixMode = 040755},
                                {.name = "c/", .content = "", .unixMode = 040755}}));
  EXPECT_TRUE(r.chunks.empty());
  EXPECT_EQ(r.end, FILTER_E_END_OF_CHUNKS);
}

TEST_F(ArchiveFilterTest, MembersGiveTheirNamesInOrderAndTheSummaryHasFourLines) {
  // 10240 bytes in three files, 4096 of them compressed: the compressed
  // streams are padded to the sizes wanted.
  const std::string a(4096, 'a'), b(4096, 'b'), c(2048, 'c');
  WalkResult r = Walk(BuildZip({{.name = "first.txt", .content = a, .padding = 2048 - Deflate(a).size()},
                                {.name = "dir/", .content = "", .deflate = false, .unixMode = 040755},
                                {.name = "dir/second.txt", .content = b, .padding = 1024 - Deflate(b).size()},
                                {.name = "third.txt", .content = c, .padding = 1024 - Deflate(c).size()}}));
  EXPECT_EQ(r.end, FILTER_E_END_OF_CHUNKS);
  EXPECT_EQ(Names(r), (std::vector<std::u16string>{u"first.txt\n", u"second.txt\n", u"third.txt\n"}));
  ASSERT_FALSE(r.chunks.empty());
  EXPECT_EQ(r.chunks[0].stat.idChunk, 1u);
  EXPECT_EQ(ZYT::WideToUtf8(AttributeText(r.chunks[0])), "{B725F130-47EF-101A-A5F1-02608C9EEBAC}/0x13");
  EXPECT_EQ(SummaryOf(r), JsonString(u"Files: 3\nSize: 10KB\nCompressed: 4KB\nPercent Compressed: 60%\n"));
  for (size_t i = 0; i < r.chunks.size(); ++i) EXPECT_EQ(r.chunks[i].stat.idChunk, i + 1) << "renumbered in order";
}

TEST_F(ArchiveFilterTest, SummaryEdgesOfSize) {
  const struct {
    const char* what;
    std::vector<ZipEntry> entries;
    std::string expected;
  } cases[] = {
      {"over 2 GiB",
       {{.name = "huge.bin", .content = "x", .declaredSize = 0xC0000000}},
       "Files: 1\nSize: 2097151KB\nCompressed: 0KB\nPercent Compressed: 99%\n"},
      {"empty files", {{.name = "empty.txt", .content = "", .deflate = false}},
       "Files: 1\nSize: 0KB\nCompressed: 0KB\nPercent Compressed: 0%\n"},
      {"1023 bytes", {{.name = "k.txt", .content = std::string(1023, 'k'), .deflate = false}},
       "Files: 1\nSize: 0KB\nCompressed: 0KB\nPercent Compressed: 0%\n"},
      {"1024 bytes", {{.name = "k.txt", .content = std::string(1024, 'k'), .deflate = false}},
       "Files: 1\nSize: 1KB\nCompressed: 1KB\nPercent Compressed: 0%\n"},
  };
  for (const auto& c : cases) {
    WalkResult r = Walk(BuildZip(c.entries));
    EXPECT_EQ(SummaryOf(r), JsonString(ZYT::Utf8ToWide(c.expected))) << c.what;
  }
}

TEST_F(ArchiveFilterTest, TheNameChunkFillsTheBufferItIsGivenAndNoMore) {
  const std::string zip = BuildZip({{.name = "name.txt", .content = "x"}});
  for (ULONG size : {9u, 10u, 8u, 1u}) {
    DriveOptions options = ArchiveDrive();
    options.bufferSize = size;
    WalkResult r = Walk(zip, options);
    ASSERT_FALSE(r.chunks.empty());
    EXPECT_EQ(r.chunks[0].text, std::u16string(u"name.txt\n").substr(0, size)) << size;
  }
}

TEST_F(ArchiveFilterTest, AContentsOnlyAttributeListEndsAtOnce) {
  DriveOptions options = ArchiveDrive();
  FULLPROPSPEC contents = PropertyAttribute(PSGUID_STORAGE, PID_STG_CONTENTS);
  options.attributes = {contents};
  WalkResult r = Walk(BuildZip({{.name = "a.txt", .content = "alpha"}}), options);
  EXPECT_TRUE(r.chunks.empty());
  EXPECT_EQ(r.end, FILTER_E_END_OF_CHUNKS);
}

TEST_F(ArchiveFilterTest, WhatIsNoArchiveFailsInitAndLeavesNothing) {
  for (const std::string& bytes : {std::string("not a zip"), std::string(),
                                   BuildZip({{.name = "a.txt", .content = "alpha"}}).substr(0, 40)}) {
    ComPtr<IFilter> filter = Open(bytes);
    ASSERT_TRUE(filter);
    ULONG flags = 0;
    EXPECT_EQ(filter->Init(0, 0, nullptr, &flags), E_FAIL);
    STAT_CHUNK chunk{};
    EXPECT_EQ(filter->GetChunk(&chunk), FILTER_E_END_OF_CHUNKS);
    EXPECT_EQ(TreeOf(PathIn("tmp")), std::vector<std::string>{});
  }
}

TEST_F(ArchiveFilterTest, GetClassIdAndGetCurFileAreTheBases) {
  ComPtr<IFilter> filter = Open(BuildZip({{.name = "a.txt", .content = "alpha"}}));
  ComPtr<IPersistFile> persist;
  ASSERT_EQ(filter.As(persist), S_OK);
  CLSID clsid{};
  EXPECT_EQ(persist->GetClassID(&clsid), S_OK);
  EXPECT_TRUE(IsEqualGUID(clsid, CLSID_ArchiveFilter));
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  EXPECT_EQ(persist->Save(nullptr, FALSE), E_FAIL);
}

}  // namespace
}  // namespace ZYT::Test

namespace ZYT::Test {
namespace {

// Members reach their own filters through the document type manager and the
// machine's filters.
class ArchiveMemberTest : public ArchiveMachineTest {
 protected:
  WalkResult Walk(const std::string& zip) {
    WriteBytes(PathIn("a.zip"), zip);
    ComPtr<IFilter> filter;
    EXPECT_EQ(LoadIFilter(PathInW("a.zip").c_str(), nullptr, filter.put_void()), S_OK);
    if (!filter) return {};
    WalkResult r = DriveFilter(filter.get(), ArchiveDrive());
    EXPECT_TRUE(ObeysProtocol(r));
    EXPECT_EQ(r.end, FILTER_E_END_OF_CHUNKS);
    return r;
  }
  // Each chunk's text, the summary as "summary".
  static std::vector<std::u16string> Outline(const WalkResult& r) {
    std::vector<std::u16string> outline;
    for (const WalkedChunk& c : r.chunks) {
      std::u16string text = c.text;
      while (!text.empty() && (text.back() == u'\r' || text.back() == u' ')) text.pop_back();
      outline.push_back(c.hasValue ? u"summary" : text);
    }
    return outline;
  }
};

TEST_F(ArchiveMemberTest, EachMembersTextFollowsItsNameAndANestedArchiveIsFilteredInPlace) {
  const std::string inner = BuildZip({{.name = "in.txt", .content = "inner words"}});
  WalkResult r = Walk(BuildZip({{.name = "a.txt", .content = "alpha words"},
                                {.name = "sub/", .content = "", .deflate = false, .unixMode = 040755},
                                {.name = "sub/b.html", .content = "<html><body><p>html words</p></body></html>"},
                                {.name = "inner.zip", .content = inner, .deflate = false},
                                {.name = "c.txt", .content = "last words"}}));
  EXPECT_EQ(Outline(r), (std::vector<std::u16string>{u"a.txt\n", u"alpha words", u"b.html\n", u"html words",
                                                      u"inner.zip\n", u"in.txt\n", u"inner words", u"c.txt\n",
                                                      u"last words", u"summary"}));
  EXPECT_NE(SummaryOf(r).find("Files: 4\\n"), std::string::npos) << "the nested summary is not passed on";
  for (size_t i = 0; i < r.chunks.size(); ++i) EXPECT_EQ(r.chunks[i].stat.idChunk, i + 1);
}

TEST_F(ArchiveMemberTest, AMemberWhoseFilterGivesValuesOnlyGivesItsNameOnly) {
  // An empty archive's filter yields its summary value and nothing else.
  const std::string empty = BuildZip({});
  WalkResult r = Walk(BuildZip({{.name = "empty.zip", .content = empty, .deflate = false},
                                {.name = "after.txt", .content = "after words"}}));
  EXPECT_EQ(Outline(r),
            (std::vector<std::u16string>{u"empty.zip\n", u"after.txt\n", u"after words", u"summary"}));
}

TEST_F(ArchiveMemberTest, AMemberWithoutAFilterAndADamagedMemberGiveTheirNamesOnly) {
  WalkResult r = Walk(BuildZip({{.name = "data.qqunknown", .content = "no filter for this"},
                                {.name = "broken.zip", .content = "not an archive"},
                                {.name = "z.txt", .content = "zed words"}}));
  EXPECT_EQ(Outline(r), (std::vector<std::u16string>{u"data.qqunknown\n", u"broken.zip\n", u"z.txt\n", u"zed words",
                                                      u"summary"}));
}

TEST_F(ArchiveMemberTest, AnInternetShortcutMemberIsNeverFiltered) {
  // Both extensions' handlers lead to the machine's text filter; only the
  // shortcut handler itself is refused.
  const std::u16string textFilter = ZYT::AddinFilterOfHandler(ZYT::PersistentHandlerOfExtension(u".txt"));
  ASSERT_FALSE(textFilter.empty());
  const std::u16string other = u"{0D7C5B1E-1B8C-4A57-9C2E-2A4E5F6B7C8D}";
  for (const auto& [ext, handler] : {std::pair{u".url", u"{7a0a1557-46f8-4687-8512-456cd892a6d0}"},
                                     std::pair{u".urx", other.c_str()}}) {
    SetRegistryString(HKEY_LOCAL_MACHINE, std::u16string(u"SOFTWARE\\Classes\\") + ext + u"\\PersistentHandler", u"",
                      handler);
    SetRegistryString(HKEY_LOCAL_MACHINE,
                      std::u16string(u"SOFTWARE\\Classes\\CLSID\\") + handler +
                          u"\\PersistentAddinsRegistered\\{89BCB740-6119-101A-BCB7-00DD010655AF}",
                      u"", textFilter);
  }
  WalkResult r = Walk(BuildZip({{.name = "site.url", .content = "[InternetShortcut]\nURL=http://example.org/\n"},
                                {.name = "site.urx", .content = "shortcut words"}}));
  EXPECT_EQ(Outline(r), (std::vector<std::u16string>{u"site.url\n", u"site.urx\n", u"shortcut words", u"summary"}));
}

}  // namespace
}  // namespace ZYT::Test
