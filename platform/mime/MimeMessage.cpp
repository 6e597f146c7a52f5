#include "platform/mime/MimeMessage.h"

#include <gmime/gmime.h>

#include <mutex>

namespace ZYT {

namespace {

void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

template <class T>
struct GObjectPtr {
  T* p = nullptr;
  ~GObjectPtr() {
    if (p) g_object_unref(p);
  }
};

std::string Take(char* text) {
  std::string s = text ? text : "";
  g_free(text);
  return s;
}

std::string ContentTypeOf(GMimeObject* object) {
  GMimeContentType* type = g_mime_object_get_content_type(object);
  if (!type) return "text/plain";
  return std::string(g_mime_content_type_get_media_type(type) ? g_mime_content_type_get_media_type(type) : "") + "/" +
         (g_mime_content_type_get_media_subtype(type) ? g_mime_content_type_get_media_subtype(type) : "");
}

MimePart Describe(GMimeObject* object) {
  MimePart part;
  part.contentType = ContentTypeOf(object);
  if (g_mime_object_get_header(object, "Content-Disposition")) {
    GMimeContentDisposition* disposition = g_mime_object_get_content_disposition(object);
    const char* name = disposition ? g_mime_content_disposition_get_parameter(disposition, "filename") : nullptr;
    part.dispositionFilename = name ? name : "";
  }
  return part;
}

std::string TextOf(GMimeObject* object) {
  if (!GMIME_IS_PART(object)) return {};
  GMimeDataWrapper* content = g_mime_part_get_content(GMIME_PART(object));
  if (!content) return {};
  // Decoded content is never longer than its encoded form: sized once, the
  // array does not grow by doubling.
  GMimeStream* encoded = g_mime_data_wrapper_get_stream(content);
  gint64 length = encoded ? g_mime_stream_length(encoded) : -1;
  GObjectPtr<GMimeStream> stream{g_mime_stream_mem_new_with_byte_array(
      g_byte_array_sized_new(length > 0 && length < G_MAXINT32 ? static_cast<guint>(length) : 0))};
  g_mime_data_wrapper_write_to_stream(content, stream.p);
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.p));
  const char* raw = reinterpret_cast<const char*>(bytes->data);
  const char* charset = g_mime_object_get_content_type_parameter(object, "charset");
  if (charset && g_ascii_strcasecmp(charset, "utf-8") != 0 && g_ascii_strcasecmp(charset, "us-ascii") != 0) {
    gsize written = 0;
    char* converted = g_convert_with_fallback(raw, static_cast<gssize>(bytes->len), "UTF-8", charset, "?", nullptr,
                                              &written, nullptr);
    if (converted) {
      std::string text(converted, written);
      g_free(converted);
      return text;
    }
  }
  return std::string(raw, bytes->len);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && g_ascii_strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

size_t FindNoCase(std::string_view text, std::string_view what, size_t from = 0) {
  for (size_t i = from; i + what.size() <= text.size(); ++i)
    if (g_ascii_strncasecmp(text.data() + i, what.data(), what.size()) == 0) return i;
  return std::string_view::npos;
}

struct Cuts {
  bool parts = false, headers = false, headerBytes = false;
};

// What the parts and header fields of a message are, found without parsing
// it, as far as the limits need: where parts begin (a delimiter line of a
// boundary that a Content-Type field declared) and which lines are header
// fields (the start of the message, after each delimiter, and the body of a
// part of type message/*).
class CMessageBounds {
 public:
  CMessageBounds(const MimeLimits& limits, Cuts& cuts) : m_limits(limits), m_cuts(cuts) {}

