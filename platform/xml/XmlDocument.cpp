#include "platform/xml/XmlDocument.h"

#include <libxml/hash.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlsave.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <mutex>

#include "platform/win32/FileApi.h"

namespace ZYT {

namespace {

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOWARNING | XML_PARSE_NOERROR;

// The external entity a strict parse on this thread met, which stops it.
struct ExternalRefusal {
  bool met = false;
  std::string url;
};
thread_local ExternalRefusal* t_refusal = nullptr;

// Refuses every external entity and DTD the document names. A strict parse
// stops there, so that the document is not indexed without it.
xmlParserInputPtr NoExternalEntities(const char* url, const char*, xmlParserCtxtPtr ctxt) {
  if (t_refusal && !t_refusal->met) {
    t_refusal->met = true;
    t_refusal->url = url ? url : "";
    if (ctxt) xmlStopParser(ctxt);
  }
  return nullptr;
}

void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xmlSetExternalEntityLoader(NoExternalEntities);
  });
}

std::string Take(xmlChar* text) {
  if (!text) return {};
  std::string s(reinterpret_cast<const char*>(text));
  xmlFree(text);
  return s;
}

const xmlChar* X(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

struct ContextDeleter {
  void operator()(xmlParserCtxtPtr c) const { xmlFreeParserCtxt(c); }
};
struct XPathContextDeleter {
  void operator()(xmlXPathContextPtr c) const { xmlXPathFreeContext(c); }
};
struct DocDeleter {
  void operator()(xmlDocPtr d) const { xmlFreeDoc(d); }
};
struct XPathObjectDeleter {
  void operator()(xmlXPathObjectPtr o) const { xmlXPathFreeObject(o); }
};

// The SAX element hooks around libxml2's tree builder. They count the open
// elements and stop the parser past the depth bound, before a deep tree is
// built. With a text sink they also hand on the text of every node whose text
// is final and free it: at an element's start the earlier children of its
// parent (nothing joins them any more), at its end its own children. One
// parse runs per thread at a time, so the state lives in the thread.
struct ElementHooks {
  startElementNsSAX2Func start = nullptr;
  endElementNsSAX2Func end = nullptr;
  unsigned depth = 0;
  unsigned maxDepth = 0;  // 0: libxml2's own bound only
  bool exceeded = false;
  const std::function<void(const char*)>* sink = nullptr;
  // Nodes of an entity's content referenced twice are copied from the first
  // reference's nodes in the tree; a document that declares entities keeps
  // its tree until the end. -1: not known before the root element starts.
  int keepTree = -1;
  std::exception_ptr failure;
};
thread_local ElementHooks* t_hooks = nullptr;

// What "//text()" selects below `first` and its following siblings, in
// document order, as libxml2's descendant axis walks: DTDs and entity
// declarations are not descended into.
template <typename F>
void ForEachTextNode(xmlNodePtr first, F&& f) {
  if (!first) return;
  const xmlNodePtr boundary = first->parent;
  xmlNodePtr cur = first;
  while (cur) {
    const bool skipped = cur->type == XML_DTD_NODE || cur->type == XML_ENTITY_DECL;
    if (!skipped && (cur->type == XML_TEXT_NODE || cur->type == XML_CDATA_SECTION_NODE)) f(cur);
    if (!skipped && cur->type != XML_ATTRIBUTE_NODE && cur->type != XML_NAMESPACE_DECL && cur->children &&
        cur->children->type != XML_ENTITY_DECL) {
      cur = cur->children;
      continue;
    }
    while (cur && !cur->next) {
      cur = cur->parent;
      if (cur == boundary) return;
    }
    if (cur) cur = cur->next;
  }
}

const char* ContentOf(xmlNodePtr node) { return node->content ? reinterpret_cast<const char*>(node->content) : ""; }

// Hands on the text below `parent`'s children and frees them.
void FlushChildren(xmlParserCtxtPtr ctxt, ElementHooks& hooks, xmlNodePtr parent) {
  if (hooks.keepTree < 0) {
    xmlDtdPtr dtd = ctxt->myDoc ? ctxt->myDoc->intSubset : nullptr;
    hooks.keepTree = dtd && dtd->entities && xmlHashSize(static_cast<xmlHashTablePtr>(dtd->entities)) > 0;
  }
  if (hooks.keepTree || !parent || parent->type != XML_ELEMENT_NODE || !parent->children) return;
  xmlNodePtr first = parent->children;
  try {
    ForEachTextNode(first, [&](xmlNodePtr node) { (*hooks.sink)(ContentOf(node)); });
  } catch (...) {
    // Never through libxml2's frames: the parse stops and Parse throws it on.
    hooks.failure = std::current_exception();
    hooks.sink = nullptr;
    xmlStopParser(ctxt);
    return;
  }
  parent->children = parent->last = nullptr;
  xmlFreeNodeList(first);
}

void StartHooked(void* c, const xmlChar* name, const xmlChar* prefix, const xmlChar* uri, int nbNs,
                 const xmlChar** ns, int nbAttr, int nbDefaulted, const xmlChar** attrs) {
  auto ctxt = static_cast<xmlParserCtxtPtr>(c);
  ElementHooks& hooks = *t_hooks;
  ++hooks.depth;
  if (hooks.maxDepth && hooks.depth > hooks.maxDepth) {
    hooks.exceeded = true;
    xmlStopParser(ctxt);
    return;
  }
  if (hooks.sink && ctxt->node) FlushChildren(ctxt, hooks, ctxt->node);
  hooks.start(c, name, prefix, uri, nbNs, ns, nbAttr, nbDefaulted, attrs);
}

void EndHooked(void* c, const xmlChar* name, const xmlChar* prefix, const xmlChar* uri) {
  auto ctxt = static_cast<xmlParserCtxtPtr>(c);
  ElementHooks& hooks = *t_hooks;
  if (hooks.depth) --hooks.depth;
  xmlNodePtr closing = ctxt->node;
  hooks.end(c, name, prefix, uri);
  if (hooks.sink && closing) FlushChildren(ctxt, hooks, closing);
}

// The first error of a parse, as MSXML reports it: libxml2 goes on after a
// recoverable one, and its last error is often only a consequence ("Premature
// end of data" after a mismatched tag).
thread_local xmlError* t_firstError = nullptr;

void CaptureFirstError(void*, xmlErrorPtr error) {
  if (t_firstError && error && error->level >= XML_ERR_ERROR && t_firstError->code == 0)
    xmlCopyError(error, t_firstError);
}

struct ErrorReset {
  void operator()(xmlError* e) const { xmlResetError(e); }
};

xmlDocPtr Parse(std::string_view text, XmlParseError* error, const char* encoding = nullptr, int options = kParseOptions,
                unsigned maxDepth = 0, bool strict = false, const std::function<void(const char*)>* sink = nullptr) {
  InitOnce();
  std::unique_ptr<xmlParserCtxt, ContextDeleter> ctxt(xmlNewParserCtxt());
  if (!ctxt) return nullptr;
  if (text.size() > 0x7FFFFFFF) {
    if (error) *error = {0, 0, 0, "document too large"};
    return nullptr;
  }
  ElementHooks bound;
  if (maxDepth || sink) {
    bound.start = ctxt->sax->startElementNs;
    bound.end = ctxt->sax->endElementNs;
    bound.maxDepth = maxDepth;
    bound.sink = sink;
    ctxt->sax->startElementNs = StartHooked;
    ctxt->sax->endElementNs = EndHooked;
    t_hooks = &bound;
  }
  xmlError first{};
  std::unique_ptr<xmlError, ErrorReset> firstOwner(&first);
  ctxt->sax->serror = CaptureFirstError;
  t_firstError = &first;
  ExternalRefusal refusal;
  if (strict) t_refusal = &refusal;
  xmlDocPtr doc =
      xmlCtxtReadMemory(ctxt.get(), text.data(), static_cast<int>(text.size()), nullptr, encoding, options);
  t_hooks = nullptr;
  t_firstError = nullptr;
  t_refusal = nullptr;
  if (bound.failure) {
    xmlFreeDoc(doc);
    std::rethrow_exception(bound.failure);
  }
  if (doc && ctxt->wellFormed && !bound.exceeded && !refusal.met) return doc;
  if (error && refusal.met) {
    error->line = ctxt->input ? ctxt->input->line : 0;
    error->column = ctxt->input ? ctxt->input->col : 0;
    error->offset = ctxt->input ? static_cast<long>(xmlByteConsumed(ctxt.get())) : 0;
    error->reason = "external entity not loaded: " + refusal.url;
  } else if (error && bound.exceeded) {
    error->line = ctxt->input ? ctxt->input->line : 0;
    error->column = ctxt->input ? ctxt->input->col : 0;
    error->offset = ctxt->input ? static_cast<long>(xmlByteConsumed(ctxt.get())) : 0;
    error->reason = "elements nested deeper than " + std::to_string(maxDepth);
  } else if (error) {
    const xmlError* e = first.code ? &first : xmlCtxtGetLastError(ctxt.get());
    error->line = e ? e->line : 0;
    error->column = e ? e->int2 : 0;
    error->offset = ctxt->input ? static_cast<long>(xmlByteConsumed(ctxt.get())) : 0;
    error->reason = e && e->message ? e->message : "not well-formed";
    while (!error->reason.empty() && error->reason.back() == '\n') error->reason.pop_back();
  }
  xmlFreeDoc(doc);
  return nullptr;
}

using Namespaces = std::vector<std::pair<std::string, std::string>>;

std::vector<XmlNode> Evaluate(xmlDocPtr doc, xmlNodePtr context, const std::string& xpath, bool* valid,
                              const Namespaces& namespaces = {}) {
  std::vector<XmlNode> nodes;
  if (valid) *valid = true;
  if (!doc) return nodes;
  std::unique_ptr<xmlXPathContext, XPathContextDeleter> ctx(xmlXPathNewContext(doc));
  if (!ctx) return nodes;
  ctx->node = context ? context : reinterpret_cast<xmlNodePtr>(doc);
  for (const auto& [prefix, uri] : namespaces) xmlXPathRegisterNs(ctx.get(), X(prefix), X(uri));
  std::unique_ptr<xmlXPathObject, XPathObjectDeleter> result(xmlXPathEvalExpression(X(xpath), ctx.get()));
  if (!result || result->type != XPATH_NODESET) {
    // MSXML accepts only node-set expressions in selectNodes.
    if (valid) *valid = false;
    return nodes;
  }
  if (result->nodesetval)
    for (int i = 0; i < result->nodesetval->nodeNr; ++i) nodes.emplace_back(result->nodesetval->nodeTab[i]);
  return nodes;
}

}  // namespace

