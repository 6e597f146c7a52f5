// Mail messages split into their top-level body parts, over GMime.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ZYT {

struct MimePart {
  // The Content-Disposition header's filename parameter (RFC 2047/2231
  // encoded names decoded, UTF-8); nullopt when the part has no such header.
  std::optional<std::string> dispositionFilename;
  std::string contentType;  // "type/subtype"
};

class MimeMessage {
 public:
  // The message's top-level body parts; a message that is not multipart has
  // one part, the message itself. False when the bytes are not a message.
  bool Parse(std::string_view bytes);
  const std::vector<MimePart>& Parts() const { return m_parts; }
  // Headers (decoded, UTF-8) and the text of the text/* parts, for the mail filter.
  std::string subject, from, to, cc;
  std::vector<std::string> texts;

 private:
  std::vector<MimePart> m_parts;
};

}  // namespace ZYT
