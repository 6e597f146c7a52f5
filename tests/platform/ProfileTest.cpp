#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/win32/FileApi.h"
#include "platform/win32/Limits.h"
#include "platform/win32/Profile.h"
#include "platform/win32/ProfileText.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "platform/win32/WinError.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;

class ProfileTest : public MachineTest {
 protected:
  // The answer for (section, key) of a file holding bytes, with a buffer of size.
  std::u16string Get(const std::string& bytes, LPCWSTR section, LPCWSTR key, DWORD size = 64,
                     LPCWSTR fallback = u"-", DWORD* returned = nullptr) {
    WriteBytes(PathIn("p.ini"), bytes);
    std::vector<WCHAR> buffer(size + 1, u'#');
    DWORD n = GetPrivateProfileStringW(section, key, fallback, buffer.data(), size, PathInW("p.ini").c_str());
    if (returned) *returned = n;
    EXPECT_EQ(buffer[size], u'#') << "written past the buffer";
    return std::u16string(buffer.data(), size);
  }
};

TEST_F(ProfileTest, SectionsAndKeysMatchWhateverTheirCase) {
  const std::string ini =
      "[Other]\r\nHTMLFILE=wrong\r\n"
      "[orrery]\r\n  HtmlFile  =  C:\\saved\\page.htm  \r\n"
      "; HTMLFILE=comment\r\n";
  for (auto [section, key] : {std::pair{u"Orrery", u"HTMLFILE"}, {u"ORRERY", u"htmlfile"}, {u"orrery", u"HtmlFile"}}) {
    DWORD n = 0;
    std::u16string got = Get(ini, section, key, 64, u"-", &n);
    EXPECT_EQ(std::u16string(got.c_str()), u"C:\\saved\\page.htm");
    EXPECT_EQ(n, 17u);
  }
  EXPECT_EQ(std::u16string(Get(ini, u"Orrery", u"; HTMLFILE").c_str()), u"-") << "a comment is no entry";
  EXPECT_EQ(std::u16string(Get(ini, u"Orrery", u"missing", 64, u"def  ").c_str()), u"def")
      << "the default loses its trailing blanks";
  EXPECT_EQ(std::u16string(Get(ini, u"Orrery", u"missing", 64, nullptr).c_str()), u"");
}

TEST_F(ProfileTest, Utf16WithItsMarkAndEightBitTextReadTheSame) {
  const std::u16string text = u"[InternetShortcut]\r\nURL=http://example.org/\r\n[Orrery]\r\nHTMLFILE=/saved/\u00e9t\u00e9 \u4e2d.htm\r\n";
  const std::u16string expected = u"/saved/\u00e9t\u00e9 \u4e2d.htm";
  EXPECT_EQ(std::u16string(Get(Utf16File(text), u"Orrery", u"HTMLFILE").c_str()), expected);
  EXPECT_EQ(std::u16string(Get(Utf16File(text, true), u"orrery", u"htmlfile").c_str()), expected);
  EXPECT_EQ(std::u16string(Get("\xEF\xBB\xBF" + ZYT::WideToUtf8(text), u"Orrery", u"HTMLFILE").c_str()), expected);
  // 8-bit text is the system code page: UTF-8 unless the machine says otherwise.
  EXPECT_EQ(std::u16string(Get(ZYT::WideToUtf8(text), u"Orrery", u"HTMLFILE").c_str()), expected);
  SetCodePage(u"1252");
  EXPECT_EQ(std::u16string(Get("[Orrery]\nHTMLFILE=\xE9t\xE9\n", u"Orrery", u"HTMLFILE").c_str()), u"\u00e9t\u00e9");
}

TEST_F(ProfileTest, ValuesAreCutToTheBufferAndCountedWithoutTheTerminator) {
  const std::string ini = "[s]\nk=abcdef\nq=\"quoted\"\nhalf=\"open\nempty=\n";
  // Exact size, one less and one more than the value with its terminator.
  for (auto [size, expected] : {std::pair{7u, u"abcdef"}, {6u, u"abcde"}, {8u, u"abcdef"}, {1u, u""}}) {
    DWORD n = 99;
    std::u16string got = Get(ini, u"s", u"k", size, u"-", &n);
    EXPECT_EQ(std::u16string(got.c_str()), expected) << "size " << size;
    EXPECT_EQ(n, std::char_traits<char16_t>::length(expected)) << "size " << size;
  }
  EXPECT_EQ(std::u16string(Get(ini, u"s", u"q").c_str()), u"quoted");
  EXPECT_EQ(std::u16string(Get(ini, u"s", u"half").c_str()), u"\"open");
  EXPECT_EQ(std::u16string(Get(ini, u"s", u"empty").c_str()), u"") << "an empty value is a value";
  WCHAR sentinel = u'#';
  WriteBytes(PathIn("p.ini"), ini);
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"k", u"-", &sentinel, 0, PathInW("p.ini").c_str()), 0u);
  EXPECT_EQ(sentinel, u'#');
  EXPECT_EQ(GetPrivateProfileStringW(u"s", u"k", u"-", nullptr, 10, PathInW("p.ini").c_str()), 0u);
}

