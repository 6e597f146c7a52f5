#pragma once

#include <memory>
#include <string>

#include "doctypes/CIUtility.h"

// One configured catalog: its type and where the settings describe it.
class CCatalogAccessor {
 public:
  // The type as the settings spell it ("unknown" when the element has none).
  explicit CCatalogAccessor(const std::u16string& typeKey);
  virtual ~CCatalogAccessor() = default;
  // Copying hands the administration object over, as the original did.
  CCatalogAccessor(const CCatalogAccessor& other);
  CCatalogAccessor& operator=(const CCatalogAccessor&) = delete;

  const std::u16string& Type() const { return m_type; }
  // The catalog's name from the settings; "unknown" when missing.
  std::u16string CatalogName() const;

 private:
  std::u16string m_type;
  std::u16string m_xpath;
  mutable std::unique_ptr<CCIUtility> m_utility;
};
