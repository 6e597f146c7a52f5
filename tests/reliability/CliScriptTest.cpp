// scripts/zytfilt is what a person runs first: its standard output must be
// zytfilt's alone, so that `dump --json` is JSON even on the run that
// installs and builds; and each file is named the same on all its lines.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "tests/support/ChildProcess.h"
#include "tests/support/TestEnvironment.h"

namespace ZYT {
namespace {

// A strict JSON reader, enough to prove a line is one JSON object and to
// read its top-level string members.
class JsonLine {
 public:
  explicit JsonLine(const std::string& text) : m_text(text) {
    Space();
    m_ok = Object(true) && (Space(), m_pos == m_text.size());
  }
  bool Ok() const { return m_ok; }
  const std::map<std::string, std::string>& Strings() const { return m_strings; }

 private:
  void Space() {
    while (m_pos < m_text.size() && std::string(" \t\r\n").find(m_text[m_pos]) != std::string::npos) ++m_pos;
  }
  bool Eat(char c) {
    Space();
    if (m_pos < m_text.size() && m_text[m_pos] == c) return ++m_pos, true;
    return false;
  }
  bool Literal(const char* word) {
    std::string w(word);
    if (m_text.compare(m_pos, w.size(), w) != 0) return false;
    m_pos += w.size();
    return true;
  }
  bool String(std::string* out) {
    if (!Eat('"')) return false;
    std::string value;
    while (m_pos < m_text.size()) {
      char c = m_text[m_pos++];
      if (c == '"') {
        if (out) *out = value;
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        value += c;
        continue;
      }
      if (m_pos >= m_text.size()) return false;
      char e = m_text[m_pos++];
      if (e == 'u') {
        if (m_pos + 4 > m_text.size()) return false;
        for (int i = 0; i < 4; ++i)
          if (!std::isxdigit(static_cast<unsigned char>(m_text[m_pos + i]))) return false;
        value += "\\u" + m_text.substr(m_pos, 4);
        m_pos += 4;
      } else if (std::string("\"\\/bfnrt").find(e) != std::string::npos) {
        value += e;
      } else {
        return false;
      }
    }
    return false;
  }
  bool Number() {
    size_t start = m_pos;
    if (m_pos < m_text.size() && m_text[m_pos] == '-') ++m_pos;
    while (m_pos < m_text.size() && std::string("0123456789.eE+-").find(m_text[m_pos]) != std::string::npos) ++m_pos;
    return m_pos > start && std::isdigit(static_cast<unsigned char>(m_text[m_pos - 1]));
  }
  bool Value(std::string* asString) {
    Space();
    if (m_pos >= m_text.size()) return false;
    char c = m_text[m_pos];
    if (c == '{') return Object(false);
    if (c == '[') {
      ++m_pos;
      if (Eat(']')) return true;
      do
        if (!Value(nullptr)) return false;
      while (Eat(','));
      return Eat(']');
    }
    if (c == '"') return String(asString);
    if (c == 't') return Literal("true");
    if (c == 'f') return Literal("false");
    if (c == 'n') return Literal("null");
    return Number();
  }
  bool Object(bool top) {
    if (!Eat('{')) return false;
    if (Eat('}')) return true;
    do {
      std::string name, value;
      if (!String(&name) || !Eat(':')) return false;
      Space();
      bool isString = m_pos < m_text.size() && m_text[m_pos] == '"';
      if (!Value(&value)) return false;
      if (top && isString) m_strings[name] = value;
    } while (Eat(','));
    return Eat('}');
  }

  std::string m_text;
  size_t m_pos = 0;
  bool m_ok = false;
  std::map<std::string, std::string> m_strings;
};

class CliScriptTest : public Test::MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    setenv("ZYT_SETTINGS", SettingsPath().c_str(), 1);
  }
};

TEST_F(CliScriptTest, DumpJsonThroughTheScriptIsOnlyJsonAndNamesEachFileOneWay) {
  // The script builds the release tree of this checkout; building it here
  // would take minutes, so the test needs it built already.
  struct stat st;
  if (stat(ZYT_SCRIPTS "/../build/bin/zytfilt", &st) != 0) GTEST_SKIP() << "the release tree is not built";
  mkdir(PathIn("folder.mp3").c_str(), 0700);
  // sample.mp3 relative to the samples folder, the others absolute; the first
  // dump of this fresh machine sets it up.
  const std::vector<std::string> files = {"sample.mp3", PathIn("missing.mp3"), "sample.ogg", PathIn("folder.mp3")};
  // A machine that lacks every package: stand-ins for dpkg-query, sudo and
  // apt-get that talk on stdout as the real ones do.
  mkdir(PathIn("bin").c_str(), 0700);
  const std::pair<const char*, const char*> tools[] = {
      {"dpkg-query", "#!/bin/sh\nexit 1\n"},
      {"sudo", "#!/bin/sh\nexec \"$@\"\n"},
      {"apt-get", "#!/bin/sh\necho 'Reading package lists...'\necho \"Setting up $*\"\n"}};
  for (const auto& [name, text] : tools) {
    WriteBytes(PathIn("bin/") + name, text);
    chmod(PathIn("bin/" + std::string(name)).c_str(), 0700);
  }
  const char* path = std::getenv("PATH");
  std::vector<std::string> argv = {"/usr/bin/env", "PATH=" + PathIn("bin") + ":" + (path ? path : "/usr/bin:/bin"),
                                   "/bin/bash", ZYT_SCRIPTS "/zytfilt", "dump", "--json"};
  argv.insert(argv.end(), files.begin(), files.end());
  ZYT::Test::ProcessResult o = ZYT::Test::Run(argv, {.cwd = ZYT_SAMPLES}, 300);
  EXPECT_EQ(o.status, 1) << "two of the files cannot be filtered: " << o.err;
  EXPECT_NE(o.err.find("Setting up"), std::string::npos) << "the installation ran, and said so on stderr";

  std::map<std::string, std::set<std::string>> kinds;  // file -> kinds of line
  for (const std::string& line : ZYT::Test::Lines(o.out)) {
    JsonLine json(line);
    ASSERT_TRUE(json.Ok()) << "not a JSON object on stdout: " << line;
    auto file = json.Strings().find("file");
    ASSERT_NE(file, json.Strings().end()) << line;
    const auto& s = json.Strings();
    kinds[file->second].insert(s.count("error") ? "error" : s.count("end") ? "end" : s.count("flags") ? "chunk" : "?");
  }
  ASSERT_EQ(kinds.size(), files.size()) << "one name per file, the name it was given by:\n" << o.out;
  for (const std::string& f : files) EXPECT_EQ(kinds.count(f), 1u) << f << " is named differently:\n" << o.out;
  EXPECT_EQ(kinds["sample.mp3"], (std::set<std::string>{"chunk", "end"}));
  EXPECT_EQ(kinds["sample.ogg"], (std::set<std::string>{"chunk", "end"}));
  EXPECT_EQ(kinds[PathIn("missing.mp3")], std::set<std::string>{"error"});
  EXPECT_EQ(kinds[PathIn("folder.mp3")], std::set<std::string>{"error"});
}

}  // namespace
}  // namespace ZYT
