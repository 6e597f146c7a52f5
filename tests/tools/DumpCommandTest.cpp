#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <regex>

#include "doctypes/CatalogEnumerator.h"
#include "platform/win32/Registry.h"
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
  static std::vector<std::string> With(std::vector<std::string> arguments, const std::string& last) {
    arguments.push_back(last);
    return arguments;
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

TEST_F(DumpCommandTest, ErrorsAreOneLineAndAFailingExit) {
  WriteBytes(PathIn("notes.unknownext"), "x");
  ProcessResult o = Run({"dump", PathIn("notes.unknownext")});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(Lines(o.err).size(), 1u) << o.err;
  EXPECT_NE(o.err.find("no filter is registered"), std::string::npos);
  o = Run({"dump", "--json", PathIn("missing.mp3")});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("\"error\":\"0x80041703\",\"step\":\"Init\""), std::string::npos) << o.out;
  o = Run({"dump", "--buffer", "0", "x.mp3"});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(Lines(o.err).size(), 1u);
  o = Run({"dump", "--attribute", "nonsense", "x.mp3"});
  EXPECT_EQ(o.status, 2);
  o = Run({"frobnicate"});
  EXPECT_EQ(o.status, 2);
  EXPECT_EQ(Lines(o.err).size(), 1u);
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
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE\\ZYT\\Orrery", 0, KEY_READ, &key), ERROR_SUCCESS);
  WCHAR value[8] = {};
  DWORD cb = sizeof value;
  RegQueryValueExW(key, u"configured", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &cb);
  RegCloseKey(key);
  EXPECT_EQ(std::u16string(value), u"yes");
  std::string settings = ReadBytes(SettingsPath());
  EXPECT_EQ(settings.find("catalog-type=\"local\""), settings.rfind("catalog-type=\"local\"")) << "one entry only";
}

// What the product's catalog proxy promises once the product is set up: in the
// home catalog the native text, then the product's values 2, 3 and 4 and the
// keywords; outside it the native filter's dump unchanged; a performance line
// each. No option names the proxy: registration put it in front of the filter.
TEST_F(DumpCommandTest, TheCatalogProxyInFrontOfTheTextFilter) {
  mkdir(PathIn("home").c_str(), 0700);
  WriteBytes(PathIn("home/note.txt"), "Hello proxy world.\n");
  WriteBytes(PathIn("note.txt"), "Hello proxy world.\n");
  const std::string home = PathIn("home");
  ASSERT_EQ(Run({"setup", "--product"}, home).status, 0);
  std::filesystem::create_directories(PathIn("repository/Debug"));

  ProcessResult o = Run({"dump", "--json", PathIn("home/note.txt")}, home);
  ASSERT_EQ(o.status, 0) << o.err;
  auto lines = Lines(o.out);
  ASSERT_EQ(lines.size(), 6u) << o.out;
  EXPECT_NE(lines[0].find("\"flags\":\"text\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[0].find("\"text\":\"Hello proxy world.\""), std::string::npos) << lines[0];
  const std::string product = "\"propset\":\"{AA69B8CB-2620-4097-81F9-1CC3D0E15C2C}\",\"propid\":";
  EXPECT_NE(lines[1].find(product + "2,"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find("\"value\":{\"vt\":11,\"data\":true}"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find(product + "3,"), std::string::npos) << lines[2];
  EXPECT_NE(lines[2].find("\"data\":\"text/plain\""), std::string::npos) << lines[2];
  EXPECT_NE(lines[3].find(product + "4,"), std::string::npos) << lines[3];
  EXPECT_NE(lines[4].find("\"propset\":\"{F29F85E0-4FF9-1068-AB91-08002B27B3D9}\",\"propid\":5,"), std::string::npos)
      << lines[4];
  EXPECT_NE(lines[5].find("\"end\":\"0x80041700\""), std::string::npos);

  // The machine's text filter by its class, which the proxy drives.
  ProcessResult native = Run({"dump", "--json", "--class", "{C1243CA0-BF96-11CD-B579-08002B30BFEB}", PathIn("note.txt")}, home);
  ProcessResult passed = Run({"dump", "--json", PathIn("note.txt")}, home);
  ASSERT_EQ(native.status, 0) << native.err;
  EXPECT_EQ(passed.out, native.out) << "outside the catalogs the proxy only passes the native filter on";

  auto table = Lines(ReadBytes(PathIn("repository/Debug/indexer-performance.csv")));
  ASSERT_EQ(table.size(), 2u);
  EXPECT_NE(table[0].find("," + PathIn("home/note.txt") + ",text/plain,"), std::string::npos) << table[0];
  EXPECT_NE(table[1].find("," + PathIn("note.txt") + ",,"), std::string::npos) << table[1];
}

}  // namespace
