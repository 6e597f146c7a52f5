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
std::string Collapse(const std::string& text) {
  std::string out;
  bool space = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\n' && i + 1 < text.size() && text[i + 1] == '\n') {
      while (!out.empty() && out.back() == ' ') out.pop_back();
      if (!out.empty() && out.back() != '\n') out += "\n\n";
      space = false;
      ++i;
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      space = true;
      continue;
    }
    if (space && !out.empty() && out.back() != '\n') out += ' ';
    space = false;
    out += c;
  }
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
  htmlDocPtr doc = htmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                                  HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING);
  if (!doc) return chunks;
  xmlNodePtr root = xmlDocGetRootElement(doc);
  for (xmlNodePtr head = root ? root->children : nullptr; head; head = head->next) {
    if (head->type != XML_ELEMENT_NODE || xmlStrcasecmp(head->name, BAD_CAST "head")) continue;
    for (xmlNodePtr t = head->children; t; t = t->next) {
      if (t->type == XML_ELEMENT_NODE && !xmlStrcasecmp(t->name, BAD_CAST "title")) {
        xmlChar* title = xmlNodeGetContent(t);
        std::string text = Collapse(title ? reinterpret_cast<const char*>(title) : "");
        xmlFree(title);
        chunks.push_back(Value(FMTID_SummaryInformation, PIDSI_TITLE, ZYT::Utf8ToWide(text)));
        break;
      }
    }
  }
  std::string visible;
  if (root) CollectVisible(root->children, visible);
  xmlFreeDoc(doc);
  AddTextChunks(ZYT::Utf8ToWide(Collapse(visible)), chunks);
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