TEST_F(ProfileTest, NullSectionOrKeyListsNamesEndingInTwoTerminators) {
  const std::string ini = "top=before any header\n[one]\na=1\nb=2\n[two]\n[]\n[three]\n";
  DWORD n = 0;
  std::u16string all = Get(ini, nullptr, nullptr, 64, u"-", &n);
  EXPECT_EQ(all.substr(0, 15), std::u16string(u"one\0two\0three\0\0", 15));
  EXPECT_EQ(n, 14u);
  // "one\0two\0" and the list's own terminator fill 9 units exactly.
  const std::string two = "[one]\n[two]\n";
  EXPECT_EQ(Get(two, nullptr, nullptr, 9, u"-", &n), std::u16string(u"one\0two\0\0", 9));
  EXPECT_EQ(n, 8u);
  // One unit less cuts "two" and still ends in two terminators.
  EXPECT_EQ(Get(two, nullptr, nullptr, 8, u"-", &n), std::u16string(u"one\0tw\0\0", 8));
  EXPECT_EQ(n, 6u);
  EXPECT_EQ(Get(two, nullptr, nullptr, 5, u"-", &n), std::u16string(u"one\0\0", 5));
  EXPECT_EQ(n, 3u);
  EXPECT_EQ(Get(ini, nullptr, nullptr, 9, u"-", &n), std::u16string(u"one\0two\0\0", 9));
  EXPECT_EQ(n, 7u) << "a list that does not fit answers size - 2 even when the cut falls between names";
  EXPECT_EQ(Get(ini, u"ONE", nullptr, 64, u"-", &n).substr(0, 5), std::u16string(u"a\0b\0\0", 5));
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(std::u16string(Get(ini, u"two", nullptr).c_str()), u"-") << "an empty section gives the default";
}

TEST_F(ProfileTest, WhatCannotBeReadGivesTheDefault) {
  std::vector<WCHAR> buffer(32);
  auto get = [&](const std::u16string& path) {
    SetLastError(0);
    DWORD n = GetPrivateProfileStringW(u"Orrery", u"HTMLFILE", u"fallback", buffer.data(), 32, path.c_str());
    EXPECT_EQ(n, std::char_traits<char16_t>::length(buffer.data()));
    return std::u16string(buffer.data());
  };
  EXPECT_EQ(get(PathInW("missing.ini")), u"fallback");
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
  // A FIFO would block a reader that opened it blindly.
  ASSERT_EQ(mkfifo(PathIn("fifo.ini").c_str(), 0600), 0);
  EXPECT_EQ(get(PathInW("fifo.ini")), u"fallback");
  ASSERT_EQ(mkdir(PathIn("folder.ini").c_str(), 0700), 0);
  EXPECT_EQ(get(PathInW("folder.ini")), u"fallback");
  // Past the size limit the file is not read at all.
  SetLimit(u"MaxProfileFileBytes", 4096);
  std::string big = "[Orrery]\nHTMLFILE=kept\n";
  WriteBytes(PathIn("big.ini"), big + std::string(4096 - big.size(), ';'));
  EXPECT_EQ(get(PathInW("big.ini")), u"kept") << "a file of exactly the limit is read";
  WriteBytes(PathIn("big.ini"), big + std::string(4097 - big.size(), ';'));
  EXPECT_EQ(get(PathInW("big.ini")), u"fallback");
  EXPECT_EQ(GetLastError(), ERROR_FILE_TOO_LARGE);
}

TEST(ProfileTextTest, LinesAsWindowsReadsThem) {
  auto latin1 = [](UINT, std::string_view bytes) { return std::u16string(bytes.begin(), bytes.end()); };
  auto sections = ZYT::ParseProfile(ZYT::ProfileBytesToText(
      "k0=v0\r[ a [b] ]\rno equals\n =nameless\n[unclosed\nx = 1 = 2\r\n", latin1));
  ASSERT_EQ(sections.size(), 2u);
  EXPECT_EQ(sections[0].name, u"");
  ASSERT_EQ(sections[0].entries.size(), 1u);
  EXPECT_EQ(sections[1].name, u"a [b]") << "a header runs to its last ]";
  ASSERT_EQ(sections[1].entries.size(), 4u);
  EXPECT_EQ(sections[1].entries[0].key, u"no equals");
  EXPECT_FALSE(sections[1].entries[0].hasValue);
  EXPECT_EQ(sections[1].entries[1].key, u"");
  EXPECT_EQ(sections[1].entries[2].key, u"[unclosed");
  EXPECT_EQ(sections[1].entries[3].key, u"x");
  EXPECT_EQ(sections[1].entries[3].value, u"1 = 2");
  // An odd byte at the end of UTF-16 text is dropped, not read past.
  EXPECT_EQ(ZYT::ProfileBytesToText(std::string("\xFF\xFE" "a\0b", 5), latin1), u"a");
}

}  // namespace