std::string XmlNode::Name() const { return m_node && m_node->name ? reinterpret_cast<const char*>(m_node->name) : ""; }
bool XmlNode::IsElement() const { return m_node && m_node->type == XML_ELEMENT_NODE; }
bool XmlNode::IsAttribute() const { return m_node && m_node->type == XML_ATTRIBUTE_NODE; }

std::string XmlNode::Text() const { return m_node ? Take(xmlNodeGetContent(m_node)) : std::string(); }

std::string XmlNode::Xml() const {
  if (!m_node) return {};
  if (m_node->type == XML_ATTRIBUTE_NODE) return Name() + "=\"" + Text() + "\"";
  xmlBufferPtr buffer = xmlBufferCreate();
  if (!buffer) return {};
  xmlNodeDump(buffer, m_node->doc, m_node, 0, 0);
  std::string out(reinterpret_cast<const char*>(xmlBufferContent(buffer)), static_cast<size_t>(xmlBufferLength(buffer)));
  xmlBufferFree(buffer);
  return out;
}

std::string XmlNode::Attribute(const std::string& name) const {
  return IsElement() ? Take(xmlGetProp(m_node, X(name))) : std::string();
}
bool XmlNode::HasAttribute(const std::string& name) const {
  return IsElement() && xmlHasProp(m_node, X(name)) != nullptr;
}
void XmlNode::SetAttribute(const std::string& name, const std::string& value) {
  if (IsElement()) xmlSetProp(m_node, X(name), X(value));
}
void XmlNode::SetText(const std::string& text) {
  if (!m_node) return;
  xmlChar* escaped = xmlEncodeSpecialChars(m_node->doc, X(text));
  xmlNodeSetContent(m_node, escaped);
  xmlFree(escaped);
}
XmlNode XmlNode::AppendElement(const std::string& name) {
  if (!IsElement()) return XmlNode();
  return XmlNode(xmlNewChild(m_node, nullptr, X(name), nullptr));
}
XmlNode XmlNode::AppendCopy(const XmlNode& other) {
  if (!IsElement() || !other) return XmlNode();
  xmlNodePtr copy = xmlDocCopyNode(other.m_node, m_node->doc, 1);
  if (!copy) return XmlNode();
  return XmlNode(xmlAddChild(m_node, copy));
}
std::vector<XmlNode> XmlNode::ChildElements() const {
  std::vector<XmlNode> children;
  if (!m_node) return children;
  for (xmlNodePtr c = m_node->children; c; c = c->next)
    if (c->type == XML_ELEMENT_NODE) children.emplace_back(c);
  return children;
}
std::vector<XmlNode> XmlNode::SelectNodes(const std::string& xpath) const {
  return m_node ? Evaluate(m_node->doc, m_node, xpath, nullptr) : std::vector<XmlNode>();
}
XmlNode XmlNode::SelectSingleNode(const std::string& xpath) const {
  auto nodes = SelectNodes(xpath);
  return nodes.empty() ? XmlNode() : nodes.front();
}

