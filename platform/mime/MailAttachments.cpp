#include "platform/mime/MailAttachments.h"

#include "platform/mime/MimeMessage.h"
#include "platform/win32/Strings.h"

namespace ZYT {

MailAttachments ParseMailAttachments(const std::string& bytes) {
  MailAttachments result;
  // The message ends at its first zero byte, as the MIME library reads it.
  MimeMessage message;
  MimeLimits limits = MessageLimits();
  limits.content = false;  // the parts are all that is counted and named
  if (!message.Parse(std::string_view(bytes.c_str()), limits)) return result;
  const auto& parts = message.Parts();
  if (parts.size() < 2) return result;  // part 0 is the text; only the top level counts
  result.count = Utf8ToWide(std::to_string(parts.size() - 1));
  std::string names;
  for (size_t i = 1; i < parts.size(); ++i) {
    if (i > 1) names += "|";
    names += parts[i].dispositionFilename ? *parts[i].dispositionFilename : std::string("Unknown Attachment");
  }
  result.names = Utf8ToWide(names);
  return result;
}

}  // namespace ZYT
