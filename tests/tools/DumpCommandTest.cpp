#include <gtest/gtest.h>

#include <regex>

#include "doctypes/CatalogEnumerator.h"
#include "platform/win32/Registry.h"
#include "platform/win32/RegistryKey.h"
#include "platform/win32/Strings.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;

class DumpCommandTest : public MachineTest {
 protected:
  // Runs zytfilt on this test's machine (its own registry and settings),
  // with HOME moved when home is given.
  ProcessResult Run(const std::vector<std::string>& arguments, const std::string& home = "") {
    ProcessOptions options{.env = {{"ZYT_SETTINGS", SettingsPath()}}};
    if (!home.empty()) options.env.emplace_back("HOME", home);
    return RunZytfilt(arguments, options);
  }
};

TEST_F(DumpCommandTest, FreshMachineDumpsTheSampleAsJson) {
  ProcessResult o = Run({"dump", "--json", ZYT_SAMPLES "/sample.mp3"});
  ASSERT_EQ(o.status, 0) << o.err;
  auto lines = Lines(o.out);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_TRUE(std::regex_match(lines[0], std::regex(
                                             "\\{\"file\":\".*/sample.mp3\",\"id\":1,\"breakType\":1,\"flags\":\"value\","
                                             "\"locale\":1033,\"propset\":\"\\{F29F85E0-4FF9-1068-AB91-08002B27B3D9\\}\","
                                             "\"propid\":2,\"idChunkSource\":0,\"cwcStartSource\":0,\"cwcLenSource\":0,"
                                             "\"value\":\\{\"vt\":31,\"data\":\".+\"\\}\\}")))
      << lines[0];
  EXPECT_NE(lines[4].find("\"flags\":\"text\",\"locale\":1033,\"propset\":\"{B725F130-47EF-101A-A5F1-02608C9EEBAC}\","
                          "\"propid\":19,\"idChunkSource\":5"),
            std::string::npos)
      << lines[4];
  EXPECT_NE(lines[4].find("\"text\":\"Artist: "), std::string::npos);
  EXPECT_TRUE(std::regex_match(lines.back(), std::regex("\\{\"file\":\".*/sample.mp3\",\"end\":\"0x80041700\"\\}")))
      << lines.back();
  EXPECT_TRUE(Exists(SettingsPath())) << "dump set the machine up by itself";
}

TEST_F(DumpCommandTest, OptionsReachTheFilter) {
  ProcessResult o = Run({"dump", "--json", "--init-flags", "0", "--buffer", "3", ZYT_SAMPLES "/sample.ogg"});
  ASSERT_EQ(o.status, 0) << o.err;
  auto lines = Lines(o.out);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines[0].find("\"id\":1,\"breakType\":2,\"flags\":\"text\""), std::string::npos)
      << "Init flags 0 ask for no values; the text comes whole through a 3-character buffer: " << lines[0];
  o = Run({"dump", "--json", "--attribute", "{B725F130-47EF-101A-A5F1-02608C9EEBAC}/19", ZYT_SAMPLES "/sample.mp3"});
  EXPECT_EQ(Lines(o.out).size(), 1u) << "the MP3 filter has nothing for the contents alone";
  o = Run({"dump", "--class", "ZytFilters.Mp3Filter", ZYT_SAMPLES "/sample.ogg"});
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("end of chunks"), std::string::npos) << "an Ogg file read as MP3 has no tags";
}

// Usage mistakes exit with 2 and one line; a file that cannot be filtered
// (CliErrorsTest) with 1.
TEST_F(DumpCommandTest, UsageMistakesAreOneLineAndExitTwo) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{"dump", "--buffer", "0", "x.mp3"},
                                               std::vector<std::string>{"dump", "--attribute", "nonsense", "x.mp3"},
                                               std::vector<std::string>{"frobnicate"}}) {
    ProcessResult o = Run(args);
    EXPECT_EQ(o.status, 2) << args.back();
    EXPECT_EQ(Lines(o.err).size(), 1u) << o.err;
  }
}

TEST_F(DumpCommandTest, SetupForTheProductMakesALocalCatalogOverHome) {
  ProcessResult o = Run({"setup", "--product"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Run({"setup", "--product"}).status, 0) << "a second run changes nothing";
  setenv("ZYT_SETTINGS", SettingsPath().c_str(), 1);
  std::u16string type;
  const char* home = std::getenv("HOME");
  ASSERT_TRUE(CatalogTypeOfFile(ZYT::Utf8ToWide(std::string(home) + "/notes.txt"), type));
  EXPECT_EQ(type, u"local");
  EXPECT_EQ(ZYT::CRegistryKey(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Orrery", KEY_READ).GetStringValue(u"configured"), u"yes");
  std::string settings = ReadBytes(SettingsPath());
  EXPECT_EQ(settings.find("catalog-type=\"local\""), settings.rfind("catalog-type=\"local\"")) << "one entry only";
}

}  // namespace
