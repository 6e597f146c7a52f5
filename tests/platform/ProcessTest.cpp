#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/win32/FileApi.h"
#include "platform/win32/Process.h"
#include "platform/win32/Strings.h"
#include "platform/win32/Sync.h"
#include "tests/support/TestEnvironment.h"

namespace {

using Args = std::vector<std::u16string>;

// A generous bound that turns a hung child into a failure.
constexpr DWORD kPatience = 20000;

class ProcessTest : public ZYT::Test::MachineTest {
 protected:
  // An executable script in the private folder.
  std::string Script(const std::string& name, const std::string& body) {
    std::string path = PathIn(name);
    WriteBytes(path, "#!/bin/sh\n" + body);
    EXPECT_EQ(chmod(path.c_str(), 0700), 0);
    return path;
  }
  // A program that prints each of its arguments as [arg] on a line.
  std::string Printer(const std::string& name = "printer") {
    return Script(name, "for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done\n");
  }

  struct Run {
    BOOL started = FALSE;
    DWORD error = ERROR_SUCCESS;
    DWORD exitCode = 0;
    std::string output;
  };
  // Runs a command line with standard output into a file and waits for it.
  Run RunCommand(const std::u16string& commandLine, LPCWSTR application = nullptr, LPCWSTR directory = nullptr,
                 LPVOID environment = nullptr) {
    Run run;
    std::u16string outPath = PathInW("stdout.txt");
    HANDLE out = CreateFileW(outPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(out, INVALID_HANDLE_VALUE);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = out;
    PROCESS_INFORMATION pi{};
    std::u16string line = commandLine;
    run.started = CreateProcessW(application, line.data(), nullptr, nullptr, TRUE,
                                 CREATE_NO_WINDOW | (environment ? CREATE_UNICODE_ENVIRONMENT : 0), environment,
                                 directory, &si, &pi);
    run.error = GetLastError();
    CloseHandle(out);
    if (run.started) {
      EXPECT_EQ(WaitForSingleObject(pi.hProcess, kPatience), WAIT_OBJECT_0);
      EXPECT_TRUE(GetExitCodeProcess(pi.hProcess, &run.exitCode));
      EXPECT_TRUE(CloseHandle(pi.hThread));
      EXPECT_TRUE(CloseHandle(pi.hProcess));
    }
    run.output = ReadBytes(PathIn("stdout.txt"));
    return run;
  }
  static std::u16string Quoted(const std::string& path) { return u"\"" + ZYT::Utf8ToWide(path) + u"\""; }
};

TEST(CommandLineSplit, FollowsTheRuntimeRules) {
  struct Case {
    std::u16string line;
    Args args;
  } cases[] = {
      {u"p \"a b c\" d e", {u"p", u"a b c", u"d", u"e"}},
      {u"p \"ab\\\"c\" \"\\\\\" d", {u"p", u"ab\"c", u"\\", u"d"}},
      {u"p a\\\\\\b d\"e f\"g h", {u"p", u"a\\\\\\b", u"de fg", u"h"}},
      {u"p a\\\\\\\"b c d", {u"p", u"a\\\"b", u"c", u"d"}},
      {u"p a\\\\\\\\\"b c\" d e", {u"p", u"a\\\\b c", u"d", u"e"}},
      // "" inside quotes is one literal quote and the quotes go on.
      {u"p a\"b\"\" c d", {u"p", u"ab\" c d"}},
      {u"p \"\" x", {u"p", u"", u"x"}},
      {u"  p\t x  ", {u"p", u"x"}},
      // The program takes no escapes: its backslashes stay, quotes only group.
      {u"\"C:\\my dir\\\" -o", {u"C:\\my dir\\", u"-o"}},
      {u"C:\\a\"b c\"d x", {u"C:\\ab cd", u"x"}},
      {u"   ", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ZYT::SplitCommandLine(c.line), c.args) << ZYT::WideToUtf8(c.line);
}

TEST_F(ProcessTest, ProgramPathWithSpaceAndSemicolonTakesOptions) {
  ASSERT_EQ(mkdir(PathIn("my tools").c_str(), 0700), 0);
  std::string program = Printer("my tools/print;er");
  Run run = RunCommand(Quoted(program) + u" -o \"out file\"");
  ASSERT_TRUE(run.started) << run.error;
  EXPECT_EQ(run.output, "[-o]\n[out file]\n");
  // The same program named by lpApplicationName, argv[0] from the line.
  std::u16string app = ZYT::Utf8ToWide(program);
  run = RunCommand(u"anything -x", app.c_str());
  ASSERT_TRUE(run.started) << run.error;
  EXPECT_EQ(run.output, "[-x]\n");
}

TEST_F(ProcessTest, ShellMetacharactersStayArguments) {
  // A file whose name is a shell command; running it would leave a mark.
  std::string trap = Script("x;touch pwned", "echo ran > \"$(dirname \"$0\")/ran\"\n");
  std::u16string dir = TempDirW();
  Run run = RunCommand(Quoted(Printer()) + u" x;touch pwned $(touch pwned2) `touch pwned3` 'q' a|b>c " +
                           Quoted(trap),
                       nullptr, dir.c_str());
  ASSERT_TRUE(run.started) << run.error;
  EXPECT_EQ(run.output, "[x;touch]\n[pwned]\n[$(touch]\n[pwned2)]\n[`touch]\n[pwned3`]\n['q']\n[a|b>c]\n[" + trap +
                            "]\n");
  // A bare name is looked up on PATH only, never in the current folder.
  run = RunCommand(u"\"x;touch pwned\" a", nullptr, dir.c_str());
  EXPECT_FALSE(run.started);
  EXPECT_EQ(run.error, DWORD(ERROR_FILE_NOT_FOUND));
  run = RunCommand(u"x;touch pwned", nullptr, dir.c_str());
  EXPECT_FALSE(run.started);
  EXPECT_EQ(run.error, DWORD(ERROR_FILE_NOT_FOUND));
  for (const char* mark : {"pwned", "pwned2", "pwned3", "ran", "c"}) EXPECT_FALSE(Exists(PathIn(mark))) << mark;
}

TEST_F(ProcessTest, ExitCodesAndWaiting) {
  Run run = RunCommand(Quoted(Script("three", "printf out; exit 3\n")));
  ASSERT_TRUE(run.started) << run.error;
  EXPECT_EQ(run.exitCode, 3u);
  EXPECT_EQ(run.output, "out");

  // A child that waits for its own end: a short wait times out, the exit
  // code says it is running, termination sets the code.
  std::u16string line = Quoted(Script("waits", "exec sleep 60\n"));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 50), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), WAIT_TIMEOUT);
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  ASSERT_TRUE(TerminateProcess(pi.hProcess, 42));
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(pi.hProcess, 0), WAIT_OBJECT_0) << "an ended process stays signalled";
  ASSERT_TRUE(GetExitCodeProcess(pi.hProcess, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(WaitForSingleObject(pi.hThread, 0), WAIT_FAILED) << "the thread handle is not waitable";
  EXPECT_FALSE(GetExitCodeProcess(pi.hThread, &code));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
  EXPECT_TRUE(CloseHandle(pi.hThread));
  EXPECT_TRUE(CloseHandle(pi.hProcess));
  EXPECT_FALSE(CloseHandle(pi.hProcess));

  // Ended by a signal of its own.
  run = RunCommand(Quoted(Script("killed", "kill -TERM $$\n")));
  ASSERT_TRUE(run.started) << run.error;
  EXPECT_EQ(run.exitCode, 128u + 15u);
}

TEST_F(ProcessTest, ProgramsThatCannotRun) {
  Run run = RunCommand(u"zyt-no-such-program-4711 a");
  EXPECT_FALSE(run.started);
  EXPECT_EQ(run.error, DWORD(ERROR_FILE_NOT_FOUND));
  run = RunCommand(Quoted(PathIn("missing")));
  EXPECT_FALSE(run.started);
  EXPECT_EQ(run.error, DWORD(ERROR_FILE_NOT_FOUND));
  run = RunCommand(Quoted(PathIn("no-folder/prog")));
  EXPECT_FALSE(run.started);
  EXPECT_EQ(run.error, DWORD(ERROR_PATH_NOT_FOUND));
  WriteBytes(PathIn("plain"), "#!/bin/sh\nexit 0\n");
  run = RunCommand(Quoted(PathIn("plain")));
  EXPECT_FALSE(run.started) << "a file without execute permission";
  EXPECT_EQ(run.error, DWORD(ERROR_ACCESS_DENIED));
  // Without a #! line the text is not handed to a shell.
  std::string text = PathIn("text");
  WriteBytes(text, "touch pwned\n");
  ASSERT_EQ(chmod(text.c_str(), 0700), 0);
  std::u16string dir = TempDirW();
  run = RunCommand(Quoted(text), nullptr, dir.c_str());
  EXPECT_FALSE(run.started);
  EXPECT_EQ(run.error, DWORD(ERROR_BAD_EXE_FORMAT));
  EXPECT_FALSE(Exists(PathIn("pwned")));
  // An application name is a path, never searched on PATH.
  run = RunCommand(u"sh -c true", u"sh", dir.c_str());
  EXPECT_FALSE(run.started);
  EXPECT_EQ(run.error, DWORD(ERROR_FILE_NOT_FOUND));
  run = RunCommand(u"sh -c true", nullptr, PathInW("no-folder").c_str());
  EXPECT_FALSE(run.started);
  EXPECT_EQ(run.error, DWORD(ERROR_DIRECTORY));
}

TEST_F(ProcessTest, StandardInputAndErrorAreNullAndTheSettingsReachTheChild) {
  Run run = RunCommand(Quoted(Script("streams", "cat; echo lost >&2; readlink /proc/$$/fd/0 /proc/$$/fd/2\n")));
  ASSERT_TRUE(run.started) << run.error;
  EXPECT_EQ(run.output, "/dev/null\n/dev/null\n");

  std::u16string environment = u"ZYT_X=h\u00e9llo";
  environment += u'\0';
  environment += u"PATH=/usr/bin:/bin";
  environment += u'\0';
  environment += u'\0';
  std::u16string dir = TempDirW();
  run = RunCommand(u"sh -c \"printf '%s|' \\\"$ZYT_X\\\"; pwd\"", nullptr, dir.c_str(), environment.data());
  ASSERT_TRUE(run.started) << run.error;
  char real[PATH_MAX];
  ASSERT_NE(realpath(TempDir().c_str(), real), nullptr);
  EXPECT_EQ(run.output, "h\xc3\xa9llo|" + std::string(real) + "\n");

  // A handle that is no open file cannot be a standard stream.
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = reinterpret_cast<HANDLE>(0x1234);
  PROCESS_INFORMATION pi{};
  std::u16string line = u"true";
  EXPECT_FALSE(CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi));
  EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
}

}  // namespace
