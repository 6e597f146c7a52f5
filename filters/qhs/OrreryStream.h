#pragma once

#include <string>

#include "platform/xml/XmlDocument.h"

// A stream (a named, stored search) as its XML document. A new one is the
// empty search request with a fresh identifier; Load replaces it by a file's.
class COrreryStream {
 public:
  // The document a new stream starts from; its id gets a fresh "guid".
  static constexpr char kTemplate[] =
      "<stream><id/><manualstream/><request><command name=\"Search\"><parameter name=\"query\" value=\"\"/>"
      "</command></request></stream>";

  COrreryStream();
  virtual ~COrreryStream() = default;

  // The file's document; a file that is missing, not a regular file, larger
  // than the limit MaxStreamFileBytes or not well-formed leaves an empty one.
  void Load(const std::u16string& path);
  // The attribute of the document element's "id" child; empty when either is missing.
  std::u16string GetIdAttribute(const std::string& name) const;
  std::string Xml() const { return m_document.Xml(); }

 private:
  ZYT::XmlDocument m_document;
};