  // The message with what the limits leave out removed: a view of the bytes
  // when nothing is, else the kept text in kept.
  std::string_view Bound(std::string_view bytes, std::string& kept) {
    bool copying = false;
    for (size_t start = 0; start < bytes.size();) {
      size_t newline = bytes.find('\n', start);
      size_t next = newline == std::string_view::npos ? bytes.size() : newline + 1;
      std::string_view line = bytes.substr(start, next - start);
      std::string_view text = line;
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
      std::string_view shortened;  // the start of a field line that runs past maxHeaderBytes
      bool keep = true;
      if (OpensPart(text)) {
        EndField();
        if (++m_parts > m_limits.maxParts) {
          m_cuts.parts = true;
          return copying ? std::string_view(kept) : bytes.substr(0, start);
        }
        StartHeaders();
      } else if (m_inHeaders) {
        keep = HeaderLine(text, shortened);
      }
      if (!keep && !copying) {
        copying = true;
        kept.assign(bytes.substr(0, start));
      }
      if (keep && copying) kept.append(line);
      if (!shortened.empty()) kept.append(shortened).append(line.substr(text.size()));
      start = next;
    }
    return copying ? std::string_view(kept) : bytes;
  }

 private:
  // A delimiter line: "--", a boundary, trailing blanks; "--" after the
  // boundary closes its multipart instead. Any boundary that starts the line
  // counts, so that no delimiter the parser might accept goes uncounted.
  bool OpensPart(std::string_view text) const {
    if (text.size() < 3 || text[0] != '-' || text[1] != '-') return false;
    std::string_view rest = text.substr(2);
    while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
    for (const std::string& b : m_boundaries)
      if (rest.size() == b.size() + 2 && rest.substr(0, b.size()) == b && rest.substr(b.size()) == "--") return false;
    if (m_anyDashLine) return true;
    for (const std::string& b : m_boundaries)
      if (rest.substr(0, b.size()) == b) return true;
    return false;
  }

  void StartHeaders() {
    m_inHeaders = true;
    m_fields = 0;
    m_keepingField = true;
    m_messageBody = false;
  }

  // One line of a header block; false when it is left out, with the part
  // that is kept of a field running past its limit in shortened.
  bool HeaderLine(std::string_view text, std::string_view& shortened) {
    if (text.empty()) {
      EndField();
      // A part of type message/* holds a message whose headers follow.
      bool messageBody = m_messageBody;
      StartHeaders();
      m_inHeaders = messageBody;
      return true;
    }
    if (text[0] != ' ' && text[0] != '\t') {
      EndField();
      m_keepingField = ++m_fields <= m_limits.maxHeaders;
      if (!m_keepingField) m_cuts.headers = true;
      m_fieldBytes = 0;
      m_inContentType = m_keepingField && StartsWithNoCase(text, "content-type:");
    }
    // A folded line belongs to its field.
    bool keep = m_keepingField;
    if (keep && text.size() > m_limits.maxHeaderBytes - m_fieldBytes) {
      m_cuts.headerBytes = true;
      shortened = text.substr(0, m_limits.maxHeaderBytes - m_fieldBytes);
      keep = m_keepingField = false;
    }
    m_fieldBytes += text.size();
    if (m_inContentType) m_contentType.append(keep ? text : shortened);
    return keep;
  }

  // A Content-Type field ends: what the parser will see of it decides.
  void EndField() {
    if (!m_inContentType) return;
    m_inContentType = false;
    std::string field;
    field.swap(m_contentType);
    if (FindNoCase(field, "message/") != std::string::npos) m_messageBody = true;
    if (FindNoCase(field, "multipart") == std::string::npos) return;
    // The boundary parameter, quoted or not; a form this scan does not read
    // (RFC 2231 continuations, too many boundaries) makes every line that
    // starts with "--" count as a delimiter.
    size_t at = FindNoCase(field, "boundary");
    if (at == std::string::npos || FindNoCase(field, "boundary*") != std::string::npos ||
        m_boundaries.size() >= 64) {
      m_anyDashLine = true;
      return;
    }
    at += 8;
    while (at < field.size() && (field[at] == ' ' || field[at] == '\t')) ++at;
    if (at >= field.size() || field[at] != '=') {
      m_anyDashLine = true;
      return;
    }
    ++at;
    while (at < field.size() && (field[at] == ' ' || field[at] == '\t')) ++at;
    std::string boundary;
    if (at < field.size() && field[at] == '"') {
      for (++at; at < field.size() && field[at] != '"'; ++at) {
        if (field[at] == '\\' && at + 1 < field.size()) ++at;
        boundary += field[at];
      }
    } else {
      while (at < field.size() && field[at] != ';' && field[at] != ' ' && field[at] != '\t') boundary += field[at++];
    }
    while (!boundary.empty() && (boundary.back() == ' ' || boundary.back() == '\t')) boundary.pop_back();
    if (boundary.empty())
      m_anyDashLine = true;
    else
      m_boundaries.push_back(std::move(boundary));
  }

