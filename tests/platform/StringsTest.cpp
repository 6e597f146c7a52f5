#include <gtest/gtest.h>

#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "tests/support/TestEnvironment.h"

namespace {

class StringsTest : public ZYT::Test::MachineTest {};
using ZYT::Test::SetCodePage;

TEST_F(StringsTest, SystemCodePageIsUtf8UnlessConfigured) {
  EXPECT_EQ(GetACP(), 65001u);
  WCHAR wide[8] = {};
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "caf\xc3\xa9", 5, wide, 8), 4);
  EXPECT_EQ(std::u16string(wide, 4), u"café");
  SetCodePage(u"1252");
  EXPECT_EQ(GetACP(), 1252u);
  EXPECT_EQ(MultiByteToWideChar(CP_ACP, 0, "caf\xe9 \x80", 6, wide, 8), 6);
  EXPECT_EQ(std::u16string(wide, 6), u"café €") << "0x80 is the euro sign in 1252";
  SetCodePage(u"not a number");
  EXPECT_EQ(GetACP(), 65001u) << "a broken setting falls back to UTF-8";
}

TEST_F(StringsTest, Windows1252RoundTripsAndMarksWhatItCannotHold) {
  const std::u16string text = u"Grüße € ‰";
  char narrow[32];
  BOOL used = TRUE;
  int n = WideCharToMultiByte(1252, 0, text.c_str(), static_cast<int>(text.size()), narrow, sizeof narrow, nullptr,
                              &used);
  ASSERT_EQ(n, 9);
  EXPECT_EQ(std::string(narrow, 9), "Gr\xfc\xdf" "e \x80 \x89");
  EXPECT_FALSE(used);
  const std::u16string greek = u"αβ";
  n = WideCharToMultiByte(1252, 0, greek.c_str(), 2, narrow, sizeof narrow, "#", &used);
  EXPECT_EQ(std::string(narrow, static_cast<size_t>(n)), "##");
  EXPECT_TRUE(used);
  WCHAR back[16];
  ASSERT_EQ(MultiByteToWideChar(1252, 0, "Gr\xfc\xdf" "e \x80 \x89", 9, back, 16), 9);
  EXPECT_EQ(std::u16string(back, 9), text);
}

TEST_F(StringsTest, Utf8ConversionFollowsTheBufferAndErrorRules) {
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", -1, nullptr, 0), 4) << "-1 counts the terminator";
  WCHAR small[2];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "abc", 3, small, 2), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "a\xff", 2, small, 2), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);
  WCHAR replaced[4];
  ASSERT_EQ(MultiByteToWideChar(CP_UTF8, 0, "a\xff", 2, replaced, 4), 2);
  EXPECT_EQ(replaced[1], 0xFFFD);
  const char16_t clef[] = u"\U0001D11E";
  char utf8[8];
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, clef, 2, utf8, 8, nullptr, nullptr), 4);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, clef, 2, utf8, 8, "?", nullptr), 0)
      << "UTF-8 takes no default character";
  EXPECT_EQ(MultiByteToWideChar(999999, 0, "a", 1, small, 2), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(StringsTest, CaseMappingKeepsLengths) {
  WCHAR text[] = u"straße ÄÖÜ ǅ \U0001D11E";
  std::u16string before = text;
  CharUpperW(text);
  EXPECT_EQ(std::u16string(text), u"STRAßE ÄÖÜ Ǆ \U0001D11E") << "ß has no one-character upper case";
  CharLowerW(text);
  EXPECT_EQ(std::u16string(text), u"straße äöü ǆ \U0001D11E");
  EXPECT_EQ(lstrcmpiW(u"ÄBC", u"äbc"), 0);
  EXPECT_LT(lstrcmpiW(u"abc", u"ABD"), 0);
  EXPECT_TRUE(ZYT::EqualsNoCase(u"PersistentHandler", u"persistenthandler"));
  EXPECT_FALSE(ZYT::EqualsNoCase(u"abc", u"abcd"));
}

TEST(PosixNameTest, BytesThatAreNotUtf8BecomeOneEscapeEach) {
  struct {
    const char* what;
    std::string bytes;
    std::u16string wide;
  } cases[] = {
      {"ASCII", "notes.txt", u"notes.txt"},
      {"UTF-8 up to four bytes", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9d\x84\x9e", u"café € \U0001D11E"},
      {"Latin-1", "caf\xe9", u"caf\xdce9"},
      {"stray continuation", "a\x80z", u"a\xdc80z"},
      {"sequence cut by ASCII", "\xe2\x82z", u"\xdce2\xdc82z"},
      {"sequence cut by the end", "z\xf0\x9d\x84", u"z\xdcf0\xdc9d\xdc84"},
      {"overlong slash", "\xc0\xaf", u"\xdcc0\xdcaf"},
      {"encoded surrogate", "\xed\xa0\x80", u"\xdced\xdca0\xdc80"},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80", u"\xdcf4\xdc90\xdc80\xdc80"},
      {"0xFF and 0xFE", "\xff\xfe", u"\xdcff\xdcfe"},
      {"empty", "", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ZYT::PosixNameToWide(c.bytes), c.wide) << c.what;
    EXPECT_EQ(ZYT::WideToPosixName(c.wide), c.bytes) << c.what;
  }
  EXPECT_EQ(ZYT::WideToPosixName(u"a\xd800z"), "a\xef\xbf\xbdz") << "a lone high surrogate names no file";
  EXPECT_EQ(ZYT::WideToPosixName(u"\xdc41"), "\xef\xbf\xbd") << "only bytes 0x80-0xFF are escaped";
  EXPECT_EQ(ZYT::Utf8ToWide("caf\xe9"), u"caf\xfffd") << "text, unlike names, is still replaced";
}

TEST(PosixNameTest, EveryTwoByteNameRoundTrips) {
  for (unsigned a = 1; a < 256; ++a) {
    for (unsigned b = 1; b < 256; ++b) {
      const std::string bytes{static_cast<char>(a), static_cast<char>(b)};
      const std::u16string wide = ZYT::PosixNameToWide(bytes);
      ASSERT_EQ(ZYT::WideToPosixName(wide), bytes) << std::hex << a << " " << b;
      for (char16_t unit : wide) ASSERT_FALSE(unit >= 0xD800 && unit < 0xDC80) << "only escapes are lone surrogates";
    }
  }
}

}  // namespace
