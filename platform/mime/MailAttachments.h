// The attachments of a mail message as the product shows them: every
// top-level part after the first (the message's text), named by its
// disposition's file name.
#pragma once

#include <string>

namespace ZYT {

struct MailAttachments {
  std::u16string count = u"0";  // in decimal
  // Joined with "|"; "Unknown Attachment" for a part without a disposition.
  std::u16string names;
};

// Bytes that are not a message have no attachments.
MailAttachments ParseMailAttachments(const std::string& message);

}  // namespace ZYT
