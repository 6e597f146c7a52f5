#include "platform/mime/MimeMessage.h"

#include <gmime/gmime.h>

#include <algorithm>
#include <mutex>

#include "platform/win32/Limits.h"

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

// A line of the message: [start, end) without its line break.
struct Line {
  size_t start, end, next;
};

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && g_ascii_strncasecmp(text.data(), prefix.data(), prefix.size()) == 0;
}

bool ContainsNoCase(std::string_view text, std::string_view what) {
  for (size_t i = 0; i + what.size() <= text.size(); ++i)
    if (g_ascii_strncasecmp(text.data() + i, what.data(), what.size()) == 0) return true;
  return false;
}

// The message with the parts and header fields beyond the limits left out,
// found without parsing: every line that starts with "--" and does not end
// with "--" may open a part (a closing delimiter ends with "--", and so does a
// signature separator "-- "), and is
// followed by a header block; so is the start of the message, and the body of
// a part whose type is message/*. A view of the bytes when nothing is left
// out; else the kept text in kept.
struct Cuts {
  bool parts = false, headers = false, headerBytes = false;
};

std::string_view Bound(std::string_view bytes, const MimeLimits& limits, std::string& kept, Cuts& cuts) {
  bool copying = false;
  bool inHeaders = true, keepingField = true, messageBody = false;
  size_t parts = 0, fields = 0, fieldBytes = 0;
  for (size_t start = 0; start < bytes.size();) {
    size_t newline = bytes.find('\n', start);
    size_t next = newline == std::string_view::npos ? bytes.size() : newline + 1;
    std::string_view line = bytes.substr(start, next - start);
    std::string_view text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.remove_suffix(1);
    std::string_view trimmed = text;
    while (!trimmed.empty() && (trimmed.back() == ' ' || trimmed.back() == '\t')) trimmed.remove_suffix(1);
    bool keep = true;
    std::string_view shortened;  // the start of a field line that runs past maxHeaderBytes
    if (trimmed.size() >= 3 && trimmed.substr(0, 2) == "--" && trimmed.substr(trimmed.size() - 2) != "--") {
      if (++parts > limits.maxParts) {
        cuts.parts = true;
        if (!copying) return bytes.substr(0, start);
        return kept;
      }
      inHeaders = true;
      fields = 0;
      keepingField = true;
      messageBody = false;
    } else if (inHeaders) {
      if (text.empty()) {
        // A part of type message/* holds a message whose headers follow.
        inHeaders = messageBody;
        messageBody = false;
        fields = 0;
        keepingField = true;
      } else {
        if (text[0] != ' ' && text[0] != '\t') {
          keepingField = ++fields <= limits.maxHeaders;
          if (!keepingField) cuts.headers = true;
          fieldBytes = 0;
          if (keepingField && StartsWithNoCase(text, "content-type:") && ContainsNoCase(text, "message/"))
            messageBody = true;
        }
        // A folded line belongs to its field.
        keep = keepingField;
        if (keep && text.size() > limits.maxHeaderBytes - fieldBytes) {
          cuts.headerBytes = true;
          shortened = text.substr(0, limits.maxHeaderBytes - fieldBytes);
          keep = keepingField = false;
        }
        fieldBytes += text.size();
      }
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

MimeLimits MessageLimits() {
  MimeLimits limits;
  limits.maxParts = std::clamp<DWORD>(GetLimit(u"MaxMessageParts", 10000), 1, 1000000);
  limits.maxHeaders = std::clamp<DWORD>(GetLimit(u"MaxMessageHeaders", 1000), 16, 100000);
  limits.maxHeaderBytes = std::clamp<DWORD>(GetLimit(u"MaxMessageHeaderBytes", 1024 * 1024), 1024, 64 * 1024 * 1024);
  return limits;
}

bool MimeMessage::Parse(std::string_view bytes, const MimeLimits& limits) {
  InitOnce();
  m_parts.clear();
  texts.clear();
  std::string kept;
  Cuts cuts;
  bytes = Bound(bytes, limits, kept, cuts);
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
  subject = g_mime_message_get_subject(message.p) ? g_mime_message_get_subject(message.p) : "";
  from = AddressList(g_mime_message_get_from(message.p));
  to = AddressList(g_mime_message_get_to(message.p));
  cc = AddressList(g_mime_message_get_cc(message.p));
  GMimeObject* body = g_mime_message_get_mime_part(message.p);
  if (!body) return true;
  if (GMIME_IS_MULTIPART(body)) {
    GMimeMultipart* multipart = GMIME_MULTIPART(body);
    for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
      m_parts.push_back(Describe(g_mime_multipart_get_part(multipart, i)));
  } else {
    m_parts.push_back(Describe(body));
  }
  CollectTexts(body, texts);
  return true;
}

}  // namespace ZYT
