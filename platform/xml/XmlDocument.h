// A DOM document over libxml2 with XPath 1.0, in the shape the module used
// from MSXML: load from text or file with the parse error's line, column and
// offset, selectSingleNode/selectNodes, a node's text and its XML.
// Network access and external entities are off: a document can never make the
// parser open another file or a URL.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct _xmlDoc;
struct _xmlNode;

namespace ZYT {

struct XmlParseError {
  int line = 0;     // 1-based
  int column = 0;   // 1-based
  long offset = 0;  // bytes consumed when the error was found
  std::string reason;
};

class XmlNode {
 public:
  XmlNode() = default;
  explicit XmlNode(_xmlNode* node) : m_node(node) {}
  explicit operator bool() const { return m_node != nullptr; }

  std::string Name() const;
  bool IsElement() const;
  bool IsAttribute() const;
  // The node's text content: an attribute's value, an element's text with its
  // descendants' text concatenated (MSXML's text property, whitespace kept).
  std::string Text() const;
  // The node as XML (an element with its children; an attribute as name="value").
  std::string Xml() const;
  std::string Attribute(const std::string& name) const;
  bool HasAttribute(const std::string& name) const;
  void SetAttribute(const std::string& name, const std::string& value);
  // Replaces the children with one text node.
  void SetText(const std::string& text);
  XmlNode AppendElement(const std::string& name);
  // Copies `other` (from any document) as the last child of this element.
  XmlNode AppendCopy(const XmlNode& other);
  std::vector<XmlNode> ChildElements() const;
  std::vector<XmlNode> SelectNodes(const std::string& xpath) const;
  XmlNode SelectSingleNode(const std::string& xpath) const;
  _xmlNode* Raw() const { return m_node; }

 private:
  _xmlNode* m_node = nullptr;
};

// Parses as XmlDocument::LoadXmlText does, without ever holding the whole
// tree: the content of every text and CDATA node ("//text()") goes to `text`
// in document order once no later text can join it, and the nodes behind it
// are freed. A document of millions of small elements then costs its text, not
// its DOM. False with the error filled when the text is not well-formed; what
// was handed out until then is to be dropped. An exception thrown by `text`
// ends the parse and is thrown on.
bool ReadXmlTextNodes(std::string_view utf8, const std::function<void(const char*)>& text,
                      XmlParseError* error = nullptr, unsigned maxDepth = 0);

class XmlDocument {
 public:
  XmlDocument();
  ~XmlDocument();
  XmlDocument(XmlDocument&&) noexcept;
  XmlDocument& operator=(XmlDocument&&) noexcept;
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // False with the error filled when the text is not well-formed; the
  // previous document is then kept.
  bool LoadXml(std::string_view utf8, XmlParseError* error = nullptr);
  // Text already decoded to UTF-8 (MSXML's loadXML of a string): an encoding
  // the document declares is not consulted. Entities are expanded into the tree,
  // within the parser's amplification checks; nesting deeper than maxDepth
  // elements (0: the parser's own bound) and a reference to an external
  // entity (never loaded) are parse errors.
  bool LoadXmlText(std::string_view utf8, XmlParseError* error = nullptr, unsigned maxDepth = 0);
  bool Load(const std::string& posixPath, XmlParseError* error = nullptr);
  // Writes atomically (a temporary file renamed over the target).
  bool Save(const std::string& posixPath) const;
  std::string Xml() const;
  bool Empty() const { return !m_doc; }

  // Binds a prefix for the document's own queries (MSXML's
  // SelectionNamespaces); kept across loads.
  void SetSelectionNamespace(const std::string& prefix, const std::string& uri);

  XmlNode DocumentElement() const;
  // Evaluates xpath from the root; an invalid expression selects nothing and
  // sets *valid to false when given.
  std::vector<XmlNode> SelectNodes(const std::string& xpath, bool* valid = nullptr) const;
  XmlNode SelectSingleNode(const std::string& xpath, bool* valid = nullptr) const;

 private:
  _xmlDoc* m_doc = nullptr;
  std::vector<std::pair<std::string, std::string>> m_namespaces;
};

}  // namespace ZYT
