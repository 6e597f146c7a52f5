// Hostile messages through the machine's mail filter: hundreds of thousands
// of parts, a flood of header fields, one endless header line, tens of
// megabytes of text. Memory stays within a small multiple of the message;
// what a limit leaves out is said in the filter's log.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/com/ComPtr.h"
#include "platform/indexer/LoadIFilter.h"
#include "platform/win32/Strings.h"
#include "tests/reliability/ParsersChild.h"
#include "tests/support/ProtocolDriver.h"
#include "tests/support/Repository.h"
#include "tests/support/TestEnvironment.h"

namespace {

using namespace ZYT::Test;
using namespace ZYT::Test::Parsers;

class ParsersMailLimitsTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    UseRepository(*this, true);
  }
  ZYT::WalkResult Drive(const std::string& name) {
    ZYT::ComPtr<IFilter> filter;
    EXPECT_EQ(LoadIFilter(PathInW(name).c_str(), nullptr, filter.put_void()), S_OK) << name;
    DriveOptions options;
    options.bufferSize = 4096;
    options.checkReinit = false;
    return filter ? DriveFilter(filter.get(), options) : ZYT::WalkResult();
  }
  // Filters the message in a child and checks that it took at most a few
  // times its size more than a child that does nothing.
  void ExpectSmallMultiple(const std::string& name, size_t messageBytes) {
    if (!kMeasureMemory) return;
    int code = -1;
    long extraKb = ExtraKbToFilter(PathInW(name), &code);
    EXPECT_EQ(code, 0) << name;
    const long boundKb = static_cast<long>(4 * messageBytes / 1024) + 32 * 1024;
    EXPECT_LT(extraKb, boundKb) << name << " of " << messageBytes / 1024 << " KB";
  }
};

TEST_F(ParsersMailLimitsTest, PartsAfterTheLimitAreLeftOut) {
  std::string message = "Subject: parts\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n";
  for (int i = 1; i <= 200000; ++i)
    message += "--b\r\nContent-Type: text/plain\r\n\r\npart " + std::to_string(i) + "\r\n";
  message += "--b--\r\n";
  WriteBytes(PathIn("parts.eml"), message);

  ZYT::WalkResult r = Drive("parts.eml");
  ASSERT_TRUE(ObeysProtocol(r));
  std::vector<std::u16string> texts = Texts(r);
  ASSERT_EQ(texts.size(), 10000u) << "the first 10 000 parts";
  EXPECT_EQ(texts.front(), u"part 1");
  EXPECT_EQ(texts.back(), u"part 10000");
  EXPECT_EQ(Values(r).front(), "\"parts\"");
  EXPECT_NE(FilterLogs(*this).find("Init: the message is cut: parts after the first 10000 left out (limit MaxMessageParts)\n"),
            std::string::npos)
      << FilterLogs(*this);
  ExpectSmallMultiple("parts.eml", message.size());
}

TEST_F(ParsersMailLimitsTest, ExactlyTheLimitIsNotACut) {
  SetLimit(u"MaxMessageParts", 3);
  // Three parts, their closing delimiter, and a signature separator in a text:
  // none of it opens a fourth part.
  const std::string message =
      "Subject: three\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n"
      "--b\r\n\r\none\r\n-- \r\nsignature\r\n"
      "--b\r\n\r\ntwo\r\n"
      "--b\r\nContent-Disposition: attachment; filename=\"c.txt\"\r\n\r\nthree\r\n"
      "--b--\r\n";
  WriteBytes(PathIn("three.eml"), message);
  ZYT::WalkResult r = Drive("three.eml");
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Texts(r), (std::vector<std::u16string>{u"one\r\n-- \r\nsignature", u"two"}));
  EXPECT_EQ(FilterLogs(*this), "") << "nothing was cut";

  SetLimit(u"MaxMessageParts", 2);
  r = Drive("three.eml");
  EXPECT_EQ(Texts(r), (std::vector<std::u16string>{u"one\r\n-- \r\nsignature", u"two"}));
  EXPECT_NE(FilterLogs(*this).find("parts after the first 2 left out"), std::string::npos) << FilterLogs(*this);
}