XmlDocument::XmlDocument() { InitOnce(); }
XmlDocument::~XmlDocument() { xmlFreeDoc(m_doc); }
XmlDocument::XmlDocument(XmlDocument&& other) noexcept
    : m_doc(other.m_doc), m_namespaces(std::move(other.m_namespaces)) {
  other.m_doc = nullptr;
}
XmlDocument& XmlDocument::operator=(XmlDocument&& other) noexcept {
  if (this != &other) {
    xmlFreeDoc(m_doc);
    m_doc = other.m_doc;
    m_namespaces = std::move(other.m_namespaces);
    other.m_doc = nullptr;
  }
  return *this;
}

bool XmlDocument::LoadXml(std::string_view utf8, XmlParseError* error) {
  xmlDocPtr doc = Parse(utf8, error);
  if (!doc) return false;
  xmlFreeDoc(m_doc);
  m_doc = doc;
  return true;
}

// COMPACT keeps short texts inside their nodes: documents of many small text
// nodes take a tenth less.
constexpr int kTextOptions = kParseOptions | XML_PARSE_NOENT | XML_PARSE_IGNORE_ENC | XML_PARSE_COMPACT;

bool ReadXmlTextNodes(std::string_view utf8, const std::function<void(const char*)>& text, XmlParseError* error,
                      unsigned maxDepth) {
  std::unique_ptr<xmlDoc, DocDeleter> doc(Parse(utf8, error, "UTF-8", kTextOptions, maxDepth, true, &text));
  if (!doc) return false;
  // What is left: the root's text after its last element, or with declared
  // entities the whole tree.
  ForEachTextNode(doc->children, [&](xmlNodePtr node) { text(ContentOf(node)); });
  return true;
}

