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
  GObjectPtr<GMimeStream> stream{g_mime_stream_mem_new()};
  g_mime_data_wrapper_write_to_stream(content, stream.p);
  GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream.p));
  std::string raw(reinterpret_cast<const char*>(bytes->data), bytes->len);
  const char* charset = g_mime_object_get_content_type_parameter(object, "charset");
  if (!charset || g_ascii_strcasecmp(charset, "utf-8") == 0 || g_ascii_strcasecmp(charset, "us-ascii") == 0)
    return raw;
  gsize written = 0;
  char* converted = g_convert_with_fallback(raw.data(), static_cast<gssize>(raw.size()), "UTF-8", charset, "?",
                                            nullptr, &written, nullptr);
  return converted ? std::string(Take(converted).c_str(), written) : raw;
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

bool MimeMessage::Parse(std::string_view bytes) {
  InitOnce();
  m_parts.clear();
  texts.clear();
  GObjectPtr<GMimeStream> stream{g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size())};
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
