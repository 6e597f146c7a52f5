#include <gtest/gtest.h>

#include "catalogproxy/AddressExpansion.h"
#include "module/FiltersModule.h"
#include "platform/win32/Registry.h"
#include "platform/win32/Strings.h"
#include "tests/support/TestEnvironment.h"

namespace {

TEST(AddressExpansionTest, TermsComeBeforeTheText) {
  struct Case {
    std::u16string text;
    std::u16string expanded;
  };
  const Case cases[] = {
      {u"\"Ann Example\" <ann@example.org>; <bob@x.org>",
       u"ann example.org bob x.org ;;\"Ann Example\" <ann@example.org>; <bob@x.org>"},
      {u"<ann@example.org>;<ann@example.org>", u"ann example.org ;;<ann@example.org>;<ann@example.org>"},
      {u"<cy@example.org>, <ann@example.org>", u"cy example.org ann ;;<cy@example.org>, <ann@example.org>"},
      {u"<\"quoted\"@host>", u"quoted host ;;<\"quoted\"@host>"},
      {u"<@host>", u" host ;;<@host>"},
      // Quotes belong to a display name only when an address follows them.
      {u"\"<ann@x>\" is quoted", u"ann x ;;\"<ann@x>\" is quoted"},
  };
  for (const Case& c : cases) EXPECT_EQ(ExpandAddressTerms(c.text), c.expanded) << ZYT::WideToUtf8(c.text);
}

TEST(AddressExpansionTest, TextWithoutAnAddressIsUnchanged) {
  for (const char16_t* text : {u"", u"Ann Example", u"ann@example.org", u"<no at sign>", u"<ann@example.org"}) {
    EXPECT_EQ(ExpandAddressTerms(text), text) << ZYT::WideToUtf8(text);
  }
}

class AddressStylesheetTest : public ZYT::Test::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    // The tests link the module's code statically; its resources are in the built module.
    m_savedPath = g_modulePath;
    g_modulePath = ZYT::Utf8ToWide(ZYT_FILTERS_MODULE);
  }
  void TearDown() override {
    g_modulePath = m_savedPath;
    MachineTest::TearDown();
  }

 private:
  std::u16string m_savedPath;
};

TEST_F(AddressStylesheetTest, RunsBeforeWindowsXP) {
  const std::u16string to = u"\"Ann Example\" <ann@example.org>; Bob <bob@x.org>";
  EXPECT_EQ(ExpandAddresses(to), u"ann example.org bob x.org ;;" + to);
  EXPECT_EQ(ExpandAddresses(u"Ann & <ann@a.org> </address>"), u"ann a.org ;;Ann & <ann@a.org> </address>")
      << "markup in the value is text to the stylesheet";
  EXPECT_EQ(ExpandAddresses(u"undisclosed-recipients"), u"undisclosed-recipients");
}

TEST_F(AddressStylesheetTest, LaterSystemsKeepTheText) {
  ZYT::Test::SetRegistryString(HKEY_LOCAL_MACHINE, u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
                               u"CurrentVersion", u"5.1");
  const std::u16string to = u"<ann@example.org>";
  EXPECT_EQ(ExpandAddresses(to), to);
}

TEST_F(AddressStylesheetTest, AModuleWithoutTheStylesheetKeepsTheText) {
  g_modulePath = PathInW("missing.dll.so");
  const std::u16string to = u"<ann@example.org>";
  EXPECT_EQ(ExpandAddresses(to), to);
}

}  // namespace
