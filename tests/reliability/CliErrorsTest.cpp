// zytfilt dump on paths that are not readable files, and with a settings
// file that is broken or not a file: one line each that says what is wrong
// in words, never a bare "IDispatch error #5379".
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>

#include "platform/win32/Limits.h"
#include "platform/win32/Registry.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT {
namespace {

class CliErrorsTest : public Test::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    setenv("ZYT_SETTINGS", SettingsPath().c_str(), 1);
  }
  // Sets the machine up with the default settings, as a first dump would.
  void SetUpMachine() { ASSERT_EQ(ZYT::Test::RunZytfilt({"setup"}).status, 0); }
};

TEST_F(CliErrorsTest, WhatTheHostSeesIsNamedInTheOneLine) {
  struct Case {
    std::string name;
    std::function<void(const std::string&)> make;
    std::string cause;
  };
  const std::vector<Case> cases = {
      {"folder.mp3", [](const std::string& p) { mkdir(p.c_str(), 0700); }, "is a directory"},
      {"missing.mp3", [](const std::string&) {}, "no such file"},
      {"dangling.mp3", [](const std::string& p) { ASSERT_EQ(symlink("nowhere.mp3", p.c_str()), 0); },
       "is a dangling link (to nowhere.mp3)"},
      {"socket.mp3",
       [](const std::string& p) {
         // A socket cannot be opened like a file; left bound, it stays in the folder.
         int s = socket(AF_UNIX, SOCK_STREAM, 0);
         sockaddr_un address{};
         address.sun_family = AF_UNIX;
         ASSERT_LT(p.size(), sizeof address.sun_path);
         p.copy(address.sun_path, p.size());
         ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
         close(s);
       },
       "is not a regular file (a socket)"},
      {"missing.unknownext", [](const std::string&) {}, "no such file; no filter is registered for this file type"},
  };
  std::vector<std::string> arguments{"dump"};
  for (const Case& c : cases) {
    c.make(PathIn(c.name));
    arguments.push_back(c.name);  // relative: each line names the file as it was given
  }
  SetUpMachine();
  ZYT::Test::ProcessResult o = ZYT::Test::RunZytfilt(arguments, {.cwd = TempDir()});
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "") << "nothing could be filtered";
  auto lines = ZYT::Test::Lines(o.err);
  ASSERT_EQ(lines.size(), cases.size()) << o.err;
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(lines[i].rfind("zytfilt dump: " + cases[i].name + ": " + cases[i].cause, 0), 0u) << lines[i];
    EXPECT_EQ(lines[i].find("IDispatch error"), std::string::npos) << lines[i];
  }
  EXPECT_NE(lines[0].find("Init failed: 0x80041703 (Unable to access object.)"), std::string::npos) << lines[0];

  arguments.insert(arguments.begin() + 1, "--json");
  o = ZYT::Test::RunZytfilt(arguments, {.cwd = TempDir()});
  auto objects = ZYT::Test::Lines(o.out);
  ASSERT_EQ(objects.size(), cases.size()) << o.out;
  EXPECT_EQ(objects[0],
            "{\"file\":\"folder.mp3\",\"error\":\"0x80041703\",\"step\":\"Init\","
            "\"message\":\"Unable to access object.\",\"cause\":\"is a directory\"}");
  EXPECT_NE(objects[4].find("\"step\":\"Load\",\"message\":\"The document format is not recognized by the "
                            "filter.\",\"cause\":\"no such file\""),
            std::string::npos)
      << objects[4];
  EXPECT_EQ(ZYT::Test::Lines(o.err).size(), cases.size()) << "--json keeps the error line on stderr";
}

TEST_F(CliErrorsTest, AnUnreadableFileIsPermissionDenied) {
  WriteBytes(PathIn("locked.mp3"), ReadBytes(ZYT_SAMPLES "/sample.mp3"));
  chmod(PathIn("locked.mp3").c_str(), 0200);
  SetUpMachine();
  ZYT::Test::ProcessOptions options;
  // Root reads any file: the host runs without the capabilities that allow it.
  options.prepare = [] {
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
  };
  ZYT::Test::ProcessResult o = ZYT::Test::RunZytfilt({"dump", PathIn("locked.mp3")}, options);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err.find("zytfilt dump: " + PathIn("locked.mp3") + ": permission denied; "), 0u) << o.err;
}

