// Words for indexer properties ("title", "from", "content") and their
// property specifications. Built at module load, read-only afterwards, read
// by every thread without a lock.
#pragma once

#include <exception>
#include <string>
#include <unordered_map>

#include "platform/com/Filter.h"

class CNamedPropertyNotFoundException : public std::exception {
 public:
  explicit CNamedPropertyNotFoundException(std::u16string name) : m_name(std::move(name)) {}
  // "CNamedPropertyNotFoundException: '<name>' not found" in the system code
  // page, made at the first call and kept.
  const char* what() const noexcept override;
  const std::u16string& Name() const { return m_name; }

 private:
  std::u16string m_name;
  mutable std::string m_message;
};

class CNamedPropertyTable {
 public:
  CNamedPropertyTable();
  // Case-insensitive; throws CNamedPropertyNotFoundException for any other word.
  FULLPROPSPEC Lookup(std::u16string name) const;

 private:
  std::unordered_map<std::u16string, FULLPROPSPEC> m_properties;
};

extern const CNamedPropertyTable g_namedProperties;
