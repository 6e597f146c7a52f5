#pragma once

#include <string>

#include "doctypes/CatalogAccessor.h"
#include "platform/xml/XmlDocument.h"

// The configured catalogs, in the order of the catalog type table whatever
// the order of the settings.
class CCatalogEnumerator {
 public:
  class CEOFException {};

  // Reads "/*/CIS/catalogs" from the settings; throws _com_error without a server.
  CCatalogEnumerator();
  virtual ~CCatalogEnumerator() = default;
  // The next configured type; throws CEOFException after the last.
  CCatalogAccessor Next();

 private:
  ZYT::XmlDocument m_catalogs;
  int m_position = 0;
};

// The catalog type of the catalog that covers the file's folder on this
// machine; false when no configured catalog covers it.
bool CatalogTypeOfFile(const std::u16string& path, std::u16string& type);
