#include <gtest/gtest.h>

#include "framework/PathUtilities.h"
#include "framework/SettingsAccess.h"
#include "platform/win32/Strings.h"
#include "tests/support/TestEnvironment.h"

namespace {

class SettingsAccessTest : public ZYT::Test::MachineTest {};

TEST_F(SettingsAccessTest, DebugFolderFallsBackToApplicationData) {
  setenv("XDG_DATA_HOME", PathIn("data").c_str(), 1);
  const std::u16string fallback = PathInW("data/Halvorine/Orrery/Debug");
  // No server registered at all.
  EXPECT_EQ(ZYT::GetDebugFolder(), fallback);
  EXPECT_TRUE(ZYT::IsDirectory(PathInW("data/Halvorine/Orrery"))) << "the fallback folder is created";
  // A server whose settings have no location, or are not XML.
  ZYT::Test::UseSettingsServer(*this, "<settings/>");
  EXPECT_EQ(ZYT::GetDebugFolder(), fallback);
  WriteBytes(SettingsPath(), "<settings><repository>");
  EXPECT_EQ(ZYT::GetDebugFolder(), fallback);
  unsetenv("XDG_DATA_HOME");
}

TEST_F(SettingsAccessTest, QueryAnswersTextXmlOrTheDefault) {
  ZYT::Test::UseSettingsServer(
      *this, "<settings><CIS><catalogs><catalog catalog-type=\"local\" catalog-name=\"Orrery\"/></catalogs></CIS></settings>");
  ZYT::CVariant answer;
  ZYT::QuerySettings(u"/*/CIS/catalogs/catalog[@catalog-type='local']/@catalog-name", ZYT::OmittedArgument(), answer);
  EXPECT_EQ(answer.Text(), u"Orrery");
  ZYT::QuerySettings(u"/*/CIS/catalogs", ZYT::OmittedArgument(), answer);
  EXPECT_EQ(answer.Text(), u"<catalogs><catalog catalog-type=\"local\" catalog-name=\"Orrery\"/></catalogs>");
  VARIANT unknown;
  VariantInit(&unknown);
  unknown.vt = VT_BSTR;
  unknown.bstrVal = SysAllocString(u"unknown");
  ZYT::QuerySettings(u"/*/CIS/catalogs/catalog[@catalog-type='web']/@catalog-type", unknown, answer);
  EXPECT_EQ(answer.Text(), u"unknown");
  VariantClear(&unknown);
  ZYT::QuerySettings(u"/*/user", ZYT::OmittedArgument(), answer);
  EXPECT_TRUE(ZYT::IsOmittedArgument(answer.get())) << "the omitted marker comes back unchanged";
  EXPECT_THROW(ZYT::QuerySettings(u"count(/*)", ZYT::OmittedArgument(), answer), _com_error)
      << "an expression that selects no nodes is an error";
}

}  // namespace