TEST_F(ParsersMailLimitsTest, DelimitersOfEveryBoundaryCount) {
  SetLimit(u"MaxMessageParts", 10);
  struct Case {
    const char* name;
    std::string contentType;  // of the message
    std::string delimiter;    // a line that opens a part
    size_t texts;             // text parts kept
  };
  const Case cases[] = {
      // A boundary that itself ends with "--" looks like a closing delimiter.
      {"dashes", "multipart/mixed; boundary=\"x--\"", "--x--", 10},
      {"unquoted", "multipart/mixed; boundary=plain", "--plain", 10},
      {"folded", "multipart/mixed;\r\n\tboundary=\"folded\"", "--folded", 10},
      // RFC 2231 continuations are not read here: every "--" line counts.
      {"continued", "multipart/mixed; boundary*0=\"con\"; boundary*1=\"tinued\"", "--continued", 10},
  };
  for (const Case& c : cases) {
    std::string message = "Subject: s\r\nContent-Type: " + c.contentType + "\r\n\r\n";
    for (int i = 1; i <= 50; ++i) message += c.delimiter + "\r\n\r\ntext " + std::to_string(i) + "\r\n";
    std::string name = std::string(c.name) + ".eml";
    WriteBytes(PathIn(name), message);
    ZYT::WalkResult r = Drive(name);
    std::vector<std::u16string> texts = Texts(r);
    EXPECT_EQ(texts.size(), c.texts) << c.name;
    ASSERT_FALSE(texts.empty()) << c.name;
    EXPECT_EQ(texts.back(), u"text " + ZYT::Utf8ToWide(std::to_string(c.texts))) << c.name;
  }

  // Parts of a nested multipart count with those around them.
  std::string nested = "Subject: s\r\nContent-Type: multipart/mixed; boundary=outer\r\n\r\n"
                       "--outer\r\nContent-Type: multipart/alternative; boundary=inner\r\n\r\n";
  for (int i = 1; i <= 20; ++i) nested += "--inner\r\n\r\ninner " + std::to_string(i) + "\r\n";
  nested += "--inner--\r\n--outer\r\n\r\nouter\r\n--outer--\r\n";
  WriteBytes(PathIn("nested.eml"), nested);
  std::vector<std::u16string> texts = Texts(Drive("nested.eml"));
  EXPECT_EQ(texts.size(), 9u) << "the outer part holding them, then nine inner ones";
}

TEST_F(ParsersMailLimitsTest, HeaderFloodKeepsTheFirstFieldsAndTheBody) {
  std::string message = "Subject: flood\r\nFrom: a@example.org\r\n";
  while (message.size() < (16u << 20)) message += "X-Filler: yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy\r\n";
  message += "To: late@example.org\r\n\r\nBody line.\r\n";
  WriteBytes(PathIn("flood.eml"), message);

  ZYT::WalkResult r = Drive("flood.eml");
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Values(r), (std::vector<std::string>{"\"flood\"", "\"a@example.org\"", "\"\"", "\"\""}))
      << "the To field comes after the first 1000 fields";
  EXPECT_EQ(Texts(r), std::vector<std::u16string>{u"Body line."});
  EXPECT_NE(FilterLogs(*this).find("header fields after the first 1000 of a block left out (limit MaxMessageHeaders)"),
            std::string::npos)
      << FilterLogs(*this);
  ExpectSmallMultiple("flood.eml", message.size());
}

TEST_F(ParsersMailLimitsTest, EndlessHeaderFieldIsShortened) {
  SetLimit(u"MaxMessageHeaderBytes", 1024);
  WriteBytes(PathIn("short.eml"), "Subject: " + std::string(5000, 'y') + "\r\n\r\nBody.\r\n");
  ZYT::WalkResult r = Drive("short.eml");
  ASSERT_TRUE(ObeysProtocol(r));
  EXPECT_EQ(Values(r).front(), "\"" + std::string(1024 - 9, 'y') + "\"") << "the field's first 1024 bytes";
  EXPECT_EQ(Texts(r), std::vector<std::u16string>{u"Body."});
  EXPECT_NE(FilterLogs(*this).find("Init: the message is cut: header fields shortened to 1024 bytes (limit MaxMessageHeaderBytes)\n"),
            std::string::npos)
      << FilterLogs(*this);

  // A folded field counts its lines together.
  WriteBytes(PathIn("folded.eml"), "Subject: start\r\n " + std::string(2000, 'z') + "\r\n more\r\n\r\nBody.\r\n");
  r = Drive("folded.eml");
  EXPECT_EQ(Values(r).front(), "\"start " + std::string(1024 - 14 - 1, 'z') + "\"")
      << "\"Subject: start\" took 14 bytes, the folded line's blank 1";

  SetLimit(u"MaxMessageHeaderBytes", 1024 * 1024);
  const std::string huge = "Subject: " + std::string(16u << 20, 'y') + "\r\n\r\nBody.\r\n";
  WriteBytes(PathIn("huge.eml"), huge);
  ExpectSmallMultiple("huge.eml", huge.size());
}

TEST_F(ParsersMailLimitsTest, LargeTextsStayWithinASmallMultiple) {
  std::string text = "Subject: text\r\n\r\n";
  while (text.size() < (16u << 20)) text += std::string(70, 'x') + "\r\n";
  WriteBytes(PathIn("text.eml"), text);
  ExpectSmallMultiple("text.eml", text.size());

  // Millions of one-letter paragraphs: each chunk is found as it is asked for.
  std::string paragraphs = "Subject: paragraphs\r\n\r\n";
  paragraphs.reserve(16u << 20);
  while (paragraphs.size() < (16u << 20)) paragraphs += "a\n\n";
  WriteBytes(PathIn("paragraphs.eml"), paragraphs);
  ZYT::WalkResult r = Drive("paragraphs.eml");
  EXPECT_EQ(r.chunks.size(), 100000u) << "the walk stops at its own bound; every chunk is a paragraph";
  EXPECT_EQ(Texts(r).back(), u"a");
  ExpectSmallMultiple("paragraphs.eml", paragraphs.size());
  EXPECT_EQ(FilterLogs(*this), "") << "no limit cut these";
}

}  // namespace
