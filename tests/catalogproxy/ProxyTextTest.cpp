#include <gtest/gtest.h>

#include "catalogproxy/ProxyText.h"
#include "platform/win32/FileApi.h"
#include "platform/win32/Strings.h"
#include "tests/support/TestEnvironment.h"

namespace {

TEST(CleanseXmlTextTest, ControlsBecomeSpacesAndTheLengthStays) {
  const std::u16string text = std::u16string(u"a\0b", 3) + u"\x01\x08\x0B\x0C\x1F\x7F\x80\x9F";
  EXPECT_EQ(cleanseXMLText(text), u"a b        ");
  EXPECT_EQ(cleanseXMLText(text).size(), text.size());
}

TEST(CleanseXmlTextTest, TextOutsideTheControlsIsKept) {
  for (const char16_t* text : {u"", u"line\r\nnext\tcolumn", u"\x20\x7E\xA0\u00E9\u2028\uFFFD", u"\xD83D\xDE00"}) {
    EXPECT_EQ(cleanseXMLText(text), text) << ZYT::WideToUtf8(text);
  }
}

class ProxyTitleTest : public ZYT::Test::MachineTest {};

TEST_F(ProxyTitleTest, ACapturedTitleWins) {
  EXPECT_EQ(ProxyTitle(u"Minutes", u"Agenda", u"Re: minutes", u"message/rfc822", u"/none/a.eml"), u"Minutes");
  EXPECT_EQ(ProxyTitle(u"Minutes", u"", u"", u"", u""), u"Minutes");
}

TEST_F(ProxyTitleTest, ItemsWithoutATitleAreNamedByTheirType) {
  struct Case {
    const char16_t* subject;
    const char16_t* contentType;
    const char16_t* title;
  };
  const Case cases[] = {
      {u"Lunch", u"message/rfc822", u"Lunch"},
      {u"", u"message/rfc822", u"[No Subject]"},
      {u"Lunch", u"application/x-orrery-contact", u"[No Name]"},
      {u"", u"application/x-orrery-event", u"[No Subject]"},
      {u"", u"application/x-orrery-note", u"[No Subject]"},
      {u"Lunch", u"application/x-orrery-task", u"[No Subject]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProxyTitle(u"", u"Agenda", c.subject, c.contentType, PathInW("item.dat")), c.title)
        << ZYT::WideToUtf8(c.contentType);
  }
}

TEST_F(ProxyTitleTest, FilesAreNamedInTheFileSystemsSpelling) {
  WriteBytes(PathIn("Page.HTM"), "");
  const std::u16string path = PathInW("page.htm");
  EXPECT_EQ(ProxyTitle(u"", u"", u"", u"text/html", path), u"Page");
  EXPECT_EQ(ProxyTitle(u"", u"", u"", u"application/x-loomtrails-webpage", path), u"Page");
  EXPECT_EQ(ProxyTitle(u"", u"", u"", u"application/x-orrery-scratchpad", path), u"Page");
  EXPECT_EQ(ProxyTitle(u"", u"", u"", u"application/x-orrery-archive-item", path), u"Page");
  EXPECT_EQ(ProxyTitle(u"", u"", u"", u"text/html; charset=utf-8", path), u"Page.HTM")
      << "only the bare html type is named like a web page";
  EXPECT_EQ(ProxyTitle(u"", u"", u"", u"application/pdf", path), u"Page.HTM");
  EXPECT_EQ(ProxyTitle(u"", u"", u"", u"MESSAGE/RFC822", path), u"Page.HTM") << "content types match by case";
}

TEST_F(ProxyTitleTest, WebPagesPreferTheirDocumentTitle) {
  WriteBytes(PathIn("Page.HTM"), "");
  const std::u16string path = PathInW("page.htm");
  EXPECT_EQ(ProxyTitle(u"", u"Front page", u"", u"text/html", path), u"Front page");
  EXPECT_EQ(ProxyTitle(u"", u"Front page", u"", u"application/x-orrery-scratchpad", path), u"Front page");
  EXPECT_EQ(ProxyTitle(u"", u"Front page", u"", u"application/x-orrery-archive-item", path), u"Page");
  EXPECT_EQ(ProxyTitle(u"", u"Front page", u"", u"text/plain", path), u"Page.HTM");
}

}  // namespace

namespace {

class FileAttributeTextTest : public ZYT::Test::MachineTest {};

TEST_F(FileAttributeTextTest, NamesInBitOrderOrNormal) {
  WriteBytes(PathIn("plain.txt"), "x");
  ASSERT_TRUE(SetFileAttributesW(PathInW("plain.txt").c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(FileAttributeText(PathInW("plain.txt")), u"normal");
  ASSERT_TRUE(SetFileAttributesW(PathInW("plain.txt").c_str(),
                                 FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(FileAttributeText(PathInW("plain.txt")), u"read-only; system; archive");
  WriteBytes(PathIn("old.QHARC"), "x");
  ASSERT_TRUE(SetFileAttributesW(PathInW("old.QHARC").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(FileAttributeText(PathInW("old.QHARC")), u"normal") << "read-only archives are the product's own doing";
  EXPECT_EQ(FileAttributeText(PathInW("missing.txt")), u"normal");
}

}  // namespace
