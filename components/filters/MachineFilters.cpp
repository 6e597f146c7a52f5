#include "components/filters/MachineFilters.h"

#include <libxml/HTMLparser.h>

#include "platform/com/PropIds.h"
#include "platform/mime/MimeMessage.h"
#include "platform/win32/Strings.h"

namespace {

ListedChunk Value(const GUID& set, PROPID id, const std::u16string& text) {
  ListedChunk c;
  c.attribute.guidPropSet = set;
  c.attribute.psProperty.ulKind = PRSPEC_PROPID;
  c.attribute.psProperty.propid = id;
  c.breakType = CHUNK_EOS;
  c.isText = false;
  c.text = text;
  return c;
}

ListedChunk NamedValue(const GUID& set, const char16_t* name, const std::u16string& text) {
  ListedChunk c = Value(set, 0, text);
  c.attribute.psProperty.ulKind = PRSPEC_LPWSTR;
  c.propertyName = name;
  return c;
}

bool IsBlock(const char* name) {
  static const char* const blocks[] = {"p",  "div", "br", "li", "ul", "ol", "table", "tr", "td", "th", "h1", "h2",
                                       "h3", "h4",  "h5", "h6", "pre", "blockquote", "section", "article", "title"};
  for (const char* b : blocks)
    if (xmlStrcasecmp(reinterpret_cast<const xmlChar*>(name), reinterpret_cast<const xmlChar*>(b)) == 0) return true;
  return false;
}

// Visible text: everything but scripts, styles and the head; blocks end paragraphs.
void CollectVisible(xmlNodePtr node, std::string& out) {
  for (xmlNodePtr n = node; n; n = n->next) {
    if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
      if (n->content) out += reinterpret_cast<const char*>(n->content);
    } else if (n->type == XML_ELEMENT_NODE) {
      const char* name = reinterpret_cast<const char*>(n->name);
      if (!xmlStrcasecmp(n->name, BAD_CAST "script") || !xmlStrcasecmp(n->name, BAD_CAST "style") ||
          !xmlStrcasecmp(n->name, BAD_CAST "head"))
        continue;
      bool block = IsBlock(name);
      if (block) out += "\n\n";
      CollectVisible(n->children, out);
      if (block) out += "\n\n";
    }
  }
}

// Runs of blanks within a line become one space, as a browser shows them.
// Written through a pointer into a buffer of the input's size: the result is
// never longer (a blank line stays two bytes, a space stands for at least one
// blank), and growing a string a byte at a time cost more than the parse.
std::string Collapse(const std::string& text) {
  std::string out(text.size(), '\0');
  char* const begin = out.data();
  char* o = begin;
  const char* p = text.data();
  const char* const end = p + text.size();
  bool space = false;
  while (p < end) {
    const char c = *p;
    if (c == '\n' && p + 1 < end && p[1] == '\n') {
      while (o > begin && o[-1] == ' ') --o;
      if (o > begin && o[-1] != '\n') {
        *o++ = '\n';
        *o++ = '\n';
      }
      space = false;
      p += 2;
      continue;
    }
    ++p;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      space = true;
      continue;
    }
    if (space && o > begin && o[-1] != '\n') *o++ = ' ';
    space = false;
    *o++ = c;
    // The rest of the word, with none of the checks above.
    while (p < end && *p != ' ' && *p != '\t' && *p != '\r' && *p != '\n') *o++ = *p++;
  }
  out.resize(static_cast<size_t>(o - begin));
  return out;
}

}  // namespace

std::vector<ListedChunk> CPlainTextFilter::MakeChunks(const std::string& bytes) {
  std::vector<ListedChunk> chunks;
  AddTextChunks(DecodeText(bytes), chunks);
  return chunks;
}

std::vector<ListedChunk> CHtmlFilter::MakeChunks(const std::string& bytes) {
  std::vector<ListedChunk> chunks;
  if (bytes.empty() || bytes.size() > 0x7FFFFFFF) return chunks;
  // HTML_PARSE_COMPACT: short text nodes live inside their node, which
  // saves an allocation for most of a page's text nodes.
  htmlDocPtr doc = htmlReadMemory(
      bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
      HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_COMPACT);
  if (!doc) return chunks;
  xmlNodePtr root = xmlDocGetRootElement(doc);
  for (xmlNodePtr head = root ? root->children : nullptr; head; head = head->next) {
    if (head->type != XML_ELEMENT_NODE || xmlStrcasecmp(head->name, BAD_CAST "head")) continue;
    for (xmlNodePtr t = head->children; t; t = t->next) {
      if (t->type == XML_ELEMENT_NODE && !xmlStrcasecmp(t->name, BAD_CAST "title")) {
        xmlChar* title = xmlNodeGetContent(t);
        std::string text = Collapse(title ? reinterpret_cast<const char*>(title) : "");
        xmlFree(title);
        std::u16string wide;
        FromUtf8(text, false, wide);
        chunks.push_back(Value(FMTID_SummaryInformation, PIDSI_TITLE, std::move(wide)));
        break;
      }
    }
  }
  std::string visible;
  visible.reserve(bytes.size());
  if (root) CollectVisible(root->children, visible);
  xmlFreeDoc(doc);
  std::u16string text;
  FromUtf8(Collapse(visible), false, text);
  AddTextChunks(std::move(text), chunks);
  return chunks;
}

std::vector<ListedChunk> CMailFilter::MakeChunks(const std::string& bytes) {
  std::vector<ListedChunk> chunks;
  ZYT::MimeMessage message;
  const ZYT::MimeLimits limits = ZYT::MessageLimits();
  if (!message.Parse(bytes, limits)) return chunks;
  if (message.PartsCut() || message.HeadersCut() || message.HeaderBytesCut()) {
    std::string entry = "Init: the message is cut:";
    const char* separator = " ";
    if (message.PartsCut()) {
      entry += separator + ("parts after the first " + std::to_string(limits.maxParts)) +
               " left out (limit MaxMessageParts)";
      separator = "; ";
    }
    if (message.HeadersCut()) {
      entry += separator + ("header fields after the first " + std::to_string(limits.maxHeaders)) +
               " of a block left out (limit MaxMessageHeaders)";
      separator = "; ";
    }
    if (message.HeaderBytesCut())
      entry += separator + ("header fields shortened to " + std::to_string(limits.maxHeaderBytes)) +
               " bytes (limit MaxMessageHeaderBytes)";
    entry += "\n";
    LogCut(entry);
  }
  chunks.push_back(Value(PSGUID_MAIL, 5, ZYT::Utf8ToWide(message.subject)));
  chunks.push_back(Value(PSGUID_MAIL, 6, ZYT::Utf8ToWide(message.from)));
  chunks.push_back(NamedValue(PSGUID_MAIL, u"To", ZYT::Utf8ToWide(message.to)));
  chunks.push_back(NamedValue(PSGUID_MAIL, u"Cc", ZYT::Utf8ToWide(message.cc)));
  for (std::string& text : message.texts) {
    AddTextChunks(ZYT::Utf8ToWide(text), chunks);
    std::string().swap(text);  // the UTF-8 copy is not needed any more
  }
  return chunks;
}
