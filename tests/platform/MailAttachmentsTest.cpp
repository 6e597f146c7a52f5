#include "platform/mime/MailAttachments.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ZYT::ParseMailAttachments;
using namespace std::string_literals;

TEST(MailAttachmentsTest, CountsAndNamesTheTopLevelPartsAfterTheText) {
  struct Case {
    const char* name;
    std::string parts;
    std::u16string count, names;
  };
  auto part = [](const std::string& headers) { return "--b\r\n" + headers + "\r\n\r\nx\r\n"; };
  const Case cases[] = {
      {"no disposition", part("Content-Type: text/plain") + part("Content-Type: image/png"), u"1",
       u"Unknown Attachment"},
      {"one part", part("Content-Type: text/plain"), u"0", u""},
      {"disposition without a name", part("Content-Type: text/plain") + part("Content-Disposition: attachment") +
                                         part("Content-Disposition: attachment; filename=\"c.doc\""),
       u"2", u"|c.doc"},
      {"encoded name", part("Content-Type: text/plain") +
                           part("Content-Disposition: attachment; filename=\"=?UTF-8?Q?r=C3=A9sum=C3=A9.pdf?=\""),
       u"1", u"r\u00e9sum\u00e9.pdf"},
  };
  for (const Case& c : cases) {
    std::string message = "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n" + c.parts + "--b--\r\n";
    auto result = ParseMailAttachments(message);
    EXPECT_EQ(result.count, c.count) << c.name;
    EXPECT_EQ(result.names, c.names) << c.name;
  }
  auto cut = ParseMailAttachments(
      "Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n\r\ntext\0\r\n"
      "--b\r\nContent-Disposition: attachment; filename=\"after.txt\"\r\n\r\nx\r\n--b--\r\n"s);
  EXPECT_EQ(cut.count, u"0") << "the message ends at its first zero byte";
}

TEST(MailAttachmentsTest, BytesThatAreNoMessageHaveNone) {
  for (const std::string& bytes : {std::string(), std::string("\0\0\0", 3), std::string("no header at all")}) {
    auto result = ParseMailAttachments(bytes);
    EXPECT_EQ(result.count, u"0");
    EXPECT_EQ(result.names, u"");
  }
}

}  // namespace