  const MimeLimits& m_limits;
  Cuts& m_cuts;
  std::vector<std::string> m_boundaries;
  bool m_anyDashLine = false;
  bool m_inHeaders = true, m_keepingField = true, m_messageBody = false, m_inContentType = false;
  size_t m_parts = 0, m_fields = 0, m_fieldBytes = 0;
  std::string m_contentType;  // the kept text of the current Content-Type field
};

void CollectTexts(GMimeObject* object, std::vector<std::string>& texts) {
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(object);
    for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
      CollectTexts(g_mime_multipart_get_part(multipart, i), texts);
    return;
  }
  GMimeContentType* type = g_mime_object_get_content_type(object);
  bool attachment = g_mime_object_get_header(object, "Content-Disposition") &&
                    g_mime_object_get_content_disposition(object) &&
                    g_ascii_strcasecmp(g_mime_content_disposition_get_disposition(
                                           g_mime_object_get_content_disposition(object)),
                                       "attachment") == 0;
  if ((!type || g_mime_content_type_is_type(type, "text", "plain")) && !attachment) texts.push_back(TextOf(object));
}

std::string AddressList(InternetAddressList* list) {
  return list ? Take(internet_address_list_to_string(list, nullptr, FALSE)) : std::string();
}

}  // namespace

bool MimeMessage::Parse(std::string_view bytes, const MimeLimits& limits) {
  InitOnce();
  m_parts.clear();
  texts.clear();
  std::string kept;
  Cuts cuts;
  bytes = CMessageBounds(limits, cuts).Bound(bytes, kept);
  m_partsCut = cuts.parts;
  m_headersCut = cuts.headers;
  m_headerBytesCut = cuts.headerBytes;
  // GMime reads the bytes where they are: the array lends it the buffer
  // (it only reads it) and is taken apart again without freeing it.
  GByteArray* borrowed = g_byte_array_new_take(reinterpret_cast<guint8*>(const_cast<char*>(bytes.data())), bytes.size());
  struct Lend {
    GByteArray* array;
    ~Lend() { g_byte_array_free(array, FALSE); }
  } lend{borrowed};
  GObjectPtr<GMimeStream> stream{g_mime_stream_mem_new_with_byte_array(borrowed)};
  g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream.p), FALSE);
  GObjectPtr<GMimeParser> parser{g_mime_parser_new_with_stream(stream.p)};
  GObjectPtr<GMimeMessage> message{g_mime_parser_construct_message(parser.p, nullptr)};
  if (!message.p) return false;
  subject.clear();
  from.clear();
  to.clear();
  cc.clear();
  if (limits.content) {
    subject = g_mime_message_get_subject(message.p) ? g_mime_message_get_subject(message.p) : "";
    from = AddressList(g_mime_message_get_from(message.p));
    to = AddressList(g_mime_message_get_to(message.p));
    cc = AddressList(g_mime_message_get_cc(message.p));
  }
  GMimeObject* body = g_mime_message_get_mime_part(message.p);
  if (!body) return true;
  if (GMIME_IS_MULTIPART(body)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(body);
    for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
      m_parts.push_back(Describe(g_mime_multipart_get_part(multipart, i)));
  } else {
    m_parts.push_back(Describe(body));
  }
  if (limits.content) CollectTexts(body, texts);
  return true;
}

}  // namespace ZYT