// The settings are the user's file, not the document: the line names the
// settings file and where it is broken.
TEST_F(CliErrorsTest, ABrokenSettingsFileIsNamedWithItsParseError) {
  SetUpMachine();
  std::string settings = ReadBytes(SettingsPath());
  WriteBytes(SettingsPath(), settings + "<trailing");
  const int lastLine = static_cast<int>(std::count(settings.begin(), settings.end(), '\n')) + 1;
  WriteBytes(PathIn("note.qhm"), "message: note.eml\n");
  ZYT::Test::ProcessResult o = ZYT::Test::RunZytfilt({"dump", PathIn("note.qhm")});
  EXPECT_EQ(o.status, 1);
  auto lines = ZYT::Test::Lines(o.err);
  ASSERT_EQ(lines.size(), 1u) << o.err;
  EXPECT_EQ(lines[0].rfind("zytfilt dump: " + PathIn("note.qhm") + ": the filter cannot load it: 0x8007000d (The data "
                           "is invalid.): the settings file " + SettingsPath() + " is broken at line " +
                               std::to_string(lastLine) + ", column ",
                           0),
            0u)
      << lines[0];
  EXPECT_NE(lines[0].find("Extra content at the end of the document"), std::string::npos) << lines[0];
  EXPECT_EQ(ReadBytes(SettingsPath()), settings + "<trailing") << "a broken settings file is left as it is";
}

TEST_F(CliErrorsTest, SetupNamesABrokenSettingsFile) {
  WriteBytes(SettingsPath(), "<settings>\n");
  for (const std::vector<std::string>& command : {std::vector<std::string>{"setup"},
                                                  std::vector<std::string>{"dump", ZYT_SAMPLES "/sample.mp3"}}) {
    ZYT::Test::ProcessResult o = ZYT::Test::RunZytfilt(command);
    EXPECT_EQ(o.status, 1) << command[0];
    EXPECT_EQ(o.out, "") << command[0];
    EXPECT_EQ(o.err.rfind("zytfilt: the settings cannot be prepared: 0x8007000d (The data is invalid.): the settings "
                          "file " + SettingsPath() + " is broken at line 2, column 1: ",
                          0),
              0u)
        << command[0] << " on a fresh machine: " << o.err;
    EXPECT_EQ(ZYT::Test::Lines(o.err).size(), 1u) << o.err;
  }
}

TEST_F(CliErrorsTest, ASettingsPathThatIsNotAFileIsRefusedWithoutWaiting) {
  SetUpMachine();
  WriteBytes(PathIn("note.qhm"), "message: note.eml\n");
  ASSERT_EQ(unlink(SettingsPath().c_str()), 0);
  ASSERT_EQ(mkfifo(SettingsPath().c_str(), 0600), 0) << "a reader of this FIFO would wait for ever";
  ZYT::Test::ProcessResult o = ZYT::Test::RunZytfilt({"dump", PathIn("note.qhm")});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("the settings file " + SettingsPath() + " is not a regular file"), std::string::npos) << o.err;

  ASSERT_EQ(unlink(SettingsPath().c_str()), 0);
  ASSERT_EQ(symlink("gone.xml", SettingsPath().c_str()), 0);
  o = ZYT::Test::RunZytfilt({"dump", PathIn("note.qhm")});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("the settings file " + SettingsPath() + " cannot be read: it is a link to a missing file"),
            std::string::npos)
      << o.err;
  EXPECT_FALSE(Exists(PathIn("gone.xml"))) << "no settings are made behind a dangling link";
}

TEST_F(CliErrorsTest, ASettingsFileOverItsLimitIsRefused) {
  SetUpMachine();
  WriteBytes(PathIn("note.qhm"), "message: note.eml\n");
  const DWORD size = static_cast<DWORD>(ReadBytes(SettingsPath()).size());
  const DWORD limit = size - 1;
  ZYT::Test::SetLimit(u"MaxSettingsBytes", limit);
  ZYT::Test::ProcessResult o = ZYT::Test::RunZytfilt({"dump", PathIn("note.qhm")});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("the settings file " + SettingsPath() + " is larger than " + std::to_string(limit) +
                       " bytes (MaxSettingsBytes)"),
            std::string::npos)
      << o.err;
}

}  // namespace
}  // namespace ZYT