bool XmlDocument::LoadXmlText(std::string_view utf8, XmlParseError* error, unsigned maxDepth) {
  xmlDocPtr doc = Parse(utf8, error, "UTF-8", kTextOptions, maxDepth, true);
  if (!doc) return false;
  xmlFreeDoc(m_doc);
  m_doc = doc;
  return true;
}

bool XmlDocument::Load(const std::string& posixPath, XmlParseError* error) {
  // Read here: the parser's own file loader is the external-entity loader, which is off.
  std::string text;
  DWORD readError = ERROR_SUCCESS;
  if (!ReadRegularFile(posixPath, text, readError)) {
    if (error) *error = {0, 0, 0, "cannot read " + posixPath};
    return false;
  }
  return LoadXml(text, error);
}

std::string XmlDocument::Xml() const {
  if (!m_doc) return {};
  xmlChar* text = nullptr;
  int size = 0;
  xmlDocDumpFormatMemoryEnc(m_doc, &text, &size, "UTF-8", 0);
  std::string out = text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size)) : "";
  xmlFree(text);
  return out;
}

bool XmlDocument::Save(const std::string& posixPath) const {
  if (!m_doc) return false;
  std::string temp = posixPath + ".tmp" + std::to_string(getpid());
  if (xmlSaveFileEnc(temp.c_str(), m_doc, "UTF-8") < 0) {
    unlink(temp.c_str());
    return false;
  }
  if (std::rename(temp.c_str(), posixPath.c_str()) != 0) {
    unlink(temp.c_str());
    return false;
  }
  return true;
}

void XmlDocument::SetSelectionNamespace(const std::string& prefix, const std::string& uri) {
  m_namespaces.emplace_back(prefix, uri);
}

XmlNode XmlDocument::DocumentElement() const { return XmlNode(m_doc ? xmlDocGetRootElement(m_doc) : nullptr); }

std::vector<XmlNode> XmlDocument::SelectNodes(const std::string& xpath, bool* valid) const {
  return Evaluate(m_doc, nullptr, xpath, valid, m_namespaces);
}

XmlNode XmlDocument::SelectSingleNode(const std::string& xpath, bool* valid) const {
  auto nodes = SelectNodes(xpath, valid);
  return nodes.empty() ? XmlNode() : nodes.front();
}

}  // namespace ZYT
