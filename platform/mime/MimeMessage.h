// Mail messages split into their top-level body parts, over GMime.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/Limits.h"

namespace ZYT {

struct MimePart {
  // The Content-Disposition header's filename parameter (RFC 2047/2231
  // encoded names decoded, UTF-8); nullopt when the part has no such header.
  std::optional<std::string> dispositionFilename;
  std::string contentType;  // "type/subtype"
};

// How much of a message is parsed. GMime keeps every part and header field of
// a message as objects of their own, a few hundred bytes to kilobytes each, so
// a message of tiny parts or header lines would take many times its size.
struct MimeLimits {
  size_t maxParts = 10000;   // body parts, all levels together
  size_t maxHeaders = 1000;  // header fields of one header block
  size_t maxHeaderBytes = 1024 * 1024;  // bytes of one header field, folded lines included
  // Off: only the parts are described; subject, addresses and texts stay
  // empty (they cost a tenth of a parse that wants the parts alone).
  bool content = true;
};

// The machine's limits: MaxMessageParts, MaxMessageHeaders and
// MaxMessageHeaderBytes under the limits key, kept within bounds. For the
// filters to pass in: the parser itself reads no registry.
inline MimeLimits MessageLimits() {
  MimeLimits limits;
  limits.maxParts = std::clamp<DWORD>(GetLimit(u"MaxMessageParts", 10000), 1, 1000000);
  limits.maxHeaders = std::clamp<DWORD>(GetLimit(u"MaxMessageHeaders", 1000), 16, 100000);
  limits.maxHeaderBytes = std::clamp<DWORD>(GetLimit(u"MaxMessageHeaderBytes", 1024 * 1024), 1024, 64 * 1024 * 1024);
  return limits;
}

class MimeMessage {
 public:
  // The message's top-level body parts; a message that is not multipart has
  // one part, the message itself. False when the bytes are not a message.
  // Parts after the first maxParts (counted by their delimiter lines) are left
  // out, as are the header fields of a block after its first maxHeaders and
  // the bytes of a field after its first maxHeaderBytes.
  bool Parse(std::string_view bytes, const MimeLimits& limits = MimeLimits());
  const std::vector<MimePart>& Parts() const { return m_parts; }
  // Whether a limit left out parts or header fields, or shortened a field,
  // of the last message parsed.
  bool PartsCut() const { return m_partsCut; }
  bool HeadersCut() const { return m_headersCut; }
  bool HeaderBytesCut() const { return m_headerBytesCut; }
  // Headers (decoded, UTF-8) and the text of the text/* parts, for the mail filter.
  std::string subject, from, to, cc;
  std::vector<std::string> texts;

 private:
  std::vector<MimePart> m_parts;
  bool m_partsCut = false;
  bool m_headersCut = false;
  bool m_headerBytesCut = false;
};

}  // namespace ZYT
